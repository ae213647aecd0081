#include "forms/sortcompare.h"

#include <charconv>
#include <string>

#include "guicommon/guicommon.h"

namespace MBaseWindow {

intptr_t NextSortTag(intptr_t tag, int columnIndex) {
  const intptr_t sorted = static_cast<intptr_t>(columnIndex) + kSortTagBias;
  return tag >= 0 ? -sorted : sorted;
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

}  // namespace

bool CompareCellValues(intptr_t kind, std::string_view first, std::string_view second,
                       int& result) {
  if (kind == kColumnWholeNumber) {
    int64_t a = 0, b = 0;
    if (!ParseWholeNumber(first, a) || !ParseWholeNumber(second, b)) return false;
    result = OrderByValue(a, b);
    return true;
  }
  try {
    const int64_t a = StringToCurrency(std::string(first));
    const int64_t b = StringToCurrency(std::string(second));
    result = OrderByValue(a, b);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace MBaseWindow
