#pragma once

// The tcp server's lock order (tmclient/tcp_server.h, at the top), checked in
// builds with assertions. Every lock of the server is a RankedMutex: it
// counts, for its thread, the locks of each rank held, and before it waits
// for one it asserts that the thread holds none of the same or a later rank.
// A try_lock never waits, so it may go against the order (and is counted all
// the same). Without assertions the locks are plain mutexes.

#include <condition_variable>
#include <mutex>

namespace tmclient {

enum class LockRank {
  kConnection,   // a connection's lock
  kConnections,  // the map of connections
  kThreads,      // the worker threads' lock
  kSweeper,      // the sweeper's wake-up, held with no other
  kCount
};

#ifdef NDEBUG

template <LockRank>
using RankedMutex = std::mutex;
using RankedCondition = std::condition_variable;

#else

namespace lock_order {
// Asserts that this thread holds no lock of rank `r` or later.
void Acquiring(LockRank r);
void Acquired(LockRank r);
void Released(LockRank r);
}  // namespace lock_order

template <LockRank R>
class RankedMutex {
 public:
  void lock() {
    lock_order::Acquiring(R);
    mLock.lock();
    lock_order::Acquired(R);
  }
  bool try_lock() {
    if (!mLock.try_lock()) return false;
    lock_order::Acquired(R);
    return true;
  }
  void unlock() {
    lock_order::Released(R);
    mLock.unlock();
  }

 private:
  std::mutex mLock;
};
using RankedCondition = std::condition_variable_any;

#endif

}  // namespace tmclient
