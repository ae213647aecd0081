#include "tmclient/qrs_datetime.h"

#include <ctime>

namespace {

// The last `width` decimal digits of `value` at `out`; returns the end.
char* PutNumber(char* out, int value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return out + width;
}

}  // namespace

QRSDateTime::QRSDateTime(const std::string& text) {
  if (text.size() != 14) return;
  for (char c : text) {
    if (c < '0' || c > '9') return;
  }
  // The digits were checked above.
  const auto num = [&text](std::size_t pos, std::size_t len) {
    int v = 0;
    for (std::size_t i = pos; i < pos + len; ++i) v = v * 10 + (text[i] - '0');
    return v;
  };
  *this = QRSDateTime(num(0, 4), num(4, 2), num(6, 2), num(8, 2), num(10, 2), num(12, 2));
}

QRSDateTime QRSDateTime::currentDateTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  // A leap second (tm_sec 60) is shown as the last second of its minute.
  return QRSDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                     local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec);
}

std::string QRSDateTime::toString(const std::string& pattern) const {
  std::string out;
  toString(pattern, out);
  return out;
}

void QRSDateTime::toString(const std::string& pattern, std::string& out) const {
  if (&out == &pattern) {
    out = toString(pattern);
    return;
  }
  // Written in place: a pair of pattern characters becomes at most four.
  out.resize(2 * pattern.size());
  char* w = out.data();
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c != '%' || i + 1 == pattern.size()) {
      *w++ = c;
      continue;
    }
    switch (pattern[i + 1]) {
      case 'Y':
        w = PutNumber(w, iYear, 4);
        break;
      case 'M':
        w = PutNumber(w, iMonth, 2);
        break;
      case 'D':
        w = PutNumber(w, iDay, 2);
        break;
      case 'H':
        w = PutNumber(w, iHour, 2);
        break;
      case 'N':
        w = PutNumber(w, iMinute, 2);
        break;
      case 'S':
        w = PutNumber(w, iSecond, 2);
        break;
      case '%':
        *w++ = '%';
        break;
      default:
        *w++ = '%';
        *w++ = pattern[i + 1];
        break;
    }
    ++i;
  }
  out.resize(static_cast<std::size_t>(w - out.data()));
}
