#include <charconv>
#include <cstring>

#include "tradekit/tradekit.h"

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// Reads an optionally signed decimal number at `p`; false when there is none
// or it does not fit an int. `p` is left after the digits.
bool ReadNumber(const char*& p, int& value) {
  // from_chars reads a '-' but no '+'.
  if (*p == '+' && p[1] >= '0' && p[1] <= '9') ++p;
  const auto [end, ec] = std::from_chars(p, p + std::strlen(p), value);
  if (ec != std::errc()) return false;
  p = end;
  return true;
}

}  // namespace

extern "C" int ExtractItemCode(const char* text) {
  if (!text) return 0;
  const char* p = text;
  while (IsBlank(*p)) ++p;
  const bool bracketed = *p == '[';
  if (bracketed) {
    ++p;
    while (IsBlank(*p)) ++p;
  }
  int code = 0;
  if (!ReadNumber(p, code)) return 0;
  if (bracketed) {
    while (IsBlank(*p)) ++p;
    if (*p != ']') return 0;
  }
  return code;
}
