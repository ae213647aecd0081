#pragma once

// Builds requests and reads replies the way the module's proxies do, for
// tests that talk to the service below the proxies.
#include <string>
#include <string_view>

#include "backoffice/protocol.h"
#include "records/mcustqryaccept.h"
#include "records/mmicropaymentdef.h"
#include "tmclient/qrs_errormsg.h"
#include "tmclient/tmb_stream.h"

namespace wire {

inline MCustQryAccept::SQueryLogSoInfo Operator(int opId = 4711) {
  MCustQryAccept::SQueryLogSoInfo s;
  s.set_SO_NBR(0);
  s.set_SO_MODE(0);
  s.set_SO_REGION_CODE(571);
  s.set_SO_COUNTY_CODE(10);
  s.set_SO_ORG_ID(3301);
  s.set_AGENT_ID(0);
  s.set_OP_ID(opId);
  s.set_OP_ADDRESS("10.1.2.3");
  s.set_SO_DATE(QRSDateTime("20261130120000"));
  s.set_REMARK("");
  return s;
}

// The log request as the query window fills it: all five conditions marked,
// zero, empty or null when not chosen.
inline MCustQryAccept::SQuerySoInfoListIn LogIn(int64_t soNbr, int busiCode,
                                                const std::string& phone, int64_t begin,
                                                int64_t end) {
  MCustQryAccept::SQuerySoInfoListIn in;
  in.set_SO_NBR(soNbr);
  in.set_PHONE_ID(phone);
  in.set_BUSI_CODE(busiCode);
  in.set_BEGIN_SO_DATE(backoffice::FromStamp(begin));
  in.set_END_SO_DATE(backoffice::FromStamp(end));
  return in;
}

inline MCustQryAccept::SFetchInfoIn UserIn(const std::string& phone) {
  MCustQryAccept::SFetchInfoIn in;
  in.set_PHONE_ID(phone);
  in.set_QUERY_TYPE(1);
  return in;
}

// A stream holding `records` in order.
template <class... Records>
std::string Stream(const char* streamName, const Records&... records) {
  tmb_stream s;
  s.open();
  s.begin_stream(streamName);
  ((s << records), ...);
  s.end_stream();
  return std::string(s.bytes());
}

template <class In>
std::string Request(const char* streamName, const In& in,
                    const MCustQryAccept::SQueryLogSoInfo& who = Operator()) {
  tmb_stream s;
  s.open();
  s.begin_stream(streamName);
  s << in << who;
  s.end_stream();
  return std::string(s.bytes());
}

struct LogReply {
  bool ok = false;  // the whole reply stream read cleanly
  MMicroPaymentDef::SMpInfoList list;
  MMicroPaymentDef::SMpAcctStatInfo stat;
  int iReturnInfo = -1;
  QRSErrorMsg error;
};

inline LogReply ReadLogReply(std::string_view bytes) {
  LogReply r;
  tmb_stream s;
  s.load(bytes);
  s.begin_stream(backoffice::kLogReplyStream);
  s >> r.list >> r.stat;
  s >> r.iReturnInfo;
  s >> r.error;
  r.ok = s.end_stream() && !s.failed();
  return r;
}

struct UserReply {
  bool ok = false;
  MMicroPaymentDef::SMpUserInfoList list;
  QRSErrorMsg error;
};

inline UserReply ReadUserReply(std::string_view bytes) {
  UserReply r;
  tmb_stream s;
  s.load(bytes);
  s.begin_stream(backoffice::kUserReplyStream);
  s >> r.list;
  s >> r.error;
  r.ok = s.end_stream() && !s.failed();
  return r;
}

}  // namespace wire
