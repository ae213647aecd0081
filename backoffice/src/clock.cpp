#include "backoffice/clock.h"

#include <chrono>
#include <ctime>

namespace backoffice {
namespace {

class RealClock final : public Clock {
 public:
  int64_t UnixSeconds() const override { return static_cast<int64_t>(std::time(nullptr)); }
  int64_t SteadyMs() const override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
};

}  // namespace

const Clock& SystemClock() {
  static const RealClock clock;
  return clock;
}

}  // namespace backoffice
