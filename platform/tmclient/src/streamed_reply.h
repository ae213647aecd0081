#pragma once

// The tcp server's ReplyWriter: the frames of a streamed reply go out through
// the connection's queue as the handler produces them. When the client falls
// behind by more than the queue's bound, the handler waits for room (with
// another thread standing in for it meanwhile) rather than having the whole
// reply kept; a connection that closes ends the wait and the reply.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tmclient/service_handler.h"

namespace tmclient {

struct Connection;
class WorkerThreads;

class StreamedReply final : public ReplyWriter {
 public:
  StreamedReply(Connection& c, uint32_t callId, std::size_t maxQueued, WorkerThreads& threads)
      : cConn(c), iCallId(callId), iMaxQueued(maxQueued), cThreads(threads) {}

  bool Begin(std::size_t headSize) override;
  bool Append(std::string_view bytes) override;
  bool Finish(std::string_view head) override;

  bool finished() const { return iState == State::kFinished; }
  // The connection can no longer carry frames in order.
  bool broken() const { return iState == State::kBroken; }
  const std::string& head() const { return strHead; }

 private:
  enum class State { kIdle, kStreaming, kRefused, kBroken, kFinished };

  bool Failed(State s);
  // Queues one frame (its header, then `data`), then waits while the queue
  // is over its bound.
  bool Send(std::string_view header, std::string_view data);

  Connection& cConn;
  const uint32_t iCallId;
  const std::size_t iMaxQueued;
  WorkerThreads& cThreads;
  State iState = State::kIdle;
  std::size_t iHeadSize = 0;
  std::size_t iTotal = 0;  // bytes of the reply stream so far, the head included
  std::string strHead;
};

}  // namespace tmclient
