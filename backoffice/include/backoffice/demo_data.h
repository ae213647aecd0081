#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "backoffice/stamp.h"

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

// One row of each demo table as the generator makes it. The views are valid
// only during the call that receives the row.
struct DemoUser {
  int64_t SERV_ID = 0;
  std::string PHONE_ID;
  std::string MP_PWD;
  int32_t REG_TYPE = 0;
  std::string REG_NBR;
  int32_t FEE_LIMIT = 0;
  int32_t MP_STS = 0;
  int64_t MP_CREATE_DATE = 0;  // yyyymmddhhmmss
  std::string MPP_TRANS_ID;
  int64_t SO_NBR = 0;
  std::string_view REMARK;
};

struct DemoLog {
  int64_t SO_NBR = 0;
  int32_t BUSI_CODE = 0;
  std::string_view PHONE_ID;
  int32_t AMOUNT = 0;
  std::string_view MPP_TRANSACTION_ID;
  int64_t SO_DATE = 0;  // yyyymmddhhmmss
  std::string_view REMARK;
};

// Where a store puts the generated rows (insert statements, COPY).
class DemoLoader {
 public:
  virtual ~DemoLoader() = default;
  virtual void User(const DemoUser& row) = 0;
  virtual void Log(const DemoLog& row) = 0;
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
