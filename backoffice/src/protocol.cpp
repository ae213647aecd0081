#include "backoffice/protocol.h"

#include <cstdint>

#include "backoffice/stamp.h"
#include "tmclient/tmb_stream.h"

namespace backoffice {
namespace {

template <class First, class Second>
bool DecodeRequest(std::string_view bytes, const char* streamName, First& first, Second& second) {
  if (bytes.size() > kMaxRequestBytes) return false;
  tmb_stream in;
  in.load(bytes);
  if (in.failed() || !in.begin_stream(streamName)) return false;
  in >> first;
  if (in.failed()) return false;
  in >> second;
  if (in.failed()) return false;
  return in.end_stream() && !in.failed();
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

}  // namespace backoffice
