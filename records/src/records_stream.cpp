#include "records/mcustqryaccept.h"
#include "records/mmicropaymentdef.h"
#include "records/msysmgntdef.h"
#include "records/record_stream.h"

#define MPAY_RECORD_STREAM_FUNCTIONS(R)               \
  tmb_writer& operator<<(tmb_writer& s, const R& r) { \
    return records::WriteRecord(s, r);                \
  }                                                   \
  tmb_reader& operator>>(tmb_reader& s, R& r) {       \
    return records::ReadRecord(s, r);                 \
  }

#define MPAY_LIST_STREAM_FUNCTIONS(L, NAME)           \
  tmb_writer& operator<<(tmb_writer& s, const L& l) { \
    return records::WriteList(s, l, NAME);            \
  }                                                   \
  tmb_reader& operator>>(tmb_reader& s, L& l) {       \
    return records::ReadList(s, l, NAME);             \
  }

namespace MCustQryAccept {
MPAY_RECORD_STREAM_FUNCTIONS(SQuerySoInfoListIn)
MPAY_RECORD_STREAM_FUNCTIONS(SQueryLogSoInfo)
MPAY_RECORD_STREAM_FUNCTIONS(SFetchInfoIn)
MPAY_RECORD_STREAM_FUNCTIONS(SListExportIn)
}  // namespace MCustQryAccept

namespace MMicroPaymentDef {
MPAY_RECORD_STREAM_FUNCTIONS(SMpInfo)
MPAY_RECORD_STREAM_FUNCTIONS(SMpUserInfo)
MPAY_RECORD_STREAM_FUNCTIONS(SMpAcctStatInfo)
MPAY_LIST_STREAM_FUNCTIONS(SMpInfoList, kSMpInfoListName)
MPAY_LIST_STREAM_FUNCTIONS(SMpUserInfoList, kSMpUserInfoListName)
}  // namespace MMicroPaymentDef

namespace MSysmgntDef {
MPAY_RECORD_STREAM_FUNCTIONS(SOperator)
MPAY_RECORD_STREAM_FUNCTIONS(SSignInIn)
MPAY_RECORD_STREAM_FUNCTIONS(SSessionInfo)
}  // namespace MSysmgntDef
