#include "forms/lookup_text.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string_view>

#include "tmclient/text_compare.h"

namespace lookup_text {

namespace {

// Shared by every lookup object of the module.
char gDisplay[kBufferSize];
char gName[kBufferSize];
char gCodeText[kBufferSize];
char gNameResult[kBufferSize];

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// `code` in decimal, as "%d" writes it, at the end of `digits`.
std::string_view Decimal(int code, char (&digits)[12]) {
  char* first = std::end(digits);
  const bool negative = code < 0;
  unsigned magnitude = negative ? 0u - static_cast<unsigned>(code) : static_cast<unsigned>(code);
  do {
    *--first = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative) *--first = '-';
  return {first, static_cast<size_t>(std::end(digits) - first)};
}

}  // namespace

// Both formatters write what snprintf with "%d" and "[%d] %s" would, by hand:
// a result list asks once per row.
void FormatCode(char* buffer, int code) {
  std::memset(buffer, 0, kBufferSize);
  char digits[12];
  const std::string_view text = Decimal(code, digits);
  std::memcpy(buffer, text.data(), text.size());
}

const char* FormatDisplay(int code, const std::string& name) {
  std::memset(gDisplay, 0, sizeof gDisplay);
  char digits[12];
  const std::string_view parts[] = {"[", Decimal(code, digits), "] ",
                                    name.c_str()};  // the name up to a NUL, as %s
  size_t used = 0;
  for (const std::string_view part : parts) {
    const size_t n = std::min(part.size(), kBufferSize - 1 - used);
    std::memcpy(gDisplay + used, part.data(), n);
    used += n;
  }
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
  return tmclient::CompareIgnoringCase(a ? a : "", b ? b : "");
}

int Atol(const char* text) {
  if (!text) return 0;
  while (IsSpace(*text)) ++text;
  const char* const last = text + std::strlen(text);
  // from_chars reads a '-' but no '+'.
  if (*text == '+' && text[1] >= '0' && text[1] <= '9') ++text;
  int value = 0;  // stays 0 when there are no digits
  if (std::from_chars(text, last, value).ec == std::errc::result_out_of_range) {
    return *text == '-' ? INT_MIN : INT_MAX;
  }
  return value;
}

}  // namespace lookup_text
