#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

namespace tmclient {

// The buffers a client object receives its replies into. A buffer handed out
// comes back by itself when the last one holding it lets it go (the stream
// that read the reply, or a call given up that was still receiving into it),
// whichever thread that is on; it is emptied then and kept for the next call,
// so a caller that lets each reply go before the next call receives into the
// same memory every time. A buffer that grew beyond kKeptCapacity is freed
// instead, and so is every buffer that comes back after the ReplyBuffers are
// gone.
class ReplyBuffers {
 public:
  static constexpr std::size_t kKeptCapacity = 64u << 20;

  ReplyBuffers();
  ReplyBuffers(const ReplyBuffers&) = delete;
  ReplyBuffers& operator=(const ReplyBuffers&) = delete;

  // An empty buffer: the one that came back last, or a new one.
  std::shared_ptr<std::string> Take();
  // Frees the buffer kept for the next call.
  void Clear();

 private:
  struct Spare {
    std::mutex mLock;
    std::unique_ptr<std::string> pBuffer;  // emptied, for the next Take()
  };
  // Gives a buffer back to the spare slot, if that still exists and is free.
  struct GiveBack {
    std::weak_ptr<Spare> pSpare;
    void operator()(std::string* buffer) const;
  };

  std::shared_ptr<Spare> pSpare;
};

}  // namespace tmclient
