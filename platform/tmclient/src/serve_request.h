#pragma once

#include <string>

#include "envelope.h"
#include "tmclient/service_handler.h"

namespace tmclient {

// Runs `handler` on one decoded request, the same way for every server
// transport. Returns the server's result with the reply stream in `reply`,
// or a library failure code (the handler's own, kErrServiceFailed when it
// threw, kErrReplyTooLarge when its reply exceeds the frame limit) with
// `reply` empty; the caller sends a library code as an error frame.
int ServeRequest(const ServiceHandler& handler, const envelope::Request& request,
                 std::string& reply);

}  // namespace tmclient
