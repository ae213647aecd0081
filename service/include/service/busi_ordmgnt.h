#pragma once

#include "records/mcustqryaccept.h"
#include "records/mmicropaymentdef.h"
#include "tmclient/qrs_errormsg.h"
#include "tmclient/tmd_client_object.h"

namespace MCustQryAccept {

// Client proxy of the back office's order management interface
// (operation kLog of the catalogue, records/operations.h).
class IBusiOrdmgnt : public CTmdClientObject {
 public:
  ~IBusiOrdmgnt() override;

  // The micro-payment service-order log for the conditions in `sIn`.
  //
  // Returns 0 on success; the server's own result when it answered with a
  // failure (`cErrorMsg` then holds the server's record); a library code of
  // call_server (-9999 .. -9971, nothing read, outputs untouched); or one of
  // this proxy's codes: -9990/-9989 request stream, -9996 writing an input,
  // -9988/-9987 reply stream, -9995 reading an output, -9985 an exception.
  // Every failure fills `cErrorMsg`. The outputs keep what was read before a
  // failure; `listSoInfo` is appended to, not emptied. Never throws.
  int query_mpSoList(const SQuerySoInfoListIn& sIn, const SQueryLogSoInfo& sSoInfo,
                     MMicroPaymentDef::SMpInfoList& listSoInfo,
                     MMicroPaymentDef::SMpAcctStatInfo& sMpAcctStatInfo, int& iReturnInfo,
                     QRSErrorMsg& cErrorMsg, STMSession* session);

  // Records a list about to be saved or printed (the audit takes it before
  // the reply leaves). Results and failures as query_mpSoList; 0 means the
  // list may leave.
  int record_listExport(const SListExportIn& sIn, const SQueryLogSoInfo& sSoInfo, int& iReturnInfo,
                        QRSErrorMsg& cErrorMsg, STMSession* session);

  // Unused slot of the client object; always -9979.
  int reserved() override;
};

}  // namespace MCustQryAccept
