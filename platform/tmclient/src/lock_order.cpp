#include "lock_order.h"

#ifndef NDEBUG

#include <cassert>

namespace tmclient::lock_order {
namespace {

constexpr int kRanks = static_cast<int>(LockRank::kCount);
thread_local int tHeld[kRanks] = {};

}  // namespace

void Acquiring(LockRank r) {
  for (int k = static_cast<int>(r); k < kRanks; ++k)
    assert(tHeld[k] == 0 && "tcp server locks taken against their order (tcp_server.h)");
}

void Acquired(LockRank r) {
  ++tHeld[static_cast<int>(r)];
}

void Released(LockRank r) {
  --tHeld[static_cast<int>(r)];
}

}  // namespace tmclient::lock_order

#endif
