#include "backoffice/block_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace {

// A block that counts how many exist at once.
struct Counted {
  Counted() { iMost = std::max(iMost.load(), ++iLive); }
  ~Counted() { --iLive; }
  std::vector<int> vValues;
  static inline std::atomic<int> iLive{0};
  static inline std::atomic<int> iMost{0};
};

}  // namespace

// A thousand blocks through a queue with two spares: all arrive, in order,
// and never more than three blocks exist, however the threads are scheduled.
TEST(BlockQueue, CarriesEveryBlockInOrderWithinItsBlocks) {
  Counted::iMost = 0;
  {
    backoffice::BlockQueue<Counted> queue(2);
    std::vector<int> received;
    std::thread consumer([&] {
      while (std::unique_ptr<Counted> block = queue.Pop()) {
        received.insert(received.end(), block->vValues.begin(), block->vValues.end());
        block->vValues.clear();
        queue.Recycle(std::move(block));
      }
    });
    auto filling = std::make_unique<Counted>();
    for (int i = 0; i < 1000; ++i) {
      filling->vValues = {2 * i, 2 * i + 1};
      filling = queue.Push(std::move(filling));
      EXPECT_TRUE(filling->vValues.empty());  // recycled blocks come as left
    }
    queue.Close();
    consumer.join();
    ASSERT_EQ(received.size(), 2000u);
    for (int i = 0; i < 2000; ++i) EXPECT_EQ(received[static_cast<size_t>(i)], i);
    EXPECT_LE(Counted::iMost, 3);
  }
  EXPECT_EQ(Counted::iLive, 0);
}

// Blocks pushed before the close are still popped; then the end.
TEST(BlockQueue, CloseLetsTheConsumerFinish) {
  backoffice::BlockQueue<Counted> queue(3);
  auto next = queue.Push(std::make_unique<Counted>());
  next->vValues = {7};
  next = queue.Push(std::move(next));
  queue.Close();
  EXPECT_NE(queue.Pop(), nullptr);
  std::unique_ptr<Counted> second = queue.Pop();
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->vValues, std::vector<int>{7});
  EXPECT_EQ(queue.Pop(), nullptr);
}
