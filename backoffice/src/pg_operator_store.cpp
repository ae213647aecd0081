// The operator store in a PostgreSQL database: the same tables and answers
// as the SQLite one (sqlite_operator_store.cpp), for back-office instances
// that share one database and so one set of operators and sessions.

#include <mutex>
#include <type_traits>

#include "backoffice/operator_store.h"
#include "operator_columns.h"
#include "pg_db.h"
#include "stores.h"

namespace backoffice {
namespace {

namespace oc = operator_columns;

// One row of a result, as operator_columns::Get reads it.
struct PgRow {
  const PgResult& r;
  int row;
  int64_t Int(int c) const { return r.Int(row, c); }
  std::string_view Text(int c) const { return r.Text(row, c); }
};

class PgOperatorStore final : public OperatorStore {
 public:
  explicit PgOperatorStore(const std::string& uri) : cConn(uri, "") {}

  bool FindOperator(std::string_view login, OperatorAccount& out) override {
    std::lock_guard lock(mLock);
    return One(Select() + "WHERE login_name = $1::text", Params(login), out);
  }

  bool FindOperatorById(int32_t opId, OperatorAccount& out) override {
    std::lock_guard lock(mLock);
    return One(Select() + "WHERE op_id = $1::bigint", Params(int64_t{opId}), out);
  }

  std::vector<OperatorAccount> ListOperators() override {
    std::lock_guard lock(mLock);
    cParams.Clear();
    const PgResult r = cConn.Query(Select() + "ORDER BY op_id", cParams);
    std::vector<OperatorAccount> all(static_cast<std::size_t>(r.rows()));
    for (int i = 0; i < r.rows(); ++i) Read(r, i, all[static_cast<std::size_t>(i)]);
    for (OperatorAccount& a : all) ReadRights(a);
    return all;
  }

  int32_t AddOperator(const OperatorAccount& account) override {
    std::lock_guard lock(mLock);
    MSysmgntDef::SOperator record = account.record;
    cConn.Exec("BEGIN");
    try {
      if (record.OP_ID == 0) {
        cParams.Clear();
        const PgResult next =
            cConn.Query("SELECT (COALESCE(MAX(op_id), 0) + 1)::bigint FROM mp_operator", cParams);
        record.OP_ID = static_cast<int>(next.Int(0, 0));
      }
      cParams.Clear();
      std::string values;
      int n = 0;
      auto add = [&](auto value) {
        cParams.Add(value);
        ++n;
        values += (n > 1 ? ", $" : "$") + std::to_string(n) +
                  (std::is_same_v<decltype(value), int64_t> ? "::bigint" : "::text");
      };
      oc::Put(record, add);
      add(std::string_view(account.passwordHash));
      add(int64_t{account.failedSignIns});
      add(account.lockedUntil);
      cConn.Query("INSERT INTO mp_operator (" + oc::Columns() +
                      ", pwd_hash, failed_signins, locked_until) VALUES (" + values + ")",
                  cParams);
      for (const std::string& code : account.rights) {
        Change(
            "INSERT INTO mp_operator_right (op_id, service_code) VALUES ($1::bigint, $2::text) "
            "ON CONFLICT DO NOTHING",
            Params(int64_t{record.OP_ID}, code));
      }
      cConn.Exec("COMMIT");
    } catch (const DbError&) {
      try {
        cConn.Exec("ROLLBACK");
      } catch (const DbError&) {
        // the connection is gone, and the transaction with it
      }
      throw;
    }
    return record.OP_ID;
  }

  bool SetPasswordHash(std::string_view login, std::string_view hash) override {
    std::lock_guard lock(mLock);
    if (Change("UPDATE mp_operator SET pwd_hash = $2::text WHERE login_name = $1::text",
               Params(login, hash)) == 0)
      return false;
    Change(
        "UPDATE mp_session SET ended = 1 WHERE op_id = "
        "(SELECT op_id FROM mp_operator WHERE login_name = $1::text)",
        Params(login));
    return true;
  }

  bool SetLocked(std::string_view login, bool locked) override {
    std::lock_guard lock(mLock);
    return Change(locked ? "UPDATE mp_operator SET lock_status = 1 WHERE login_name = $1::text"
                         : "UPDATE mp_operator SET lock_status = 0, failed_signins = 0, "
                           "locked_until = 0 WHERE login_name = $1::text",
                  Params(login)) > 0;
  }

