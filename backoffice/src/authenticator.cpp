#include "backoffice/authenticator.h"

#include <sodium.h>

#include <algorithm>
#include <optional>

#include "backoffice/credentials.h"
#include "backoffice/log.h"
#include "backoffice/protocol.h"
#include "backoffice/service.h"
#include "backoffice/stamp.h"

namespace backoffice {

std::vector<std::string> SplitRights(std::string_view codes) {
  std::vector<std::string> rights;
  while (!codes.empty()) {
    const std::size_t comma = std::min(codes.find(','), codes.size());
    if (comma > 0) rights.emplace_back(codes.substr(0, comma));
    codes.remove_prefix(std::min(comma + 1, codes.size()));
  }
  std::sort(rights.begin(), rights.end());
  rights.erase(std::unique(rights.begin(), rights.end()), rights.end());
  return rights;
}

Authenticator::Authenticator(OperatorStore& store, AuthPolicy policy, const Clock& clock,
                             Directory* directory)
    : cStore(store), cPolicy(policy), cClock(clock), pDirectory(directory) {
  strStandInHash = HashPassword(NewSessionToken());
}

int Authenticator::Usable(const OperatorAccount& a, int64_t now) const {
  const MSysmgntDef::SOperator& r = a.record;
  if (r.LOCK_STATUS != 0 || a.lockedUntil > now) return kRcOperatorLocked;
  if (r.OP_STATUS != 1) return kRcOperatorInactive;
  const int64_t stamp = LocalStamp(now);
  const int64_t validFrom = ToStamp(r.VALID_DATE), expires = ToStamp(r.EXPIRE_DATE);
  if (validFrom != 0 && stamp < validFrom) return kRcOperatorInactive;
  if (expires != 0 && stamp >= expires) return kRcOperatorInactive;
  return 0;
}

int Authenticator::SignIn(std::string_view login, std::string_view password, std::string_view nonce,
                          SignedIn& out) {
  OperatorAccount account;
  bool known = cStore.FindOperator(login, account);
  const bool local = known && account.directoryDn.empty();
  // The directory answers for its own operators, and for the others when it
  // is asked first; a local account is asked when it does not know them.
  std::optional<bool> directoryMatches;
  if (pDirectory && (cPolicy.directoryFirst || !local)) {
    const int asked = AskDirectory(login, password, account, known, directoryMatches);
    if (asked != 0 && !local) {
      // Not told apart from a wrong password by its time either.
      cHashing.acquire();
      VerifyPassword(strStandInHash, password);
      cHashing.release();
      return asked;
    }
    if (!directoryMatches && local) known = cStore.FindOperator(login, account);
  }
  // The same hash work whether the login exists or not, and for directory
  // operators too.
  cHashing.acquire();
  const bool hashMatches =
      VerifyPassword(known && !directoryMatches ? account.passwordHash : strStandInHash, password);
  cHashing.release();
  const bool matches = directoryMatches ? *directoryMatches : hashMatches;
  const int64_t now = cClock.UnixSeconds();
  if (!known) return kRcSignInFailed;
  const std::string nonceHash = nonce.empty() ? std::string() : TokenHash(nonce);
  if (!matches) {
    // A lock already in force is not extended by more attempts, and the
    // repeat of a sign-in whose answer was lost is not a second attempt.
    const bool repeat = !nonceHash.empty() && nonceHash == account.failedNonce;
    if (account.lockedUntil <= now && !repeat) {
      const int failures = account.failedSignIns + 1;
      const bool lock = failures >= cPolicy.maxFailedSignIns;
      cStore.RecordFailedSignIns(account.record.OP_ID, lock ? 0 : failures,
                                 lock ? now + cPolicy.lockoutS : 0, nonceHash);
    }
    // The one that locks it is answered as every wrong password: answered
    // otherwise, it would tell a stranger which logins exist.
    return kRcSignInFailed;
  }
  if (const int refused = Usable(account, now); refused != 0) return refused;
  cStore.RecordSignIn(account.record.OP_ID, now);
  SessionRecord session;
  out.token = nonce.empty() ? NewSessionToken() : NonceSessionToken(nonce, login);
  session.tokenHash = TokenHash(out.token);
  session.opId = account.record.OP_ID;
  session.createdAt = session.lastUsedAt = now;
  cStore.CreateSession(session);
  // A repeat finds its session made by the first attempt, on this back
  // office or another; one signed out since is not opened again.
  if (!nonce.empty()) {
    SessionRecord made;
    if (!cStore.FindSession(session.tokenHash, made) || made.ended) {
      sodium_memzero(out.token.data(), out.token.size());
      out.token.clear();
      return kRcNoSession;
    }
  }
  account.passwordHash.clear();
  account.failedSignIns = 0;
  account.lockedUntil = 0;
  out.account = std::move(account);
  return 0;
}

int Authenticator::AskDirectory(std::string_view login, std::string_view password,
                                OperatorAccount& account, bool& known,
                                std::optional<bool>& matches) {
  DirectoryEntry entry;
  const Directory::Result r = pDirectory->SignIn(login, password, entry);
  switch (r) {
    case Directory::Result::kUnreachable:
      log::Write(log::Level::kError, "directory_unreachable",
                 {{"reason", pDirectory->lastError()}});
      return kRcDirectoryUnavailable;
    case Directory::Result::kNotFound:
      // Gone from the directory (or disabled there): its row here ends too.
      if (known && !account.directoryDn.empty()) {
        account.record.set_OP_STATUS(0);
        cStore.UpdateDirectoryOperator(account);
        known = false;
      }
      return 0;
    case Directory::Result::kFound:
    case Directory::Result::kWrongPassword:
      break;
  }
  // Found: its row here, made or brought up to date, holds the failed
  // sign-ins and the sessions.
  if (known && account.directoryDn.empty()) {
    log::Write(log::Level::kError, "directory_login_is_local",
               {{"login", std::string(login.substr(0, 64))},
                {"reason", "a local operator has this login; the directory's is not used"}});
    return 0;
  }
  OperatorAccount synced = known ? account : OperatorAccount();
  synced.record.set_OP_ID(known ? account.record.OP_ID : entry.opId);
  synced.record.set_LOGIN_NAME(std::string(login));
  synced.record.set_OP_NAME(entry.name);
  synced.record.set_ORG_ID(entry.orgId);
  synced.record.set_OP_STATUS(1);
  if (!known) synced.record.set_LOCK_STATUS(0);
  synced.directoryDn = entry.dn;
  synced.rights = entry.rights;
  if (known) {
    cStore.UpdateDirectoryOperator(synced);
  } else {
    cStore.AddOperator(synced);  // throws DbError when its OP_ID is a local operator's
  }
  account = std::move(synced);
  known = true;
  matches = r == Directory::Result::kFound;
  return 0;
}

int Authenticator::RecheckDirectory() {
  if (!pDirectory) return 0;
  int ended = 0;
  for (OperatorAccount& a : cStore.ListOperators()) {
    if (a.directoryDn.empty() || a.record.OP_STATUS != 1) continue;
    DirectoryEntry entry;
    switch (pDirectory->Find(a.record.LOGIN_NAME, entry)) {
      case Directory::Result::kUnreachable:
        log::Write(log::Level::kWarn, "directory_recheck_failed",
                   {{"reason", pDirectory->lastError()}});
        return ended;  // nothing is ended for a directory that cannot answer
      case Directory::Result::kNotFound:
        a.record.set_OP_STATUS(0);
        ++ended;
        log::Write(log::Level::kInfo, "directory_operator_ended",
                   {{"login", a.record.LOGIN_NAME}, {"op_id", a.record.OP_ID}});
        break;
      case Directory::Result::kFound:
      case Directory::Result::kWrongPassword:
        a.record.set_OP_NAME(entry.name);
        a.record.set_ORG_ID(entry.orgId);
        a.rights = entry.rights;
        break;
    }
    cStore.UpdateDirectoryOperator(a);
  }
  return ended;
}

std::shared_ptr<const Authenticator::Read> Authenticator::Recall(const std::string& hash) {
  const int64_t now = cClock.SteadyMs();
  const int64_t fresh = cPolicy.recheckMs;
  if (cPolicy.recheckMs > 0) {
    std::lock_guard lock(mReads);
    const auto it = mapReads.find(hash);
    if (it != mapReads.end() && now - it->second->atMs < fresh) return it->second;
  }
  auto read = std::make_shared<Read>();
  read->atMs = now;
  if (!cStore.FindSessionAccount(hash, read->session, read->account)) {
    Forget(hash);
    return nullptr;
  }
  if (cPolicy.recheckMs > 0) {
    std::lock_guard lock(mReads);
    // Reads of sessions no longer in use go once the memory holds many.
    if (mapReads.size() >= 4096)
      std::erase_if(mapReads, [&](const auto& e) { return now - e.second->atMs >= fresh; });
    mapReads.insert_or_assign(hash, read);
  }
  return read;
}

void Authenticator::Forget(const std::string& hash) {
  std::lock_guard lock(mReads);
  mapReads.erase(hash);
}

int Authenticator::Verify(std::string_view token, std::string_view right, Caller& caller) {
  caller = Caller();
  if (token.empty()) return kRcNoSession;
  const std::string hash = TokenHash(token);
  const std::shared_ptr<const Read> read = Recall(hash);
  if (!read || read->session.ended) return kRcNoSession;
  const SessionRecord& session = read->session;
  const OperatorAccount& account = read->account;
  const int64_t now = cClock.UnixSeconds();
  if (now - session.createdAt >= cPolicy.maxAgeS ||
      now - session.lastUsedAt >= cPolicy.idleTimeoutS || Usable(account, now) != 0)
    return kRcNoSession;
  caller.opId = account.record.OP_ID;
  caller.orgId = account.record.ORG_ID;
  caller.login = account.record.LOGIN_NAME;
  // The last use is written when it moved on by a noticeable part of the
  // idle time, not on every call: most calls then only read.
  const int64_t touchEvery = std::clamp(cPolicy.idleTimeoutS / 16, 1, 60);
  if (now - session.lastUsedAt >= touchEvery) {
    cStore.TouchSession(hash, now);
    std::lock_guard lock(mReads);
    if (auto it = mapReads.find(hash); it != mapReads.end()) {
      auto touched = std::make_shared<Read>(*it->second);
      touched->session.lastUsedAt = now;
      it->second = std::move(touched);
    }
  }
  if (!right.empty() && !std::binary_search(account.rights.begin(), account.rights.end(), right))
    return kRcNoRight;
  return 0;
}

int Authenticator::SignOut(std::string_view token, Caller& caller) {
  caller = Caller();
  if (token.empty()) return kRcNoSession;
  // Any session the store knows, live or not: ending an ended one again (a
  // repeated sign-out whose answer was lost) is no error.
  const std::string hash = TokenHash(token);
  SessionRecord session;
  OperatorAccount account;
  if (!cStore.FindSessionAccount(hash, session, account)) return kRcNoSession;
  caller.opId = account.record.OP_ID;
  caller.orgId = account.record.ORG_ID;
  caller.login = account.record.LOGIN_NAME;
  if (!session.ended) cStore.EndSession(hash);
  Forget(hash);
  return 0;
}

}  // namespace backoffice
