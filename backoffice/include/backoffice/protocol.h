#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "backoffice/conditions.h"
#include "backoffice/stamp.h"
#include "records/mcustqryaccept.h"
#include "records/mmicropaymentdef.h"
#include "records/msysmgntdef.h"
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

// Sign-in and sign-out: one interface, two service codes. A sign-in needs
// no session; a sign-out ends the session its envelope carries.
inline constexpr char kAuthInterface[] = "MSysmgnt_IOperatorAuth";
inline constexpr char kSignInServiceCode[] = "BASMLGIN";
inline constexpr char kSignInRequestStream[] = "sysmgnt.MSysmgnt.IOperatorAuth.signIn.ParamIn";
inline constexpr char kSignInReplyStream[] = "sysmgnt.MSysmgnt.IOperatorAuth.signIn.ParamOut";
inline constexpr char kSignOutServiceCode[] = "BASMLGOT";
inline constexpr char kSignOutRequestStream[] = "sysmgnt.MSysmgnt.IOperatorAuth.signOut.ParamIn";
inline constexpr char kSignOutReplyStream[] = "sysmgnt.MSysmgnt.IOperatorAuth.signOut.ParamOut";

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

// Sign-in request: SSignInIn. Sign-out request: nothing but the stream.
bool DecodeSignInRequest(std::string_view bytes, MSysmgntDef::SSignInIn& request);
bool DecodeSignOutRequest(std::string_view bytes);

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
// Sign-in reply: SOperator (never its password), SSessionInfo, error record.
void EncodeSignInReply(const MSysmgntDef::SOperator& op, const MSysmgntDef::SSessionInfo& session,
                       const QRSErrorMsg& cErrorMsg, std::string& out);
// Sign-out reply: the error record.
void EncodeSignOutReply(const QRSErrorMsg& cErrorMsg, std::string& out);

}  // namespace backoffice
