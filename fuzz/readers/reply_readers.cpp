#include "reply_readers.h"

#include <string>

#include "frames.h"
#include "records/mcustqryaccept.h"
#include "records/mmicropaymentdef.h"
#include "records/msysmgntdef.h"
#include "sample_records.h"
#include "tmclient/qrs_errormsg.h"
#include "tmclient/tmb_stream.h"

namespace fuzzreaders {

namespace {

using MCustQryAccept::SFetchInfoIn;
using MCustQryAccept::SQueryLogSoInfo;
using MCustQryAccept::SQuerySoInfoListIn;
using MMicroPaymentDef::SMpAcctStatInfo;
using MMicroPaymentDef::SMpInfoList;
using MMicroPaymentDef::SMpUserInfoList;

// Reads the values in order with a test after each, as the proxies and the
// back office do, then writes back whatever decoded.
template <class... Values>
bool RoundTrip(std::string_view bytes, const char* streamName, std::string& reencoded,
               Values&... values) {
  tmb_stream in;
  in.attach(bytes);
  if (!samples::ReadFrame(in, streamName, values...)) return false;
  reencoded = samples::Frame(streamName, values...);
  return true;
}

}  // namespace

bool ReadLogReply(std::string_view bytes, std::string& reencoded) {
  SMpInfoList rows;
  SMpAcctStatInfo stat;
  int result = 0;
  QRSErrorMsg err;
  return RoundTrip(bytes, samples::kLogQueryReply, reencoded, rows, stat, result, err);
}

bool ReadUserReply(std::string_view bytes, std::string& reencoded) {
  SMpUserInfoList rows;
  QRSErrorMsg err;
  return RoundTrip(bytes, samples::kUserQueryReply, reencoded, rows, err);
}

bool ReadLogRequest(std::string_view bytes, std::string& reencoded) {
  SQuerySoInfoListIn in;
  SQueryLogSoInfo so;
  return RoundTrip(bytes, samples::kLogQueryRequest, reencoded, in, so);
}

bool ReadUserRequest(std::string_view bytes, std::string& reencoded) {
  SFetchInfoIn in;
  SQueryLogSoInfo so;
  return RoundTrip(bytes, samples::kUserQueryRequest, reencoded, in, so);
}

bool ReadSignInRequest(std::string_view bytes, std::string& reencoded) {
  MSysmgntDef::SSignInIn in;
  return RoundTrip(bytes, kSignInRequest, reencoded, in);
}

bool ReadSignInReply(std::string_view bytes, std::string& reencoded) {
  MSysmgntDef::SOperator op;
  MSysmgntDef::SSessionInfo session;
  QRSErrorMsg err;
  return RoundTrip(bytes, kSignInReply, reencoded, op, session, err);
}

}  // namespace fuzzreaders
