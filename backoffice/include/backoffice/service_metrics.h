#pragma once

// What the service has answered, for the metrics endpoint: requests by
// operation and result code, their server-side time as a histogram, the rows
// their replies carried, and the store's failures. Recorded once per request
// with relaxed atomics on counters of its own operation (no lock, no
// allocation); read at any time, each value on its own (a scrape may see a
// request counted and its time not yet).

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string_view>

#include "backoffice/service.h"
#include "records/operations.h"

namespace backoffice {

// The catalogue's operations, then kUnknown; labelled by operations::Label.
using Operation = operations::Id;
inline constexpr std::size_t kOperations = operations::kCount + 1;

// Upper bounds of the latency buckets, in seconds; the last bucket (+Inf) is
// implied.
inline constexpr std::array<double, 14> kLatencyBuckets = {
    0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10};

// The result codes counted one by one: 0 and the service's own codes
// (service.h). Any other lands in the last slot ("other").
#define MPAY_COUNTED_RESULT_(NAME, VALUE) , NAME
inline constexpr std::array kCountedResults = {0 MPAY_RESULT_CODES(MPAY_COUNTED_RESULT_)};
#undef MPAY_COUNTED_RESULT_

class ServiceMetrics {
 public:
  struct Snapshot {
    struct PerOperation {
      std::array<uint64_t, kCountedResults.size() + 1> results{};
      std::array<uint64_t, kLatencyBuckets.size() + 1> buckets{};  // not cumulative
      uint64_t requests = 0;
      double seconds = 0;  // sum of the latencies
      uint64_t rows = 0;   // rows sent in successful replies
    };
    std::array<PerOperation, kOperations> ops;
    uint64_t storeErrors = 0;
  };

  // One answered request: its result code, the rows its reply carried and
  // how long it took from request to reply.
  void Record(Operation op, int result, int64_t rows, std::chrono::nanoseconds took) noexcept;
  // The store failed a query or a health check.
  void StoreError() noexcept { iStoreErrors.fetch_add(1, std::memory_order_relaxed); }

  Snapshot Read() const;

 private:
  struct alignas(64) PerOperation {
    std::array<std::atomic<uint64_t>, kCountedResults.size() + 1> results{};
    std::array<std::atomic<uint64_t>, kLatencyBuckets.size() + 1> buckets{};
    std::atomic<uint64_t> nanos{0};
    std::atomic<uint64_t> rows{0};
  };
  std::array<PerOperation, kOperations> aOps;
  alignas(64) std::atomic<uint64_t> iStoreErrors{0};
};

}  // namespace backoffice
