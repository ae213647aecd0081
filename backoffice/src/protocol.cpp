#include "backoffice/protocol.h"

#include "backoffice/stamp.h"

namespace backoffice {

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
  EncodeReply(kLogReplyStream, out, list, stat, iReturnInfo, cErrorMsg);
}

}  // namespace backoffice
