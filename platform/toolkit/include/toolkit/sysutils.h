#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "toolkit/export.h"

// Exceptions, conversions and date-times of the toolkit. Texts are GBK bytes.

// Base of the toolkit's exceptions; what() is the GBK message.
class TOOLKIT_API Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message);
  ~Exception() override;
};

// A text that does not convert (StrToInt64, StrToInt).
class TOOLKIT_API EConvertError : public Exception {
 public:
  using Exception::Exception;
  ~EConvertError() override;
};

// Decimal text with an optional sign, nothing else (leading and trailing
// blanks are not allowed either). Throws EConvertError, naming the text, when
// the text is not a number or does not fit.
TOOLKIT_API int64_t StrToInt64(const std::string& text);
TOOLKIT_API int StrToInt(const std::string& text);
TOOLKIT_API std::string IntToStr(int64_t value);
// Removes leading and trailing characters 0..32 (blanks and controls).
TOOLKIT_API std::string Trim(const std::string& text);

// A date and time of day as days since 1899-12-30 (fraction: time of day).
class TOOLKIT_API TDateTime {
 public:
  TDateTime() = default;
  explicit TDateTime(double value) : dValue(value) {}
  double Value() const { return dValue; }

  // Throws EConvertError for an impossible date or time.
  static TDateTime EncodeDate(int year, int month, int day);
  static TDateTime EncodeTime(int hour, int minute, int second, int msec = 0);
  void DecodeDate(int& year, int& month, int& day) const;
  void DecodeTime(int& hour, int& minute, int& second, int& msec) const;
  TDateTime DatePart() const;  // midnight of the same day
  TDateTime TimePart() const;  // time of day on 1899-12-30

  friend TDateTime operator+(TDateTime a, TDateTime b) { return TDateTime(a.dValue + b.dValue); }
  friend auto operator<=>(const TDateTime&, const TDateTime&) = default;

 private:
  double dValue = 0;
};

TOOLKIT_API TDateTime Now();
TOOLKIT_API TDateTime Today();

// Formats with the toolkit's patterns: yyyy, yy, m, mm (minutes right after
// h/hh, months otherwise), d, dd, h, hh, n, nn, s, ss, zzz; "..." and '...'
// are copied; every other character is copied as it is. Letters are not case
// sensitive ("HHmmss" is hours, minutes, seconds).
TOOLKIT_API std::string FormatDateTime(const std::string& format, TDateTime value);
