#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <string>
#include <vector>

#include "far_end.h"
#include "guicommon/guicommon.h"
#include "guicommon/presenter.h"
#include "service/micro_pay_log_qry.h"
#include "tmclient/broker_resolver.h"
#include "tmclient/inproc_transport.h"
#include "tmclient/tmd_error.h"

namespace {

using namespace MCustQryAccept;
using namespace MMicroPaymentDef;

// A back office that keeps every request it decodes and answers with
// `result`, two rows and `cErrorMsg`.
struct CFakeBackOffice {
  int result = 0;
  QRSErrorMsg cErrorMsg;
  std::vector<SQuerySoInfoListIn> soLists;
  std::vector<SFetchInfoIn> fetches;
  std::vector<SQueryLogSoInfo> soInfos;

  int Serve(const std::string& interfaceName, std::string_view request, std::string& reply) {
    SQueryLogSoInfo soInfo;
    if (interfaceName == "MCustQryAccept_IBusiOrdmgnt") {
      SQuerySoInfoListIn in;
      if (!far_end::DecodeSoList(request, in, soInfo)) return -9970;
      soLists.push_back(in);
      reply = far_end::Frame(far_end::kSoListOut, [this](tmb_stream& s) {
        s << SMpInfoList{far_end::SampleInfo(0), far_end::SampleInfo(1)} << SMpAcctStatInfo() << 0
          << cErrorMsg;
      });
    } else {
      SFetchInfoIn in;
      if (!far_end::DecodeFetch(request, in, soInfo)) return -9970;
      fetches.push_back(in);
      reply = far_end::Frame(far_end::kUserOut, [this](tmb_stream& s) {
        s << SMpUserInfoList{far_end::SampleUser(0), far_end::SampleUser(1)} << cErrorMsg;
      });
    }
    soInfos.push_back(soInfo);
    return result;
  }

  far_end::Handler Handler() {
    return [this](const std::string& interfaceName, const std::string&, std::string_view request,
                  std::string& reply) { return Serve(interfaceName, request, reply); };
  }
};

// 50 ms. (<chrono> cannot be compiled to GBK, so no std::this_thread here.)
void Nap() {
  const timespec pause{0, 50 * 1000 * 1000};
  nanosleep(&pause, nullptr);
}

MSysmgntDef::SOperator Operator() {
  MSysmgntDef::SOperator op;
  op.set_OP_ID(4001);
  op.set_ORG_ID(10086);
  op.set_COUNTY_CODE(0x1234);
  op.set_REGION_CODE(70000);  // does not fit the 16-bit request field
  op.set_OP_NAME("张三");
  return op;
}

class CMicroPayLogQryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    far_end::Reset();
    far_end::RouteBroker("TALMIRON");
    far_end::Answer(backOffice.Handler());
  }
  void TearDown() override { unsetenv(tmclient::BrokerEnvironmentVariable("TALMIRON").c_str()); }

  // The wait box was shown once with `text` and is closed again.
  void ExpectWaitBoxClosed(const std::string& text) {
    EXPECT_EQ(recorder.waitTexts, std::vector<std::string>{text});
    EXPECT_EQ(recorder.waitBoxShows, 1);
    EXPECT_EQ(recorder.waitBoxCloses, 1);
    EXPECT_FALSE(recorder.waitBoxOpen);
  }

  CFakeBackOffice backOffice;
  CRecordingPresenter recorder;
  CScopedGUIPresenter presenterScope{&recorder};
};

