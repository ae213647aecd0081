#pragma once

#include <string>

#include "records/mcustqryaccept.h"
#include "records/mmicropaymentdef.h"
#include "records/msysmgntdef.h"
#include "service/busi_ordmgnt.h"
#include "service/cust_qry_accept.h"
#include "service/mp_qry_cond_list.h"
#include "tmclient/qrs_errormsg.h"

// The query window's one way to the back office. Each query runs behind a
// wait box and reports its own failure in a message box; the caller only sees
// true or false.
class CMicroPayLogQry {
 public:
  // Binds both proxies to the broker "TALMIRON". A proxy that cannot be bound
  // shows "初始化失败" once; construction goes on and its queries later fail
  // with what the broker client reports.
  CMicroPayLogQry();
  // Unbinds the bound proxies.
  ~CMicroPayLogQry();
  CMicroPayLogQry(const CMicroPayLogQry&) = delete;
  CMicroPayLogQry& operator=(const CMicroPayLogQry&) = delete;

  // Takes the operator's context (region, county, organisation, operator,
  // local address and the time now) into the service-order information sent
  // with every later request. Always true.
  bool Init(const MSysmgntDef::SOperator& op);

  // Runs the log query for `cond`. True on success with the rows in `list`;
  // false after the failure was shown (`list` then holds whatever was read).
  // `list` is emptied first. Exceptions from the boxes pass through once the
  // wait box is closed.
  bool QueryMpSoList(const MpQryCondList& cond, MMicroPaymentDef::SMpInfoList& list);
  // Runs the user query for one mobile number (not checked here), as above.
  bool QueryMppUser(const std::string& phoneId, MMicroPaymentDef::SMpUserInfoList& list);
  // Records in the back office's audit a list about to leave: `list` its
  // name, `conditions` the query's (GBK), its rows, its format and whether it
  // is printed (else saved). False after the failure box "导出列表失败"
  // (a refused right, an audit that cannot be written): nothing may leave.
  bool RecordListExport(const std::string& list, const std::string& conditions, int64_t rows,
                        const std::string& format, bool printed);

 private:
  void ShowFailure(const char* what) const;

  MCustQryAccept::IBusiOrdmgnt cBusiOrdmgnt;
  MCustQryAccept::SQueryLogSoInfo sSoInfo;       // filled by Init, sent with every call
  MCustQryAccept::SQuerySoInfoListIn sSoListIn;  // the log query's request
  MCustQryAccept::ICustQryAccept cCustQryAccept;
  QRSErrorMsg cErrorMsg;  // the error record of the latest call
};
