#include "backoffice/sqlite_operator_store.h"

#include <sqlite3.h>

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
    const std::string select =
        "SELECT " + oc::Columns() + ", " + oc::AccountColumns() + " FROM mp_operator ";
    cByLogin = cDb.Prepare(select + "WHERE login_name = ?1");
    cById = cDb.Prepare(select + "WHERE op_id = ?1");
    cAll = cDb.Prepare(select + "ORDER BY op_id");
    cRights = cDb.Prepare(
        "SELECT service_code FROM mp_operator_right WHERE op_id = ?1 ORDER BY service_code");
    std::string params;
    for (int i = 1; i < MSysmgntDef::SOperator::kFieldCount + oc::kAccountColumnCount; ++i)
      params += (i > 1 ? ", ?" : "?");
    cInsert = cDb.Prepare("INSERT INTO mp_operator (" + oc::Columns() + ", " +
                          oc::AccountColumns() + ") VALUES (" + params + ")");
    cInsertRight = cDb.Prepare(
        "INSERT OR IGNORE INTO mp_operator_right (op_id, service_code) VALUES (?1, ?2)");
    cNextId = cDb.Prepare("SELECT COALESCE(MAX(op_id), 0) + 1 FROM mp_operator");
    cSetHash = cDb.Prepare("UPDATE mp_operator SET pwd_hash = ?2 WHERE login_name = ?1");
    cLock = cDb.Prepare("UPDATE mp_operator SET lock_status = 1 WHERE login_name = ?1");
    cUnlock = cDb.Prepare(
        "UPDATE mp_operator SET lock_status = 0, failed_signins = 0, locked_until = 0 "
        "WHERE login_name = ?1");
    cFailed = cDb.Prepare(
        "UPDATE mp_operator SET failed_signins = ?2, locked_until = ?3, failed_nonce = ?4 "
        "WHERE op_id = ?1");
    cSignedIn = cDb.Prepare(
        "UPDATE mp_operator SET failed_signins = 0, locked_until = 0, failed_nonce = '', "
        "last_signin_at = ?2 WHERE op_id = ?1");
    cStartCounting =
        cDb.Prepare("UPDATE mp_operator SET last_signin_at = ?1 WHERE last_signin_at = 0");
    cLockUnused = cDb.Prepare(
        "UPDATE mp_operator SET lock_status = 1 WHERE lock_status = 0 AND directory_dn = '' "
        "AND last_signin_at < ?1");
    cNewSession = cDb.Prepare(
        "INSERT OR IGNORE INTO mp_session (token_hash, op_id, created_at, last_used_at, ended) "
        "VALUES (?1, ?2, ?3, ?4, ?5)");
    cSession = cDb.Prepare(
        "SELECT op_id, created_at, last_used_at, ended FROM mp_session WHERE token_hash = ?1");
    cSessionAccount = cDb.Prepare(
        "SELECT " + oc::Columns() + ", " + oc::AccountColumns(false) +
        ", s_created, s_last_used, s_ended, "
        "(SELECT group_concat(service_code) FROM mp_operator_right AS r "
        "WHERE r.op_id = mp_operator.op_id) "
        "FROM (SELECT op_id AS s_op, created_at AS s_created, last_used_at AS s_last_used, "
        "ended AS s_ended FROM mp_session WHERE token_hash = ?1) JOIN mp_operator "
        "ON mp_operator.op_id = s_op");
    cTouch = cDb.Prepare(
        "UPDATE mp_session SET last_used_at = ?2 WHERE token_hash = ?1 AND last_used_at < ?2");
    cEnd = cDb.Prepare("UPDATE mp_session SET ended = 1 WHERE token_hash = ?1");
    cEndAll = cDb.Prepare(
        "UPDATE mp_session SET ended = 1 WHERE op_id = "
        "(SELECT op_id FROM mp_operator WHERE login_name = ?1)");
  }

  // Runs `s` (bound) and reads one account; false when there is none.
  bool ReadOne(Statement& s, OperatorAccount& out) {
    const bool found = s.Step() && (Read(s, out), true);
    s.Reset();
    if (found) ReadRights(out);
    return found;
  }

  static void Read(const Statement& s, OperatorAccount& out) {
    out = OperatorAccount();
    oc::GetAccount(s, oc::Get(s, 0, out.record), out);
  }

  void ReadRights(OperatorAccount& a) {
    cRights.Bind(1, static_cast<int64_t>(a.record.OP_ID));
    while (cRights.Step()) a.rights.emplace_back(cRights.Text(0));
    cRights.Reset();
  }

  // One statement that changes rows; how many it changed.
  int Change(Statement& s) {
    s.Run();
    s.Reset();
    return sqlite3_changes(cDb.handle());
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
  Statement cByLogin, cById, cAll, cRights, cInsert, cInsertRight, cNextId, cSetHash, cLock,
      cUnlock, cFailed, cSignedIn, cStartCounting, cLockUnused, cNewSession, cSession,
      cSessionAccount, cTouch, cEnd, cEndAll;
};

