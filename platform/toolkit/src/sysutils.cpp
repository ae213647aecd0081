#include "toolkit/sysutils.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <ctime>

#include "tmclient/civil_date.h"

Exception::Exception(const std::string& message) : std::runtime_error(message) {}
Exception::~Exception() = default;
EConvertError::~EConvertError() = default;

int64_t StrToInt64(const std::string& text) {
  const char* first = text.data();
  const char* last = first + text.size();
  // from_chars reads a '-' but no '+' ("+-5" is no number).
  if (last - first > 1 && *first == '+' && first[1] != '-') ++first;
  int64_t value = 0;
  auto [end, ec] = std::from_chars(first, last, value);
  if (ec != std::errc() || end != last) {
    throw EConvertError("'" + text + "' is not a valid integer value");
  }
  return value;
}

int StrToInt(const std::string& text) {
  const int64_t v = StrToInt64(text);
  if (v < INT32_MIN || v > INT32_MAX) {
    throw EConvertError("'" + text + "' is not a valid integer value");
  }
  return static_cast<int>(v);
}

std::string IntToStr(int64_t value) {
  return std::to_string(value);
}

std::string Trim(const std::string& text) {
  size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
  return text.substr(b, e - b);
}

namespace {

constexpr double kMsPerDay = 86400000.0;

// Day 0 of TDateTime, in the calendar's days from 1970-01-01.
const int64_t kEpochOffset = tmclient::DaysFromCivil(1899, 12, 30);

// Milliseconds into the day, rounded, and the day number.
void Split(double value, int64_t& dayNumber, int64_t& ms) {
  int64_t total = std::llround(value * kMsPerDay);
  dayNumber = total >= 0 ? total / 86400000 : -((-total + 86399999) / 86400000);
  ms = total - dayNumber * 86400000;
}

}  // namespace

TDateTime TDateTime::EncodeDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > tmclient::DaysInMonth(year, month)) {
    throw EConvertError("invalid date");
  }
  return TDateTime(static_cast<double>(tmclient::DaysFromCivil(year, month, day) - kEpochOffset));
}

TDateTime TDateTime::EncodeTime(int hour, int minute, int second, int msec) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0 ||
      msec > 999) {
    throw EConvertError("invalid time");
  }
  return TDateTime(((hour * 60.0 + minute) * 60.0 + second) * 1000.0 / kMsPerDay +
                   msec / kMsPerDay);
}

void TDateTime::DecodeDate(int& year, int& month, int& day) const {
  int64_t dayNumber, ms;
  Split(dValue, dayNumber, ms);
  const tmclient::CivilDate date = tmclient::CivilFromDays(dayNumber + kEpochOffset);
  year = date.iYear;
  month = date.iMonth;
  day = date.iDay;
}

void TDateTime::DecodeTime(int& hour, int& minute, int& second, int& msec) const {
  int64_t dayNumber, ms;
  Split(dValue, dayNumber, ms);
  hour = static_cast<int>(ms / 3600000);
  minute = static_cast<int>(ms / 60000 % 60);
  second = static_cast<int>(ms / 1000 % 60);
  msec = static_cast<int>(ms % 1000);
}

TDateTime TDateTime::DatePart() const {
  int64_t dayNumber, ms;
  Split(dValue, dayNumber, ms);
  return TDateTime(static_cast<double>(dayNumber));
}

TDateTime TDateTime::TimePart() const {
  int64_t dayNumber, ms;
  Split(dValue, dayNumber, ms);
  return TDateTime(static_cast<double>(ms) / kMsPerDay);
}

TDateTime Now() {
  std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  return TDateTime::EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
         TDateTime::EncodeTime(local.tm_hour, local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec);
}

TDateTime Today() {
  return Now().DatePart();
}

std::string FormatDateTime(const std::string& format, TDateTime value) {
  int y, mo, d, h, mi, s, ms;
  value.DecodeDate(y, mo, d);
  value.DecodeTime(h, mi, s, ms);
  auto two = [](int v) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02d", v % 100);
    return std::string(buf);
  };
  std::string out;
  bool afterHour = false;  // an m right after h means minutes
  size_t i = 0;
  const size_t n = format.size();
  auto count = [&](char c) {
    size_t k = 0;
    while (i + k < n && std::tolower(static_cast<unsigned char>(format[i + k])) == c) ++k;
    return k;
  };
  while (i < n) {
    const char raw = format[i];
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(raw)));
    if (raw == '"' || raw == '\'') {
      size_t j = format.find(raw, i + 1);
      if (j == std::string::npos) j = n;
      out.append(format, i + 1, j - i - 1);
      i = j + 1;
      continue;
    }
    size_t k;
    switch (c) {
      case 'y':
        k = count('y');
        out += k <= 2 ? two(y) : std::to_string(y);
        i += k;
        afterHour = false;
        break;
      case 'm':
        k = count('m');
        if (afterHour) {
          out += k >= 2 ? two(mi) : std::to_string(mi);
        } else {
          out += k >= 2 ? two(mo) : std::to_string(mo);
        }
        i += k;
        afterHour = false;
        break;
      case 'd':
        k = count('d');
        out += k >= 2 ? two(d) : std::to_string(d);
        i += k;
        afterHour = false;
        break;
      case 'h':
        k = count('h');
        out += k >= 2 ? two(h) : std::to_string(h);
        i += k;
        afterHour = true;
        break;
      case 'n':
        k = count('n');
        out += k >= 2 ? two(mi) : std::to_string(mi);
        i += k;
        afterHour = false;
        break;
      case 's':
        k = count('s');
        out += k >= 2 ? two(s) : std::to_string(s);
        i += k;
        afterHour = false;
        break;
      case 'z': {
        k = count('z');
        char buf[8];
        std::snprintf(buf, sizeof buf, "%03d", ms);
        out += k >= 3 ? std::string(buf) : std::to_string(ms);
        i += k;
        break;
      }
      default:
        out.push_back(raw);
        ++i;
        // separators keep the hour context (hh:mm)
        break;
    }
  }
  return out;
}
