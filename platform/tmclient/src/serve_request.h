#pragma once

#include <string>

#include "envelope.h"
#include "tmclient/export.h"
#include "tmclient/service_handler.h"

namespace tmclient {

// A streaming handler that runs a plain one.
TMCLIENT_INTERNAL StreamingServiceHandler StreamingOf(ServiceHandler handler);

// Runs `handler` on one decoded request, the same way for every server
// transport. Returns the server's result with the reply stream in `reply`,
// or a library failure code (the handler's own, kErrServiceFailed when it
// threw, kErrReplyTooLarge when its whole reply exceeds the frame limit) with
// `reply` empty; the caller sends a library code as an error frame. What the
// handler streamed through `writer` is the caller's to use or drop.
int ServeRequest(const StreamingServiceHandler& handler, const envelope::Request& request,
                 std::string& reply, ReplyWriter& writer);

// The same for a server that sends replies whole: a streamed reply is put
// together in memory and comes back in `reply` like any other.
TMCLIENT_INTERNAL int ServeWholeReply(const StreamingServiceHandler& handler,
                                      const envelope::Request& request, std::string& reply);

}  // namespace tmclient
