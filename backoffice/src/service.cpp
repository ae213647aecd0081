#include "backoffice/service.h"

#include <chrono>
#include <cstdio>
#include <tuple>
#include <type_traits>

#include <sodium.h>

#include "backoffice/authenticator.h"
#include "backoffice/credentials.h"
#include "backoffice/log.h"
#include "backoffice/messages.h"
#include "backoffice/protocol.h"
#include "backoffice/service_metrics.h"
#include "backoffice/stamp.h"
#include "backoffice/store.h"
#include "service_handlers.h"
#include "tmclient/tmb_stream.h"

namespace backoffice {
namespace {

using operations::Access;
using operations::Id;

QRSErrorMsg Error(int code, const std::string& text) {
  QRSErrorMsg e;
  e.set_code(code);
  e.set_msg(text);
  return e;
}

// What a request says of its caller, for the audit: the operator's own
// record of who asks, or the address a sign-in declares. Other inputs say
// nothing of it.
void Declare(AuditEntry& e, const MCustQryAccept::SQueryLogSoInfo& who) {
  e.OP_ID = who.OP_ID;
  e.OP_ADDRESS = who.OP_ADDRESS.substr(0, 64);
  e.SO_ORG_ID = who.SO_ORG_ID;
}
void Declare(AuditEntry& e, const MSysmgntDef::SSignInIn& in) {
  e.OP_ADDRESS = in.OP_ADDRESS.substr(0, 64);
}
template <class T>
void Declare(AuditEntry&, const T&) {}

// What decoding alone does not check of a request's record: a sign-in's
// nonce, when it has one, is of the form the client makes.
bool WellFormed(const MSysmgntDef::SSignInIn& in) {
  return in.SIGNIN_NONCE.empty() || IsSignInNonce(in.SIGNIN_NONCE);
}
template <class T>
bool WellFormed(const T&) {
  return true;
}

// Secrets go no further than their use, and not into a core file.
void Scrub(std::string& s) {
  sodium_memzero(s.data(), s.size());
}
void Scrub(MSysmgntDef::SSignInIn& in) {
  Scrub(in.OP_PASSWD);
  Scrub(in.SIGNIN_NONCE);
}
void Scrub(MSysmgntDef::SSessionInfo& session) {
  Scrub(session.SESSION_TOKEN);
}
template <class T>
void Scrub(T&) {}

template <class Tuple>
struct ScrubOnExit {
  Tuple& items;
  ~ScrubOnExit() {
    std::apply([](auto&... item) { (Scrub(item), ...); }, items);
  }
};

// One audited field as text, and whether it holds a value.
bool Given(int64_t v) {
  return v != 0;
}
bool Given(const std::string& v) {
  return !v.empty();
}
bool Given(const QRSDateTime& v) {
  return ToStamp(v) != 0;
}
std::string Text(int64_t v) {
  return std::to_string(v);
}
std::string Text(const std::string& v) {
  return v.substr(0, 64);
}
std::string Text(const QRSDateTime& v) {
  return std::to_string(ToStamp(v));
}

// The audit's conditions of a decoded request: its audited fields, as the
// catalogue lists them.
template <Id kId>
std::string AuditedConditions(const operations::Inputs<kId>& in) {
  constexpr auto& audited = operations::Signature<kId>::kAudited;
  std::string text;
  if constexpr (!audited.empty()) {
    const auto& record = std::get<0>(in);
    using Record = std::remove_cvref_t<decltype(record)>;
    for (const operations::Audited& a : audited) {
      Record::ForEachField(record, [&](int k, const auto& value) {
        if (std::string_view(Record::kFieldNames[k]) != a.field) return true;
        if (a.when == operations::When::kIfGiven && !Given(value)) return false;
        if (!text.empty()) text += ' ';
        text += a.label;
        text += '=';
        text += Text(value);
        return false;
      });
    }
  }
  return text;
}

// The reply of a failed operation: every item empty but the result and the
// error record.
template <Id kId>
void EncodeFailure(int code, const std::string& text, std::string& reply) {
  operations::Outputs<kId> out;
  std::apply(
      [&](auto&... item) {
        auto fill = [&](auto& x) {
          if constexpr (std::is_same_v<std::remove_cvref_t<decltype(x)>, int>) x = code;
          if constexpr (std::is_same_v<std::remove_cvref_t<decltype(x)>, QRSErrorMsg>)
            x = Error(code, text);
        };
        (fill(item), ...);
        EncodeReply(operations::Of(kId).replyStream, reply, item...);
      },
      out);
}

}  // namespace

void NameCaller(AuditEntry& e, const Caller& caller) {
  e.OP_ID = caller.opId;
  e.SO_ORG_ID = caller.orgId;
  e.login = caller.login;
}

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

int Service::Handle(const tmclient::CallContext& call, const std::string& interfaceName,
                    const std::string& serviceCode, std::string_view request,
                    std::string& reply) noexcept {
  tmclient::BufferedReplyWriter writer(tmb_stream::kMaxFrameSize);
  const int result = Handle(call, interfaceName, serviceCode, request, reply, writer);
  writer.Take(reply);
  return result;
}

int Service::Handle(const tmclient::CallContext& call, const std::string& interfaceName,
                    const std::string& serviceCode, std::string_view request, std::string& reply,
                    tmclient::ReplyWriter& writer) noexcept {
  const operations::Descriptor* op = operations::Find(interfaceName, serviceCode);
  const Id id = op != nullptr ? op->id : Id::kUnknown;
  // Sign-in and sign-out are served only with sign-in required.
  if (op != nullptr && op->access != Access::kRight && !pAuth) op = nullptr;
  const bool debug = log::Enabled(log::Level::kDebug);
  RequestContext context{op, call.session, call.peer, debug, {}, 0, {}};
  if (!cConfig.metrics && !debug) return Dispatch(context, request, reply, writer);
  const auto start = std::chrono::steady_clock::now();
  const int result = Dispatch(context, request, reply, writer);
  const auto took = std::chrono::steady_clock::now() - start;
  if (cConfig.metrics) cConfig.metrics->Record(id, result, context.rows, took);
  if (debug) {
    log::Write(log::Level::kDebug, "request",
               {{"op", operations::Label(id)},
                {"result", result},
                {"rows", context.rows},
                {"us", static_cast<int64_t>(
                           std::chrono::duration_cast<std::chrono::microseconds>(took).count())},
                {"conditions", context.conditions}});
  }
  return result;
}

int Service::Dispatch(RequestContext& context, std::string_view request, std::string& reply,
                      tmclient::ReplyWriter& writer) noexcept {
#define MPAY_SERVE_(ID, ...) \
  case Id::ID:               \
    return Serve<Id::ID>(context, request, reply, writer);
  try {
    reply.clear();
    if (context.op == nullptr) return kRcUnknownService;
    switch (context.op->id) {
      MPAY_OPERATIONS(MPAY_SERVE_)
      case Id::kUnknown:
        break;
    }
    return kRcUnknownService;
  } catch (...) {
    // Most likely out of memory: a short error reply may still be possible.
    try {
      switch (context.op->id) {
#undef MPAY_SERVE_
#define MPAY_SERVE_(ID, ...)                                        \
  case Id::ID:                                                      \
    EncodeFailure<Id::ID>(kRcInternal, messages::kInternal, reply); \
    break;
        MPAY_OPERATIONS(MPAY_SERVE_)
#undef MPAY_SERVE_
        case Id::kUnknown:
          break;
      }
    } catch (...) {
      reply.clear();
    }
    return kRcInternal;
  }
}

template <Id kId>
int Service::Serve(RequestContext& context, std::string_view request, std::string& reply,
                   tmclient::ReplyWriter& writer) {
  constexpr const operations::Descriptor& op = operations::Of(kId);
  auto fail = [&](const Status& status) {
    EncodeFailure<kId>(status.code(), status.text(), reply);
    Audit(context, status.code());
    return status.code();
  };
  // No query is answered that the audit cannot record.
  if (op.access == Access::kRight && pAudit && !pAudit->accepting()) {
    // The refusals are: one row per peer, operation and minute with their
    // count, written once the audit can be written again.
    AuditEntry refused;
    refused.at = NowStamp();
    refused.serviceCode = op.serviceCode;
    refused.peer = std::string(context.peer.substr(0, 80));
    refused.result = kRcAuditUnavailable;
    refused.conditions = "refused while the audit could not be written";
    pAudit->SubmitMerged(std::move(refused), "refused while the audit could not be written");
    EncodeFailure<kId>(kRcAuditUnavailable, messages::kAuditUnavailable, reply);
    return kRcAuditUnavailable;
  }
  operations::Inputs<kId> in;
  ScrubOnExit<decltype(in)> scrubIn{in};
  const bool decoded = std::apply(
      [&](auto&... record) {
        return DecodeRequest(request, op.requestStream, record...) && (WellFormed(record) && ...);
      },
      in);
  AuditEntry& entry = context.audit;
  entry.at = NowStamp(cConfig.clock ? *cConfig.clock : SystemClock());
  entry.serviceCode = op.serviceCode;
  entry.peer = std::string(context.peer.substr(0, 80));
  if (decoded) {
    std::apply([&](const auto&... record) { (Declare(entry, record), ...); }, in);
    entry.conditions = AuditedConditions<kId>(in);
  } else {
    entry.conditions = "malformed request";
  }
  // A query is refused to a caller without the right before anything is
  // said of its request.
  if (op.access == Access::kRight)
    if (Status admitted = Admit(context, op.right); !admitted.ok()) return fail(admitted);
  if (!decoded) return fail({kRcBadRequest, messages::kBadRequest});

  operations::Outputs<kId> out;
  ScrubOnExit<decltype(out)> scrubOut{out};
  bool replied = false;
  if (Status done = Run<kId>(context, in, out, reply, writer, replied); !done.ok())
    return fail(done);
  if (!replied) {
    std::apply([&](const auto&... item) { EncodeReply(op.replyStream, reply, item...); }, out);
    if (reply.empty()) return fail({kRcInternal, messages::kInternal});
  }
  Audit(context, 0);
  return 0;
}

Status Service::Admit(RequestContext& context, const char* right) {
  if (!pAuth) return {};
  AuditEntry& entry = context.audit;
  const int32_t declared = entry.OP_ID;
  Caller caller;
  const int result =
      AuthStep("session check", [&] { return pAuth->Verify(context.session, right, caller); });
  NameCaller(entry, caller);
  if (declared != caller.opId) entry.declaredOpId = declared;
  return result == 0 ? Status() : AuthFailure(result);
}

void Service::Audit(RequestContext& context, int result) {
  AuditEntry& entry = context.audit;
  entry.result = result;
  context.rows = entry.rowCount;
  if (context.debug) context.conditions = entry.conditions;
  if (!pAudit) return;
  // A peer that sends what cannot be read, or calls with no session or an
  // unknown one, gets one row per minute, with a count: what anyone who
  // reaches the port can send cannot grow the audit without bound.
  if (result == kRcBadRequest)
    pAudit->SubmitMalformed(std::move(entry));
  else if (result == kRcNoSession && entry.login.empty())
    pAudit->SubmitMerged(std::move(entry), "no session");
  else
    pAudit->Submit(std::move(entry));
}

Status Service::AuthFailure(int code) {
  switch (code) {
    case kRcNoSession:
      return {code, messages::kNoSession};
    case kRcNoRight:
      return {code, messages::kNoRight};
    case kRcSignInFailed:
      return {code, messages::kSignInFailed};
    case kRcOperatorLocked:
      return {code, messages::kOperatorLocked};
    case kRcOperatorInactive:
      return {code, messages::kOperatorInactive};
    case kRcDirectoryUnavailable:
      return {code, messages::kDirectoryUnavailable};
    case kRcDatabase:
      return {code, messages::kDatabase};
    case kRcBadRequest:
      return {code, messages::kBadRequest};
    default:
      return {code, messages::kInternal};
  }
}

Status Service::DatabaseFailure(const RequestContext& context, const std::exception& e) {
  if (cConfig.metrics) cConfig.metrics->StoreError();
  log::Write(log::Level::kError, "query_failed", {{"op", context.op->label}, {"reason", e.what()}});
  return {kRcDatabase, messages::kDatabase};
}

}  // namespace backoffice
