// The facade against the real back office program over tcp://, on a demo
// database of its own.
//
// This file is not compiled to GBK (the process helpers need <chrono>, which
// cannot be); Chinese texts are converted to GBK at run time instead.
#include <gtest/gtest.h>
#include <iconv.h>

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <string>

#include "../support/sign_in.h"
#include "child_process.h"
#include "guicommon/presenter.h"
#include "service/micro_pay_log_qry.h"
#include "test_db.h"
#include "tmclient/broker_resolver.h"

namespace {

using namespace MMicroPaymentDef;

std::string Gbk(const std::string& utf8) {
  iconv_t cd = iconv_open("GBK", "UTF-8");
  std::string in = utf8, out(utf8.size() * 2 + 1, '\0');
  char* src = in.data();
  char* dst = out.data();
  size_t inLeft = in.size(), outLeft = out.size();
  iconv(cd, &src, &inLeft, &dst, &outLeft);
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

QRSDateTime DaysAgo(int days) {
  const std::time_t t = std::time(nullptr) - static_cast<std::time_t>(days) * 86400;
  std::tm local{};
  localtime_r(&t, &local);
  return QRSDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                     local.tm_min, local.tm_sec);
}

class FacadeOverTcp : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    server_ = new ChildProcess;
    const std::string db = dir_->File("mpay.db");
    ChildProcess init;
    ready_ = init.Start({BACKOFFICE_EXE, "--init-demo", db, "--rows", "20000"}) &&
             init.Wait() == 0 &&
             server_->Start(
                 {BACKOFFICE_EXE, "--db", db, "--workers", "2", "--listen", "tcp://127.0.0.1:0"});
    const std::string line = ready_ ? server_->WaitForLine("serving tcp://") : "";
    const std::size_t colon = line.rfind(':');
    ready_ = colon != std::string::npos;
    if (ready_) {
      const std::string url =
          "tcp://127.0.0.1:" + std::to_string(std::atoi(line.c_str() + colon + 1));
      setenv(tmclient::BrokerEnvironmentVariable("TALMIRON").c_str(), url.c_str(), 1);
      ready_ = SignIn("TALMIRON");
    }
  }
  static void TearDownTestSuite() {
    unsetenv(tmclient::BrokerEnvironmentVariable("TALMIRON").c_str());
    server_->Kill(SIGTERM);
    delete server_;
    delete dir_;
  }
  void SetUp() override { ASSERT_TRUE(ready_) << server_->output(); }

  static MSysmgntDef::SOperator Operator() {
    MSysmgntDef::SOperator op;
    op.set_OP_ID(4711);
    op.set_ORG_ID(10086);
    op.set_COUNTY_CODE(21);
    op.set_REGION_CODE(20);
    return op;
  }

  CRecordingPresenter recorder;
  CScopedGUIPresenter presenterScope{&recorder};

  static TempDir* dir_;
  static ChildProcess* server_;
  static bool ready_;
};
TempDir* FacadeOverTcp::dir_ = nullptr;
ChildProcess* FacadeOverTcp::server_ = nullptr;
bool FacadeOverTcp::ready_ = false;

TEST_F(FacadeOverTcp, RunsBothQueriesAndShowsTheServersRefusal) {
  CMicroPayLogQry facade;
  ASSERT_TRUE(recorder.messages.empty()) << recorder.messages[0].text;
  facade.Init(Operator());

  // The last week's log: rows within the range.
  MpQryCondList cond;
  cond.BEGIN_SO_DATE = DaysAgo(7);
  cond.END_SO_DATE = DaysAgo(0);
  SMpInfoList rows;
  ASSERT_TRUE(facade.QueryMpSoList(cond, rows))
      << (recorder.messages.empty() ? "" : recorder.messages[0].text);
  ASSERT_FALSE(rows.empty());
  for (const SMpInfo& r : rows) {
    EXPECT_LE(cond.BEGIN_SO_DATE, r.MPP_TIME);
    EXPECT_LE(r.MPP_TIME, cond.END_SO_DATE);
    EXPECT_GE(r.BUSI_CODE, 1332);
    EXPECT_LE(r.BUSI_CODE, 1337);
  }

  // The same number's log, and its user record.
  cond.PHONE_ID = rows[0].PHONE_ID;
  SMpInfoList own;
  ASSERT_TRUE(facade.QueryMpSoList(cond, own));
  ASSERT_FALSE(own.empty());
  for (const SMpInfo& r : own) EXPECT_EQ(r.PHONE_ID, cond.PHONE_ID);
  SMpUserInfoList users;
  ASSERT_TRUE(facade.QueryMppUser(cond.PHONE_ID, users));
  ASSERT_FALSE(users.empty());
  EXPECT_EQ(users[0].PHONE_ID, cond.PHONE_ID);
  EXPECT_TRUE(recorder.messages.empty());

  // No condition at all: the back office refuses, and the operator reads why.
  SMpInfoList none;
  EXPECT_FALSE(facade.QueryMpSoList(MpQryCondList(), none));
  ASSERT_EQ(recorder.messages.size(), 1u);
  const std::string prefix = Gbk("查询小额支付日志失败\n");
  EXPECT_EQ(recorder.messages[0].text.substr(0, prefix.size()), prefix);
  EXPECT_GT(recorder.messages[0].text.size(), prefix.size());
  EXPECT_EQ(recorder.messages[0].caption, Gbk("提示"));
  EXPECT_EQ(recorder.messages[0].flags, 16);
  EXPECT_EQ(recorder.waitBoxShows, 4);
  EXPECT_EQ(recorder.waitBoxCloses, 4);
}

}  // namespace
