#pragma once

// Hands blocks of work from one thread to another, in order, with a bounded
// number of blocks in existence: the producer fills a block and pushes it,
// getting back an empty one to fill next; the consumer pops a block, works on
// it and recycles it. So the memory stays that of a few blocks however much
// passes, and the producer waits when the consumer falls that far behind.

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace backoffice {

template <class Block>
class BlockQueue {
 public:
  // `spare`: the blocks it may make besides the one the producer starts with.
  explicit BlockQueue(int spare) : iSpare(spare) {}

  // Producer: hands `full` over. Returns the block to fill next: one the
  // consumer recycled, a new one while spares remain, or else the next to be
  // recycled (waiting for it). A recycled block comes as the consumer left it.
  std::unique_ptr<Block> Push(std::unique_ptr<Block> full) {
    std::unique_lock lock(mLock);
    qFull.push_back(std::move(full));
    cvFull.notify_one();
    if (vFree.empty() && iSpare > 0) {
      --iSpare;
      lock.unlock();
      return std::make_unique<Block>();
    }
    cvFree.wait(lock, [this] { return !vFree.empty(); });
    std::unique_ptr<Block> next = std::move(vFree.back());
    vFree.pop_back();
    return next;
  }

  // Consumer: the next full block, waiting for it; null once the queue is
  // closed and every block pushed has been popped.
  std::unique_ptr<Block> Pop() {
    std::unique_lock lock(mLock);
    cvFull.wait(lock, [this] { return !qFull.empty() || bClosed; });
    if (qFull.empty()) return nullptr;
    std::unique_ptr<Block> block = std::move(qFull.front());
    qFull.pop_front();
    return block;
  }

  // Consumer: a popped block it is done with.
  void Recycle(std::unique_ptr<Block> used) {
    {
      std::lock_guard lock(mLock);
      vFree.push_back(std::move(used));
    }
    cvFree.notify_one();
  }

  // Producer: nothing more comes.
  void Close() {
    {
      std::lock_guard lock(mLock);
      bClosed = true;
    }
    cvFull.notify_one();
  }

 private:
  std::mutex mLock;
  std::condition_variable cvFull;  // the consumer: a block, or the end
  std::condition_variable cvFree;  // the producer: a recycled block
  std::deque<std::unique_ptr<Block>> qFull;
  std::vector<std::unique_ptr<Block>> vFree;
  int iSpare;
  bool bClosed = false;
};

}  // namespace backoffice
