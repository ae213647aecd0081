#pragma once

// The calendar, in one place: the proleptic Gregorian calendar as <chrono>
// has it (year_month_day, sys_days), counted in days from 1970-01-01. The
// toolkit's date-times, the broker's date-time and the back office's stamps
// all ask here. <chrono> stays out of this header: units compiled with GBK
// literals cannot include it.

#include <cstdint>

#include "tmclient/export.h"

namespace tmclient {

struct CivilDate {
  int iYear = 0;
  int iMonth = 0;  // 1-12
  int iDay = 0;    // 1-31
};

// The days of `month` (1-12) in `year`: 28 to 31.
TMCLIENT_API int DaysInMonth(int year, int month);

// Days from 1970-01-01 to the date (negative before it). No checks: a day
// past the month's end counts on into the next month, as <chrono> does.
TMCLIENT_API int64_t DaysFromCivil(int year, int month, int day);
// The date `days` days from 1970-01-01 (years -32767 to 32767).
TMCLIENT_API CivilDate CivilFromDays(int64_t days);

}  // namespace tmclient
