#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "tmclient/export.h"

namespace tmclient {

// What a server runs for each request it receives: `request` holds the
// request stream's bytes; the handler fills `reply` with the reply stream's
// bytes and returns the server's result, which call_server hands to the
// caller (0 on success, the service's own code otherwise).
//
// A result in the library's range (-9999 .. -9971) reaches the caller as that
// library failure, without the reply. An exception reaches the caller as
// kErrServiceFailed. The handler runs on the server's worker threads, several
// at once.
using ServiceHandler =
    std::function<int(const std::string& interfaceName, const std::string& serviceCode,
                      std::string_view request, std::string& reply)>;

// What the server knows of the request a handler is running for, besides
// its bytes: the session its envelope carries, and the caller's address as
// the transport itself sees it (never what the request says of itself).
// Handed to a StreamingServiceHandler with each request; the views are
// valid while the handler runs.
struct CallContext {
  std::string_view session;  // "" when the request carries none
  // "tcp:ADDRESS:PORT" of the connection; "nats:URL" of the nats-server the
  // request came through (only that server sees the caller's address);
  // "" when nobody set it.
  std::string_view peer;
};

// Lets a handler hand over a large reply while it is still producing it, so
// that a transport that can (tcp://) sends it on as the handler goes. The
// caller still gets every byte or none: a streamed reply counts only once
// Finish() has supplied its start and the handler has returned a result that
// is not a library code. Otherwise what was streamed is dropped, and `reply`
// (or the library code) is the answer, exactly as if nothing had been streamed.
//
// Begin, then any number of Append, then Finish, one call at a time (from
// the handler's thread or one it waits for), before the handler returns.
class TMCLIENT_API ReplyWriter {
 public:
  virtual ~ReplyWriter();

  // Starts a streamed reply whose first `headSize` bytes (at most
  // kMaxHeadSize) come last, with Finish: a reply that begins with a count
  // known only at the end. False when it cannot be started (headSize too
  // large, called twice).
  virtual bool Begin(std::size_t headSize) = 0;
  // The reply's next bytes, after the head and what was appended before.
  // False when they can no longer be delivered: the reply would exceed the
  // frame limit, or the client is gone; the handler should stop producing
  // then. Once false, always false.
  virtual bool Append(std::string_view bytes) = 0;
  // Supplies the head; exactly the `headSize` bytes given to Begin. False
  // when the size differs or the reply was not begun (or failed).
  virtual bool Finish(std::string_view head) = 0;

  static constexpr std::size_t kMaxHeadSize = 64 * 1024;
};

// A handler that may stream its reply through `writer`, and is told who
// calls (`call`). A ServiceHandler is the same with both left unused.
using StreamingServiceHandler = std::function<int(
    const CallContext& call, const std::string& interfaceName, const std::string& serviceCode,
    std::string_view request, std::string& reply, ReplyWriter& writer)>;

// Puts a streamed reply together in memory, for servers that send replies
// whole (and for running a streaming handler in-process). Take() yields the
// whole reply stream once Finish() was called.
class TMCLIENT_API BufferedReplyWriter final : public ReplyWriter {
 public:
  // `maxSize`: the largest reply Append lets through.
  explicit BufferedReplyWriter(std::size_t maxSize);
  ~BufferedReplyWriter() override;

  bool Begin(std::size_t headSize) override;
  bool Append(std::string_view bytes) override;
  bool Finish(std::string_view head) override;

  // Whether a streamed reply was begun, and whether it was completed.
  bool begun() const { return iState != State::kIdle; }
  bool finished() const { return iState == State::kFinished; }
  // Moves the completed reply into `out`; false (and `out` untouched) when
  // none was completed. The writer is idle again afterwards.
  bool Take(std::string& out);

 private:
  enum class State { kIdle, kStreaming, kFailed, kFinished };
  const std::size_t iMaxSize;
  std::size_t iHeadSize = 0;
  State iState = State::kIdle;
  std::string strReply;
};

}  // namespace tmclient
