#pragma once

#include "records/mcustqryaccept.h"
#include "records/mmicropaymentdef.h"
#include "tmclient/qrs_errormsg.h"
#include "tmclient/tmd_client_object.h"

namespace MCustQryAccept {

// Client proxy of the back office's customer query interface
// (operation kUser of the catalogue, records/operations.h).
class ICustQryAccept : public CTmdClientObject {
 public:
  ~ICustQryAccept() override;

  // The micro-payment user records for the number in `sIn`.
  //
  // Results as IBusiOrdmgnt::query_mpSoList: 0, the server's result, a
  // library code with nothing read, or this proxy's own code with `cErrorMsg`
  // filled. `listOut` is appended to and keeps what was read before a
  // failure. Never throws.
  int query_mppUser(const SFetchInfoIn& sIn, const SQueryLogSoInfo& sSoInfo,
                    MMicroPaymentDef::SMpUserInfoList& listOut, QRSErrorMsg& cErrorMsg,
                    STMSession* session);

  // Unused slot of the client object; always -9979.
  int reserved() override;
};

}  // namespace MCustQryAccept
