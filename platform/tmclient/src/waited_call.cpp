#include "waited_call.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "tmclient/tmd_error.h"

namespace tmclient {

CallWaitHook::~CallWaitHook() = default;

namespace {

std::atomic<CallWaitHook*> gHook{nullptr};

// One call handed to an I/O thread. Shared by the waiting caller and the
// thread: whichever lets it go last destroys it.
class CallInFlight final : public PendingCall {
 public:
  explicit CallInFlight(std::function<int()> io) : fnIo(std::move(io)) {}
  ~CallInFlight() {
    if (iFd >= 0) ::close(iFd);
  }

  // On the I/O thread.
  void Run() {
    int result = kErrTransport;
    try {
      result = fnIo();
    } catch (...) {
    }
    // What the call holds (the caller's reply buffer, the transport) goes
    // before its end is told, so that the caller finds them its own again.
    fnIo = nullptr;
    std::lock_guard lock(mLock);
    iResult = result;
    bEnded = true;
    if (iFd >= 0) {
      const uint64_t one = 1;
      [[maybe_unused]] ssize_t n = ::write(iFd, &one, sizeof one);
    }
    cvEnded.notify_all();
  }
  int Result() const {
    std::lock_guard lock(mLock);
    return iResult;
  }

  bool Ended() const override {
    std::lock_guard lock(mLock);
    return bEnded;
  }
  bool WaitEnded(int ms) override {
    std::unique_lock lock(mLock);
    return cvEnded.wait_for(lock, std::chrono::milliseconds(ms), [this] { return bEnded; });
  }
  int EndedFd() override {
    std::lock_guard lock(mLock);
    if (iFd < 0) iFd = ::eventfd(bEnded ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
    return iFd;
  }
  bool Abandon() override {
    std::lock_guard lock(mLock);
    if (bEnded) return false;
    bAbandoned = true;
    return true;
  }
  bool Abandoned() const override {
    std::lock_guard lock(mLock);
    return bAbandoned;
  }

 private:
  std::function<int()> fnIo;  // only the I/O thread touches it
  mutable std::mutex mLock;   // guards what follows
  std::condition_variable cvEnded;
  int iResult = kErrTransport;
  bool bEnded = false;
  bool bAbandoned = false;
  int iFd = -1;  // eventfd, made when a hook asks for it
};

// The I/O threads: made as calls need them and kept waiting for the next
// one. A call that was given up keeps its thread until its I/O ends, so the
// next call may need another. Never destroyed: threads may still wait in it
// while the process exits.
class IoThreads {
 public:
  static IoThreads& Instance() {
    static IoThreads* threads = new IoThreads;
    return *threads;
  }

  // False when no thread could be made for it.
  bool Start(std::shared_ptr<CallInFlight> call) {
    std::lock_guard lock(mLock);
    qCalls.push_back(std::move(call));
    if (qCalls.size() > iIdle) {
      try {
        std::thread([this] { Loop(); }).detach();
      } catch (...) {
        qCalls.pop_back();
        return false;
      }
    } else {
      cvWork.notify_one();
    }
    return true;
  }

 private:
  void Loop() {
    std::unique_lock lock(mLock);
    while (true) {
      ++iIdle;
      cvWork.wait(lock, [this] { return !qCalls.empty(); });
      --iIdle;
      std::shared_ptr<CallInFlight> call = std::move(qCalls.front());
      qCalls.pop_front();
      lock.unlock();
      call->Run();
      call.reset();
      lock.lock();
    }
  }

  std::mutex mLock;  // guards what follows
  std::condition_variable cvWork;
  std::deque<std::shared_ptr<CallInFlight>> qCalls;
  std::size_t iIdle = 0;
};

}  // namespace

CallWaitHook* SetCallWaitHook(CallWaitHook* hook) {
  return gHook.exchange(hook);
}

CallWaitHook* GetCallWaitHook() {
  return gHook.load();
}

CallWaitHook* HookForThisCall() {
  CallWaitHook* hook = gHook.load();
  return hook != nullptr && hook->WaitsHere() ? hook : nullptr;
}

int WaitThrough(CallWaitHook& hook, std::function<int()> io, bool& abandoned) {
  abandoned = false;
  auto call = std::make_shared<CallInFlight>(std::move(io));
  if (!IoThreads::Instance().Start(call)) {
    // No thread to be had: the call blocks here, as without a hook.
    call->Run();
    return call->Result();
  }
  try {
    hook.Wait(*call);
  } catch (...) {
  }
  // A hook that returned early gave the call up, unless it ended meanwhile.
  if (call->Abandoned() || (!call->Ended() && call->Abandon())) {
    abandoned = true;
    return kErrCallAbandoned;
  }
  return call->Result();
}

}  // namespace tmclient
