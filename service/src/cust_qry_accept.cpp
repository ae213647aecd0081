#include "service/cust_qry_accept.h"

#include "remote_call.h"

namespace MCustQryAccept {

namespace {

constexpr service_detail::RemoteOperation kQueryMppUser = {
    "custqryaccept.MCustQryAccept.ICustQryAccept.query_mppUser",
    "MCustQryAccept::ICustQryAccept::query_mppUser", "MCustQryAccept_ICustQryAccept", "BACUQQMP"};

}  // namespace

ICustQryAccept::~ICustQryAccept() = default;

int ICustQryAccept::query_mppUser(const SFetchInfoIn& sIn, const SQueryLogSoInfo& sSoInfo,
                                  MMicroPaymentDef::SMpUserInfoList& listOut,
                                  QRSErrorMsg& cErrorMsg, STMSession* session) {
  using service_detail::Read;
  using service_detail::Write;
  return service_detail::CallRemote(
      *this, kQueryMppUser, session, {Write("sIn", sIn), Write("sSoInfo", sSoInfo)},
      {Read("listOut", listOut), Read("cErrorMsg", cErrorMsg)}, cErrorMsg);
}

int ICustQryAccept::reserved() {
  return -9979;
}

}  // namespace MCustQryAccept
