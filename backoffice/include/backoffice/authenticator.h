#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <semaphore>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <optional>

#include "backoffice/clock.h"
#include "backoffice/directory.h"
#include "backoffice/operator_store.h"

// Sign-in, sign-out and the check that every other call passes first.
namespace backoffice {

struct AuthPolicy {
  int maxFailedSignIns = 5;  // wrong passwords in a row that lock the operator
  int lockoutS = 900;        // for this long
  int idleTimeoutS = 1800;   // a session unused for this long has ended
  int maxAgeS = 12 * 3600;   // and any session this old
  // How long a session and its operator, once read, are checked from memory
  // (against the clock) before they are read again: a lock, a new password
  // or a sign-out made by another process (an administrator's command,
  // another back office on the same database) reaches this one within this
  // time. 0: read on every call.
  int recheckMs = 1000;
  // With a directory: whether it is asked before the local accounts (else
  // only for logins no local account has).
  bool directoryFirst = false;
};

// The verified caller of one request.
struct Caller {
  int32_t opId = 0;
  int32_t orgId = 0;
  std::string login;
};

// The rights of "RIGHT,RIGHT,...", sorted, without duplicates or empty
// entries: the form OperatorAccount::rights takes.
std::vector<std::string> SplitRights(std::string_view codes);

class Authenticator {
 public:
  // Makes the stand-in hash that an unknown login is checked against, so
  // that it takes as long as a wrong password. With a `directory`, its
  // operators sign in too (each gets a row in the store, kept up to date,
  // which holds its failed sign-ins and sessions). The store, the clock
  // (tests move theirs) and the directory must outlive the object.
  Authenticator(OperatorStore& store, AuthPolicy policy, const Clock& clock = SystemClock(),
                Directory* directory = nullptr);

  const AuthPolicy& policy() const { return cPolicy; }

  struct SignedIn {
    OperatorAccount account;  // passwordHash cleared
    std::string token;
  };
  // 0 and `out` filled; kRcSignInFailed for an unknown login or a wrong
  // password alike (after the same work); kRcOperatorLocked or
  // kRcOperatorInactive, only once the password was right;
  // kRcDirectoryUnavailable for an operator only the directory could check
  // while it cannot be reached. Each wrong
  // password counts towards the lock. With a `nonce` (IsSignInNonce) the
  // sign-in is safe to repeat: every attempt with it gets the same session
  // (kRcNoSession once that session was signed out), and a wrong password
  // repeated with the nonce of the last one counts once. Throws DbError.
  int SignIn(std::string_view login, std::string_view password, std::string_view nonce,
             SignedIn& out);
  int SignIn(std::string_view login, std::string_view password, SignedIn& out) {
    return SignIn(login, password, {}, out);
  }
  // 0 with `caller` set when `token` names a live session of an operator who
  // may still sign in and holds `right` (an operation's right in the
  // catalogue, records/operations.h); kRcNoSession or kRcNoRight (with
  // `caller` set) otherwise. An empty `right` asks for none. Throws DbError.
  int Verify(std::string_view token, std::string_view right, Caller& caller);
  // Asks the directory about each of its operators still in service: one
  // it no longer has (removed or disabled) is taken out of service, which
  // ends its sessions at their next check; the others' names and rights
  // are brought up to date. Returns how many were taken out. Throws DbError.
  int RecheckDirectory();
  // Ends the session of `token` (0, with `caller` set), whether it was
  // live or had ended already: a sign-out may be repeated. kRcNoSession for
  // a token no session has.
  int SignOut(std::string_view token, Caller& caller);

 private:
  // A session and its operator as last read, and when.
  struct Read {
    SessionRecord session;
    OperatorAccount account;
    int64_t atMs;  // the clock's SteadyMs()
  };
  // The session of `hash` as read at most recheckMs ago, reading it when
  // that read is older; null when there is no such session. Shared, not
  // copied: a call checks its session without copying the operator.
  std::shared_ptr<const Read> Recall(const std::string& hash);
  void Forget(const std::string& hash);

  // Asks the directory to check `login`'s password. 0 with `matches` set and
  // `account` its row here, made or updated, when the directory has it;
  // 0 with `matches` unset when it has not (`known` cleared when the row
  // was a directory operator's); kRcDirectoryUnavailable when it cannot
  // be asked.
  int AskDirectory(std::string_view login, std::string_view password, OperatorAccount& account,
                   bool& known, std::optional<bool>& matches);

  // 0 when the account may sign in (or keep its sessions) at `now`.
  int Usable(const OperatorAccount& a, int64_t now) const;

  OperatorStore& cStore;
  AuthPolicy cPolicy;
  const Clock& cClock;
  std::string strStandInHash;
  Directory* pDirectory;
  // Each hash check takes 64 MiB: a burst of sign-ins waits its turn
  // rather than take the memory of the whole machine.
  std::counting_semaphore<> cHashing{2};
  std::mutex mReads;                                                      // guards mapReads
  std::unordered_map<std::string, std::shared_ptr<const Read>> mapReads;  // by token hash
};

}  // namespace backoffice
