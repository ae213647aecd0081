#include "reply_buffers.h"

#include <utility>

namespace tmclient {

ReplyBuffers::ReplyBuffers() : pSpare(std::make_shared<Spare>()) {}

std::shared_ptr<std::string> ReplyBuffers::Take() {
  std::unique_ptr<std::string> buffer;
  {
    std::lock_guard lock(pSpare->mLock);
    buffer = std::move(pSpare->pBuffer);
  }
  if (!buffer) buffer = std::make_unique<std::string>();
  // If making the handle fails, the deleter gives the buffer back.
  return std::shared_ptr<std::string>(buffer.release(), GiveBack{pSpare});
}

void ReplyBuffers::Clear() {
  std::unique_ptr<std::string> dropped;
  std::lock_guard lock(pSpare->mLock);
  dropped = std::move(pSpare->pBuffer);
}

void ReplyBuffers::GiveBack::operator()(std::string* buffer) const {
  std::unique_ptr<std::string> owned(buffer);
  if (owned->capacity() > kKeptCapacity) return;
  const std::shared_ptr<Spare> spare = pSpare.lock();
  if (!spare) return;
  // Whoever held it last is done with it: what they read of it happened
  // before they let it go, and the slot's lock orders that before its reuse.
  owned->clear();
  std::lock_guard lock(spare->mLock);
  if (!spare->pBuffer) spare->pBuffer = std::move(owned);
}

}  // namespace tmclient
