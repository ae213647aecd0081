#include "forms/lookup_text.h"

#include <climits>
#include <cstdio>
#include <cstring>

namespace lookup_text {

namespace {

// Shared by every lookup object of the module.
char gDisplay[kBufferSize];
char gName[kBufferSize];
char gCodeText[kBufferSize];
char gNameResult[kBufferSize];

unsigned char Fold(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

const char* FormatDisplay(int code, const std::string& name) {
  std::memset(gDisplay, 0, sizeof gDisplay);
  std::snprintf(gDisplay, sizeof gDisplay, "[%d] %s", code, name.c_str());
  return gDisplay;
}

const char* FormatName(const std::string& name) {
  std::memset(gName, 0, sizeof gName);
  std::snprintf(gName, sizeof gName, "%s", name.c_str());
  return gName;
}

char* CodeTextBuffer() {
  return gCodeText;
}
char* NameResultBuffer() {
  return gNameResult;
}

void CopyToBuffer(char* buffer, const char* text) {
  std::memset(buffer, 0, kBufferSize);
  if (text) std::memcpy(buffer, text, strnlen(text, kBufferSize - 1));
}

int StrICmp(const char* a, const char* b) {
  const auto* p = reinterpret_cast<const unsigned char*>(a ? a : "");
  const auto* q = reinterpret_cast<const unsigned char*>(b ? b : "");
  for (;; ++p, ++q) {
    const int d = Fold(*p) - Fold(*q);
    if (d != 0 || *p == 0) return d;
  }
}

int Atol(const char* text) {
  if (!text) return 0;
  while (IsSpace(*text)) ++text;
  bool negative = false;
  if (*text == '-' || *text == '+') negative = *text++ == '-';
  long long value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 + (*text - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) break;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

}  // namespace lookup_text
