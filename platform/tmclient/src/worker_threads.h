#pragma once

// The threads of a server that serves events one at a time on each: `size` of
// them are ready at any time, and one more for each request paused waiting
// for a slow client (up to `maxStandIns` more), so that a few clients that do
// not read cannot hold every thread. A thread beyond the number wanted waits,
// idle, until it is wanted again.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "lock_order.h"

namespace tmclient {

class WorkerThreads {
 public:
  // `serveOne` waits for one event and serves it; it must return soon once
  // the caller of Stop() has woken the threads.
  WorkerThreads(int size, int maxStandIns, std::function<void()> serveOne);
  ~WorkerThreads();
  WorkerThreads(const WorkerThreads&) = delete;
  WorkerThreads& operator=(const WorkerThreads&) = delete;

  void Start();
  // A request is about to wait for its client: another thread stands in for
  // it until Resume().
  void Pause();
  void Resume();
  // Requests waiting for their clients just now, each with a thread standing
  // in for it (up to maxStandIns).
  int standIns();
  // Ends every thread as it returns from serveOne, and joins them.
  // Idempotent.
  void Stop();

 private:
  void Run();
  int Wanted() const;
  void SpawnLocked();

  const int iSize;
  const int iMaxStandIns;
  const std::function<void()> fnServeOne;
  RankedMutex<LockRank::kThreads> mLock;  // guards what follows
  RankedCondition cvWanted;
  std::vector<std::thread> vThreads;
  int iServing = 0;  // threads in serveOne or about to be
  int iIdle = 0;     // threads waiting to be wanted
  int iCalled = 0;   // idle threads called back, not yet serving
  int iPaused = 0;   // requests waiting for their clients
  bool bStopping = false;
};

}  // namespace tmclient