SqliteOperatorStore::SqliteOperatorStore(const std::string& path)
    : pImpl(std::make_unique<Impl>(path)) {}
SqliteOperatorStore::~SqliteOperatorStore() = default;

bool SqliteOperatorStore::FindOperator(std::string_view login, OperatorAccount& out) {
  std::lock_guard lock(pImpl->mLock);
  pImpl->cByLogin.Bind(1, login);
  return pImpl->ReadOne(pImpl->cByLogin, out);
}

bool SqliteOperatorStore::FindOperatorById(int32_t opId, OperatorAccount& out) {
  std::lock_guard lock(pImpl->mLock);
  pImpl->cById.Bind(1, static_cast<int64_t>(opId));
  return pImpl->ReadOne(pImpl->cById, out);
}

std::vector<OperatorAccount> SqliteOperatorStore::ListOperators() {
  std::lock_guard lock(pImpl->mLock);
  std::vector<OperatorAccount> all;
  while (pImpl->cAll.Step()) Impl::Read(pImpl->cAll, all.emplace_back());
  pImpl->cAll.Reset();
  for (OperatorAccount& a : all) pImpl->ReadRights(a);
  return all;
}

int32_t SqliteOperatorStore::AddOperator(const OperatorAccount& account) {
  std::lock_guard lock(pImpl->mLock);
  Transaction t(pImpl->cDb);
  MSysmgntDef::SOperator record = account.record;
  if (record.OP_ID == 0) {
    pImpl->cNextId.Step();
    record.OP_ID = static_cast<int>(pImpl->cNextId.Int(0));
    pImpl->cNextId.Reset();
  }
  Statement& s = pImpl->cInsert;
  int p = 1;
  oc::Put(record, [&](auto value) { s.Bind(p++, value); });
  oc::PutAccount(account, [&](auto value) { s.Bind(p++, value); });
  pImpl->Change(s);
  for (const std::string& code : account.rights) {
    pImpl->cInsertRight.Bind(1, static_cast<int64_t>(record.OP_ID));
    pImpl->cInsertRight.Bind(2, std::string_view(code));
    pImpl->Change(pImpl->cInsertRight);
  }
  t.Commit();
  return record.OP_ID;
}

bool SqliteOperatorStore::SetPasswordHash(std::string_view login, std::string_view hash) {
  std::lock_guard lock(pImpl->mLock);
  pImpl->cSetHash.Bind(1, login);
  pImpl->cSetHash.Bind(2, hash);
  if (pImpl->Change(pImpl->cSetHash) == 0) return false;
  pImpl->cEndAll.Bind(1, login);
  pImpl->Change(pImpl->cEndAll);
  return true;
}

bool SqliteOperatorStore::SetLocked(std::string_view login, bool locked) {
  std::lock_guard lock(pImpl->mLock);
  Statement& s = locked ? pImpl->cLock : pImpl->cUnlock;
  s.Bind(1, login);
  return pImpl->Change(s) > 0;
}