TEST_F(CMicroPayLogQryTest, LogQueryCarriesTheConditionsAndTheOperatorContext) {
  CMicroPayLogQry facade;
  const QRSDateTime before = QRSDateTime::currentDateTime();
  facade.Init(Operator());
  const QRSDateTime after = QRSDateTime::currentDateTime();

  MpQryCondList cond;
  cond.SO_NBR = 202612070000042;
  cond.BUSI_CODE = 1336;
  cond.BEGIN_SO_DATE = QRSDateTime("20261201000000");
  cond.END_SO_DATE = QRSDateTime("20261207235959");
  cond.PHONE_ID = "13800138000";
  SMpInfoList list{far_end::SampleInfo(77)};
  ASSERT_TRUE(facade.QueryMpSoList(cond, list));

  ASSERT_EQ(backOffice.soLists.size(), 1u);
  const SQuerySoInfoListIn& in = backOffice.soLists[0];
  EXPECT_EQ(in.Marker, 0x8C03u);
  EXPECT_EQ(in.UsedMarker, 0x8C03u);
  EXPECT_EQ(in.SO_NBR, 202612070000042);
  EXPECT_EQ(in.BUSI_CODE, 1336);
  EXPECT_EQ(in.BEGIN_SO_DATE, cond.BEGIN_SO_DATE);
  EXPECT_EQ(in.END_SO_DATE, cond.END_SO_DATE);
  EXPECT_EQ(in.PHONE_ID, "13800138000");

  const SQueryLogSoInfo& soInfo = backOffice.soInfos[0];
  EXPECT_EQ(soInfo.Marker, 0x7FEu);
  EXPECT_EQ(soInfo.UsedMarker, 0x7FEu);
  EXPECT_EQ(soInfo.SO_NBR, 0);
  EXPECT_EQ(soInfo.SO_MODE, 0);
  EXPECT_EQ(soInfo.SO_REGION_CODE, static_cast<short>(70000));
  EXPECT_EQ(soInfo.SO_COUNTY_CODE, 0x1234);
  EXPECT_EQ(soInfo.SO_ORG_ID, 10086);
  EXPECT_EQ(soInfo.AGENT_ID, 0);
  EXPECT_EQ(soInfo.OP_ID, 4001);
  EXPECT_EQ(soInfo.OP_ADDRESS, GetLocalIP());
  EXPECT_LE(before, soInfo.SO_DATE);
  EXPECT_LE(soInfo.SO_DATE, after);
  EXPECT_EQ(soInfo.REMARK, "");

  // The list was emptied before the rows were added.
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[1].SO_NBR, far_end::SampleInfo(1).SO_NBR);
  EXPECT_TRUE(recorder.messages.empty());
  ExpectWaitBoxClosed("正在查询小额支付日志，请稍后...");
}

TEST_F(CMicroPayLogQryTest, SendsEveryConditionEvenWhenZeroOrEmpty) {
  CMicroPayLogQry facade;
  facade.Init(Operator());
  MpQryCondList some;
  some.SO_NBR = 9;
  some.PHONE_ID = "13800138000";
  SMpInfoList list;
  ASSERT_TRUE(facade.QueryMpSoList(MpQryCondList(), list));
  ASSERT_TRUE(facade.QueryMpSoList(some, list));
  ASSERT_TRUE(facade.QueryMpSoList(MpQryCondList(), list));

  ASSERT_EQ(backOffice.soLists.size(), 3u);
  for (std::size_t i : {0u, 2u}) {
    const SQuerySoInfoListIn& in = backOffice.soLists[i];
    EXPECT_EQ(in.Marker, 0x8C03u);
    EXPECT_EQ(in.SO_NBR, 0);
    EXPECT_EQ(in.BUSI_CODE, 0);
    EXPECT_TRUE(in.BEGIN_SO_DATE.isNull());
    EXPECT_TRUE(in.END_SO_DATE.isNull());
    EXPECT_EQ(in.PHONE_ID, "");
  }
  EXPECT_EQ(backOffice.soLists[1].SO_NBR, 9);
}

TEST_F(CMicroPayLogQryTest, KeepsTheTimeOfInitInEveryRequest) {
  CMicroPayLogQry facade;
  facade.Init(Operator());
  SMpInfoList list;
  SMpUserInfoList users;
  ASSERT_TRUE(facade.QueryMpSoList(MpQryCondList(), list));
  const QRSDateTime first = backOffice.soInfos[0].SO_DATE;
  // Let the clock move on by at least a second (bounded).
  for (int i = 0; i < 60 && QRSDateTime::currentDateTime() == first; ++i) Nap();
  ASSERT_NE(QRSDateTime::currentDateTime(), first);
  ASSERT_TRUE(facade.QueryMpSoList(MpQryCondList(), list));
  ASSERT_TRUE(facade.QueryMppUser("13800138000", users));

  ASSERT_EQ(backOffice.soInfos.size(), 3u);
  EXPECT_FALSE(first.isNull());
  EXPECT_EQ(backOffice.soInfos[1].SO_DATE, first);
  EXPECT_EQ(backOffice.soInfos[2].SO_DATE, first);
}

