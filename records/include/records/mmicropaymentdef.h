#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "records/record.h"

class tmb_reader;
class tmb_writer;

namespace MMicroPaymentDef {

// One micro-payment log row.
#define MPAY_SMPINFO_FIELDS(F)          \
  F(0, int64_t, SO_NBR)                 \
  F(1, int, BUSI_CODE)                  \
  F(2, std::string, PHONE_ID)           \
  F(3, int, AMOUNT)                     \
  F(4, std::string, MPP_TRANSACTION_ID) \
  F(5, QRSDateTime, MPP_TIME)           \
  F(6, std::string, REMARK)
MPAY_RECORD(SMpInfo, "MMicroPaymentDef.SMpInfo", MPAY_SMPINFO_FIELDS)

// One micro-payment user row.
#define MPAY_SMPUSERINFO_FIELDS(F)  \
  F(0, int64_t, SERV_ID)            \
  F(1, std::string, PHONE_ID)       \
  F(2, std::string, MP_PWD)         \
  F(3, short, REG_TYPE)             \
  F(4, std::string, REG_NBR)        \
  F(5, int, FEE_LIMIT)              \
  F(6, short, MP_STS)               \
  F(7, QRSDateTime, MP_CREATE_DATE) \
  F(8, std::string, MPP_TRANS_ID)   \
  F(9, int64_t, SO_NBR)             \
  F(10, std::string, REMARK)
MPAY_RECORD(SMpUserInfo, "MMicroPaymentDef.SMpUserInfo", MPAY_SMPUSERINFO_FIELDS)

// Deposit and withdrawal totals over the rows of a log-query reply.
#define MPAY_SMPACCTSTATINFO_FIELDS(F) \
  F(0, int64_t, DEPOSIT_COUNT)         \
  F(1, int64_t, DEPOSIT_SUM)           \
  F(2, int64_t, WITHDRAW_COUNT)        \
  F(3, int64_t, WITHDRAW_SUM)
MPAY_RECORD(SMpAcctStatInfo, "MMicroPaymentDef.SMpAcctStatInfo", MPAY_SMPACCTSTATINFO_FIELDS)

using SMpInfoList = std::vector<SMpInfo>;
using SMpUserInfoList = std::vector<SMpUserInfo>;

// Names that frame the lists on a stream; on the wire, never change.
inline constexpr const char kSMpInfoListName[] = "MMicroPaymentDef..SMpInfoList";
inline constexpr const char kSMpUserInfoListName[] = "MMicroPaymentDef..SMpUserInfoList";

// Stream coding (records/record_stream.h has the rules). The module reads
// these replies; the back office writes them with the same code.
tmb_writer& operator<<(tmb_writer& s, const SMpInfo& r);
tmb_reader& operator>>(tmb_reader& s, SMpInfo& r);
tmb_writer& operator<<(tmb_writer& s, const SMpUserInfo& r);
tmb_reader& operator>>(tmb_reader& s, SMpUserInfo& r);
tmb_writer& operator<<(tmb_writer& s, const SMpAcctStatInfo& r);
tmb_reader& operator>>(tmb_reader& s, SMpAcctStatInfo& r);

// Lists: the readers append to what the list holds; the writers write every
// element.
tmb_writer& operator<<(tmb_writer& s, const SMpInfoList& l);
tmb_reader& operator>>(tmb_reader& s, SMpInfoList& l);
tmb_writer& operator<<(tmb_writer& s, const SMpUserInfoList& l);
tmb_reader& operator>>(tmb_reader& s, SMpUserInfoList& l);

}  // namespace MMicroPaymentDef
