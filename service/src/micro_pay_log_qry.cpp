#include "service/micro_pay_log_qry.h"

#include <string>

#include "guicommon/guicommon.h"
#include "guicommon/wait_box_guard.h"

namespace {

constexpr const char kBrokerName[] = "TALMIRON";
constexpr int kErrorIcon = 16;

void BindOnce(CTmdClientObject& proxy) {
  if (!proxy.is_bound() && proxy.bind_openBroker(kBrokerName) != 0)
    ShowGUIMessage("初始化失败", "提示", kErrorIcon);
}

}  // namespace

CMicroPayLogQry::CMicroPayLogQry() {
  BindOnce(cBusiOrdmgnt);
  BindOnce(cCustQryAccept);
}

CMicroPayLogQry::~CMicroPayLogQry() {
  if (cBusiOrdmgnt.is_bound()) cBusiOrdmgnt.unbind();
  if (cCustQryAccept.is_bound()) cCustQryAccept.unbind();
}

bool CMicroPayLogQry::Init(const MSysmgntDef::SOperator& op) {
  sSoInfo.set_SO_NBR(0);
  sSoInfo.set_SO_MODE(0);
  sSoInfo.set_SO_REGION_CODE(static_cast<short>(op.get_REGION_CODE()));
  sSoInfo.set_SO_COUNTY_CODE(static_cast<short>(op.get_COUNTY_CODE()));
  sSoInfo.set_SO_ORG_ID(op.get_ORG_ID());
  sSoInfo.set_AGENT_ID(0);
  sSoInfo.set_OP_ID(op.get_OP_ID());
  sSoInfo.set_OP_ADDRESS(GetLocalIP());
  // Never null, even in a leap second: the clock's "60" reads as 59.
  sSoInfo.set_SO_DATE(QRSDateTime::currentDateTime());
  sSoInfo.set_REMARK("");
  return true;
}

bool CMicroPayLogQry::QueryMpSoList(const MpQryCondList& cond,
                                    MMicroPaymentDef::SMpInfoList& list) {
  sSoListIn.set_SO_NBR(cond.SO_NBR);
  sSoListIn.set_PHONE_ID(cond.PHONE_ID);
  sSoListIn.set_BUSI_CODE(cond.BUSI_CODE);
  sSoListIn.set_BEGIN_SO_DATE(cond.BEGIN_SO_DATE);
  sSoListIn.set_END_SO_DATE(cond.END_SO_DATE);

  CWaitBoxGuard waitBox("正在查询小额支付日志，请稍后...");
  list.clear();
  MMicroPaymentDef::SMpAcctStatInfo stat;
  int ret = 0;
  if (cBusiOrdmgnt.query_mpSoList(sSoListIn, sSoInfo, list, stat, ret, cErrorMsg, nullptr) != 0) {
    ShowFailure("查询小额支付日志失败");
    return false;
  }
  return true;
}

bool CMicroPayLogQry::RecordListExport(const std::string& list, const std::string& conditions,
                                       int64_t rows, const std::string& format, bool printed) {
  CWaitBoxGuard waitBox("正在记录导出，请稍后...");
  MCustQryAccept::SListExportIn in;
  in.set_LIST_NAME(list);
  if (!conditions.empty()) in.set_CONDITIONS(conditions);
  in.set_ROW_COUNT(rows);
  in.set_FORMAT(format);
  in.set_OUTPUT(printed ? "printed" : "saved");
  int ret = 0;
  if (cBusiOrdmgnt.record_listExport(in, sSoInfo, ret, cErrorMsg, nullptr) != 0) {
    ShowFailure("导出列表失败");
    return false;
  }
  return true;
}

bool CMicroPayLogQry::QueryMppUser(const std::string& phoneId,
                                   MMicroPaymentDef::SMpUserInfoList& list) {
  CWaitBoxGuard waitBox("正在查询小额支付用户信息，请稍后...");
  list.clear();
  MCustQryAccept::SFetchInfoIn in;
  in.set_PHONE_ID(phoneId);
  in.set_QUERY_TYPE(1);
  if (cCustQryAccept.query_mppUser(in, sSoInfo, list, cErrorMsg, nullptr) != 0) {
    ShowFailure("查询小额支付用户信息失败");
    return false;
  }
  return true;
}

void CMicroPayLogQry::ShowFailure(const char* what) const {
  const std::string text = std::string(what) + "\n" + cErrorMsg.get_msg();
  ShowGUIMessage(text.c_str(), "提示", kErrorIcon);
}