TEST_F(CMicroPayLogQryTest, UserQuerySendsTheNumberEvenWhenEmpty) {
  CMicroPayLogQry facade;
  facade.Init(Operator());
  SMpUserInfoList list{far_end::SampleUser(77)};
  ASSERT_TRUE(facade.QueryMppUser("", list));
  ASSERT_TRUE(facade.QueryMppUser("13900139000", list));

  ASSERT_EQ(backOffice.fetches.size(), 2u);
  for (const SFetchInfoIn& in : backOffice.fetches) {
    EXPECT_EQ(in.Marker, 0x40010u);
    EXPECT_EQ(in.UsedMarker, 0x40010u);
    EXPECT_EQ(in.QUERY_TYPE, 1);
  }
  EXPECT_EQ(backOffice.fetches[0].PHONE_ID, "");
  EXPECT_EQ(backOffice.fetches[1].PHONE_ID, "13900139000");
  EXPECT_EQ(backOffice.soInfos[0].Marker, 0x7FEu);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].SERV_ID, far_end::SampleUser(0).SERV_ID);
  EXPECT_TRUE(recorder.messages.empty());
  EXPECT_EQ(recorder.waitBoxShows, 2);
  EXPECT_EQ(recorder.waitBoxCloses, 2);
  EXPECT_EQ(recorder.waitTexts[0], "正在查询小额支付用户信息，请稍后...");
}

TEST_F(CMicroPayLogQryTest, FailedLogQueryShowsTheServersTextUnderTheWaitBox) {
  backOffice.result = 1017;
  backOffice.cErrorMsg.set_code(1017);
  backOffice.cErrorMsg.set_msg("查询条件不足，请至少输入一个条件");
  CMicroPayLogQry facade;
  facade.Init(Operator());
  SMpInfoList list;
  EXPECT_FALSE(facade.QueryMpSoList(MpQryCondList(), list));

  ASSERT_EQ(recorder.messages.size(), 1u);
  EXPECT_EQ(recorder.messages[0].text, "查询小额支付日志失败\n查询条件不足，请至少输入一个条件");
  EXPECT_EQ(recorder.messages[0].caption, "提示");
  EXPECT_EQ(recorder.messages[0].flags, 16);
  EXPECT_TRUE(recorder.messageUnderWaitBox[0]);
  ExpectWaitBoxClosed("正在查询小额支付日志，请稍后...");
}

TEST_F(CMicroPayLogQryTest, FailedUserQueryShowsTheLibraryText) {
  far_end::Answer([](const std::string&, const std::string&, std::string_view, std::string&) {
    return tmclient::kErrTimeout;
  });
  CMicroPayLogQry facade;
  facade.Init(Operator());
  SMpUserInfoList list;
  EXPECT_FALSE(facade.QueryMppUser("13900139000", list));

  ASSERT_EQ(recorder.messages.size(), 1u);
  EXPECT_EQ(recorder.messages[0].text,
            std::string("查询小额支付用户信息失败\n") + tmd_getErrorMsg(tmclient::kErrTimeout));
  EXPECT_EQ(recorder.messages[0].caption, "提示");
  EXPECT_EQ(recorder.messages[0].flags, 16);
  ExpectWaitBoxClosed("正在查询小额支付用户信息，请稍后...");
}

TEST_F(CMicroPayLogQryTest, FailedBindingsAreEachShownAndQueriesStillReport) {
  setenv(tmclient::BrokerEnvironmentVariable("TALMIRON").c_str(), "nosuch://far", 1);
  CMicroPayLogQry facade;
  ASSERT_EQ(recorder.messages.size(), 2u);
  for (const auto& m : recorder.messages) {
    EXPECT_EQ(m.text, "初始化失败");
    EXPECT_EQ(m.caption, "提示");
    EXPECT_EQ(m.flags, 16);
  }
  facade.Init(Operator());
  SMpInfoList list;
  SMpUserInfoList users;
  EXPECT_FALSE(facade.QueryMpSoList(MpQryCondList(), list));
  EXPECT_FALSE(facade.QueryMppUser("13900139000", users));
  ASSERT_EQ(recorder.messages.size(), 4u);
  EXPECT_EQ(recorder.messages[2].text,
            std::string("查询小额支付日志失败\n") + tmd_getErrorMsg(tmclient::kErrNotBound));
  EXPECT_EQ(recorder.messages[3].text,
            std::string("查询小额支付用户信息失败\n") + tmd_getErrorMsg(tmclient::kErrNotBound));
  EXPECT_EQ(recorder.waitBoxCloses, 2);
  EXPECT_FALSE(recorder.waitBoxOpen);
}

