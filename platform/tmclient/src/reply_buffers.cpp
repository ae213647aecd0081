#include "reply_buffers.h"

#include <atomic>

namespace tmclient {

std::shared_ptr<std::string> ReplyBuffers::Take() {
  for (int i : {iOlder, 1 - iOlder}) {
    std::shared_ptr<std::string>& b = aBuffers[i];
    if (!b || b.use_count() != 1) continue;
    // Nobody else holds it: the holder that let it go last did so with a
    // release of the count, which this fence orders before its reuse.
    std::atomic_thread_fence(std::memory_order_acquire);
    if (b->capacity() > kKeptCapacity) {
      b.reset();
      continue;
    }
    b->clear();
    iOlder = 1 - i;
    return b;
  }
  // None free: a new buffer takes an empty slot, or the older one's, whose
  // buffer is left to its holders.
  const int slot = !aBuffers[1 - iOlder] ? 1 - iOlder : iOlder;
  aBuffers[slot] = std::make_shared<std::string>();
  iOlder = 1 - slot;
  return aBuffers[slot];
}

void ReplyBuffers::Forget(const std::string* buffer) {
  for (auto& b : aBuffers)
    if (b.get() == buffer) b.reset();
}

void ReplyBuffers::Clear() {
  for (auto& b : aBuffers) b.reset();
}

}  // namespace tmclient
