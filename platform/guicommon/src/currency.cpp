#include <charconv>
#include <cstdint>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string>

#include "guicommon/guicommon.h"

std::string CurrencyToString(int64_t fen) {
  // The magnitude as unsigned, so that INT64_MIN has one too.
  const bool negative = fen < 0;
  uint64_t magnitude = negative ? 0u - static_cast<uint64_t>(fen) : static_cast<uint64_t>(fen);
  // Written from the end: a result list formats one amount per row.
  char text[24];  // room for "-92233720368547758.08"
  char* first = std::end(text);
  *--first = static_cast<char>('0' + magnitude % 10);
  *--first = static_cast<char>('0' + magnitude / 10 % 10);
  *--first = '.';
  magnitude /= 100;
  do {
    *--first = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative) *--first = '-';
  return std::string(first, std::end(text));
}

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

[[noreturn]] void Unreadable(const std::string& text) {
  throw std::invalid_argument("not an amount: \"" + text + "\"");
}

}  // namespace

int64_t StringToCurrency(const std::string& text) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < n && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';

  // The magnitude in fen as unsigned; the limit allows INT64_MIN.
  const uint64_t limit =
      static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + (negative ? 1u : 0u);
  uint64_t yuan = 0;  // stays 0 when there are no digits
  const char* const yuanBegin = text.data() + i;
  const auto [yuanEnd, ec] = std::from_chars(yuanBegin, text.data() + n, yuan);
  if (ec == std::errc::result_out_of_range) Unreadable(text);
  const std::size_t digits = ec == std::errc() ? static_cast<std::size_t>(yuanEnd - yuanBegin) : 0;
  i += digits;
  unsigned cents = 0;
  std::size_t decimals = 0;
  if (i < n && text[i] == '.') {
    for (++i; i < n && IsDigit(text[i]); ++i, ++decimals) {
      if (decimals == 2) Unreadable(text);
      cents = cents * 10 + static_cast<unsigned>(text[i] - '0');
    }
    if (decimals == 1) cents *= 10;
  }
  if (digits == 0 && decimals == 0) Unreadable(text);
  while (i < n && IsBlank(text[i])) ++i;
  if (i != n) Unreadable(text);

  if (yuan > (limit - cents) / 100) Unreadable(text);
  const uint64_t magnitude = yuan * 100 + cents;
  return negative ? static_cast<int64_t>(0u - magnitude) : static_cast<int64_t>(magnitude);
}
