#pragma once

// The list view's sort: a stable bottom-up merge over whatever stands for a
// row, apart from the rows themselves so that it can be tested on its own.

#include <algorithm>
#include <cstddef>
#include <vector>

namespace toolkit_detail {

// How far ahead in each run a merge asks for rows (see MergeOrder).
inline constexpr size_t kMergeFetchAhead = 32;

// `rows` in merged order: runs 1, 2, 4, ... wide are merged bottom-up, and a
// row of the right run goes first only when compare(left, right) is
// positive, so equal rows keep their order and any answers, consistent or
// not, give a permutation of `rows`. compare is asked the same pairs in the
// same order as a plain merge. fetch(row) is a hint that row is compared
// soon: the next comparisons take the next rows of the runs, which lie
// anywhere in memory once the runs are long, and asking for them
// kMergeFetchAhead rows ahead lets those fetches overlap the comparisons instead
// of following them (a fetch takes longer than a few comparisons, so two
// rows ahead was not enough).
template <class Row, class Compare, class Fetch>
std::vector<Row> MergeOrder(std::vector<Row> rows, Compare compare, Fetch fetch) {
  const size_t n = rows.size();
  std::vector<Row> merged(n);
  for (size_t width = 1; width < n; width *= 2) {
    for (size_t lo = 0; lo < n; lo += 2 * width) {
      const size_t mid = std::min(lo + width, n), hi = std::min(lo + 2 * width, n);
      size_t i = lo, j = mid, k = lo;
      while (i < mid && j < hi) {
        if (j + kMergeFetchAhead < n) {
          fetch(rows[i + kMergeFetchAhead]);
          fetch(rows[j + kMergeFetchAhead]);
        }
        merged[k++] = compare(rows[i], rows[j]) > 0 ? rows[j++] : rows[i++];
      }
      while (i < mid) merged[k++] = rows[i++];
      while (j < hi) merged[k++] = rows[j++];
    }
    rows.swap(merged);
  }
  return rows;
}

}  // namespace toolkit_detail
