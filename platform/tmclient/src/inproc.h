#pragma once

#include <memory>
#include <string>

#include "tmclient/transport.h"

namespace tmclient {

// Factory of "inproc://NAME" transports. The service is looked up at each
// call, so a service registered after binding is found.
int OpenInProcessTransport(const std::string& url, std::unique_ptr<Transport>& out);

}  // namespace tmclient
