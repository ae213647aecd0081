#include "backoffice/sqlite_operator_store.h"

#include <sqlite3.h>

#include <array>
#include <mutex>
#include <set>

#include "backoffice/authenticator.h"
#include "backoffice/sqlite_db.h"
#include "backoffice/store.h"
#include "operator_columns.h"
#include "stores.h"

namespace backoffice {

namespace oc = operator_columns;

class SqliteOperatorStore::Impl {
 public:
  explicit Impl(const std::string& path) : cDb(path, Database::Mode::kReadWrite) {
    CheckColumns();
    for (int k = 0; k < oc::kSqlCount; ++k) {
      aSql[static_cast<std::size_t>(k)] = cDb.Prepare(oc::Text(oc::Sql(k), Dialect::kSqlite));
    }
  }

  // Statement `which` with `fill`'s parameters bound (fill(BindInOrder&)).
  template <class Fill>
  Statement& BoundWith(oc::Sql which, Fill&& fill) {
    Statement& s = aSql[static_cast<std::size_t>(which)];
    BindInOrder params(s);
    fill(params);
    return s;
  }
  template <class... Values>
  Statement& Bound(oc::Sql which, const Values&... values) {
    return BoundWith(which, [&](BindInOrder& p) { (p.Add(values), ...); });
  }

  // Runs a statement that changes rows; how many it changed.
  int Change(Statement& s) {
    s.Run();
    s.Reset();
    return sqlite3_changes(cDb.handle());
  }
  template <class... Values>
  int Change(oc::Sql which, const Values&... values) {
    return Change(Bound(which, values...));
  }

  // Hands the first row of `which` to `read`; false when there is none.
  template <class Read, class... Values>
  bool One(oc::Sql which, Read&& read, const Values&... values) {
    Statement& s = Bound(which, values...);
    const bool found = s.Step();
    if (found) read(s);
    s.Reset();
    return found;
  }

  void CheckColumns() {
    std::set<std::string> columns;
    Statement s = cDb.Prepare("SELECT name FROM pragma_table_info('mp_operator')");
    while (s.Step()) columns.emplace(s.Text(0));
    for (int k = 0; k < MSysmgntDef::SOperator::kFieldCount; ++k) {
      if (k != oc::kPasswordField && !columns.contains(oc::ColumnOf(k)))
        throw DbError("mp_operator has no column " + oc::ColumnOf(k));
    }
  }

