#pragma once

// Figures that hold on a shared machine: a ratio is taken in each of several
// rounds that alternate its two sides, so that both see the machine in the
// same state, and is printed as the median of the rounds with their spread.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace bench {

// The rounds every ratio with a target is the median of, at least.
constexpr int kMinRounds = 5;

// The median of `v` (0 when empty).
inline double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Prints `name: median` of the rounds' values, then `name_min`, `name_max`
// and `name_rounds`. Prints nothing without rounds.
inline void PrintRounds(const std::string& name, const std::vector<double>& rounds,
                        int decimals = 2) {
  if (rounds.empty()) return;
  const auto [lo, hi] = std::minmax_element(rounds.begin(), rounds.end());
  const char* n = name.c_str();
  std::printf("%s: %.*f\n%s_min: %.*f\n%s_max: %.*f\n%s_rounds: %zu\n", n, decimals, Median(rounds),
              n, decimals, *lo, n, decimals, *hi, n, rounds.size());
}

// The ratio of the medians of `num` and `den` in each of `rounds` consecutive
// slices of two sample series taken alternately (sample i of both in the same
// moment).
inline std::vector<double> SliceRatios(const std::vector<double>& num,
                                       const std::vector<double>& den, int rounds,
                                       double share = 0.5) {
  std::vector<double> ratios;
  const std::size_t n = std::min(num.size(), den.size());
  const std::size_t slice = n / static_cast<std::size_t>(rounds);
  if (slice == 0) return ratios;
  auto at = [share](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1,
                      static_cast<std::size_t>(share * static_cast<double>(v.size())))];
  };
  for (int r = 0; r < rounds; ++r) {
    const auto b = static_cast<std::ptrdiff_t>(slice * static_cast<std::size_t>(r));
    const auto e = b + static_cast<std::ptrdiff_t>(slice);
    const double d = at({den.begin() + b, den.begin() + e});
    if (d > 0) ratios.push_back(at({num.begin() + b, num.begin() + e}) / d);
  }
  return ratios;
}

}  // namespace bench
