#pragma once

// The list view's row order written as plainly as it can be: a bottom-up
// merge of runs 1, 2, 4, ... rows wide in which a row of the right run goes
// first only when compare(left row, right row) is positive. Whatever the list
// view does to go faster (reading rows ahead, how it keeps its buffers), it
// must ask the same pairs in the same order and end with this order, also
// when the answers contradict each other.

#include <algorithm>
#include <cstddef>
#include <numeric>
#include <vector>

namespace samples {

// The positions 0 .. n-1 in the merged order; `compare` gets two positions.
template <class Compare>
std::vector<int> PlainMergeOrder(int n, Compare compare) {
  std::vector<int> rows(static_cast<size_t>(std::max(n, 0)));
  std::iota(rows.begin(), rows.end(), 0);
  std::vector<int> merged(rows.size());
  for (size_t width = 1; width < rows.size(); width *= 2) {
    for (size_t lo = 0; lo < rows.size(); lo += 2 * width) {
      const size_t mid = std::min(lo + width, rows.size());
      const size_t hi = std::min(lo + 2 * width, rows.size());
      size_t i = lo, j = mid, k = lo;
      while (i < mid && j < hi) merged[k++] = compare(rows[i], rows[j]) > 0 ? rows[j++] : rows[i++];
      while (i < mid) merged[k++] = rows[i++];
      while (j < hi) merged[k++] = rows[j++];
    }
    rows.swap(merged);
  }
  return rows;
}

}  // namespace samples
