#include "tmclient/civil_date.h"

#include <gtest/gtest.h>

using tmclient::CivilDate;

TEST(CivilDate, KnownDaysAndMonthLengths) {
  struct Case {
    int year, month, day;
    int64_t days;   // from 1970-01-01
    int monthDays;  // of that month
  };
  const Case cases[] = {
      {1970, 1, 1, 0, 31},       {1969, 12, 31, -1, 31},      {1899, 12, 30, -25569, 31},
      {1, 1, 1, -719162, 31},    {9999, 12, 31, 2932896, 31}, {2000, 2, 29, 11016, 29},
      {1900, 2, 28, -25509, 28}, {2024, 2, 29, 19782, 29},    {2023, 2, 28, 19416, 28},
      {2026, 4, 30, 20573, 30},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(tmclient::DaysFromCivil(c.year, c.month, c.day), c.days) << c.year << "-" << c.month;
    const CivilDate d = tmclient::CivilFromDays(c.days);
    EXPECT_EQ(d.iYear * 10000 + d.iMonth * 100 + d.iDay, c.year * 10000 + c.month * 100 + c.day);
    EXPECT_EQ(tmclient::DaysInMonth(c.year, c.month), c.monthDays) << c.year << "-" << c.month;
  }
}

TEST(CivilDate, EveryDayOfTheYearsOneToNineThousandRoundTrips) {
  int64_t expected = tmclient::DaysFromCivil(1, 1, 1);
  for (int year = 1; year <= 9999; ++year) {
    for (int month = 1; month <= 12; ++month) {
      for (int day = 1; day <= tmclient::DaysInMonth(year, month); ++day, ++expected) {
        ASSERT_EQ(tmclient::DaysFromCivil(year, month, day), expected);
        const CivilDate d = tmclient::CivilFromDays(expected);
        ASSERT_TRUE(d.iYear == year && d.iMonth == month && d.iDay == day) << expected;
      }
    }
  }
  EXPECT_EQ(expected, tmclient::DaysFromCivil(10000, 1, 1));
}
