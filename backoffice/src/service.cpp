#include "backoffice/service.h"

#include <chrono>
#include <cstdio>

#include <sodium.h>

#include "backoffice/audit_writer.h"
#include "backoffice/authenticator.h"
#include "backoffice/credentials.h"
#include "backoffice/log.h"
#include "backoffice/log_reply_streamer.h"
#include "backoffice/messages.h"
#include "backoffice/protocol.h"
#include "backoffice/service_metrics.h"
#include "backoffice/store.h"
#include "tmclient/service_handler.h"
#include "tmclient/tmb_stream.h"

namespace backoffice {
namespace {

using MMicroPaymentDef::SMpAcctStatInfo;
using MMicroPaymentDef::SMpInfoList;
using MMicroPaymentDef::SMpUserInfo;
using MMicroPaymentDef::SMpUserInfoList;

QRSErrorMsg Error(int code, const std::string& text) {
  QRSErrorMsg e;
  e.set_code(code);
  e.set_msg(text);
  return e;
}

std::string TooManyRowsText(int64_t maxRows) {
  char text[160];
  std::snprintf(text, sizeof text, messages::kTooManyRows, static_cast<long long>(maxRows));
  return text;
}

AuditEntry AuditOf(const MCustQryAccept::SQueryLogSoInfo& who, const char* serviceCode) {
  AuditEntry e;
  e.at = NowStamp();
  e.OP_ID = who.OP_ID;
  e.OP_ADDRESS = who.OP_ADDRESS.substr(0, 64);
  e.SO_ORG_ID = who.SO_ORG_ID;
  e.serviceCode = serviceCode;
  e.peer = std::string(tmclient::CurrentCall().peer.substr(0, 80));
  return e;
}

// The operator's text for a refusal of sign-in, sign-out or verification.
const char* RefusalText(int code) {
  switch (code) {
    case kRcNoSession:
      return messages::kNoSession;
    case kRcNoRight:
      return messages::kNoRight;
    case kRcSignInFailed:
      return messages::kSignInFailed;
    case kRcOperatorLocked:
      return messages::kOperatorLocked;
    case kRcOperatorInactive:
      return messages::kOperatorInactive;
    case kRcDatabase:
      return messages::kDatabase;
    case kRcBadRequest:
      return messages::kBadRequest;
    default:
      return messages::kInternal;
  }
}

// Runs one step of the authenticator; a database failure is answered as such.
template <class Step>
int AuthStep(const char* what, Step step) {
  try {
    return step();
  } catch (const DbError& e) {
    log::Write(log::Level::kError, "auth_failed", {{"step", what}, {"reason", e.what()}});
    return kRcDatabase;
  }
}

void NameCaller(AuditEntry& e, const Caller& caller) {
  e.OP_ID = caller.opId;
  e.SO_ORG_ID = caller.orgId;
  e.login = caller.login;
}

std::string JoinRights(const std::vector<std::string>& rights) {
  std::string joined;
  for (const std::string& code : rights) joined += (joined.empty() ? "" : ",") + code;
  return joined;
}

}  // namespace

// What one request at a time works with: a read connection, and the buffers
// of its last reply, kept so that the next large reply reuses their memory.
struct Service::Worker {
  explicit Worker(Store& store) : pReader(store.OpenReader()) {}
  std::unique_ptr<StoreReader> pReader;
  tmb_stream scratch;  // one part of a streamed reply
};

// Holds one worker for the length of a request. When every worker is busy
// another one is opened: the endpoints' threads bound how many requests run
// at once, and a request waiting for a slow client holds its worker.
class Service::Lease {
 public:
  explicit Lease(Service& s) : cService(s) {
    std::unique_lock lock(cService.mLock);
    if (!cService.vFree.empty()) {
      pWorker = cService.vFree.back();
      cService.vFree.pop_back();
      return;
    }
    lock.unlock();
    auto added = std::make_unique<Worker>(*cService.pStore);  // may throw DbError
    lock.lock();
    pWorker = added.get();
    cService.vWorkers.push_back(std::move(added));
  }
  ~Lease() {
    std::lock_guard lock(cService.mLock);
    cService.vFree.push_back(pWorker);
  }
  StoreReader& operator*() { return *pWorker->pReader; }
  tmb_stream& scratch() { return pWorker->scratch; }

