#include "backoffice/conditions.h"

#include <type_traits>

#include "backoffice/reply_rows.h"

namespace backoffice {

namespace {

bool Given(int64_t value) {
  return value != 0;
}
bool Given(std::string_view value) {
  return !value.empty();
}

}  // namespace

unsigned ConditionMask(const LogConditions& c) {
  unsigned mask = 0;
  ForEachCondition(c, [&](unsigned bit, const char*, const char*, auto value) {
    if (Given(value)) mask |= bit;
  });
  return mask;
}

ConditionFault CheckLogConditions(const LogConditions& c) {
  unsigned mask = ConditionMask(c);
  if (mask == 0) return ConditionFault::kNoCondition;
  if (c.PHONE_ID.size() > kMaxPhoneLength) return ConditionFault::kBadPhone;
  if ((mask & kCondBegin) && (mask & kCondEnd) && c.BEGIN_SO_DATE > c.END_SO_DATE) {
    return ConditionFault::kBadRange;
  }
  return ConditionFault::kNone;
}

std::string LogQuerySql(unsigned mask) {
  std::string sql = "SELECT " + SelectList<MMicroPaymentDef::SMpInfo>() + " FROM mp_so_log";
  const char* glue = " WHERE ";
  ForEachCondition(LogConditions(), [&](unsigned bit, const char* term, const char*, auto) {
    if (!(mask & bit)) return;
    sql += glue;
    sql += term;
    glue = " AND ";
  });
  return sql + " ORDER BY so_date, so_nbr LIMIT ?6";
}

std::string UserQuerySql() {
  return "SELECT " + SelectList<MMicroPaymentDef::SMpUserInfo>() +
         " FROM mp_user WHERE phone_id = ?1 ORDER BY mp_create_date, serv_id LIMIT ?2";
}

std::string DescribeConditions(const LogConditions& c) {
  std::string text;
  ForEachCondition(c, [&](unsigned, const char*, const char* name, auto value) {
    if (!Given(value)) return;
    if (!text.empty()) text += ' ';
    text += name;
    text += '=';
    if constexpr (std::is_same_v<decltype(value), std::string_view>) {
      text += value.substr(0, 64);
    } else {
      text += std::to_string(value);
    }
  });
  return text;
}

}  // namespace backoffice
