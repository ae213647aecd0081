#include "call_retry.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <random>
#include <thread>

#include "tmclient/tmd_error.h"

namespace tmclient {
namespace {

// The pause before the second attempt; it doubles up to kMaxPause. Short,
// because the common case is a back office that restarts within a second.
constexpr std::chrono::milliseconds kFirstPause{10};
constexpr std::chrono::milliseconds kMaxPause{200};

// The request was never handed to a server.
bool NeverReached(int code) {
  return code == kErrConnectFailed || code == kErrNoResponders;
}

// The request may have been run, but no whole reply came back.
bool MayHaveReached(int code) {
  return code == kErrConnectionLost || code == kErrTimeout || code == kErrTransport;
}

// Between half the pause and the whole of it, so that the clients a restart
// turned away do not all come back at the same moment.
std::chrono::microseconds Jittered(std::chrono::milliseconds pause) {
  thread_local std::minstd_rand random{std::random_device{}()};
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(pause).count();
  return std::chrono::microseconds(us / 2 + static_cast<int64_t>(random() % (us / 2 + 1)));
}

// The service codes DeclareIdempotent made idempotent everywhere; read
// without the lock only through bDeclared, which most processes never set.
std::mutex mDeclared;
std::vector<std::string> vDeclared;
std::atomic<bool> bDeclared{false};

bool Declared(std::string_view serviceCode) {
  if (!bDeclared.load(std::memory_order_acquire)) return false;
  std::lock_guard lock(mDeclared);
  return std::find(vDeclared.begin(), vDeclared.end(), serviceCode) != vDeclared.end();
}

}  // namespace

void DeclareIdempotent(std::string_view serviceCode) {
  std::lock_guard lock(mDeclared);
  if (std::find(vDeclared.begin(), vDeclared.end(), serviceCode) == vDeclared.end())
    vDeclared.emplace_back(serviceCode);
  bDeclared.store(true, std::memory_order_release);
}

RetryPolicy RetryPolicy::Of(const BrokerUrl& url) {
  RetryPolicy p;
  p.deadlineMs = url.deadlineMs;
  p.attemptMs = url.attemptMs;
  p.idempotent = url.idempotent;
  p.retryMs = url.retryMs;
  return p;
}

bool RetryPolicy::IsIdempotent(std::string_view serviceCode) const {
  return std::find(idempotent.begin(), idempotent.end(), serviceCode) != idempotent.end() ||
         Declared(serviceCode);
}

CallAttempts::CallAttempts(const RetryPolicy& policy, std::string_view serviceCode)
    : CallAttempts(policy, serviceCode, Clock::now()) {}

CallAttempts::CallAttempts(const RetryPolicy& policy, std::string_view serviceCode,
                           Clock::time_point now)
    : tDeadline(now + std::chrono::milliseconds(policy.deadlineMs)),
      tRefusalsUntil(std::min(tDeadline, now + std::chrono::milliseconds(policy.retryMs))),
      bIdempotent(policy.IsIdempotent(serviceCode)),
      iAttemptMs(bIdempotent
                     ? std::min(policy.deadlineMs,
                                policy.attemptMs > 0 ? policy.attemptMs
                                                     : std::max<int64_t>(1, policy.deadlineMs / 3))
                     : policy.deadlineMs),
      tAttemptDeadline(std::min(tDeadline, now + std::chrono::milliseconds(iAttemptMs))) {}

bool CallAttempts::Again(int code) {
  if (!NeverReached(code) && !(bIdempotent && MayHaveReached(code))) return false;
  const auto pause = Jittered(std::min(kMaxPause, kFirstPause * (1 << std::min(iAttempts - 1, 8))));
  if (Clock::now() + pause >= (NeverReached(code) ? tRefusalsUntil : tDeadline)) return false;
  std::this_thread::sleep_for(pause);
  ++iAttempts;
  tAttemptDeadline = std::min(tDeadline, Clock::now() + std::chrono::milliseconds(iAttemptMs));
  return true;
}

}  // namespace tmclient