 private:
  Service& cService;
  Worker* pWorker;
};

Service::Service(const ServiceConfig& config, AuditWriter* audit, Authenticator* auth)
    : cConfig(config),
      pAudit(audit),
      pAuth(auth),
      pStore(OpenStore(config.dbPath, config.dbRead, config.dbReadMaxLagMs)) {
  if (cConfig.connections < 1) cConfig.connections = 1;
  if (cConfig.maxRows < 1) cConfig.maxRows = 1;
  for (int i = 0; i < cConfig.connections; ++i) {
    vWorkers.push_back(std::make_unique<Worker>(*pStore));
    vFree.push_back(vWorkers.back().get());
  }
}

Service::~Service() = default;

namespace {

// The operation a request names, for the metrics and the debug log.
Operation OperationOf(std::string_view interfaceName, std::string_view serviceCode) {
  if (interfaceName == kLogInterface && serviceCode == kLogServiceCode) return Operation::kLog;
  if (interfaceName == kUserInterface && serviceCode == kUserServiceCode) return Operation::kUser;
  if (interfaceName == kAuthInterface && serviceCode == kSignInServiceCode)
    return Operation::kSignIn;
  if (interfaceName == kAuthInterface && serviceCode == kSignOutServiceCode)
    return Operation::kSignOut;
  return Operation::kUnknown;
}

}  // namespace

int Service::Handle(const std::string& interfaceName, const std::string& serviceCode,
                    std::string_view request, std::string& reply) noexcept {
  tmclient::BufferedReplyWriter writer(tmb_stream::kMaxFrameSize);
  const int result = Handle(interfaceName, serviceCode, request, reply, writer);
  writer.Take(reply);
  return result;
}

int Service::Handle(const std::string& interfaceName, const std::string& serviceCode,
                    std::string_view request, std::string& reply,
                    tmclient::ReplyWriter& writer) noexcept {
  const bool debug = log::Enabled(log::Level::kDebug);
  if (!cConfig.metrics && !debug) {
    Trace trace;
    return Dispatch(interfaceName, serviceCode, request, reply, writer, trace);
  }
  const auto start = std::chrono::steady_clock::now();
  Trace trace;
  const int result = Dispatch(interfaceName, serviceCode, request, reply, writer, trace);
  const auto took = std::chrono::steady_clock::now() - start;
  const Operation op = OperationOf(interfaceName, serviceCode);
  if (cConfig.metrics) cConfig.metrics->Record(op, result, trace.rows, took);
  if (debug) {
    log::Write(log::Level::kDebug, "request",
               {{"op", OperationName(op)},
                {"result", result},
                {"rows", trace.rows},
                {"us", static_cast<int64_t>(
                           std::chrono::duration_cast<std::chrono::microseconds>(took).count())},
                {"conditions", trace.conditions}});
  }
  return result;
}

bool Service::StoreAnswers() noexcept {
  // A connection of its own, and a query by an index that finds nothing.
  CollectRows<MMicroPaymentDef::SMpUserInfo> none;
  try {
    pStore->OpenReader()->QueryUsers("", 1, none);
    return true;
  } catch (const std::exception& e) {
    if (cConfig.metrics) cConfig.metrics->StoreError();
    log::Write(log::Level::kWarn, "store_check_failed", {{"reason", e.what()}});
    return false;
  }
}

void Service::Audit(AuditEntry&& entry, Trace& trace) {
  trace.rows = entry.rowCount;
  if (log::Enabled(log::Level::kDebug)) trace.conditions = entry.conditions;
  if (!pAudit) return;
  // A peer that sends what cannot be read gets one row per minute, with a count.
  if (entry.result == kRcBadRequest)
    pAudit->SubmitMalformed(std::move(entry));
  else
    pAudit->Submit(std::move(entry));
}

int Service::Dispatch(const std::string& interfaceName, const std::string& serviceCode,
                      std::string_view request, std::string& reply, tmclient::ReplyWriter& writer,
                      Trace& trace) noexcept {
  try {
    reply.clear();
    if (interfaceName == kAuthInterface && pAuth) {
      if (serviceCode == kSignInServiceCode) return HandleSignIn(request, reply, trace);
      if (serviceCode == kSignOutServiceCode) return HandleSignOut(request, reply, trace);
    }
    const bool log = serviceCode == kLogServiceCode && interfaceName == kLogInterface;
    const bool user = serviceCode == kUserServiceCode && interfaceName == kUserInterface;
    if ((log || user) && pAudit && !pAudit->accepting()) {
      // No query is answered that the audit cannot record. The refusals
      // are: one row per peer and minute with their count, once the audit
      // can be written again.
      AuditEntry refused =
          AuditOf(MCustQryAccept::SQueryLogSoInfo(), log ? kLogServiceCode : kUserServiceCode);
      refused.result = kRcAuditUnavailable;
      refused.conditions = "refused while the audit could not be written";
      pAudit->SubmitMerged(std::move(refused), "refused while the audit could not be written");
      const QRSErrorMsg error = Error(kRcAuditUnavailable, messages::kAuditUnavailable);
      if (log)
        EncodeLogReply(SMpInfoList(), SMpAcctStatInfo(), kRcAuditUnavailable, error, reply);
      else
        EncodeUserReply(SMpUserInfoList(), error, reply);
      return kRcAuditUnavailable;
    }
    if (log) return HandleLog(request, reply, writer, trace);
    if (user) return HandleUser(request, reply, trace);
    return kRcUnknownService;
  } catch (...) {
    // Most likely out of memory: a short error reply may still be possible.
    try {
      const QRSErrorMsg error = Error(kRcInternal, messages::kInternal);
      if (serviceCode == kLogServiceCode) {
        EncodeLogReply(SMpInfoList(), SMpAcctStatInfo(), kRcInternal, error, reply);
      } else if (serviceCode == kSignInServiceCode) {
        EncodeSignInReply(MSysmgntDef::SOperator(), MSysmgntDef::SSessionInfo(), error, reply);
      } else if (serviceCode == kSignOutServiceCode) {
        EncodeSignOutReply(error, reply);
      } else {
        EncodeUserReply(SMpUserInfoList(), error, reply);
      }
    } catch (...) {
      reply.clear();
    }
    return kRcInternal;
  }
}

int Service::HandleLog(std::string_view request, std::string& reply, tmclient::ReplyWriter& writer,
                       Trace& trace) {
  LogRequest req;
  auto fail = [&](int code, const std::string& text, AuditEntry* entry) {
    if (entry) {
      entry->result = code;
      Audit(std::move(*entry), trace);
    }
    EncodeLogReply(SMpInfoList(), SMpAcctStatInfo(), code, Error(code, text), reply);
    return code;
  };
  const bool decoded = DecodeLogRequest(request, req);
  AuditEntry entry =
      AuditOf(decoded ? req.sSoInfo : MCustQryAccept::SQueryLogSoInfo(), kLogServiceCode);
  LogConditions c = ToConditions(req.sIn);
  entry.conditions = decoded ? DescribeConditions(c) : "malformed request";
  if (const int refused = Admit(kLogServiceCode, entry); refused != 0)
    return fail(refused, RefusalText(refused), &entry);
  if (!decoded) return fail(kRcBadRequest, messages::kBadRequest, &entry);
  switch (CheckLogConditions(c)) {
    case ConditionFault::kNone:
      break;
    case ConditionFault::kNoCondition:
      return fail(kRcNoCondition, messages::kNoCondition, &entry);
    case ConditionFault::kBadPhone:
      return fail(kRcBadCondition, messages::kBadPhone, &entry);
    case ConditionFault::kBadRange:
      return fail(kRcBadCondition, messages::kBadRange, &entry);
  }
  auto outcome = LogReplyStreamer::Outcome::kNotSent;
  try {
    Lease worker(*this);
    LogReplyStreamer streamer(worker.scratch(), writer, cConfig.maxRows);
    (*worker).QueryLog(c, cConfig.maxRows + 1, streamer);
    entry.rowCount = streamer.rows();
    outcome = streamer.Finish(reply);
  } catch (const DbError& e) {
    if (cConfig.metrics) cConfig.metrics->StoreError();
    log::Write(log::Level::kError, "query_failed",
               {{"op", "query_mpSoList"}, {"reason", e.what()}});
    return fail(kRcDatabase, messages::kDatabase, &entry);
  }
  switch (outcome) {
    case LogReplyStreamer::Outcome::kSent:
      break;
    case LogReplyStreamer::Outcome::kTooManyRows:
      // A reply too large to send asks for a narrower query just as too many rows do.
      return fail(kRcTooManyRows, TooManyRowsText(cConfig.maxRows), &entry);
    case LogReplyStreamer::Outcome::kNotSent:
    case LogReplyStreamer::Outcome::kFailed:
      return fail(kRcInternal, messages::kInternal, &entry);
  }
  Audit(std::move(entry), trace);
  return 0;
}

int Service::HandleUser(std::string_view request, std::string& reply, Trace& trace) {
  UserRequest req;
  SMpUserInfoList list;
  auto fail = [&](int code, const std::string& text, AuditEntry& entry) {
    entry.result = code;
    Audit(std::move(entry), trace);
    list.clear();
    EncodeUserReply(list, Error(code, text), reply);
    return code;
  };
  const bool decoded = DecodeUserRequest(request, req);
  const std::string& phone = req.sIn.PHONE_ID;
  AuditEntry entry =
      AuditOf(decoded ? req.sSoInfo : MCustQryAccept::SQueryLogSoInfo(), kUserServiceCode);
  entry.conditions = decoded ? "PHONE_ID=" + phone.substr(0, 64) : "malformed request";
  if (const int refused = Admit(kUserServiceCode, entry); refused != 0)
    return fail(refused, RefusalText(refused), entry);
  if (!decoded) return fail(kRcBadRequest, messages::kBadRequest, entry);
  if (phone.empty()) return fail(kRcNoCondition, messages::kNoCondition, entry);
  if (phone.size() > kMaxPhoneLength) return fail(kRcBadCondition, messages::kBadPhone, entry);
  CollectRows<MMicroPaymentDef::SMpUserInfo> rows;
  int64_t n = 0;
  try {
    Lease conn(*this);
    n = (*conn).QueryUsers(phone, cConfig.maxRows + 1, rows);
  } catch (const DbError& e) {
    if (cConfig.metrics) cConfig.metrics->StoreError();
    log::Write(log::Level::kError, "query_failed", {{"op", "query_mppUser"}, {"reason", e.what()}});
    return fail(kRcDatabase, messages::kDatabase, entry);
  }
  entry.rowCount = n;
  if (n > cConfig.maxRows) return fail(kRcTooManyRows, TooManyRowsText(cConfig.maxRows), entry);
  list.resize(rows.rows().size());
  for (std::size_t i = 0; i < list.size(); ++i) rows.rows().Get(i, list[i]);
  EncodeUserReply(list, QRSErrorMsg(), reply);
  if (reply.empty()) return fail(kRcInternal, messages::kInternal, entry);
  Audit(std::move(entry), trace);
  return 0;
}

int Service::Admit(const char* serviceCode, AuditEntry& entry) {
  if (!pAuth) return 0;
  const int32_t declared = entry.OP_ID;
  Caller caller;
  const int result = AuthStep("session check", [&] {
    return pAuth->Verify(tmclient::CurrentCall().session, serviceCode, caller);
  });
  NameCaller(entry, caller);
  if (declared != caller.opId) entry.declaredOpId = declared;
  return result;
}

int Service::HandleSignIn(std::string_view request, std::string& reply, Trace& trace) {
  MSysmgntDef::SSignInIn in;
  AuditEntry entry = AuditOf(MCustQryAccept::SQueryLogSoInfo(), kSignInServiceCode);
  // The password goes no further than the hash check, and not into a core file.
  struct Wipe {
    std::string& s;
    ~Wipe() { sodium_memzero(s.data(), s.size()); }
  } wipe{in.OP_PASSWD}, wipeNonce{in.SIGNIN_NONCE};
  auto fail = [&](int code, const char* text) {
    entry.result = code;
    Audit(std::move(entry), trace);
    EncodeSignInReply(MSysmgntDef::SOperator(), MSysmgntDef::SSessionInfo(), Error(code, text),
                      reply);
    return code;
  };
  if (!DecodeSignInRequest(request, in) ||
      !(in.SIGNIN_NONCE.empty() || IsSignInNonce(in.SIGNIN_NONCE))) {
    entry.conditions = "malformed request";
    return fail(kRcBadRequest, messages::kBadRequest);
  }
  entry.OP_ADDRESS = in.OP_ADDRESS.substr(0, 64);
  entry.conditions = "LOGIN_NAME=" + in.LOGIN_NAME.substr(0, 64);
  Authenticator::SignedIn out;
  const int result = AuthStep(
      "sign-in", [&] { return pAuth->SignIn(in.LOGIN_NAME, in.OP_PASSWD, in.SIGNIN_NONCE, out); });
  if (result != 0) return fail(result, RefusalText(result));
  const MSysmgntDef::SOperator& op = out.account.record;
  NameCaller(entry, {op.OP_ID, op.ORG_ID, op.LOGIN_NAME});
  MSysmgntDef::SSessionInfo session;
  session.set_SESSION_TOKEN(out.token);
  session.set_IDLE_TIMEOUT(pAuth->policy().idleTimeoutS);
  session.set_MAX_AGE(pAuth->policy().maxAgeS);
  session.set_RIGHTS(JoinRights(out.account.rights));
  EncodeSignInReply(op, session, QRSErrorMsg(), reply);
  sodium_memzero(out.token.data(), out.token.size());
  sodium_memzero(session.SESSION_TOKEN.data(), session.SESSION_TOKEN.size());
  if (reply.empty()) return fail(kRcInternal, messages::kInternal);
  Audit(std::move(entry), trace);
  return 0;
}

int Service::HandleSignOut(std::string_view request, std::string& reply, Trace& trace) {
  AuditEntry entry = AuditOf(MCustQryAccept::SQueryLogSoInfo(), kSignOutServiceCode);
  int result = kRcBadRequest;
  if (DecodeSignOutRequest(request)) {
    Caller caller;
    result = AuthStep("sign-out",
                      [&] { return pAuth->SignOut(tmclient::CurrentCall().session, caller); });
    NameCaller(entry, caller);
  } else {
    entry.conditions = "malformed request";
  }
  EncodeSignOutReply(result == 0 ? QRSErrorMsg() : Error(result, RefusalText(result)), reply);
  entry.result = result;
  Audit(std::move(entry), trace);
  return result;
}

}  // namespace backoffice
