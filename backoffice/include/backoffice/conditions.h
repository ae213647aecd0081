#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The conditions of one log query, as the query window sends them: a zero
// number, a zero business code, an empty phone number or a zero date-time
// means "not a condition". Date-times are integers yyyymmddhhmmss.
namespace backoffice {

// Business codes whose amounts are totalled in every log reply.
inline constexpr int32_t kDepositBusiCode = 1336;
inline constexpr int32_t kWithdrawBusiCode = 1337;

// Longest phone number the service accepts as a condition, in bytes.
inline constexpr std::size_t kMaxPhoneLength = 20;

struct LogConditions {
  int64_t SO_NBR = 0;
  int32_t BUSI_CODE = 0;
  std::string PHONE_ID;
  int64_t BEGIN_SO_DATE = 0;
  int64_t END_SO_DATE = 0;
};

// One bit per condition present; the key of the prepared-statement cache.
enum ConditionBit : unsigned {
  kCondSoNbr = 1u << 0,
  kCondBusiCode = 1u << 1,
  kCondPhone = 1u << 2,
  kCondBegin = 1u << 3,
  kCondEnd = 1u << 4,
};
inline constexpr unsigned kConditionCombinations = 1u << 5;

// Each condition once: its bit, its term in the WHERE clause (its parameter
// ?N is its place in the statement), its name in the audit, and its value
// (int64_t, or std::string_view into `c`). In parameter order.
template <class Visit>
void ForEachCondition(const LogConditions& c, Visit&& visit) {
  visit(kCondSoNbr, "so_nbr = ?1", "SO_NBR", c.SO_NBR);
  visit(kCondBusiCode, "busi_code = ?2", "BUSI_CODE", int64_t{c.BUSI_CODE});
  visit(kCondPhone, "phone_id = ?3", "PHONE_ID", std::string_view(c.PHONE_ID));
  visit(kCondBegin, "so_date >= ?4", "BEGIN", c.BEGIN_SO_DATE);
  visit(kCondEnd, "so_date <= ?5", "END", c.END_SO_DATE);
}

unsigned ConditionMask(const LogConditions& c);

enum class ConditionFault {
  kNone,         // the query may run
  kNoCondition,  // nothing to select on
  kBadPhone,     // a phone number longer than any real one
  kBadRange,     // the time range ends before it begins
};
ConditionFault CheckLogConditions(const LogConditions& c);

// The SELECT for the conditions in `mask`, written for SQLite (ForDialect
// makes the PostgreSQL one). Parameters: ?1 SO_NBR, ?2 BUSI_CODE, ?3
// PHONE_ID, ?4 begin, ?5 end (only those in `mask` appear), ?6 the row
// limit. Columns: those of the log record's column map (reply_rows.h);
// ordered by time, then number.
std::string LogQuerySql(unsigned mask);
// The user rows of ?1 PHONE_ID, oldest first, at most ?2: the columns of the
// user record's column map.
std::string UserQuerySql();

// The parameters of the statement of `c`'s mask, in order, into `params`:
// params.Add(value) (int64_t or std::string_view) for each condition
// present, params.AddNull() for each absent, then params.Add(limit).
template <class Params>
void PutLogParameters(const LogConditions& c, int64_t limit, Params& params) {
  const unsigned mask = ConditionMask(c);
  ForEachCondition(c, [&](unsigned bit, const char*, const char*, auto value) {
    if (mask & bit) {
      params.Add(value);
    } else {
      params.AddNull();
    }
  });
  params.Add(limit);
}

// The same for UserQuerySql.
template <class Params>
void PutUserParameters(std::string_view phoneId, int64_t limit, Params& params) {
  params.Add(phoneId);
  params.Add(limit);
}

// A short readable text of the conditions, for the audit table.
std::string DescribeConditions(const LogConditions& c);

}  // namespace backoffice
