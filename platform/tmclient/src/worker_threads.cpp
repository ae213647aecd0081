#include "worker_threads.h"

#include <algorithm>

namespace tmclient {

WorkerThreads::WorkerThreads(int size, int maxStandIns, std::function<void()> serveOne)
    : iSize(std::max(1, size)),
      iMaxStandIns(std::max(0, maxStandIns)),
      fnServeOne(std::move(serveOne)) {}

WorkerThreads::~WorkerThreads() {
  Stop();
}

void WorkerThreads::Start() {
  std::lock_guard lock(mLock);
  bStopping = false;
  while (iServing < iSize) SpawnLocked();
}

int WorkerThreads::Wanted() const {
  return iSize + std::min(iPaused, iMaxStandIns);
}

void WorkerThreads::SpawnLocked() {
  ++iServing;
  vThreads.emplace_back([this] { Run(); });
}

void WorkerThreads::Pause() {
  std::lock_guard lock(mLock);
  ++iPaused;
  if (bStopping || iServing + iCalled >= Wanted()) return;
  if (iIdle > iCalled) {
    ++iCalled;
    cvWanted.notify_one();
  } else {
    SpawnLocked();
  }
}

void WorkerThreads::Resume() {
  // The thread beyond the number wanted goes idle when it next comes back.
  std::lock_guard lock(mLock);
  --iPaused;
}

int WorkerThreads::standIns() {
  std::lock_guard lock(mLock);
  return std::min(iPaused, iMaxStandIns);
}

void WorkerThreads::Run() {
  std::unique_lock lock(mLock);
  while (!bStopping) {
    if (iServing > Wanted()) {
      --iServing;
      ++iIdle;
      cvWanted.wait(lock, [this] { return bStopping || iCalled > 0; });
      --iIdle;
      if (bStopping) return;
      --iCalled;
      ++iServing;
    }
    lock.unlock();
    fnServeOne();
    lock.lock();
  }
  --iServing;
}

void WorkerThreads::Stop() {
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mLock);
    bStopping = true;
    threads.swap(vThreads);
  }
  cvWanted.notify_all();
  for (auto& t : threads) t.join();
  std::lock_guard lock(mLock);
  iServing = iIdle = iCalled = 0;
}

}  // namespace tmclient
