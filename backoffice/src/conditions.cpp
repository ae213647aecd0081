#include "backoffice/conditions.h"

#include "backoffice/reply_rows.h"

namespace backoffice {

unsigned ConditionMask(const LogConditions& c) {
  unsigned mask = 0;
  if (c.SO_NBR != 0) mask |= kCondSoNbr;
  if (c.BUSI_CODE != 0) mask |= kCondBusiCode;
  if (!c.PHONE_ID.empty()) mask |= kCondPhone;
  if (c.BEGIN_SO_DATE != 0) mask |= kCondBegin;
  if (c.END_SO_DATE != 0) mask |= kCondEnd;
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

namespace {

std::string WhereClause(unsigned mask, char mark) {
  std::string sql;
  const char* glue = " WHERE ";
  auto add = [&](unsigned bit, const char* term, char number) {
    if (mask & bit) {
      sql += glue;
      sql += term;
      sql += mark;
      sql += number;
      glue = " AND ";
    }
  };
  add(kCondSoNbr, "so_nbr = ", '1');
  add(kCondBusiCode, "busi_code = ", '2');
  add(kCondPhone, "phone_id = ", '3');
  add(kCondBegin, "so_date >= ", '4');
  add(kCondEnd, "so_date <= ", '5');
  return sql;
}

}  // namespace

std::string LogQuerySql(unsigned mask, char mark) {
  return "SELECT " + SelectList<MMicroPaymentDef::SMpInfo>() + " FROM mp_so_log" +
         WhereClause(mask, mark) + " ORDER BY so_date, so_nbr LIMIT " + mark + '6';
}

std::string UserQuerySql(char mark) {
  return "SELECT " + SelectList<MMicroPaymentDef::SMpUserInfo>() +
         " FROM mp_user WHERE phone_id = " + mark + "1 ORDER BY mp_create_date, serv_id LIMIT " +
         mark + '2';
}

std::string DescribeConditions(const LogConditions& c) {
  std::string text;
  auto add = [&](const char* name, const std::string& value) {
    if (!text.empty()) text += ' ';
    text += name;
    text += '=';
    text += value;
  };
  if (c.SO_NBR != 0) add("SO_NBR", std::to_string(c.SO_NBR));
  if (c.BUSI_CODE != 0) add("BUSI_CODE", std::to_string(c.BUSI_CODE));
  if (!c.PHONE_ID.empty()) add("PHONE_ID", c.PHONE_ID.substr(0, 64));
  if (c.BEGIN_SO_DATE != 0) add("BEGIN", std::to_string(c.BEGIN_SO_DATE));
  if (c.END_SO_DATE != 0) add("END", std::to_string(c.END_SO_DATE));
  return text;
}

}  // namespace backoffice
