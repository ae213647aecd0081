#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "backoffice/stamp.h"
#include "records/mmicropaymentdef.h"

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

// Where a store puts the generated rows (insert statements, COPY): the rows
// of mp_user and mp_so_log as the records their column maps describe
// (reply_rows.h). A user's MP_PWD holds the stored hash here, never a mask.
class DemoLoader {
 public:
  virtual ~DemoLoader() = default;
  virtual void Add(const MMicroPaymentDef::SMpUserInfo& user) = 0;
  virtual void Add(const MMicroPaymentDef::SMpInfo& log) = 0;
};

// Makes the demo data: a year of service-order logs over the six
// micro-payment business codes with GBK remarks, and the users they belong
// to, with certificate types and history rows. All users come first, then
// the log rows in time order. The same options give the same rows.
DemoSummary GenerateDemoRows(const DemoOptions& options, DemoLoader& loader);

// Creates the demo database `db` names (a file or a postgresql:// URI): see
// Store::CreateDemo. Throws DbError.
DemoSummary GenerateDemo(const std::string& db, const DemoOptions& options);

}  // namespace backoffice
