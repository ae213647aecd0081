#include "backoffice/stamp.h"

#include <chrono>
#include <ctime>

#include "tmclient/qrs_datetime.h"

namespace backoffice {

int64_t PackStamp(const StampFields& f) {
  return f.year * 10000000000LL + f.month * 100000000LL + f.day * 1000000LL + f.hour * 10000LL +
         f.minute * 100LL + f.second;
}

StampFields UnpackStamp(int64_t stamp) {
  StampFields f;
  f.year = static_cast<int>(stamp / 10000000000LL);
  f.month = static_cast<unsigned>(stamp / 100000000 % 100);
  f.day = static_cast<unsigned>(stamp / 1000000 % 100);
  f.hour = static_cast<int>(stamp / 10000 % 100);
  f.minute = static_cast<int>(stamp / 100 % 100);
  f.second = static_cast<int>(stamp % 100);
  return f;
}

int64_t StampToSeconds(int64_t stamp) {
  using namespace std::chrono;
  const StampFields f = UnpackStamp(stamp);
  const sys_days date = year_month_day{year{f.year}, month{f.month}, day{f.day}};
  return duration_cast<seconds>(date.time_since_epoch()).count() + f.hour * 3600LL +
         f.minute * 60LL + f.second;
}

int64_t SecondsToStamp(int64_t value) {
  using namespace std::chrono;
  const sys_seconds at{seconds{value}};
  const sys_days date = floor<days>(at);
  const year_month_day ymd{date};
  const hh_mm_ss time{at - date};
  return PackStamp({static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                    static_cast<unsigned>(ymd.day()), static_cast<int>(time.hours().count()),
                    static_cast<int>(time.minutes().count()),
                    static_cast<int>(time.seconds().count())});
}

int64_t ToStamp(const QRSDateTime& t) {
  if (t.isNull()) return 0;
  return PackStamp({t.year(), static_cast<unsigned>(t.month()), static_cast<unsigned>(t.day()),
                    t.hour(), t.minute(), t.second()});
}

QRSDateTime FromStamp(int64_t stamp) {
  if (stamp <= 0) return QRSDateTime();
  const StampFields f = UnpackStamp(stamp);
  return QRSDateTime(f.year, static_cast<int>(f.month), static_cast<int>(f.day), f.hour, f.minute,
                     f.second);
}

int64_t NowStamp() {
  // The zone's offset from the C library: this compiler's <chrono> has no
  // time zone database.
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return SecondsToStamp(static_cast<int64_t>(now) + local.tm_gmtoff);
}

}  // namespace backoffice
