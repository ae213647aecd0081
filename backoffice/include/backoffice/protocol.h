#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "backoffice/conditions.h"
#include "backoffice/stamp.h"
#include "records/mcustqryaccept.h"
#include "records/mmicropaymentdef.h"
#include "tmclient/qrs_errormsg.h"
#include "tmclient/tmb_stream.h"

// The two operations the back office answers, as they travel: names on the
// wire, never change.
namespace backoffice {

inline constexpr char kLogInterface[] = "MCustQryAccept_IBusiOrdmgnt";
inline constexpr char kLogServiceCode[] = "BABOMOMP";
inline constexpr char kLogRequestStream[] =
    "busiordmgnt.MCustQryAccept.IBusiOrdmgnt.query_mpSoList.ParamIn";
inline constexpr char kLogReplyStream[] =
    "busiordmgnt.MCustQryAccept.IBusiOrdmgnt.query_mpSoList.ParamOut";

inline constexpr char kUserInterface[] = "MCustQryAccept_ICustQryAccept";
inline constexpr char kUserServiceCode[] = "BACUQQMP";
inline constexpr char kUserRequestStream[] =
    "custqryaccept.MCustQryAccept.ICustQryAccept.query_mppUser.ParamIn";
inline constexpr char kUserReplyStream[] =
    "custqryaccept.MCustQryAccept.ICustQryAccept.query_mppUser.ParamOut";

// Requests larger than this are refused unread: a real one is a few hundred
// bytes.
inline constexpr std::size_t kMaxRequestBytes = 64 * 1024;

struct LogRequest {
  MCustQryAccept::SQuerySoInfoListIn sIn;
  MCustQryAccept::SQueryLogSoInfo sSoInfo;
};

struct UserRequest {
  MCustQryAccept::SFetchInfoIn sIn;
  MCustQryAccept::SQueryLogSoInfo sSoInfo;
};

// Decode a whole request stream: its name, both records, its end and
// nothing after it. False on any fault, with the records partly filled.
bool DecodeLogRequest(std::string_view bytes, LogRequest& request);
bool DecodeUserRequest(std::string_view bytes, UserRequest& request);

// The conditions a log request carries (zero, empty and null values are
// "not a condition").
LogConditions ToConditions(const MCustQryAccept::SQuerySoInfoListIn& sIn);

// Encode whole reply streams into `out` (replacing its content).
void EncodeLogReply(const MMicroPaymentDef::SMpInfoList& list,
                    const MMicroPaymentDef::SMpAcctStatInfo& stat, int iReturnInfo,
                    const QRSErrorMsg& cErrorMsg, std::string& out);
void EncodeUserReply(const MMicroPaymentDef::SMpUserInfoList& list, const QRSErrorMsg& cErrorMsg,
                     std::string& out);

}  // namespace backoffice
