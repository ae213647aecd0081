#include "backoffice/protocol.h"

#include <cstdint>

#include "backoffice/stamp.h"
#include "tmclient/tmb_stream.h"

namespace backoffice {
namespace {

// The stream named `streamName` holding `records` in order, and nothing after it.
template <class... Records>
bool DecodeRequest(std::string_view bytes, const char* streamName, Records&... records) {
  if (bytes.size() > kMaxRequestBytes) return false;
  tmb_stream in;
  in.load(bytes);
  if (in.failed() || !in.begin_stream(streamName)) return false;
  const bool read = ((in >> records, !in.failed()) && ...);
  return read && in.end_stream() && !in.failed();
}

void TakeBytes(tmb_stream& s, std::string& out) {
  if (!s.end_stream()) {
    out.clear();
    return;
  }
  out = s.bytes();
}

}  // namespace

bool DecodeLogRequest(std::string_view bytes, LogRequest& r) {
  return DecodeRequest(bytes, kLogRequestStream, r.sIn, r.sSoInfo);
}

bool DecodeUserRequest(std::string_view bytes, UserRequest& r) {
  return DecodeRequest(bytes, kUserRequestStream, r.sIn, r.sSoInfo);
}

bool DecodeSignInRequest(std::string_view bytes, MSysmgntDef::SSignInIn& request) {
  return DecodeRequest(bytes, kSignInRequestStream, request);
}

bool DecodeSignOutRequest(std::string_view bytes) {
  return DecodeRequest(bytes, kSignOutRequestStream);
}

LogConditions ToConditions(const MCustQryAccept::SQuerySoInfoListIn& sIn) {
  LogConditions c;
  c.SO_NBR = sIn.SO_NBR;
  c.BUSI_CODE = sIn.BUSI_CODE;
  c.PHONE_ID = sIn.PHONE_ID;
  c.BEGIN_SO_DATE = ToStamp(sIn.BEGIN_SO_DATE);
  c.END_SO_DATE = ToStamp(sIn.END_SO_DATE);
  return c;
}

void EncodeLogReply(const MMicroPaymentDef::SMpInfoList& list,
                    const MMicroPaymentDef::SMpAcctStatInfo& stat, int iReturnInfo,
                    const QRSErrorMsg& cErrorMsg, std::string& out) {
  tmb_stream s;
  s.open();
  s.begin_stream(kLogReplyStream);
  s << list << stat;
  s << iReturnInfo;
  s << cErrorMsg;
  TakeBytes(s, out);
}

void EncodeUserReply(const MMicroPaymentDef::SMpUserInfoList& list, const QRSErrorMsg& cErrorMsg,
                     std::string& out) {
  tmb_stream s;
  s.open();
  s.begin_stream(kUserReplyStream);
  s << list;
  s << cErrorMsg;
  TakeBytes(s, out);
}

void EncodeSignInReply(const MSysmgntDef::SOperator& op, const MSysmgntDef::SSessionInfo& session,
                       const QRSErrorMsg& cErrorMsg, std::string& out) {
  tmb_stream s;
  s.open();
  s.begin_stream(kSignInReplyStream);
  s << op << session;
  s << cErrorMsg;
  TakeBytes(s, out);
}

void EncodeSignOutReply(const QRSErrorMsg& cErrorMsg, std::string& out) {
  tmb_stream s;
  s.open();
  s.begin_stream(kSignOutReplyStream);
  s << cErrorMsg;
  TakeBytes(s, out);
}

}  // namespace backoffice
