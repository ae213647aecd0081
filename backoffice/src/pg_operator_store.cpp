// The operator store in a PostgreSQL database: the same tables and answers
// as the SQLite one (sqlite_operator_store.cpp), for back-office instances
// that share one database and so one set of operators and sessions. Calls
// run on a few connections at once, each with its statements prepared.

#include <condition_variable>
#include <mutex>
#include <type_traits>

#include "backoffice/authenticator.h"
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

// Every statement is prepared once per connection under its name; its
// parameters carry their types in casts.

// The rights of the operator row in scope, "CODE,CODE", as one column.
constexpr std::string_view kRightsColumn =
    "COALESCE((SELECT string_agg(service_code, ',') FROM mp_operator_right AS r "
    "WHERE r.op_id = mp_operator.op_id), '')";

std::string SelectAccounts() {
  return "SELECT " + oc::Columns() + ", pwd_hash, failed_signins, locked_until, " +
         std::string(kRightsColumn) + " FROM mp_operator ";
}

class PgOperatorStore final : public OperatorStore {
 public:
  explicit PgOperatorStore(const std::string& uri) : strUri(uri) {
    Lease first(*this);  // connects now: a wrong URI fails at start-up
  }

  bool FindOperator(std::string_view login, OperatorAccount& out) override {
    Lease c(*this);
    static const std::string sql = SelectAccounts() + "WHERE login_name = $1::text";
    return ReadOne(c.Run("by_login", sql, login), out);
  }

  bool FindOperatorById(int32_t opId, OperatorAccount& out) override {
    Lease c(*this);
    static const std::string sql = SelectAccounts() + "WHERE op_id = $1::bigint";
    return ReadOne(c.Run("by_id", sql, int64_t{opId}), out);
  }

  std::vector<OperatorAccount> ListOperators() override {
    Lease c(*this);
    static const std::string sql = SelectAccounts() + "ORDER BY op_id";
    const PgResult r = c.Run("all", sql);
    std::vector<OperatorAccount> all(static_cast<std::size_t>(r.rows()));
    for (int i = 0; i < r.rows(); ++i) Read(r, i, all[static_cast<std::size_t>(i)]);
    return all;
  }

  int32_t AddOperator(const OperatorAccount& account) override {
    Lease c(*this);
    MSysmgntDef::SOperator record = account.record;
    c.conn().Exec("BEGIN");
    try {
      if (record.OP_ID == 0) {
        const PgResult next =
            c.Run("next_id", "SELECT (COALESCE(MAX(op_id), 0) + 1)::bigint FROM mp_operator");
        record.OP_ID = static_cast<int>(next.Int(0, 0));
      }
      PgParams& params = c.params();
      params.Clear();
      std::string values;
      int n = 0;
      auto add = [&](auto value) {
        params.Add(value);
        ++n;
        values += (n > 1 ? ", $" : "$") + std::to_string(n) +
                  (std::is_same_v<decltype(value), int64_t> ? "::bigint" : "::text");
      };
      oc::Put(record, add);
      add(std::string_view(account.passwordHash));
      add(int64_t{account.failedSignIns});
      add(account.lockedUntil);
      c.conn().Query("INSERT INTO mp_operator (" + oc::Columns() +
                         ", pwd_hash, failed_signins, locked_until) VALUES (" + values + ")",
                     params);
      for (const std::string& code : account.rights) {
        c.Run("add_right",
              "INSERT INTO mp_operator_right (op_id, service_code) VALUES ($1::bigint, $2::text) "
              "ON CONFLICT DO NOTHING",
              int64_t{record.OP_ID}, std::string_view(code));
      }
      c.conn().Exec("COMMIT");
    } catch (const DbError&) {
      try {
        c.conn().Exec("ROLLBACK");
      } catch (const DbError&) {
        // the connection is gone, and the transaction with it
      }
      throw;
    }
    return record.OP_ID;
  }

