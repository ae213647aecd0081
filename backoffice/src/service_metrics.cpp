#include "backoffice/service_metrics.h"

#include <algorithm>

namespace backoffice {
namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

std::size_t ResultSlot(int result) {
  auto it = std::find(kCountedResults.begin(), kCountedResults.end(), result);
  return static_cast<std::size_t>(it - kCountedResults.begin());
}

std::size_t BucketSlot(std::chrono::nanoseconds took) {
  const double seconds = std::chrono::duration<double>(took).count();
  auto it = std::lower_bound(kLatencyBuckets.begin(), kLatencyBuckets.end(), seconds);
  return static_cast<std::size_t>(it - kLatencyBuckets.begin());
}

}  // namespace

void ServiceMetrics::Record(Operation op, int result, int64_t rows,
                            std::chrono::nanoseconds took) noexcept {
  PerOperation& o = aOps[static_cast<std::size_t>(op)];
  o.results[ResultSlot(result)].fetch_add(1, kRelaxed);
  o.buckets[BucketSlot(took)].fetch_add(1, kRelaxed);
  o.nanos.fetch_add(static_cast<uint64_t>(std::max<int64_t>(0, took.count())), kRelaxed);
  if (result == 0 && rows > 0) o.rows.fetch_add(static_cast<uint64_t>(rows), kRelaxed);
}

ServiceMetrics::Snapshot ServiceMetrics::Read() const {
  Snapshot s;
  for (std::size_t i = 0; i < aOps.size(); ++i) {
    const PerOperation& from = aOps[i];
    Snapshot::PerOperation& to = s.ops[i];
    for (std::size_t r = 0; r < from.results.size(); ++r)
      to.results[r] = from.results[r].load(kRelaxed);
    // The count is the buckets' sum, so that it always equals the +Inf bucket.
    for (std::size_t b = 0; b < from.buckets.size(); ++b) {
      to.buckets[b] = from.buckets[b].load(kRelaxed);
      to.requests += to.buckets[b];
    }
    to.seconds = static_cast<double>(from.nanos.load(kRelaxed)) / 1e9;
    to.rows = from.rows.load(kRelaxed);
  }
  s.storeErrors = iStoreErrors.load(kRelaxed);
  return s;
}

}  // namespace backoffice
