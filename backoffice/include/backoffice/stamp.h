#pragma once

// Date-times as the back office stores them: the integer yyyymmddhhmmss
// (20261130120000 is 30 November 2026, 12:00:00), in local time, proleptic
// Gregorian, no zone. The one place they are packed and unpacked.

#include <cstdint>

#include "backoffice/clock.h"

class QRSDateTime;

namespace backoffice {

struct StampFields {
  int year = 0;
  unsigned month = 0, day = 0;  // 1-12, 1-31
  int hour = 0, minute = 0, second = 0;
};

// No checks: fields out of range give a stamp no calendar has.
int64_t PackStamp(const StampFields& f);
StampFields UnpackStamp(int64_t stamp);

// Seconds since 1970-01-01 00:00:00 of the same calendar, and back.
int64_t StampToSeconds(int64_t stamp);
int64_t SecondsToStamp(int64_t seconds);

// The local time of a Unix time.
int64_t LocalStamp(int64_t unixSeconds);
// The current local time, by `clock`.
int64_t NowStamp(const Clock& clock = SystemClock());

// The stamp of a date-time of the records; 0 for the null one. And back.
int64_t ToStamp(const QRSDateTime& t);
QRSDateTime FromStamp(int64_t stamp);

}  // namespace backoffice
