#pragma once

// Sample records of both remote operations with every field set, shared by
// the tests, the fuzz corpus generator and the codec benchmark. Chinese
// texts are written as their GBK bytes so that every compiler (the fuzz
// build's too) gives the same bytes.

#include <cstdint>

#include "records/mcustqryaccept.h"
#include "records/mmicropaymentdef.h"
#include "tmclient/qrs_datetime.h"

namespace samples {

// Stream names of the two operations.
inline constexpr char kLogQueryRequest[] =
    "busiordmgnt.MCustQryAccept.IBusiOrdmgnt.query_mpSoList.ParamIn";
inline constexpr char kLogQueryReply[] =
    "busiordmgnt.MCustQryAccept.IBusiOrdmgnt.query_mpSoList.ParamOut";
inline constexpr char kUserQueryRequest[] =
    "custqryaccept.MCustQryAccept.ICustQryAccept.query_mppUser.ParamIn";
inline constexpr char kUserQueryReply[] =
    "custqryaccept.MCustQryAccept.ICustQryAccept.query_mppUser.ParamOut";

inline constexpr char kRemarkFrozen[] = "\xB6\xB3\xBD\xE1";  // "冻结"
inline constexpr char kRemarkOpened[] = "\xBF\xAA\xBB\xA7";  // "开户"

// A log row: the given SO_NBR, BUSI_CODE 3, PHONE_ID 13912345678, AMOUNT
// -1500, MPP_TRANSACTION_ID MPP00000000000000001, MPP_TIME 2024-02-29
// 23:59:59, REMARK "冻结".
inline MMicroPaymentDef::SMpInfo LogRow(int64_t soNbr) {
  MMicroPaymentDef::SMpInfo r;
  r.set_SO_NBR(soNbr);
  r.set_BUSI_CODE(3);
  r.set_PHONE_ID("13912345678");
  r.set_AMOUNT(-1500);
  r.set_MPP_TRANSACTION_ID("MPP00000000000000001");
  r.set_MPP_TIME(QRSDateTime(2024, 2, 29, 23, 59, 59));
  r.set_REMARK(kRemarkFrozen);
  return r;
}

// A user row: the given SERV_ID, PHONE_ID 13912345678, an empty MP_PWD,
// REG_TYPE 1, REG_NBR 330102199001011234, FEE_LIMIT 50000, MP_STS 1,
// MP_CREATE_DATE 2023-01-01 08:00:00, MPP_TRANS_ID T1, SO_NBR
// 123456789012345, REMARK "开户".
inline MMicroPaymentDef::SMpUserInfo UserRow(int64_t servId) {
  MMicroPaymentDef::SMpUserInfo r;
  r.set_SERV_ID(servId);
  r.set_PHONE_ID("13912345678");
  r.set_MP_PWD("");
  r.set_REG_TYPE(1);
  r.set_REG_NBR("330102199001011234");
  r.set_FEE_LIMIT(50000);
  r.set_MP_STS(1);
  r.set_MP_CREATE_DATE(QRSDateTime(2023, 1, 1, 8, 0, 0));
  r.set_MPP_TRANS_ID("T1");
  r.set_SO_NBR(123456789012345);
  r.set_REMARK(kRemarkOpened);
  return r;
}

// Totals of a log reply: 2 deposits of 5000 in all, 1 withdrawal of 100.
inline MMicroPaymentDef::SMpAcctStatInfo Totals() {
  MMicroPaymentDef::SMpAcctStatInfo r;
  r.set_DEPOSIT_COUNT(2);
  r.set_DEPOSIT_SUM(5000);
  r.set_WITHDRAW_COUNT(1);
  r.set_WITHDRAW_SUM(100);
  return r;
}

// A log query by order number, phone and business code over January 2024
// (Marker 0x8C03).
inline MCustQryAccept::SQuerySoInfoListIn LogQuery() {
  MCustQryAccept::SQuerySoInfoListIn r;
  r.set_SO_NBR(123456789012345);
  r.set_PHONE_ID("13912345678");
  r.set_BUSI_CODE(2);
  r.set_BEGIN_SO_DATE(QRSDateTime(2024, 1, 1, 0, 0, 0));
  r.set_END_SO_DATE(QRSDateTime(2024, 1, 31, 23, 59, 59));
  return r;
}

// A user query by phone (Marker 0x40010).
inline MCustQryAccept::SFetchInfoIn UserQuery() {
  MCustQryAccept::SFetchInfoIn r;
  r.set_PHONE_ID("13912345678");
  r.set_QUERY_TYPE(1);
  return r;
}

// The operator's service order info: fields 1 to 10 set (Marker 0x7FE),
// region 571, county 10, organisation 3, operator 1001 at 10.0.0.1,
// 2024-01-02 03:04:05.
inline MCustQryAccept::SQueryLogSoInfo ServiceOrder() {
  MCustQryAccept::SQueryLogSoInfo r;
  r.set_SO_NBR(0);
  r.set_SO_MODE(0);
  r.set_SO_REGION_CODE(571);
  r.set_SO_COUNTY_CODE(10);
  r.set_SO_ORG_ID(3);
  r.set_AGENT_ID(0);
  r.set_OP_ID(1001);
  r.set_OP_ADDRESS("10.0.0.1");
  r.set_SO_DATE(QRSDateTime(2024, 1, 2, 3, 4, 5));
  r.set_REMARK("");
  return r;
}

}  // namespace samples
