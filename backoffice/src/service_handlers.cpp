// One handler per operation of the catalogue. The pipeline (service.cpp) has
// decoded the request, admitted the caller and started the audit entry; a
// handler checks what only it knows, runs the operation and fills the reply's
// items (or streams the reply), and returns the refusal when there is one.

#include <cstdio>

#include <sodium.h>

#include "backoffice/log_reply_streamer.h"
#include "backoffice/messages.h"
#include "backoffice/protocol.h"
#include "service_handlers.h"

namespace backoffice {
namespace {

using operations::Id;

Status TooManyRows(int64_t maxRows) {
  char text[160];
  std::snprintf(text, sizeof text, messages::kTooManyRows, static_cast<long long>(maxRows));
  return {kRcTooManyRows, text};
}

std::string JoinRights(const std::vector<std::string>& rights) {
  std::string joined;
  for (const std::string& code : rights) joined += (joined.empty() ? "" : ",") + code;
  return joined;
}

}  // namespace

// The log query: streamed as the rows come.
template <>
Status Service::Run<Id::kLog>(RequestContext& context, operations::Inputs<Id::kLog>& in,
                              operations::Outputs<Id::kLog>&, std::string& reply,
                              tmclient::ReplyWriter& writer, bool& replied) {
  const LogConditions c = ToConditions(std::get<0>(in));
  switch (CheckLogConditions(c)) {
    case ConditionFault::kNone:
      break;
    case ConditionFault::kNoCondition:
      return {kRcNoCondition, messages::kNoCondition};
    case ConditionFault::kBadPhone:
      return {kRcBadCondition, messages::kBadPhone};
    case ConditionFault::kBadRange:
      return {kRcBadCondition, messages::kBadRange};
  }
  auto outcome = LogReplyStreamer::Outcome::kNotSent;
  try {
    Lease worker(*this);
    LogReplyStreamer streamer(worker.scratch(), writer, cConfig.maxRows);
    (*worker).QueryLog(c, cConfig.maxRows + 1, streamer);
    context.audit.rowCount = streamer.rows();
    outcome = streamer.Finish(reply);
  } catch (const DbError& e) {
    return DatabaseFailure(context, e);
  }
  switch (outcome) {
    case LogReplyStreamer::Outcome::kSent:
      replied = true;
      return {};
    case LogReplyStreamer::Outcome::kTooManyRows:
      // A reply too large to send asks for a narrower query just as too many rows do.
      return TooManyRows(cConfig.maxRows);
    case LogReplyStreamer::Outcome::kNotSent:
    case LogReplyStreamer::Outcome::kFailed:
      break;
  }
  return {kRcInternal, messages::kInternal};
}

// The user query: one phone number's users, the reply whole.
template <>
Status Service::Run<Id::kUser>(RequestContext& context, operations::Inputs<Id::kUser>& in,
                               operations::Outputs<Id::kUser>& out, std::string&,
                               tmclient::ReplyWriter&, bool&) {
  const std::string& phone = std::get<0>(in).PHONE_ID;
  if (phone.empty()) return {kRcNoCondition, messages::kNoCondition};
  if (phone.size() > kMaxPhoneLength) return {kRcBadCondition, messages::kBadPhone};
  CollectRows<MMicroPaymentDef::SMpUserInfo> rows;
  int64_t n = 0;
  try {
    Lease conn(*this);
    n = (*conn).QueryUsers(phone, cConfig.maxRows + 1, rows);
  } catch (const DbError& e) {
    return DatabaseFailure(context, e);
  }
  context.audit.rowCount = n;
  if (n > cConfig.maxRows) return TooManyRows(cConfig.maxRows);
  MMicroPaymentDef::SMpUserInfoList& list = std::get<0>(out);
  list.resize(rows.rows().size());
  for (std::size_t i = 0; i < list.size(); ++i) rows.rows().Get(i, list[i]);
  return {};
}

// A list about to be saved or printed: nothing to run, the pipeline's audit
// row is the point (written before the reply leaves). A record that does not
// say what leaves is refused, and then nothing may be written.
template <>
Status Service::Run<Id::kExport>(RequestContext& context, operations::Inputs<Id::kExport>& in,
                                 operations::Outputs<Id::kExport>&, std::string&,
                                 tmclient::ReplyWriter&, bool&) {
  const MCustQryAccept::SListExportIn& record = std::get<0>(in);
  const bool output = record.OUTPUT == "saved" || record.OUTPUT == "printed";
  if (record.LIST_NAME.empty() || record.FORMAT.empty() || !output || record.ROW_COUNT < 0)
    return {kRcBadCondition, messages::kBadExport};
  context.audit.rowCount = record.ROW_COUNT;
  return {};
}

// Sign-in: the operator (never its password) and a new session.
template <>
Status Service::Run<Id::kSignIn>(RequestContext& context, operations::Inputs<Id::kSignIn>& in,
                                 operations::Outputs<Id::kSignIn>& out, std::string&,
                                 tmclient::ReplyWriter&, bool&) {
  const MSysmgntDef::SSignInIn& request = std::get<0>(in);
  Authenticator::SignedIn signedIn;
  struct Wipe {
    std::string& s;
    ~Wipe() { sodium_memzero(s.data(), s.size()); }
  } wipe{signedIn.token};
  const int result = AuthStep("sign-in", [&] {
    return pAuth->SignIn(request.LOGIN_NAME, request.OP_PASSWD, request.SIGNIN_NONCE, signedIn);
  });
  if (result != 0) return AuthFailure(result);
  MSysmgntDef::SOperator& op = std::get<0>(out);
  op = signedIn.account.record;
  NameCaller(context.audit, {op.OP_ID, op.ORG_ID, op.LOGIN_NAME});
  MSysmgntDef::SSessionInfo& session = std::get<1>(out);
  session.set_SESSION_TOKEN(signedIn.token);
  session.set_IDLE_TIMEOUT(pAuth->policy().idleTimeoutS);
  session.set_MAX_AGE(pAuth->policy().maxAgeS);
  session.set_RIGHTS(JoinRights(signedIn.account.rights));
  return {};
}

// Sign-out: ends the session the call carries.
template <>
Status Service::Run<Id::kSignOut>(RequestContext& context, operations::Inputs<Id::kSignOut>&,
                                  operations::Outputs<Id::kSignOut>&, std::string&,
                                  tmclient::ReplyWriter&, bool&) {
  Caller caller;
  const int result = AuthStep("sign-out", [&] { return pAuth->SignOut(context.session, caller); });
  NameCaller(context.audit, caller);
  return result == 0 ? Status() : AuthFailure(result);
}

}  // namespace backoffice