TEST_F(CMicroPayLogQryTest, BindsOnceAndUnbindsWhenDestroyed) {
  const int opened = far_end::OpenedTransports();
  const int live = far_end::LiveTransports();
  {
    CMicroPayLogQry facade;
    EXPECT_EQ(far_end::OpenedTransports(), opened + 2);
    EXPECT_EQ(far_end::LiveTransports(), live + 2);
  }
  EXPECT_EQ(far_end::LiveTransports(), live);
  EXPECT_TRUE(recorder.messages.empty());
}

// Throws from the chosen box, after recording it.
class CThrowingPresenter : public CRecordingPresenter {
 public:
  bool throwOnMessage = false, throwOnWaitBox = false;
  int ShowMessage(const char* text, const char* caption, int flags) override {
    CRecordingPresenter::ShowMessage(text, caption, flags);
    if (throwOnMessage) throw std::runtime_error("message box");
    return 1;
  }
  void ShowWaitBox(const char* text) override {
    CRecordingPresenter::ShowWaitBox(text);
    if (throwOnWaitBox) throw std::runtime_error("wait box");
  }
};

TEST_F(CMicroPayLogQryTest, ClosesTheWaitBoxWhenABoxThrows) {
  CMicroPayLogQry facade;
  facade.Init(Operator());
  CThrowingPresenter throwing;
  CScopedGUIPresenter scope(&throwing);
  SMpInfoList list;
  SMpUserInfoList users;

  backOffice.result = 5;
  throwing.throwOnMessage = true;
  EXPECT_THROW(facade.QueryMpSoList(MpQryCondList(), list), std::runtime_error);
  EXPECT_EQ(throwing.messages.size(), 1u);
  EXPECT_FALSE(throwing.waitBoxOpen);
  EXPECT_THROW(facade.QueryMppUser("13900139000", users), std::runtime_error);
  EXPECT_FALSE(throwing.waitBoxOpen);
  EXPECT_EQ(throwing.waitBoxCloses, 2);

  throwing.throwOnMessage = false;
  throwing.throwOnWaitBox = true;
  EXPECT_THROW(facade.QueryMpSoList(MpQryCondList(), list), std::runtime_error);
  EXPECT_THROW(facade.QueryMppUser("13900139000", users), std::runtime_error);
  EXPECT_FALSE(throwing.waitBoxOpen);
  EXPECT_EQ(throwing.waitBoxCloses, 4);
}

// The same road through the broker client's own in-process transport.
TEST_F(CMicroPayLogQryTest, RunsThroughTheInProcessTransport) {
  tmclient::RegisterInProcessService(
      "facade", [this](const std::string& interfaceName, const std::string& serviceCode,
                       std::string_view request, std::string& reply) {
        EXPECT_EQ(serviceCode,
                  interfaceName == "MCustQryAccept_IBusiOrdmgnt" ? "BABOMOMP" : "BACUQQMP");
        return backOffice.Serve(interfaceName, request, reply);
      });
  setenv(tmclient::BrokerEnvironmentVariable("TALMIRON").c_str(), "inproc://facade", 1);
  {
    CMicroPayLogQry facade;
    facade.Init(Operator());
    SMpInfoList list;
    SMpUserInfoList users;
    EXPECT_TRUE(facade.QueryMpSoList(MpQryCondList(), list));
    EXPECT_TRUE(facade.QueryMppUser("13900139000", users));
    EXPECT_EQ(list.size(), 2u);
    EXPECT_EQ(users.size(), 2u);
  }
  tmclient::RegisterInProcessService("facade", nullptr);
  EXPECT_TRUE(recorder.messages.empty());
  EXPECT_EQ(backOffice.soLists.size(), 1u);
  EXPECT_EQ(backOffice.fetches.size(), 1u);
}

}  // namespace
