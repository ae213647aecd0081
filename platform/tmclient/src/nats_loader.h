#pragma once

#include <memory>
#include <string>

#include "tmclient/transport.h"

namespace tmclient {

// The factory behind "nats://" URLs in the client library: loads
// libtmclient_nats.so from the folder of libtmclient.so on first use (once
// per process; it stays loaded) and hands the URL to its factory. When the
// library cannot be loaded, every nats:// URL gets kErrTransportUnavailable
// and the reason is written once to stderr.
int OpenNatsTransport(const std::string& url, std::unique_ptr<Transport>& out);

}  // namespace tmclient
