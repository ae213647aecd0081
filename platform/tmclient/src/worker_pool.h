#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tmclient {

// A fixed set of threads running submitted tasks in submission order.
class WorkerPool {
 public:
  explicit WorkerPool(int threads);
  // Shutdown()s.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Queues a task. False (the task is dropped) once Shutdown() has begun.
  // A task must not throw.
  bool Submit(std::function<void()> task);
  // Runs every task already queued, then joins the threads. Idempotent.
  void Shutdown();

 private:
  void Run();

  std::mutex mLock;
  std::condition_variable cvWork;
  std::deque<std::function<void()>> qTasks;
  std::vector<std::thread> vThreads;
  bool bStopping = false;
};

}  // namespace tmclient