  std::mutex mLock;
  Database cDb;
  std::array<Statement, oc::kSqlCount> aSql;
};

SqliteOperatorStore::SqliteOperatorStore(const std::string& path)
    : pImpl(std::make_unique<Impl>(path)) {}
SqliteOperatorStore::~SqliteOperatorStore() = default;

bool SqliteOperatorStore::FindOperator(std::string_view login, OperatorAccount& out) {
  std::lock_guard lock(pImpl->mLock);
  return pImpl->One(
      oc::Sql::kByLogin, [&](const Statement& row) { oc::ReadAccount(row, out); }, login);
}

bool SqliteOperatorStore::FindOperatorById(int32_t opId, OperatorAccount& out) {
  std::lock_guard lock(pImpl->mLock);
  return pImpl->One(
      oc::Sql::kById, [&](const Statement& row) { oc::ReadAccount(row, out); }, int64_t{opId});
}

std::vector<OperatorAccount> SqliteOperatorStore::ListOperators() {
  std::lock_guard lock(pImpl->mLock);
  std::vector<OperatorAccount> all;
  Statement& s = pImpl->Bound(oc::Sql::kAll);
  while (s.Step()) oc::ReadAccount(s, all.emplace_back());
  s.Reset();
  return all;
}

int32_t SqliteOperatorStore::AddOperator(const OperatorAccount& account) {
  std::lock_guard lock(pImpl->mLock);
  Transaction t(pImpl->cDb);
  MSysmgntDef::SOperator record = account.record;
  if (record.OP_ID == 0) {
    pImpl->One(oc::Sql::kNextId,
               [&](const Statement& row) { record.OP_ID = static_cast<int>(row.Int(0)); });
  }
  pImpl->Change(pImpl->BoundWith(oc::Sql::kInsert, [&](BindInOrder& p) {
    oc::PutAccount(record, account, [&](auto value) { p.Add(value); });
  }));
  for (const std::string& code : account.rights) {
    pImpl->Change(oc::Sql::kInsertRight, int64_t{record.OP_ID}, std::string_view(code));
  }
  t.Commit();
  return record.OP_ID;
}

bool SqliteOperatorStore::SetPasswordHash(std::string_view login, std::string_view hash) {
  std::lock_guard lock(pImpl->mLock);
  if (pImpl->Change(oc::Sql::kSetHash, login, hash) == 0) return false;
  pImpl->Change(oc::Sql::kEndAll, login);
  return true;
}

bool SqliteOperatorStore::SetLocked(std::string_view login, bool locked) {
  std::lock_guard lock(pImpl->mLock);
  return pImpl->Change(locked ? oc::Sql::kLock : oc::Sql::kUnlock, login) > 0;
}

void SqliteOperatorStore::RecordFailedSignIns(int32_t opId, int failures, int64_t lockedUntil,
                                              std::string_view failedNonce) {
  std::lock_guard lock(pImpl->mLock);
  pImpl->Change(oc::Sql::kFailed, int64_t{opId}, int64_t{failures}, lockedUntil, failedNonce);
}

void SqliteOperatorStore::RecordSignIn(int32_t opId, int64_t at) {
  std::lock_guard lock(pImpl->mLock);
  pImpl->Change(oc::Sql::kSignedIn, int64_t{opId}, at);
}

int SqliteOperatorStore::LockUnused(int64_t now, int64_t signedInBefore) {
  std::lock_guard lock(pImpl->mLock);
  Transaction t(pImpl->cDb);
  pImpl->Change(oc::Sql::kStartCounting, now);
  const int locked = pImpl->Change(oc::Sql::kLockUnused, signedInBefore);
  t.Commit();
  return locked;
}

bool SqliteOperatorStore::UpdateDirectoryOperator(const OperatorAccount& a) {
  std::lock_guard lock(pImpl->mLock);
  Transaction t(pImpl->cDb);
  const MSysmgntDef::SOperator& r = a.record;
  if (pImpl->Change(oc::Sql::kUpdateDirectory, std::string_view(r.LOGIN_NAME),
                    std::string_view(r.OP_NAME), int64_t{r.ORG_ID}, int64_t{r.OP_STATUS},
                    std::string_view(a.directoryDn)) == 0)
    return false;
  pImpl->Change(oc::Sql::kDeleteRights, int64_t{r.OP_ID});
  for (const std::string& code : a.rights)
    pImpl->Change(oc::Sql::kInsertRight, int64_t{r.OP_ID}, std::string_view(code));
  t.Commit();
  return true;
}

void SqliteOperatorStore::CreateSession(const SessionRecord& session) {
  std::lock_guard lock(pImpl->mLock);
  pImpl->Change(oc::Sql::kNewSession, std::string_view(session.tokenHash), int64_t{session.opId},
                session.createdAt, session.lastUsedAt, int64_t{session.ended ? 1 : 0});
}

bool SqliteOperatorStore::FindSession(std::string_view tokenHash, SessionRecord& out) {
  std::lock_guard lock(pImpl->mLock);
  return pImpl->One(
      oc::Sql::kSession, [&](const Statement& row) { oc::ReadSession(row, 0, tokenHash, out); },
      tokenHash);
}

bool SqliteOperatorStore::FindSessionAccount(std::string_view tokenHash, SessionRecord& session,
                                             OperatorAccount& account) {
  std::lock_guard lock(pImpl->mLock);
  return pImpl->One(
      oc::Sql::kSessionAccount,
      [&](const Statement& row) { oc::ReadSessionAccount(row, tokenHash, session, account); },
      tokenHash);
}

void SqliteOperatorStore::TouchSession(std::string_view tokenHash, int64_t at) {
  std::lock_guard lock(pImpl->mLock);
  pImpl->Change(oc::Sql::kTouch, tokenHash, at);
}

bool SqliteOperatorStore::EndSession(std::string_view tokenHash) {
  std::lock_guard lock(pImpl->mLock);
  return pImpl->Change(oc::Sql::kEnd, tokenHash) > 0;
}

std::unique_ptr<OperatorStore> OpenOperatorStore(const std::string& db) {
  if (IsPostgresUri(db)) return MakePostgresOperatorStore(db);
  return std::make_unique<SqliteOperatorStore>(db);
}

}  // namespace backoffice
