#pragma once

#include <compare>
#include <cstdint>
#include <string>

#include "tmclient/civil_date.h"
#include "tmclient/export.h"

// A calendar date and time to the second, as carried by the broker.
//
// The default value is "no date-time" (every part zero): it round-trips on
// the wire, prints as zeros and compares below every real date-time. Every
// other value is a valid date and time in the years 1 to 9999; the
// constructors give the default value for anything else, never a partly
// filled one.
class TMCLIENT_API QRSDateTime {
 public:
  QRSDateTime() = default;
  // From "yyyymmddhhmmss": exactly 14 digits forming a valid date and time,
  // else the default value.
  explicit QRSDateTime(const std::string& text);
  // From its parts (month 1-12, day within the month, hour 0-23, minute and
  // second 0-59); the default value when any part is out of range.
  QRSDateTime(int year, int month, int day, int hour, int minute, int second) {
    if (!isValid(year, month, day, hour, minute, second)) return;
    iYear = static_cast<uint16_t>(year);
    iMonth = static_cast<uint8_t>(month);
    iDay = static_cast<uint8_t>(day);
    iHour = static_cast<uint8_t>(hour);
    iMinute = static_cast<uint8_t>(minute);
    iSecond = static_cast<uint8_t>(second);
  }
  QRSDateTime(const QRSDateTime&) = default;
  QRSDateTime& operator=(const QRSDateTime&) = default;

  // The local time now.
  static QRSDateTime currentDateTime();
  // True when the parts form a value the constructors accept (all zero, or a
  // valid date and time).
  static bool isValid(int year, int month, int day, int hour, int minute, int second) {
    if ((year | month | day | hour | minute | second) == 0) return true;
    // Every month has 28 days: only a later day costs a call to the calendar.
    return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
           (day <= 28 || day <= daysInMonth(year, month)) && hour >= 0 && hour <= 23 &&
           minute >= 0 && minute <= 59 && second >= 0 && second <= 59;
  }
  // Days of a month (1-12) of a year of the proleptic Gregorian calendar.
  static int daysInMonth(int year, int month) { return tmclient::DaysInMonth(year, month); }

  // Replaces %Y (4 digits), %M %D %H %N (minutes) %S (2 digits each) and %%
  // in `pattern`; every other character, including an unknown %x pair or a
  // trailing %, is copied as it is.
  std::string toString(const std::string& pattern) const;
  // The same text into `out`, which keeps its capacity: for a caller that
  // formats many date-times in a row.
  void toString(const std::string& pattern, std::string& out) const;

  bool isNull() const {
    return iYear == 0 && iMonth == 0 && iDay == 0 && iHour == 0 && iMinute == 0 && iSecond == 0;
  }
  int year() const { return iYear; }
  int month() const { return iMonth; }
  int day() const { return iDay; }
  int hour() const { return iHour; }
  int minute() const { return iMinute; }
  int second() const { return iSecond; }

  // Chronological order; the default value is the smallest.
  friend auto operator<=>(const QRSDateTime&, const QRSDateTime&) = default;
  friend bool operator==(const QRSDateTime&, const QRSDateTime&) = default;

 private:
  // Declaration order is comparison order.
  uint16_t iYear = 0;
  uint8_t iMonth = 0;
  uint8_t iDay = 0;
  uint8_t iHour = 0;
  uint8_t iMinute = 0;
  uint8_t iSecond = 0;
};