  void RecordFailedSignIns(int32_t opId, int failures, int64_t lockedUntil) override {
    std::lock_guard lock(mLock);
    Change(
        "UPDATE mp_operator SET failed_signins = $2::bigint, locked_until = $3::bigint "
        "WHERE op_id = $1::bigint",
        Params(int64_t{opId}, int64_t{failures}, lockedUntil));
  }

  void RecordSignIn(int32_t opId) override {
    std::lock_guard lock(mLock);
    Change(
        "UPDATE mp_operator SET failed_signins = 0, locked_until = 0 WHERE op_id = $1::bigint "
        "AND (failed_signins <> 0 OR locked_until <> 0)",
        Params(int64_t{opId}));
  }

  void CreateSession(const SessionRecord& s) override {
    std::lock_guard lock(mLock);
    Change(
        "INSERT INTO mp_session (token_hash, op_id, created_at, last_used_at, ended) VALUES "
        "($1::text, $2::bigint, $3::bigint, $4::bigint, $5::bigint)",
        Params(std::string_view(s.tokenHash), int64_t{s.opId}, s.createdAt, s.lastUsedAt,
               int64_t{s.ended ? 1 : 0}));
  }

  bool FindSession(std::string_view tokenHash, SessionRecord& out) override {
    std::lock_guard lock(mLock);
    const PgResult r = cConn.Query(
        "SELECT op_id::bigint, created_at, last_used_at, ended::bigint FROM mp_session "
        "WHERE token_hash = $1::text",
        Params(tokenHash));
    if (r.rows() == 0) return false;
    out.tokenHash.assign(tokenHash);
    out.opId = static_cast<int32_t>(r.Int(0, 0));
    out.createdAt = r.Int(0, 1);
    out.lastUsedAt = r.Int(0, 2);
    out.ended = r.Int(0, 3) != 0;
    return true;
  }

  void TouchSession(std::string_view tokenHash, int64_t at) override {
    std::lock_guard lock(mLock);
    Change(
        "UPDATE mp_session SET last_used_at = $2::bigint WHERE token_hash = $1::text AND "
        "last_used_at < $2::bigint",
        Params(tokenHash, at));
  }

  bool EndSession(std::string_view tokenHash) override {
    std::lock_guard lock(mLock);
    return Change("UPDATE mp_session SET ended = 1 WHERE token_hash = $1::text",
                  Params(tokenHash)) > 0;
  }

 private:
  static std::string Select() {
    return "SELECT " + oc::Columns() + ", pwd_hash, failed_signins, locked_until FROM mp_operator ";
  }

  template <class... Values>
  const PgParams& Params(const Values&... values) {
    cParams.Clear();
    (cParams.Add(values), ...);
    return cParams;
  }

  // Rows a statement changed.
  int64_t Change(const std::string& sql, const PgParams& params) {
    return cConn.Query(sql, params).Affected();
  }

  bool One(const std::string& sql, const PgParams& params, OperatorAccount& out) {
    const PgResult r = cConn.Query(sql, params);
    if (r.rows() == 0) return false;
    Read(r, 0, out);
    ReadRights(out);
    return true;
  }

  static void Read(const PgResult& r, int row, OperatorAccount& out) {
    out = OperatorAccount();
    int c = oc::Get(PgRow{r, row}, 0, out.record);
    out.passwordHash.assign(r.Text(row, c++));
    out.failedSignIns = static_cast<int>(r.Int(row, c++));
    out.lockedUntil = r.Int(row, c);
  }

  void ReadRights(OperatorAccount& a) {
    const PgResult r = cConn.Query(
        "SELECT service_code FROM mp_operator_right WHERE op_id = $1::bigint ORDER BY "
        "service_code COLLATE \"C\"",
        Params(int64_t{a.record.OP_ID}));
    for (int i = 0; i < r.rows(); ++i) a.rights.emplace_back(r.Text(i, 0));
  }

  std::mutex mLock;
  PgConnection cConn;
  PgParams cParams;
};

}  // namespace

std::unique_ptr<OperatorStore> MakePostgresOperatorStore(const std::string& uri) {
  return std::make_unique<PgOperatorStore>(uri);
}

}  // namespace backoffice
