#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Upkeep that runs on a thread of its own: once at start, then every
// period, until the object is destroyed (which waits for a run under way).
namespace backoffice {

class Periodic {
 public:
  // `task` must not throw.
  Periodic(std::chrono::milliseconds every, std::function<void()> task);
  ~Periodic();
  Periodic(const Periodic&) = delete;
  Periodic& operator=(const Periodic&) = delete;

 private:
  std::mutex mLock;
  std::condition_variable cvStop;
  bool bStopping = false;
  std::thread tRun;
};

}  // namespace backoffice
