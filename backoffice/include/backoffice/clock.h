#pragma once

// No <chrono> here: sources compiled to GBK include this header.
#include <atomic>
#include <cstdint>

namespace backoffice {

// The back office's one source of time: the wall clock (Unix seconds: the
// stamps, sessions, lockouts and the audit's age) and a monotonic clock
// (milliseconds from an arbitrary start: the audit's batching, merging and
// pruning, the authenticator's rechecks). What decides by time takes one, so
// that tests set the time instead of sleeping.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual int64_t UnixSeconds() const = 0;
  virtual int64_t SteadyMs() const = 0;
};

// The machine's clocks.
const Clock& SystemClock();

// A clock that moves only when told; both of its times move together.
// Thread-safe.
class ManualClock final : public Clock {
 public:
  // 2026-01-01 00:00:00 UTC by default.
  explicit ManualClock(int64_t unixSeconds = 1767225600) : iUnixMs(unixSeconds * 1000) {}
  int64_t UnixSeconds() const override { return iUnixMs.load() / 1000; }
  int64_t SteadyMs() const override { return iSteadyMs.load(); }
  void Advance(int64_t ms) {
    iUnixMs += ms;
    iSteadyMs += ms;
  }
  void AdvanceSeconds(int64_t s) { Advance(s * 1000); }

 private:
  std::atomic<int64_t> iUnixMs;
  std::atomic<int64_t> iSteadyMs{1000000};
};

}  // namespace backoffice
