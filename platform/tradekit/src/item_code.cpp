#include <climits>

#include "tradekit/tradekit.h"

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// Reads an optionally signed decimal number at `p`; false when there is none
// or it does not fit an int. `p` is left after the digits.
bool ReadNumber(const char*& p, int& value) {
  bool negative = false;
  if (*p == '-' || *p == '+') negative = *p++ == '-';
  if (*p < '0' || *p > '9') return false;
  long long v = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    v = v * 10 + (*p - '0');
    if (v > static_cast<long long>(INT_MAX) + 1) return false;
  }
  if (negative) v = -v;
  if (v < INT_MIN || v > INT_MAX) return false;
  value = static_cast<int>(v);
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
