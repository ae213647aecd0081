#pragma once

#include <cstdint>
#include <string>

namespace backoffice {

struct DemoOptions {
  int64_t rows = 100000;     // service-order log rows
  uint64_t seed = 20260101;  // same seed, same database
  int64_t endStamp = 0;      // last log time, yyyymmddhhmmss; 0: now
};

struct DemoSummary {
  int64_t logRows = 0;
  int64_t users = 0;
  int64_t firstStamp = 0;  // time of the oldest log row
  int64_t lastStamp = 0;   // time of the newest log row
};

// Creates a demo database at `path`: a year of service-order logs over the
// six micro-payment business codes with GBK remarks, and the users they
// belong to, with certificate types and history rows. Refuses (throws
// DbError) when `path` already exists, so real data is never overwritten.
// One transaction, indexes built after the load.
DemoSummary GenerateDemo(const std::string& path, const DemoOptions& options);

// Calendar helpers on yyyymmddhhmmss stamps (proleptic Gregorian, no zone).
int64_t StampToSeconds(int64_t stamp);
int64_t SecondsToStamp(int64_t seconds);

}  // namespace backoffice
