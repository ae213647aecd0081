#include "backoffice/periodic.h"

namespace backoffice {

Periodic::Periodic(std::chrono::milliseconds every, std::function<void()> task) {
  tRun = std::thread([this, every, task = std::move(task)] {
    std::unique_lock lock(mLock);
    do {
      lock.unlock();
      task();
      lock.lock();
    } while (!cvStop.wait_for(lock, every, [this] { return bStopping; }));
  });
}

Periodic::~Periodic() {
  {
    std::lock_guard lock(mLock);
    bStopping = true;
  }
  cvStop.notify_all();
  tRun.join();
}

}  // namespace backoffice
