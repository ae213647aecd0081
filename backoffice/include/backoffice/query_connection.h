#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "backoffice/conditions.h"
#include "backoffice/sqlite_db.h"

namespace backoffice {

// One log row as SQLite holds it. The views are valid only during the
// callback that receives the row.
struct LogRow {
  int64_t SO_NBR;
  int32_t BUSI_CODE;
  std::string_view PHONE_ID;
  int32_t AMOUNT;
  std::string_view MPP_TRANSACTION_ID;
  int64_t SO_DATE;  // yyyymmddhhmmss
  std::string_view REMARK;
};

// One user row. The stored transaction password is not part of it: only
// whether one is stored.
struct UserRow {
  int64_t SERV_ID;
  std::string_view PHONE_ID;
  bool HAS_PWD;
  int16_t REG_TYPE;
  std::string_view REG_NBR;
  int32_t FEE_LIMIT;
  int16_t MP_STS;
  int64_t MP_CREATE_DATE;  // yyyymmddhhmmss
  std::string_view MPP_TRANS_ID;
  int64_t SO_NBR;
  std::string_view REMARK;
};

class LogRowSink {
 public:
  virtual ~LogRowSink() = default;
  // False when no more rows are wanted: the query stops there.
  virtual bool Row(const LogRow& row) = 0;
};

class UserRowSink {
 public:
  virtual ~UserRowSink() = default;
  virtual void Row(const UserRow& row) = 0;
};

// A read-only connection with its prepared statements, used by one worker
// at a time. Statements are prepared on first use and kept.
class QueryConnection {
 public:
  // Throws DbError when the database cannot be opened.
  explicit QueryConnection(const std::string& path);

  // Hands at most `limit` matching rows to `sink`, in time order, until the
  // sink wants no more; returns how many. The conditions must have passed
  // CheckLogConditions. Throws DbError.
  int64_t QueryLog(const LogConditions& conditions, int64_t limit, LogRowSink& sink);
  // The user rows of one phone number, oldest first; at most `limit`.
  int64_t QueryUsers(std::string_view phoneId, int64_t limit, UserRowSink& sink);

 private:
  Database cDb;
  std::array<Statement, kConditionCombinations> aLog;
  Statement cUsers;
};

}  // namespace backoffice
