#include "worker_pool.h"

namespace tmclient {

WorkerPool::WorkerPool(int threads) {
  if (threads < 1) threads = 1;
  vThreads.reserve(static_cast<std::size_t>(threads));
  for (int i = 0; i < threads; ++i) vThreads.emplace_back([this] { Run(); });
}

WorkerPool::~WorkerPool() {
  Shutdown();
}

bool WorkerPool::Submit(std::function<void()> task) {
  {
    std::lock_guard lock(mLock);
    if (bStopping) return false;
    qTasks.push_back(std::move(task));
  }
  cvWork.notify_one();
  return true;
}

void WorkerPool::Shutdown() {
  {
    std::lock_guard lock(mLock);
    bStopping = true;
  }
  cvWork.notify_all();
  for (auto& t : vThreads) {
    if (t.joinable()) t.join();
  }
}

void WorkerPool::Run() {
  while (true) {
    std::function<void()> task;
    {
      std::unique_lock lock(mLock);
      cvWork.wait(lock, [this] { return bStopping || !qTasks.empty(); });
      if (qTasks.empty()) return;
      task = std::move(qTasks.front());
      qTasks.pop_front();
    }
    task();
  }
}

}  // namespace tmclient
