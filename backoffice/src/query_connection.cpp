#include "backoffice/query_connection.h"

namespace backoffice {
namespace {

// Resets the statement on every way out, so that a read transaction never
// outlives its query (a reader left open would pin the WAL).
class ResetGuard {
 public:
  explicit ResetGuard(Statement& s) : cStmt(s) {}
  ~ResetGuard() { cStmt.Reset(); }

 private:
  Statement& cStmt;
};

}  // namespace

QueryConnection::QueryConnection(const std::string& path) : cDb(path, Database::Mode::kReadOnly) {}

namespace {

void BindConditions(Statement& s, unsigned mask, const LogConditions& c, int64_t limit) {
  if (mask & kCondSoNbr) s.Bind(1, c.SO_NBR);
  if (mask & kCondBusiCode) s.Bind(2, static_cast<int64_t>(c.BUSI_CODE));
  if (mask & kCondPhone) s.Bind(3, c.PHONE_ID);
  if (mask & kCondBegin) s.Bind(4, c.BEGIN_SO_DATE);
  if (mask & kCondEnd) s.Bind(5, c.END_SO_DATE);
  s.Bind(6, limit);
}

}  // namespace

int64_t QueryConnection::QueryLog(const LogConditions& c, int64_t limit, LogRowSink& sink) {
  unsigned mask = ConditionMask(c);
  Statement& s = aLog[mask];
  if (!s.valid()) s = cDb.Prepare(LogQuerySql(mask));
  ResetGuard guard(s);
  BindConditions(s, mask, c, limit);
  int64_t n = 0;
  while (s.Step()) {
    LogRow row{s.Int(0),  static_cast<int32_t>(s.Int(1)),
               s.Text(2), static_cast<int32_t>(s.Int(3)),
               s.Text(4), s.Int(5),
               s.Text(6)};
    ++n;
    if (!sink.Row(row)) break;
  }
  return n;
}

int64_t QueryConnection::QueryUsers(std::string_view phoneId, int64_t limit, UserRowSink& sink) {
  if (!cUsers.valid()) {
    cUsers = cDb.Prepare(
        "SELECT serv_id, phone_id, mp_pwd <> '', reg_type, reg_nbr, fee_limit, mp_sts, "
        "mp_create_date, mpp_trans_id, so_nbr, remark FROM mp_user WHERE phone_id = ?1 "
        "ORDER BY mp_create_date, serv_id LIMIT ?2");
  }
  ResetGuard guard(cUsers);
  cUsers.Bind(1, phoneId);
  cUsers.Bind(2, limit);
  int64_t n = 0;
  while (cUsers.Step()) {
    UserRow row{cUsers.Int(0),
                cUsers.Text(1),
                cUsers.Int(2) != 0,
                static_cast<int16_t>(cUsers.Int(3)),
                cUsers.Text(4),
                static_cast<int32_t>(cUsers.Int(5)),
                static_cast<int16_t>(cUsers.Int(6)),
                cUsers.Int(7),
                cUsers.Text(8),
                cUsers.Int(9),
                cUsers.Text(10)};
    sink.Row(row);
    ++n;
  }
  return n;
}

}  // namespace backoffice