void SqliteOperatorStore::RecordFailedSignIns(int32_t opId, int failures, int64_t lockedUntil,
                                              std::string_view failedNonce) {
  std::lock_guard lock(pImpl->mLock);
  pImpl->cFailed.Bind(1, static_cast<int64_t>(opId));
  pImpl->cFailed.Bind(2, static_cast<int64_t>(failures));
  pImpl->cFailed.Bind(3, lockedUntil);
  pImpl->cFailed.Bind(4, failedNonce);
  pImpl->Change(pImpl->cFailed);
}

void SqliteOperatorStore::RecordSignIn(int32_t opId, int64_t at) {
  std::lock_guard lock(pImpl->mLock);
  pImpl->cSignedIn.Bind(1, static_cast<int64_t>(opId));
  pImpl->cSignedIn.Bind(2, at);
  pImpl->Change(pImpl->cSignedIn);
}

int SqliteOperatorStore::LockUnused(int64_t now, int64_t signedInBefore) {
  std::lock_guard lock(pImpl->mLock);
  Transaction t(pImpl->cDb);
  pImpl->cStartCounting.Bind(1, now);
  pImpl->Change(pImpl->cStartCounting);
  pImpl->cLockUnused.Bind(1, signedInBefore);
  const int locked = pImpl->Change(pImpl->cLockUnused);
  t.Commit();
  return locked;
}

void SqliteOperatorStore::CreateSession(const SessionRecord& session) {
  std::lock_guard lock(pImpl->mLock);
  Statement& s = pImpl->cNewSession;
  s.Bind(1, std::string_view(session.tokenHash));
  s.Bind(2, static_cast<int64_t>(session.opId));
  s.Bind(3, session.createdAt);
  s.Bind(4, session.lastUsedAt);
  s.Bind(5, int64_t{session.ended ? 1 : 0});
  pImpl->Change(s);
}

bool SqliteOperatorStore::FindSession(std::string_view tokenHash, SessionRecord& out) {
  std::lock_guard lock(pImpl->mLock);
  Statement& s = pImpl->cSession;
  s.Bind(1, tokenHash);
  const bool found = s.Step();
  if (found) {
    out.tokenHash.assign(tokenHash);
    out.opId = static_cast<int32_t>(s.Int(0));
    out.createdAt = s.Int(1);
    out.lastUsedAt = s.Int(2);
    out.ended = s.Int(3) != 0;
  }
  s.Reset();
  return found;
}

bool SqliteOperatorStore::FindSessionAccount(std::string_view tokenHash, SessionRecord& session,
                                             OperatorAccount& account) {
  std::lock_guard lock(pImpl->mLock);
  Statement& s = pImpl->cSessionAccount;
  s.Bind(1, tokenHash);
  const bool found = s.Step();
  if (found) {
    account = OperatorAccount();
    int c = oc::GetAccount(s, oc::Get(s, 0, account.record), account);
    session.tokenHash.assign(tokenHash);
    session.opId = account.record.OP_ID;
    session.createdAt = s.Int(c++);
    session.lastUsedAt = s.Int(c++);
    session.ended = s.Int(c++) != 0;
    account.rights = SplitRights(s.Text(c));
  }
  s.Reset();
  return found;
}

void SqliteOperatorStore::TouchSession(std::string_view tokenHash, int64_t at) {
  std::lock_guard lock(pImpl->mLock);
  pImpl->cTouch.Bind(1, tokenHash);
  pImpl->cTouch.Bind(2, at);
  pImpl->Change(pImpl->cTouch);
}

bool SqliteOperatorStore::EndSession(std::string_view tokenHash) {
  std::lock_guard lock(pImpl->mLock);
  pImpl->cEnd.Bind(1, tokenHash);
  return pImpl->Change(pImpl->cEnd) > 0;
}

std::unique_ptr<OperatorStore> OpenOperatorStore(const std::string& db) {
  if (IsPostgresUri(db)) return MakePostgresOperatorStore(db);
  return std::make_unique<SqliteOperatorStore>(db);
}

}  // namespace backoffice
