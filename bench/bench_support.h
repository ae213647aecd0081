#pragma once

// What the back office's benchmark programs share: their data files next to
// the program, and order statistics of their samples.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "backoffice/demo_data.h"
#include "backoffice/sqlite_db.h"

namespace bench {

// A file next to the benchmark program.
inline std::string BenchFile(const char* name) {
  std::error_code ec;
  auto dir = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
  return (dir.empty() ? std::filesystem::path(".") : dir).append(name).string();
}

// A demo database of `rows` log rows ending at `endStamp`, next to the
// program, generated on the first run only. Returns its path.
inline std::string DemoDatabase(const char* name, int64_t rows, int64_t endStamp) {
  const std::string path = BenchFile(name);
  if (!std::filesystem::exists(path)) {
    std::fprintf(stderr, "generating %s (%lld rows, once)\n", path.c_str(),
                 static_cast<long long>(rows));
    backoffice::DemoOptions o;
    o.rows = rows;
    o.endStamp = endStamp;
    std::filesystem::remove(path + ".part");  // left by an interrupted run
    backoffice::GenerateDemo(path + ".part", o);
    std::filesystem::rename(path + ".part", path);
  }
  return path;
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
