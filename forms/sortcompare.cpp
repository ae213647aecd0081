#include "forms/sortcompare.h"

#include <charconv>
#include <limits>
#include <string>

#include "guicommon/guicommon.h"

namespace MBaseWindow {

intptr_t NextSortTag(intptr_t tag, int columnIndex) {
  const intptr_t sorted = static_cast<intptr_t>(columnIndex) + kSortTagBias;
  return tag >= 0 ? -sorted : sorted;
}

bool DecodeSortTag(intptr_t tag, int columnCount, int& column, bool& ascending) {
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

bool ComparePinnedRows(int firstImageIndex, int secondImageIndex, int& result) {
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

std::string_view TrimBlanks(std::string_view text) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
  size_t begin = 0, end = text.size();
  while (begin < end && blank(text[begin])) ++begin;
  while (end > begin && blank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

bool ParseWholeNumber(std::string_view text, int64_t& value) {
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    // "+-5" is not a number.
    if (!text.empty() && text.front() == '-') return false;
  }
  if (text.empty()) return false;
  int64_t parsed = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (error != std::errc() || end != text.data() + text.size()) return false;
  value = parsed;
  return true;
}

namespace {

int OrderByValue(int64_t first, int64_t second) {
  return second > first ? -1 : 1;
}

int OrderByBytes(std::string_view first, std::string_view second) {
  // std::string_view compares through char_traits<char>, which compares as
  // unsigned char, so GBK lead bytes sort after ASCII.
  return first.compare(second) > 0 ? 1 : -1;
}

}  // namespace

bool CompareCellTexts(intptr_t kind, std::string_view first, std::string_view second, int& result) {
  first = TrimBlanks(first);
  second = TrimBlanks(second);
  if (kind == kColumnWholeNumber) {
    int64_t a = 0, b = 0;
    if (!ParseWholeNumber(first, a) || !ParseWholeNumber(second, b)) return false;
    result = OrderByValue(a, b);
    return true;
  }
  if (kind == kColumnAmount) {
    try {
      const int64_t a = StringToCurrency(std::string(first));
      const int64_t b = StringToCurrency(std::string(second));
      result = OrderByValue(a, b);
      return true;
    } catch (...) {
      return false;
    }
  }
  result = OrderByBytes(first, second);
  return true;
}

}  // namespace MBaseWindow
