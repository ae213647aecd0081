#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace tmclient {

// The buffers a client object receives its replies into. A buffer handed out
// is reused once everyone else holding it (the stream that read the reply,
// or a call given up that was still receiving into it) has let it go,
// whichever thread that was on: it is emptied then and handed out again, so
// a caller that lets each reply go before the next call, or the one after,
// receives into the same memory every time. A buffer that grew beyond
// kKeptCapacity is not kept: whoever holds it last frees it. Used by one
// thread at a time (the client object's caller); no lock.
class ReplyBuffers {
 public:
  static constexpr std::size_t kKeptCapacity = 64u << 20;

  ReplyBuffers() = default;
  ReplyBuffers(const ReplyBuffers&) = delete;
  ReplyBuffers& operator=(const ReplyBuffers&) = delete;

  // An empty buffer: one that nobody else holds any more, or a new one.
  std::shared_ptr<std::string> Take();
  // Lets go of `buffer`, one it handed out: its last holder frees it. For a
  // buffer that grew beyond kKeptCapacity, once its call is over.
  void Forget(const std::string* buffer);
  // Lets go of the buffers kept for later calls; whoever still holds one
  // frees it.
  void Clear();

 private:
  // Two, so that a caller who keeps the last reply's stream until the next
  // call has returned (it is loaded with the new reply then) alternates
  // between them rather than receiving into new memory each time.
  std::shared_ptr<std::string> aBuffers[2];
  int iOlder = 0;  // the slot handed out before the other
};

}  // namespace tmclient
