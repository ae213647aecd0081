#include "service/cust_qry_accept.h"

#include "remote_call.h"

namespace MCustQryAccept {

ICustQryAccept::~ICustQryAccept() = default;

int ICustQryAccept::query_mppUser(const SFetchInfoIn& sIn, const SQueryLogSoInfo& sSoInfo,
                                  MMicroPaymentDef::SMpUserInfoList& listOut,
                                  QRSErrorMsg& cErrorMsg, STMSession* session) {
  return service_detail::CallOperation<operations::Id::kUser>(
      *this, session, std::tie(sIn, sSoInfo), std::tie(listOut, cErrorMsg), cErrorMsg);
}

int ICustQryAccept::reserved() {
  return -9979;
}

}  // namespace MCustQryAccept
