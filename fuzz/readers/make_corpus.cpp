// fuzz_readers_corpus DIR: writes the seed corpus, valid requests and replies
// of both operations, into DIR.
#include <cstdio>
#include <fstream>
#include <string>

#include "records/mcustqryaccept.h"
#include "records/mmicropaymentdef.h"
#include "reply_readers.h"
#include "tmclient/qrs_errormsg.h"
#include "tmclient/tmb_stream.h"

namespace {

using namespace MMicroPaymentDef;
using namespace MCustQryAccept;

const std::string kGbkRemark = "\xD0\xA1\xB6\xEE\xD6\xA7\xB8\xB6\xB6\xB3\xBD\xE1";

SMpInfo Row(int i) {
  SMpInfo r;
  r.set_SO_NBR(202400000000000 + i);
  r.set_BUSI_CODE(1 + i % 6);
  r.set_PHONE_ID("1391234567" + std::to_string(i % 10));
  r.set_AMOUNT(i % 2 ? -100 : 2500);
  r.set_MPP_TRANSACTION_ID("MPP0000000000000000" + std::to_string(i % 10));
  r.set_MPP_TIME(QRSDateTime(2024, 2, 29, 23, 59, i % 60));
  r.set_REMARK(kGbkRemark);
  return r;
}

SMpUserInfo User(int i) {
  SMpUserInfo r;
  r.set_SERV_ID(8800000000000 + i);
  r.set_PHONE_ID("13812345678");
  r.set_MP_PWD("******");
  r.set_REG_TYPE(1);
  r.set_REG_NBR("330102199001011234");
  r.set_FEE_LIMIT(50000);
  r.set_MP_STS(static_cast<short>(i % 3));
  r.set_MP_CREATE_DATE(QRSDateTime("20230101080000"));
  r.set_MPP_TRANS_ID("MPT00000000000000001");
  r.set_SO_NBR(202300000000000 + i);
  r.set_REMARK(kGbkRemark);
  return r;
}

template <class... Values>
std::string Frame(const std::string& name, const Values&... values) {
  tmb_stream s;
  s.open();
  s.begin_stream(name.c_str());
  (s << ... << values);
  s.end_stream();
  return s.bytes();
}

bool Save(const std::string& dir, const std::string& name, const std::string& bytes) {
  std::ofstream f(dir + "/" + name, std::ios::binary);
  f << bytes;
  return static_cast<bool>(f);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_readers_corpus DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  const std::string logOut = std::string(fuzzreaders::kLogQuery) + ".ParamOut";
  const std::string userOut = std::string(fuzzreaders::kUserQuery) + ".ParamOut";
  const std::string logIn = std::string(fuzzreaders::kLogQuery) + ".ParamIn";
  const std::string userIn = std::string(fuzzreaders::kUserQuery) + ".ParamIn";

  SMpAcctStatInfo stat;
  stat.set_DEPOSIT_COUNT(2);
  stat.set_DEPOSIT_SUM(5000);
  stat.set_WITHDRAW_COUNT(1);
  stat.set_WITHDRAW_SUM(100);
  QRSErrorMsg ok;
  QRSErrorMsg refused;
  refused.set_code(-10000);
  refused.set_msg(kGbkRemark);

  SMpInfo partial = Row(7);
  partial.Marker = 0x5;
  SMpAcctStatInfo highBit = stat;
  highBit.Marker |= uint64_t{1} << 40;

  SQuerySoInfoListIn logReq;
  logReq.set_SO_NBR(202400000000001);
  logReq.set_PHONE_ID("13912345678");
  logReq.set_BUSI_CODE(2);
  logReq.set_BEGIN_SO_DATE(QRSDateTime("20240101000000"));
  logReq.set_END_SO_DATE(QRSDateTime("20240131235959"));
  SQueryLogSoInfo so;
  so.set_SO_NBR(0);
  so.set_SO_MODE(0);
  so.set_SO_REGION_CODE(571);
  so.set_SO_COUNTY_CODE(10);
  so.set_SO_ORG_ID(3);
  so.set_AGENT_ID(0);
  so.set_OP_ID(1001);
  so.set_OP_ADDRESS("10.1.2.3");
  so.set_SO_DATE(QRSDateTime("20240102030405"));
  so.set_REMARK("");
  SFetchInfoIn userReq;
  userReq.set_PHONE_ID("13912345678");
  userReq.set_QUERY_TYPE(1);

  bool saved = true;
  saved &= Save(dir, "log-reply-3-rows",
                Frame(logOut, SMpInfoList{Row(1), Row(2), Row(3)}, stat, 0, ok));
  saved &= Save(dir, "log-reply-empty", Frame(logOut, SMpInfoList{}, SMpAcctStatInfo(), 0, ok));
  saved &= Save(dir, "log-reply-partial-fields",
                Frame(logOut, SMpInfoList{partial, SMpInfo()}, highBit, 0, ok));
  saved &= Save(dir, "log-reply-server-error", Frame(logOut, SMpInfoList{}, stat, -1, refused));
  saved &= Save(dir, "user-reply-2-rows", Frame(userOut, SMpUserInfoList{User(1), User(2)}, ok));
  saved &= Save(dir, "user-reply-empty", Frame(userOut, SMpUserInfoList{}, refused));
  saved &= Save(dir, "log-request", Frame(logIn, logReq, so));
  saved &= Save(dir, "log-request-default", Frame(logIn, SQuerySoInfoListIn(), SQueryLogSoInfo()));
  saved &= Save(dir, "user-request", Frame(userIn, userReq, so));
  return saved ? 0 : 1;
}
