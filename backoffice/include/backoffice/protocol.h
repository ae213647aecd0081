#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "backoffice/conditions.h"
#include "backoffice/stamp.h"
#include "records/mcustqryaccept.h"
#include "records/mmicropaymentdef.h"
#include "records/msysmgntdef.h"
#include "records/operations.h"
#include "tmclient/qrs_errormsg.h"
#include "tmclient/tmb_stream.h"

// The operations the back office answers come from the catalogue
// (records/operations.h); these are their names as tests and tools spell them.
namespace backoffice {

namespace protocol_detail {
inline constexpr const operations::Descriptor& kLog = operations::Of(operations::Id::kLog);
inline constexpr const operations::Descriptor& kUser = operations::Of(operations::Id::kUser);
inline constexpr const operations::Descriptor& kSignIn = operations::Of(operations::Id::kSignIn);
inline constexpr const operations::Descriptor& kSignOut = operations::Of(operations::Id::kSignOut);
}  // namespace protocol_detail

inline constexpr const char* kLogInterface = protocol_detail::kLog.interfaceName;
inline constexpr const char* kLogServiceCode = protocol_detail::kLog.serviceCode;
inline constexpr const char* kLogRequestStream = protocol_detail::kLog.requestStream;
inline constexpr const char* kLogReplyStream = protocol_detail::kLog.replyStream;

inline constexpr const char* kUserInterface = protocol_detail::kUser.interfaceName;
inline constexpr const char* kUserServiceCode = protocol_detail::kUser.serviceCode;
inline constexpr const char* kUserRequestStream = protocol_detail::kUser.requestStream;
inline constexpr const char* kUserReplyStream = protocol_detail::kUser.replyStream;

inline constexpr const char* kAuthInterface = protocol_detail::kSignIn.interfaceName;
inline constexpr const char* kSignInServiceCode = protocol_detail::kSignIn.serviceCode;
inline constexpr const char* kSignInRequestStream = protocol_detail::kSignIn.requestStream;
inline constexpr const char* kSignInReplyStream = protocol_detail::kSignIn.replyStream;
inline constexpr const char* kSignOutServiceCode = protocol_detail::kSignOut.serviceCode;
inline constexpr const char* kSignOutRequestStream = protocol_detail::kSignOut.requestStream;
inline constexpr const char* kSignOutReplyStream = protocol_detail::kSignOut.replyStream;

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

// The stream named `streamName` holding `records` in order, and nothing
// after it. False on any fault, with the records partly filled.
template <class... Records>
bool DecodeRequest(std::string_view bytes, const char* streamName, Records&... records) {
  if (bytes.size() > kMaxRequestBytes) return false;
  tmb_stream in;
  in.load(bytes);
  if (in.failed() || !in.begin_stream(streamName)) return false;
  const bool read = ((in >> records, !in.failed()) && ...);
  return read && in.end_stream() && !in.failed();
}

// The whole stream named `streamName` holding `items` in order, into `out`
// (replacing its content; empty when it could not be written).
template <class... Items>
void EncodeReply(const char* streamName, std::string& out, const Items&... items) {
  tmb_stream s;
  s.open();
  s.begin_stream(streamName);
  (s << ... << items);
  if (s.end_stream())
    out = s.bytes();
  else
    out.clear();
}

// The log and user requests and the log reply, for tests and tools.
bool DecodeLogRequest(std::string_view bytes, LogRequest& request);
bool DecodeUserRequest(std::string_view bytes, UserRequest& request);

// The conditions a log request carries (zero, empty and null values are
// "not a condition").
LogConditions ToConditions(const MCustQryAccept::SQuerySoInfoListIn& sIn);

void EncodeLogReply(const MMicroPaymentDef::SMpInfoList& list,
                    const MMicroPaymentDef::SMpAcctStatInfo& stat, int iReturnInfo,
                    const QRSErrorMsg& cErrorMsg, std::string& out);

}  // namespace backoffice
