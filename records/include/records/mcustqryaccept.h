#pragma once

#include <cstdint>
#include <string>

#include "records/record.h"

class tmb_reader;
class tmb_writer;

namespace MCustQryAccept {

// Request of the log query.
#define MPAY_SQUERYSOINFOLISTIN_FIELDS(F) \
  F(0, int64_t, SO_NBR)                   \
  F(1, int, BUSI_CODE)                    \
  F(2, int, ISNORMAL)                     \
  F(3, short, AFTER_FLAG)                 \
  F(4, int, OP_ID)                        \
  F(5, short, REGION_CODE)                \
  F(6, short, COUNTY_CODE)                \
  F(7, int, ORG_ID)                       \
  F(8, short, PROCESS_ID)                 \
  F(9, short, PROCESS_RESULT)             \
  F(10, QRSDateTime, BEGIN_SO_DATE)       \
  F(11, QRSDateTime, END_SO_DATE)         \
  F(12, int64_t, MSO_NBR)                 \
  F(13, int64_t, RSO_NBR)                 \
  F(14, int64_t, RELATE_MSO_NBR)          \
  F(15, std::string, PHONE_ID)            \
  F(16, int64_t, GROUP_ID)                \
  F(17, std::string, ROAM_MSISDN)         \
  F(18, std::string, ROAM_SIM)            \
  F(19, QRSDateTime, STS_DATE)
MPAY_RECORD(SQuerySoInfoListIn, "MCustQryAccept.SQuerySoInfoListIn", MPAY_SQUERYSOINFOLISTIN_FIELDS)

// Who issues a request, from where and when; sent with both queries.
#define MPAY_SQUERYLOGSOINFO_FIELDS(F) \
  F(0, int, BUSI_CODE)                 \
  F(1, int64_t, SO_NBR)                \
  F(2, short, SO_MODE)                 \
  F(3, short, SO_REGION_CODE)          \
  F(4, short, SO_COUNTY_CODE)          \
  F(5, int, SO_ORG_ID)                 \
  F(6, int, AGENT_ID)                  \
  F(7, int, OP_ID)                     \
  F(8, std::string, OP_ADDRESS)        \
  F(9, QRSDateTime, SO_DATE)           \
  F(10, std::string, REMARK)           \
  F(11, std::string, EXT_HOLDS)
MPAY_RECORD(SQueryLogSoInfo, "MCustQryAccept.SQueryLogSoInfo", MPAY_SQUERYLOGSOINFO_FIELDS)

// Request of the user query.
#define MPAY_SFETCHINFOIN_FIELDS(F) \
  F(0, int64_t, SERV_ID)            \
  F(1, int64_t, CUST_ID)            \
  F(2, int64_t, ACCT_ID)            \
  F(3, int64_t, GROUP_ID)           \
  F(4, std::string, PHONE_ID)       \
  F(5, std::string, SIM_ID)         \
  F(6, std::string, ROAM_MSISDN)    \
  F(7, std::string, ROAM_COUNTY)    \
  F(8, short, REGION_CODE)          \
  F(9, short, COUNTY_CODE)          \
  F(10, int, ORG_ID)                \
  F(11, int64_t, SO_NBR)            \
  F(12, int, BUSI_TYPE)             \
  F(13, short, REG_TYPE)            \
  F(14, std::string, REG_NBR)       \
  F(15, std::string, CUST_NAME)     \
  F(16, std::string, ACCT_NAME)     \
  F(17, std::string, GROUP_NAME)    \
  F(18, short, QUERY_TYPE)
MPAY_RECORD(SFetchInfoIn, "MCustQryAccept.SFetchInfoIn", MPAY_SFETCHINFOIN_FIELDS)

// A list saved or printed, recorded before it leaves: which list, the
// conditions of the query that filled it, its rows, the format ("csv",
// "xlsx", "pdf", "printer") and OUTPUT "saved" or "printed". Never the
// file's name or its contents.
#define MPAY_SLISTEXPORTIN_FIELDS(F) \
  F(0, std::string, LIST_NAME)       \
  F(1, std::string, CONDITIONS)      \
  F(2, int64_t, ROW_COUNT)           \
  F(3, std::string, FORMAT)          \
  F(4, std::string, OUTPUT)
MPAY_RECORD(SListExportIn, "MCustQryAccept.SListExportIn", MPAY_SLISTEXPORTIN_FIELDS)

// Stream coding (records/record_stream.h has the rules). The module writes
// these requests; the back office reads them with the same code.
tmb_writer& operator<<(tmb_writer& s, const SQuerySoInfoListIn& r);
tmb_reader& operator>>(tmb_reader& s, SQuerySoInfoListIn& r);
tmb_writer& operator<<(tmb_writer& s, const SListExportIn& r);
tmb_reader& operator>>(tmb_reader& s, SListExportIn& r);
tmb_writer& operator<<(tmb_writer& s, const SQueryLogSoInfo& r);
tmb_reader& operator>>(tmb_reader& s, SQueryLogSoInfo& r);
tmb_writer& operator<<(tmb_writer& s, const SFetchInfoIn& r);
tmb_reader& operator>>(tmb_reader& s, SFetchInfoIn& r);

}  // namespace MCustQryAccept
