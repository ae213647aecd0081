#include "tmclient/civil_date.h"

#include <chrono>

namespace tmclient {

namespace cal = std::chrono;

int DaysInMonth(int year, int month) {
  const cal::year_month_day_last end{cal::year{year},
                                     cal::month_day_last{cal::month{static_cast<unsigned>(month)}}};
  return static_cast<int>(static_cast<unsigned>(end.day()));
}

int64_t DaysFromCivil(int year, int month, int day) {
  const cal::sys_days date =
      cal::year_month_day{cal::year{year}, cal::month{static_cast<unsigned>(month)},
                          cal::day{static_cast<unsigned>(day)}};
  return date.time_since_epoch().count();
}

CivilDate CivilFromDays(int64_t days) {
  const cal::year_month_day date{cal::sys_days{cal::days{days}}};
  return {static_cast<int>(date.year()), static_cast<int>(static_cast<unsigned>(date.month())),
          static_cast<int>(static_cast<unsigned>(date.day()))};
}

}  // namespace tmclient