  bool SetPasswordHash(std::string_view login, std::string_view hash) override {
    Lease c(*this);
    if (c.Run("set_hash", "UPDATE mp_operator SET pwd_hash = $2::text WHERE login_name = $1::text",
              login, hash)
            .Affected() == 0)
      return false;
    c.Run("end_all",
          "UPDATE mp_session SET ended = 1 WHERE op_id = "
          "(SELECT op_id FROM mp_operator WHERE login_name = $1::text)",
          login);
    return true;
  }

  bool SetLocked(std::string_view login, bool locked) override {
    Lease c(*this);
    const PgResult r =
        locked ? c.Run("lock", "UPDATE mp_operator SET lock_status = 1 WHERE login_name = $1::text",
                       login)
               : c.Run("unlock",
                       "UPDATE mp_operator SET lock_status = 0, failed_signins = 0, "
                       "locked_until = 0 WHERE login_name = $1::text",
                       login);
    return r.Affected() > 0;
  }

  void RecordFailedSignIns(int32_t opId, int failures, int64_t lockedUntil) override {
    Lease c(*this);
    c.Run("failed",
          "UPDATE mp_operator SET failed_signins = $2::bigint, locked_until = $3::bigint "
          "WHERE op_id = $1::bigint",
          int64_t{opId}, int64_t{failures}, lockedUntil);
  }

  void RecordSignIn(int32_t opId) override {
    Lease c(*this);
    c.Run("signed_in",
          "UPDATE mp_operator SET failed_signins = 0, locked_until = 0 WHERE op_id = $1::bigint "
          "AND (failed_signins <> 0 OR locked_until <> 0)",
          int64_t{opId});
  }

  void CreateSession(const SessionRecord& s) override {
    Lease c(*this);
    c.Run("new_session",
          "INSERT INTO mp_session (token_hash, op_id, created_at, last_used_at, ended) VALUES "
          "($1::text, $2::bigint, $3::bigint, $4::bigint, $5::bigint)",
          std::string_view(s.tokenHash), int64_t{s.opId}, s.createdAt, s.lastUsedAt,
          int64_t{s.ended ? 1 : 0});
  }

  bool FindSession(std::string_view tokenHash, SessionRecord& out) override {
    Lease c(*this);
    const PgResult r = c.Run("session",
                             "SELECT op_id::bigint, created_at, last_used_at, ended::bigint "
                             "FROM mp_session WHERE token_hash = $1::text",
                             tokenHash);
    if (r.rows() == 0) return false;
    out.tokenHash.assign(tokenHash);
    out.opId = static_cast<int32_t>(r.Int(0, 0));
    out.createdAt = r.Int(0, 1);
    out.lastUsedAt = r.Int(0, 2);
    out.ended = r.Int(0, 3) != 0;
    return true;
  }

  // What every call's check reads: the session, its operator and the
  // rights in one statement, as the SQLite store does.
  bool FindSessionAccount(std::string_view tokenHash, SessionRecord& session,
                          OperatorAccount& account) override {
    Lease c(*this);
    static const std::string sql =
        "SELECT " + oc::Columns() + ", failed_signins, locked_until, s_created, s_last_used, " +
        "s_ended, " + std::string(kRightsColumn) +
        " FROM (SELECT op_id AS s_op, created_at AS s_created, last_used_at AS s_last_used, "
        "ended::bigint AS s_ended FROM mp_session WHERE token_hash = $1::text) AS s "
        "JOIN mp_operator ON mp_operator.op_id = s_op";
    const PgResult r = c.Run("session_account", sql, tokenHash);
    if (r.rows() == 0) return false;
    account = OperatorAccount();
    int col = oc::Get(PgRow{r, 0}, 0, account.record);
    account.failedSignIns = static_cast<int>(r.Int(0, col++));
    account.lockedUntil = r.Int(0, col++);
    session.tokenHash.assign(tokenHash);
    session.opId = account.record.OP_ID;
    session.createdAt = r.Int(0, col++);
    session.lastUsedAt = r.Int(0, col++);
    session.ended = r.Int(0, col++) != 0;
    account.rights = SplitRights(r.Text(0, col));
    return true;
  }

