// The client object's reply buffers: reused only once let go, always empty.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "reply_buffers.h"

TEST(ReplyBuffers, ComeBackEmptyOnlyOnceLetGo) {
  std::shared_ptr<const std::string> kept;
  {
    tmclient::ReplyBuffers buffers;
    auto first = buffers.Take();
    first->assign(1000, 'a');
    const char* memory = first->data();
    kept = std::move(first);
    // Still held: the next call gets a buffer of its own.
    auto second = buffers.Take();
    EXPECT_NE(second.get(), kept.get());
    EXPECT_TRUE(second->empty());

    // Let go on another thread (a call given up ends there): back, emptied,
    // with its memory.
    std::thread([&kept] { kept.reset(); }).join();
    auto again = buffers.Take();
    EXPECT_TRUE(again->empty());
    EXPECT_EQ(again->data(), memory);

    // A buffer that grew too large is not kept.
    again->reserve(tmclient::ReplyBuffers::kKeptCapacity + 1);
    again.reset();
    EXPECT_LT(buffers.Take()->capacity(), 1000u);
    kept = std::move(second);
  }
  // Outliving the buffers it came from is fine.
  EXPECT_TRUE(kept->empty());
  kept.reset();
}
