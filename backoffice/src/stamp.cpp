#include "backoffice/stamp.h"

#include <ctime>

#include "tmclient/civil_date.h"
#include "tmclient/qrs_datetime.h"

namespace backoffice {

namespace {
constexpr int64_t kSecondsPerDay = 86400;
}  // namespace

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
  const StampFields f = UnpackStamp(stamp);
  return tmclient::DaysFromCivil(f.year, static_cast<int>(f.month), static_cast<int>(f.day)) *
             kSecondsPerDay +
         f.hour * 3600LL + f.minute * 60LL + f.second;
}

int64_t SecondsToStamp(int64_t value) {
  // Whole days rounded down: second -1 is 23:59:59 of the day before.
  const int64_t days = (value >= 0 ? value : value - (kSecondsPerDay - 1)) / kSecondsPerDay;
  const int64_t second = value - days * kSecondsPerDay;
  const tmclient::CivilDate date = tmclient::CivilFromDays(days);
  return PackStamp({date.iYear, static_cast<unsigned>(date.iMonth),
                    static_cast<unsigned>(date.iDay), static_cast<int>(second / 3600),
                    static_cast<int>(second / 60 % 60), static_cast<int>(second % 60)});
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

int64_t LocalStamp(int64_t unixSeconds) {
  // The zone's offset from the C library: this compiler's <chrono> has no
  // time zone database.
  const std::time_t t = static_cast<std::time_t>(unixSeconds);
  std::tm local{};
  localtime_r(&t, &local);
  return SecondsToStamp(unixSeconds + local.tm_gmtoff);
}

int64_t NowStamp(const Clock& clock) {
  return LocalStamp(clock.UnixSeconds());
}

}  // namespace backoffice
