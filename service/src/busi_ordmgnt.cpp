#include "service/busi_ordmgnt.h"

#include "remote_call.h"

namespace MCustQryAccept {

namespace {

constexpr service_detail::RemoteOperation kQueryMpSoList = {
    "busiordmgnt.MCustQryAccept.IBusiOrdmgnt.query_mpSoList",
    "MCustQryAccept::IBusiOrdmgnt::query_mpSoList", "MCustQryAccept_IBusiOrdmgnt", "BABOMOMP"};

}  // namespace

IBusiOrdmgnt::~IBusiOrdmgnt() = default;

int IBusiOrdmgnt::query_mpSoList(const SQuerySoInfoListIn& sIn, const SQueryLogSoInfo& sSoInfo,
                                 MMicroPaymentDef::SMpInfoList& listSoInfo,
                                 MMicroPaymentDef::SMpAcctStatInfo& sMpAcctStatInfo,
                                 int& iReturnInfo, QRSErrorMsg& cErrorMsg, STMSession* session) {
  using service_detail::Read;
  using service_detail::ReadAhead;
  using service_detail::Write;
  return service_detail::CallRemote(
      *this, kQueryMpSoList, session, {Write("sIn", sIn), Write("sSoInfo", sSoInfo)},
      {ReadAhead<MMicroPaymentDef::kSMpInfoListName>("listSoInfo", listSoInfo),
       Read("sMpAcctStatInfo", sMpAcctStatInfo), Read("iReturnInfo", iReturnInfo),
       Read("cErrorMsg", cErrorMsg)},
      cErrorMsg);
}

int IBusiOrdmgnt::reserved() {
  return -9979;
}

}  // namespace MCustQryAccept
