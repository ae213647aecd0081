#pragma once

// What the back office's benchmark programs share: their data files, the
// bare log query, and order statistics of their samples.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "backoffice/conditions.h"
#include "backoffice/demo_data.h"
#include "backoffice/sqlite_db.h"
#include "backoffice/store.h"

namespace bench {

// One sample of each side per iteration on the same parameter set (the
// iteration's number modulo `sets`), alternating which side goes first:
// `bare(k)` into `bareUs` and `served(k)` into `servedUs`, in microseconds.
// Each returns false when it failed, which marks the benchmark failed.
template <class Bare, class Served>
void AlternateSamples(benchmark::State& state, std::size_t sets, Bare bare,
                      std::vector<double>& bareUs, Served served, std::vector<double>& servedUs) {
  auto timed = [&state](auto& run, std::size_t k, std::vector<double>& us, const char* failure) {
    const auto start = std::chrono::steady_clock::now();
    const bool ok = run(k);
    us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                     .count());
    if (!ok) state.SkipWithError(failure);
  };
  std::size_t i = 0;
  for (auto _ : state) {
    const std::size_t k = i % sets;
    if (i % 2) {
      timed(bare, k, bareUs, "the bare statement failed");
      timed(served, k, servedUs, "the service refused a query");
    } else {
      timed(served, k, servedUs, "the service refused a query");
      timed(bare, k, bareUs, "the bare statement failed");
    }
    ++i;
  }
}

// A file next to the benchmark program.
inline std::string BenchFile(const char* name) {
  std::error_code ec;
  auto dir = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
  return (dir.empty() ? std::filesystem::path(".") : dir).append(name).string();
}

