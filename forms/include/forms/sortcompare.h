#pragma once

#include <cstdint>
#include <limits>
#include <string_view>

// How a report list view orders its rows when a column header is clicked.
// The list view keeps its sort state in its tag and each column keeps its
// kind in its own tag; these functions decide on those integers and on the
// cell texts, so the list view handlers only read controls and apply results.
namespace MBaseWindow {

// Column kinds, kept in a column's tag. Any other value sorts as text.
inline constexpr intptr_t kColumnWholeNumber = 1;
inline constexpr intptr_t kColumnAmount = 2;

// A row whose image index is this stays below every other row.
inline constexpr int kPinnedImageIndex = -999;

// A sort by column c leaves +(c + 12) (ascending) or -(c + 12) (descending)
// in the list view's tag; 0 means never sorted.
inline constexpr intptr_t kSortTagBias = 12;

// The tag after a header click on column `columnIndex` of a list view whose
// tag is `tag`: a tag of 0 or more becomes descending, a negative one
// ascending, whichever column was sorted before.
intptr_t NextSortTag(intptr_t tag, int columnIndex);

// A sort asks for these with every pair of rows it compares, so they are
// defined here, where the compare handler can have them inline.

// Reads a sort tag. Returns false when the tag names no column below
// `columnCount` (a fresh list view, a right-click point, a stale column).
inline bool DecodeSortTag(intptr_t tag, int columnCount, int& column, bool& ascending) {
  // The magnitude of the most negative tag cannot be negated; it names no
  // column anyway.
  if (tag == std::numeric_limits<intptr_t>::min()) return false;
  const intptr_t magnitude = tag < 0 ? -tag : tag;
  const intptr_t c = magnitude - kSortTagBias;
  if (c < 0 || c >= columnCount) return false;
  column = static_cast<int>(c);
  ascending = tag >= 0;
  return true;
}

// The order of two rows when either is pinned: 1 when the first is pinned
// (also when both are), -1 when only the second is. Returns false when
// neither is pinned.
inline bool ComparePinnedRows(int firstImageIndex, int secondImageIndex, int& result) {
  if (firstImageIndex == kPinnedImageIndex) {
    result = 1;
    return true;
  }
  if (secondImageIndex == kPinnedImageIndex) {
    result = -1;
    return true;
  }
  return false;
}

// The text without leading and trailing bytes 0 to 32.
inline std::string_view TrimBlanks(std::string_view text) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
  size_t begin = 0, end = text.size();
  while (begin < end && blank(text[begin])) ++begin;
  while (end > begin && blank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// Reads a signed decimal whole number (optional sign, digits only, trimmed
// text). Returns false on anything else, overflow included.
bool ParseWholeNumber(std::string_view text, int64_t& value);

// Compares two trimmed number or amount cells (kind kColumnWholeNumber or
// kColumnAmount) by value, ascending (equal values give 1). Returns false
// and leaves `result` alone when either does not convert.
bool CompareCellValues(intptr_t kind, std::string_view first, std::string_view second, int& result);

// Compares two cell texts of a column of kind `kind`, ascending: whole
// numbers and amounts by value (equal values give 1), anything else by
// unsigned bytes (equal texts give -1). Texts are trimmed first. Returns
// false and leaves `result` alone when a number or amount does not convert.
inline bool CompareCellTexts(intptr_t kind, std::string_view first, std::string_view second,
                             int& result) {
  first = TrimBlanks(first);
  second = TrimBlanks(second);
  if (kind == kColumnWholeNumber || kind == kColumnAmount)
    return CompareCellValues(kind, first, second, result);
  // std::string_view compares through char_traits<char>, which compares as
  // unsigned char, so GBK lead bytes sort after ASCII.
  result = first.compare(second) > 0 ? 1 : -1;
  return true;
}

}  // namespace MBaseWindow
