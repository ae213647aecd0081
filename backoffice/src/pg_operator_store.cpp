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

class PgOperatorStore final : public OperatorStore {
 public:
  explicit PgOperatorStore(const std::string& uri) : strUri(uri) {
    Lease first(*this);  // connects now: a wrong URI fails at start-up
  }

  bool FindOperator(std::string_view login, OperatorAccount& out) override {
    Lease c(*this);
    return ReadOne(c.Run(oc::Sql::kByLogin, login), out);
  }

  bool FindOperatorById(int32_t opId, OperatorAccount& out) override {
    Lease c(*this);
    return ReadOne(c.Run(oc::Sql::kById, int64_t{opId}), out);
  }

  std::vector<OperatorAccount> ListOperators() override {
    Lease c(*this);
    const PgResult r = c.Run(oc::Sql::kAll);
    std::vector<OperatorAccount> all(static_cast<std::size_t>(r.rows()));
    for (int i = 0; i < r.rows(); ++i) oc::ReadAccount(PgRow{r, i}, all[std::size_t(i)]);
    return all;
  }

  int32_t AddOperator(const OperatorAccount& account) override {
    Lease c(*this);
    MSysmgntDef::SOperator record = account.record;
    c.conn().Exec("BEGIN");
    try {
      if (record.OP_ID == 0) {
        record.OP_ID = static_cast<int>(c.Run(oc::Sql::kNextId).Int(0, 0));
      }
      c.RunWith(oc::Sql::kInsert, [&](PgParams& p) {
        oc::PutAccount(record, account, [&](auto value) { p.Add(value); });
      });
      for (const std::string& code : account.rights) {
        c.Run(oc::Sql::kInsertRight, int64_t{record.OP_ID}, std::string_view(code));
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
    if (c.Run(oc::Sql::kSetHash, login, hash).Affected() == 0) return false;
    c.Run(oc::Sql::kEndAll, login);
    return true;
  }

  bool SetLocked(std::string_view login, bool locked) override {
    Lease c(*this);
    return c.Run(locked ? oc::Sql::kLock : oc::Sql::kUnlock, login).Affected() > 0;
  }

  void RecordFailedSignIns(int32_t opId, int failures, int64_t lockedUntil,
                           std::string_view failedNonce) override {
    Lease c(*this);
    c.Run(oc::Sql::kFailed, int64_t{opId}, int64_t{failures}, lockedUntil, failedNonce);
  }

  void RecordSignIn(int32_t opId, int64_t at) override {
    Lease c(*this);
    c.Run(oc::Sql::kSignedIn, int64_t{opId}, at);
  }

  int LockUnused(int64_t now, int64_t signedInBefore) override {
    Lease c(*this);
    c.Run(oc::Sql::kStartCounting, now);
    return static_cast<int>(c.Run(oc::Sql::kLockUnused, signedInBefore).Affected());
  }

  bool UpdateDirectoryOperator(const OperatorAccount& a) override {
    Lease c(*this);
    const MSysmgntDef::SOperator& r = a.record;
    c.conn().Exec("BEGIN");
    try {
      const bool found = c.Run(oc::Sql::kUpdateDirectory, std::string_view(r.LOGIN_NAME),
                               std::string_view(r.OP_NAME), int64_t{r.ORG_ID}, int64_t{r.OP_STATUS},
                               std::string_view(a.directoryDn))
                             .Affected() > 0;
      if (found) {
        c.Run(oc::Sql::kDeleteRights, int64_t{r.OP_ID});
        for (const std::string& code : a.rights)
          c.Run(oc::Sql::kInsertRight, int64_t{r.OP_ID}, std::string_view(code));
      }
      c.conn().Exec("COMMIT");
      return found;
    } catch (const DbError&) {
      try {
        c.conn().Exec("ROLLBACK");
      } catch (const DbError&) {
        // the connection is gone, and the transaction with it
      }
      throw;
    }
  }

  void CreateSession(const SessionRecord& s) override {
    Lease c(*this);
    c.Run(oc::Sql::kNewSession, std::string_view(s.tokenHash), int64_t{s.opId}, s.createdAt,
          s.lastUsedAt, int64_t{s.ended ? 1 : 0});
  }

  bool FindSession(std::string_view tokenHash, SessionRecord& out) override {
    Lease c(*this);
    const PgResult r = c.Run(oc::Sql::kSession, tokenHash);
    if (r.rows() == 0) return false;
    oc::ReadSession(PgRow{r, 0}, 0, tokenHash, out);
    return true;
  }

  // What every call's check reads: the session, its operator and the
  // rights in one statement.
  bool FindSessionAccount(std::string_view tokenHash, SessionRecord& session,
                          OperatorAccount& account) override {
    Lease c(*this);
    const PgResult r = c.Run(oc::Sql::kSessionAccount, tokenHash);
    if (r.rows() == 0) return false;
    oc::ReadSessionAccount(PgRow{r, 0}, tokenHash, session, account);
    return true;
  }

  void TouchSession(std::string_view tokenHash, int64_t at) override {
    Lease c(*this);
    c.Run(oc::Sql::kTouch, tokenHash, at);
  }

  bool EndSession(std::string_view tokenHash) override {
    Lease c(*this);
    return c.Run(oc::Sql::kEnd, tokenHash).Affected() > 0;
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

    // Runs statement `which` (prepared on this connection the first time)
    // with the parameters `fill` adds (fill(PgParams&)).
    template <class Fill>
    PgResult RunWith(oc::Sql which, Fill&& fill) {
      PgParams& p = pSlot->params;
      p.Clear();
      fill(p);
      pSlot->conn.Prepare(oc::Name(which), oc::Text(which, Dialect::kPostgres), p.types());
      return pSlot->conn.RunPrepared(oc::Name(which), p);
    }
    template <class... Values>
    PgResult Run(oc::Sql which, const Values&... values) {
      return RunWith(which, [&](PgParams& p) { (p.Add(values), ...); });
    }

   private:
    PgOperatorStore& cStore;
    Slot* pSlot = nullptr;
  };

  static bool ReadOne(const PgResult& r, OperatorAccount& out) {
    if (r.rows() == 0) return false;
    oc::ReadAccount(PgRow{r, 0}, out);
    return true;
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
