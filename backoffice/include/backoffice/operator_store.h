#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "records/msysmgntdef.h"

// Where the back office keeps its operators, their rights and their sessions.
// One implementation per database (SQLite: sqlite_operator_store.h); the
// sign-in logic (authenticator.h) sees only this interface.
//
// Every method may be called from many threads at once. Failures of the
// database throw DbError (sqlite_db.h); "not found" is a false result, never
// an exception. Times are Unix seconds.
namespace backoffice {

// One operator as stored: the operator record's fields, the password only as
// its Argon2id hash, the state of its failed sign-ins and its rights.
struct OperatorAccount {
  // OP_PASSWD is never set. OP_STATUS 1: in service (0: out of service);
  // LOCK_STATUS 1: locked by an administrator; VALID_DATE and EXPIRE_DATE
  // bound when it may sign in (a null date-time bounds nothing).
  MSysmgntDef::SOperator record;
  std::string passwordHash;         // crypto_pwhash_str's text
  int failedSignIns = 0;            // since the last successful sign-in or unlock
  int64_t lockedUntil = 0;          // failed sign-ins lock it until then; 0: not
  std::string failedNonce;          // TokenHash of the last wrong password's nonce
  int64_t lastSignInAt = 0;         // Unix seconds; 0: never since it was counted
  std::string directoryDn;          // an operator of the directory: its entry; "": local
  std::vector<std::string> rights;  // service codes it may call, sorted
};

// One session. The token itself is never stored: only its hash.
struct SessionRecord {
  std::string tokenHash;  // 64 hexadecimal digits
  int32_t opId = 0;
  int64_t createdAt = 0;
  int64_t lastUsedAt = 0;
  bool ended = false;  // signed out
};

class OperatorStore {
 public:
  virtual ~OperatorStore() = default;

  // False when no operator has that login name (or that id).
  virtual bool FindOperator(std::string_view login, OperatorAccount& out) = 0;
  virtual bool FindOperatorById(int32_t opId, OperatorAccount& out) = 0;
  // Every operator, by id.
  virtual std::vector<OperatorAccount> ListOperators() = 0;
  // Adds an operator with its rights. OP_ID 0 takes the next free id.
  // Returns the id; throws DbError when the login name or id is taken.
  virtual int32_t AddOperator(const OperatorAccount& account) = 0;
  // Also ends the operator's sessions: a new password shuts out whoever
  // signed in with the old one. False when no operator has that login name.
  virtual bool SetPasswordHash(std::string_view login, std::string_view hash) = 0;
  // Sets LOCK_STATUS; unlocking also forgets the failed sign-ins and their
  // lock. False when no operator has that login name.
  virtual bool SetLocked(std::string_view login, bool locked) = 0;
  // Stores the count of failed sign-ins, the time they lock it until and
  // the nonce hash of the last ("" for none).
  virtual void RecordFailedSignIns(int32_t opId, int failures, int64_t lockedUntil,
                                   std::string_view failedNonce = {}) = 0;
  // A successful sign-in at `at`: the failures are forgotten.
  virtual void RecordSignIn(int32_t opId, int64_t at) = 0;
  // Locks (LOCK_STATUS 1) the local operators, not locked yet, that have not
  // signed in since `signedInBefore`. One with no sign-in counted yet (an
  // account older than the count) starts counting at `now`. Returns how
  // many it locked.
  virtual int LockUnused(int64_t now, int64_t signedInBefore) = 0;
  // Brings the row of directory operator `account.record.LOGIN_NAME` to
  // what the directory says: OP_NAME, ORG_ID, OP_STATUS, its entry's name
  // and its rights (the failed sign-ins and the lock stay). False when no
  // directory operator has that login.
  virtual bool UpdateDirectoryOperator(const OperatorAccount& account) = 0;

  // A session whose hash is stored already (a repeated sign-in) is left as
  // it is.
  virtual void CreateSession(const SessionRecord& session) = 0;
  // A lookup by the token's hash: called for every request, so it must stay
  // cheap. False when no session has that hash.
  virtual bool FindSession(std::string_view tokenHash, SessionRecord& out) = 0;
  // The session of `tokenHash` and its operator, rights included: what the
  // check of every request reads. False when no session has that hash or
  // its operator is gone. `account.passwordHash` is left empty. This
  // default reads them one after the other; a store may read them at once.
  virtual bool FindSessionAccount(std::string_view tokenHash, SessionRecord& session,
                                  OperatorAccount& account) {
    if (!FindSession(tokenHash, session) || !FindOperatorById(session.opId, account)) return false;
    account.passwordHash.clear();
    return true;
  }
  // Moves lastUsedAt forward to `at`.
  virtual void TouchSession(std::string_view tokenHash, int64_t at) = 0;
  // Signs the session out. False when no session has that hash.
  virtual bool EndSession(std::string_view tokenHash) = 0;
};

// The operator store of the database `db` names (as OpenStore takes it): an
// SQLite file or a PostgreSQL URI. Throws DbError when it cannot be opened.
std::unique_ptr<OperatorStore> OpenOperatorStore(const std::string& db);

}  // namespace backoffice
