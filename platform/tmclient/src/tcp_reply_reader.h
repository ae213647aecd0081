#pragma once

// The client's side of the tcp framing: reading the frames that answer one
// call (docs/wire-format.md, "tcp://").

#include <cstddef>
#include <cstdint>
#include <string>

#include "client_stream.h"
#include "socket_io.h"
#include "tmclient/reply_progress.h"

namespace tmclient {

// The library code for a socket outcome (0 for kOk).
TMCLIENT_INTERNAL int IoToCode(net::Io io);

// Reads the reply to `callId` from `in`: one whole reply or error frame, or a
// streamed reply (start, parts, finish) that a whole reply or an error may
// still replace. Returns the server's result with the reply stream in
// `reply`, or a library code (the frames broke the rules, the connection
// closed, `deadline` passed); `reply` then holds nothing useful. Nothing is
// allocated from an announced length beyond `maxReplySize`. `mayBlock`: the
// first read may wait in the socket's own read timeout, which is no longer
// than what is left until `deadline`. `progress`, when given, is told of a
// streamed reply's parts as each arrives.
TMCLIENT_INTERNAL int ReadTcpReply(net::Stream& in, uint32_t callId, std::size_t maxReplySize,
                                   net::Clock::time_point deadline, bool mayBlock,
                                   std::string& reply, ReplyProgress* progress);

}  // namespace tmclient