// A demo database of `rows` log rows ending at `endStamp` at `path`,
// generated on the first run only (saying how long that took). Returns `path`.
inline std::string DemoDatabaseAt(const std::string& path, int64_t rows, int64_t endStamp) {
  if (!std::filesystem::exists(path)) {
    std::fprintf(stderr, "generating %s (%lld rows, once)\n", path.c_str(),
                 static_cast<long long>(rows));
    const auto start = std::chrono::steady_clock::now();
    backoffice::DemoOptions o;
    o.rows = rows;
    o.endStamp = endStamp;
    std::filesystem::remove(path + ".part");  // left by an interrupted run
    backoffice::GenerateDemo(path + ".part", o);
    std::filesystem::rename(path + ".part", path);
    std::fprintf(stderr, "generated %s in %.0f s\n", path.c_str(),
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return path;
}

// A demo database next to the program (see DemoDatabaseAt).
inline std::string DemoDatabase(const char* name, int64_t rows, int64_t endStamp) {
  return DemoDatabaseAt(BenchFile(name), rows, endStamp);
}

// The 10,000,000-row demo database that several programs query, made once
// in the build folder's bench folder (1.5 GB).
constexpr int64_t kLargeDbRows = 10000000;
constexpr int64_t kLargeDbEnd = 20261130120000;
inline std::string LargeDemoDatabase() {
  std::error_code ec;
  std::filesystem::path dir =
      std::filesystem::read_symlink("/proc/self/exe", ec).parent_path().parent_path();
  if (dir.empty()) dir = ".";
  return DemoDatabaseAt((dir / "demo-10m.db").string(), kLargeDbRows, kLargeDbEnd);
}

// The parameters of one sample of each query kind the back-office benchmarks
// time: a phone number and a calendar month, a business code and an hour, a
// service-order number, and a user's phone number.
struct QuerySample {
  backoffice::LogConditions byPhone, byBusi, bySoNbr;
  std::string userPhone;
};

// `count` samples over the 10,000,000-row database (kLargeDbRows rows ending
// at kLargeDbEnd), from `phones` (RandomPhones). The same seed gives the same
// samples, whichever store they are run on.
inline std::vector<QuerySample> QuerySamples(const std::vector<std::string>& phones, int count,
                                             uint64_t seed);

// `count` phone numbers of `db`'s users drawn at random (with repeats),
// each user as likely as any other.
inline std::vector<std::string> RandomPhones(backoffice::Database& db, size_t count,
                                             uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::vector<std::string> phones;
  backoffice::Statement s = db.Prepare("SELECT phone_id FROM mp_user WHERE serv_id = ?1");
  backoffice::Statement range = db.Prepare("SELECT min(serv_id), max(serv_id) FROM mp_user");
  if (!range.Step()) return phones;
  const int64_t lo = range.Int(0), hi = range.Int(1);
  while (phones.size() < count) {
    s.Bind(1, lo + static_cast<int64_t>(rng() % static_cast<uint64_t>(hi - lo + 1)));
    if (s.Step()) phones.emplace_back(s.Text(0));
    s.Reset();
  }
  return phones;
}

inline std::vector<QuerySample> QuerySamples(const std::vector<std::string>& phones, int count,
                                             uint64_t seed) {
  using namespace backoffice;
  std::mt19937_64 rng(seed);
  std::vector<QuerySample> samples;
  const int64_t start = StampToSeconds(kLargeDbEnd) - 365LL * 86400;
  for (int i = 0; i < count; ++i) {
    QuerySample& q = samples.emplace_back();
    // A calendar month of the year of data.
    q.byPhone.PHONE_ID = phones[static_cast<size_t>(i) % phones.size()];
    int64_t month = SecondsToStamp(start + static_cast<int64_t>(rng() % 330) * 86400) / 100000000;
    q.byPhone.BEGIN_SO_DATE = month * 100000000 + 1000000;
    int64_t next = SecondsToStamp(StampToSeconds(q.byPhone.BEGIN_SO_DATE) + 32 * 86400) / 100000000;
    q.byPhone.END_SO_DATE = SecondsToStamp(StampToSeconds(next * 100000000 + 1000000) - 1);

    q.byBusi.BUSI_CODE = 1332 + static_cast<int>(rng() % 6);
    int64_t hour = start + static_cast<int64_t>(rng() % (364 * 24)) * 3600;
    q.byBusi.BEGIN_SO_DATE = SecondsToStamp(hour);
    q.byBusi.END_SO_DATE = SecondsToStamp(hour + 3599);

    q.bySoNbr.SO_NBR = 310000000000 + static_cast<int64_t>(rng() % kLargeDbRows);

    q.userPhone = phones[static_cast<size_t>(rng() % phones.size())];
  }
  return samples;
}

// The floor of a log query through the back office's own store reader:
// every row read into a block (every column), nothing more.
class ReadRows : public backoffice::LogRowSink {
 public:
  backoffice::LogRows& Block() override { return cRows; }
  bool Added() override {
    if (cRows.size() == 2000) cRows.Clear();
    return true;
  }

 private:
  backoffice::LogRows cRows;
};

// Steps a log statement to its end, reading every column as the service
// does. The rows stepped.
inline int64_t StepAll(backoffice::Statement& s) {
  int64_t n = 0, sum = 0;
  size_t bytes = 0;
  while (s.Step()) {
    sum += s.Int(0) + s.Int(1) + s.Int(3) + s.Int(5);
    bytes += s.Text(2).size() + s.Text(4).size() + s.Text(6).size();
    ++n;
  }
  benchmark::DoNotOptimize(sum + static_cast<int64_t>(bytes));
  s.Reset();
  return n;
}

// The bare log query: `s` (prepared from LogQuerySql of the conditions'
// mask) bound to `c` and stepped to its end. The rows stepped.
inline int64_t RunLog(backoffice::Statement& s, const backoffice::LogConditions& c) {
  backoffice::BindInOrder params(s);
  backoffice::PutLogParameters(c, 200001, params);
  return StepAll(s);
}

// The sample below which a share `p` of them lie (0.5: the median).
inline double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

// Runs `setup`, the program's benchmarks, then `teardown`. False (with the
// reason on standard error) when the setup fails or the database does.
inline bool RunBenchmarks(const char* program, int& argc, char** argv,
                          const std::function<bool()>& setup,
                          const std::function<void()>& teardown) {
  try {
    if (!setup()) {
      std::fprintf(stderr, "%s: setup failed\n", program);
      return false;
    }
  } catch (const backoffice::DbError& error) {
    std::fprintf(stderr, "%s: %s\n", program, error.what());
    return false;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  teardown();
  return true;
}

}  // namespace bench
