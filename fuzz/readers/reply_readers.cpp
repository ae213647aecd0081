#include "reply_readers.h"

#include <string>

#include "records/mcustqryaccept.h"
#include "records/mmicropaymentdef.h"
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
bool RoundTrip(std::string_view bytes, const std::string& streamName, std::string& reencoded,
               Values&... values) {
  tmb_stream in;
  in.attach(bytes);
  if (!in.begin_stream(streamName.c_str())) return false;
  bool ok = true;
  ((ok = ok && !(in >> values).failed()), ...);
  if (!ok || !in.end_stream()) return false;
  tmb_stream out;
  out.open();
  out.begin_stream(streamName.c_str());
  (out << ... << values);
  out.end_stream();
  reencoded = out.bytes();
  return true;
}

}  // namespace

bool ReadLogReply(std::string_view bytes, std::string& reencoded) {
  SMpInfoList rows;
  SMpAcctStatInfo stat;
  int result = 0;
  QRSErrorMsg err;
  return RoundTrip(bytes, std::string(kLogQuery) + ".ParamOut", reencoded, rows, stat, result, err);
}

bool ReadUserReply(std::string_view bytes, std::string& reencoded) {
  SMpUserInfoList rows;
  QRSErrorMsg err;
  return RoundTrip(bytes, std::string(kUserQuery) + ".ParamOut", reencoded, rows, err);
}

bool ReadLogRequest(std::string_view bytes, std::string& reencoded) {
  SQuerySoInfoListIn in;
  SQueryLogSoInfo so;
  return RoundTrip(bytes, std::string(kLogQuery) + ".ParamIn", reencoded, in, so);
}

bool ReadUserRequest(std::string_view bytes, std::string& reencoded) {
  SFetchInfoIn in;
  SQueryLogSoInfo so;
  return RoundTrip(bytes, std::string(kUserQuery) + ".ParamIn", reencoded, in, so);
}

}  // namespace fuzzreaders
