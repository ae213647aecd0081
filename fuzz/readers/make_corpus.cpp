// fuzz_readers_corpus DIR: writes the seed corpus, valid requests and replies
// of both operations, into DIR.
#include <cstdio>
#include <fstream>
#include <string>

#include "frames.h"
#include "records/mcustqryaccept.h"
#include "records/mmicropaymentdef.h"
#include "records/msysmgntdef.h"
#include "records/operations.h"
#include "reply_readers.h"
#include "sample_records.h"
#include "tmclient/qrs_errormsg.h"

namespace {

using namespace MMicroPaymentDef;
using namespace MCustQryAccept;

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
  using samples::Frame;
  const std::string dir = argv[1];

  const SMpAcctStatInfo stat = samples::Totals();
  QRSErrorMsg ok;
  QRSErrorMsg refused;
  refused.set_code(-10000);
  refused.set_msg(samples::kRemarkFrozen);

  SMpInfo partial = samples::LogRow(7);
  partial.Marker = 0x5;
  SMpAcctStatInfo highBit = stat;
  highBit.Marker |= uint64_t{1} << 40;

  const char* logOut = samples::kLogQueryReply;
  const char* userOut = samples::kUserQueryReply;
  const char* logIn = samples::kLogQueryRequest;
  const char* userIn = samples::kUserQueryRequest;
  const SMpInfoList threeRows{samples::LogRow(1), samples::LogRow(2), samples::LogRow(3)};
  const SMpUserInfoList twoUsers{samples::UserRow(1), samples::UserRow(2)};

  bool saved = true;
  saved &= Save(dir, "log-reply-3-rows", Frame(logOut, threeRows, stat, 0, ok));
  saved &= Save(dir, "log-reply-empty", Frame(logOut, SMpInfoList{}, SMpAcctStatInfo(), 0, ok));
  saved &= Save(dir, "log-reply-partial-fields",
                Frame(logOut, SMpInfoList{partial, SMpInfo()}, highBit, 0, ok));
  saved &= Save(dir, "log-reply-server-error", Frame(logOut, SMpInfoList{}, stat, -1, refused));
  saved &= Save(dir, "user-reply-2-rows", Frame(userOut, twoUsers, ok));
  saved &= Save(dir, "user-reply-empty", Frame(userOut, SMpUserInfoList{}, refused));
  saved &= Save(dir, "log-request", Frame(logIn, samples::LogQuery(), samples::ServiceOrder()));
  saved &= Save(dir, "log-request-default", Frame(logIn, SQuerySoInfoListIn(), SQueryLogSoInfo()));
  saved &= Save(dir, "user-request", Frame(userIn, samples::UserQuery(), samples::ServiceOrder()));
  MSysmgntDef::SSignInIn signIn;
  signIn.set_LOGIN_NAME("demo");
  signIn.set_OP_PASSWD("demo1234");
  signIn.set_OP_ADDRESS("127.0.0.1");
  MSysmgntDef::SOperator op;
  op.set_OP_ID(1001);
  op.set_OP_NAME(samples::kRemarkFrozen);
  op.set_LOGIN_NAME("demo");
  op.set_EXPIRE_DATE(QRSDateTime(2030, 1, 1, 0, 0, 0));
  MSysmgntDef::SSessionInfo session;
  session.set_SESSION_TOKEN(std::string(64, 'a'));
  session.set_IDLE_TIMEOUT(1800);
  session.set_MAX_AGE(43200);
  session.set_RIGHTS(operations::DefaultRights());
  using fuzzreaders::kSignInReply;
  saved &= Save(dir, "signin-request", Frame(fuzzreaders::kSignInRequest, signIn));
  saved &= Save(dir, "signin-reply", Frame(kSignInReply, op, session, ok));
  saved &=
      Save(dir, "signin-reply-refused",
           Frame(kSignInReply, MSysmgntDef::SOperator(), MSysmgntDef::SSessionInfo(), refused));
  return saved ? 0 : 1;
}
