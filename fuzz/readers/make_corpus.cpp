// fuzz_readers_corpus DIR: writes the seed corpus, valid requests and replies
// of both operations, into DIR.
#include <cstdio>
#include <fstream>
#include <string>

#include "frames.h"
#include "records/mcustqryaccept.h"
#include "records/mmicropaymentdef.h"
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
  return saved ? 0 : 1;
}