  void TouchSession(std::string_view tokenHash, int64_t at) override {
    Lease c(*this);
    c.Run("touch",
          "UPDATE mp_session SET last_used_at = $2::bigint WHERE token_hash = $1::text AND "
          "last_used_at < $2::bigint",
          tokenHash, at);
  }

  bool EndSession(std::string_view tokenHash) override {
    Lease c(*this);
    return c.Run("end", "UPDATE mp_session SET ended = 1 WHERE token_hash = $1::text", tokenHash)
               .Affected() > 0;
  }

 private:
  // A connection with its statements' parameters. Sign-ins wait on the
  // password hash, not here: a few connections serve every caller.
  struct Slot {
    explicit Slot(const std::string& uri) : conn(uri, "") {}
    PgConnection conn;
    PgParams params;
  };
  static constexpr std::size_t kMaxConnections = 8;

  // Holds a connection for the length of one call: a free one, a new one
  // while there are fewer than kMaxConnections, else the next one freed.
  class Lease {
   public:
    explicit Lease(PgOperatorStore& store) : cStore(store) {
      std::unique_lock lock(cStore.mLock);
      cStore.cvFree.wait(lock,
                         [&] { return !cStore.vFree.empty() || cStore.iOpened < kMaxConnections; });
      if (!cStore.vFree.empty()) {
        pSlot = cStore.vFree.back();
        cStore.vFree.pop_back();
        return;
      }
      ++cStore.iOpened;
      lock.unlock();
      try {
        auto slot = std::make_unique<Slot>(cStore.strUri);
        lock.lock();
        pSlot = slot.get();
        cStore.vSlots.push_back(std::move(slot));
      } catch (...) {
        lock.lock();
        --cStore.iOpened;
        cStore.cvFree.notify_one();
        throw;
      }
    }
    ~Lease() {
      {
        std::lock_guard lock(cStore.mLock);
        cStore.vFree.push_back(pSlot);
      }
      cStore.cvFree.notify_one();
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;

    PgConnection& conn() { return pSlot->conn; }
    PgParams& params() { return pSlot->params; }

    // Runs statement `name` (`sql` prepared on this connection the first
    // time) with `values` as its parameters.
    template <class... Values>
    PgResult Run(const std::string& name, const std::string& sql, const Values&... values) {
      pSlot->params.Clear();
      (pSlot->params.Add(values), ...);
      pSlot->conn.Prepare(name, sql, {});
      return pSlot->conn.RunPrepared(name, pSlot->params);
    }

   private:
    PgOperatorStore& cStore;
    Slot* pSlot = nullptr;
  };

  static bool ReadOne(const PgResult& r, OperatorAccount& out) {
    if (r.rows() == 0) return false;
    Read(r, 0, out);
    return true;
  }

  static void Read(const PgResult& r, int row, OperatorAccount& out) {
    out = OperatorAccount();
    int c = oc::Get(PgRow{r, row}, 0, out.record);
    out.passwordHash.assign(r.Text(row, c++));
    out.failedSignIns = static_cast<int>(r.Int(row, c++));
    out.lockedUntil = r.Int(row, c++);
    out.rights = SplitRights(r.Text(row, c));
  }

  const std::string strUri;
  std::mutex mLock;  // guards the slots
  std::condition_variable cvFree;
  std::vector<std::unique_ptr<Slot>> vSlots;
  std::vector<Slot*> vFree;
  std::size_t iOpened = 0;  // slots made or being made
};

}  // namespace

std::unique_ptr<OperatorStore> MakePostgresOperatorStore(const std::string& uri) {
  return std::make_unique<PgOperatorStore>(uri);
}

}  // namespace backoffice
