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

namespace backoffice {

enum class Operation { kLog, kUser, kSignIn, kSignOut, kUnknown };
inline constexpr int kOperations = 5;
// "query_mpSoList", "query_mppUser", "signIn", "signOut", "unknown".
std::string_view OperationName(Operation op);

// Upper bounds of the latency buckets, in seconds; the last bucket (+Inf) is
// implied.
inline constexpr std::array<double, 14> kLatencyBuckets = {
    0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10};

// The result codes counted one by one: 0 and the service's own codes, those of
// sessions, sign-in and the
// audit included. Any other lands in the last slot ("other").
inline constexpr std::array<int, 14> kCountedResults = {0,    1001, 1002, 1003, 1004, 1005, 1006,
                                                        1007, 1008, 1009, 1010, 1011, 1012, 1020};

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
