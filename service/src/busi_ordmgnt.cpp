#include "service/busi_ordmgnt.h"

#include "remote_call.h"

namespace MCustQryAccept {

IBusiOrdmgnt::~IBusiOrdmgnt() = default;

int IBusiOrdmgnt::query_mpSoList(const SQuerySoInfoListIn& sIn, const SQueryLogSoInfo& sSoInfo,
                                 MMicroPaymentDef::SMpInfoList& listSoInfo,
                                 MMicroPaymentDef::SMpAcctStatInfo& sMpAcctStatInfo,
                                 int& iReturnInfo, QRSErrorMsg& cErrorMsg, STMSession* session) {
  return service_detail::CallOperation<operations::Id::kLog>(
      *this, session, std::tie(sIn, sSoInfo),
      std::tie(listSoInfo, sMpAcctStatInfo, iReturnInfo, cErrorMsg), cErrorMsg);
}

int IBusiOrdmgnt::record_listExport(const SListExportIn& sIn, const SQueryLogSoInfo& sSoInfo,
                                    int& iReturnInfo, QRSErrorMsg& cErrorMsg, STMSession* session) {
  return service_detail::CallOperation<operations::Id::kExport>(
      *this, session, std::tie(sIn, sSoInfo), std::tie(iReturnInfo, cErrorMsg), cErrorMsg);
}

int IBusiOrdmgnt::reserved() {
  return -9979;
}

}  // namespace MCustQryAccept
