#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "allocation_failure.h"
#include "far_end.h"
#include "remote_call.h"
#include "service/busi_ordmgnt.h"
#include "service/cust_qry_accept.h"
#include "tmclient/tmd_error.h"

namespace {

using namespace MCustQryAccept;
using namespace MMicroPaymentDef;

constexpr const char kBroker[] = "SVCTEST";

// What one operation needs in these tests: its names, its outputs (with
// values that show whether they were touched) and a server's reply.
struct SoListCall {
  using Proxy = IBusiOrdmgnt;
  static constexpr const char* kFullName = "busiordmgnt.MCustQryAccept.IBusiOrdmgnt.query_mpSoList";
  static constexpr const char* kScopedName = "MCustQryAccept::IBusiOrdmgnt::query_mpSoList";
  static constexpr const char* kInterface = "MCustQryAccept_IBusiOrdmgnt";
  static constexpr const char* kService = "BABOMOMP";
  static inline const std::vector<std::string> kOutputs = {"listSoInfo", "sMpAcctStatInfo",
                                                           "iReturnInfo", "cErrorMsg"};
  static std::string OutName() { return far_end::kSoListOut; }

  SQuerySoInfoListIn sIn;
  SQueryLogSoInfo sSoInfo;
  SMpInfoList list{far_end::SampleInfo(90)};
  SMpAcctStatInfo stat;
  int ret = -7;
  QRSErrorMsg err;

  SoListCall() {
    sIn.set_SO_NBR(202612070000001);
    sIn.set_PHONE_ID("13800138000");
    sSoInfo.set_OP_ID(4001);
  }
  int Run(Proxy& proxy) {
    return proxy.query_mpSoList(sIn, sSoInfo, list, stat, ret, err, nullptr);
  }

  // The first `count` outputs of a reply: two rows, totals, 3, `cErr`.
  static void WriteOutputs(tmb_stream& s, std::size_t count, const QRSErrorMsg& cErr) {
    SMpAcctStatInfo totals;
    totals.set_DEPOSIT_SUM(880000);
    if (count > 0) s << SMpInfoList{far_end::SampleInfo(0), far_end::SampleInfo(1)};
    if (count > 1) s << totals;
    if (count > 2) s << 3;
    if (count > 3) s << cErr;
  }

  void ExpectUntouched() const {
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].SO_NBR, far_end::SampleInfo(90).SO_NBR);
    EXPECT_EQ(stat.Marker, 0u);
    EXPECT_EQ(ret, -7);
  }
  // Outputs read before output `count` failed keep what was read.
  void ExpectRead(std::size_t count) const {
    if (count > 0) {
      ASSERT_EQ(list.size(), 3u);  // appended after the row that was there
      EXPECT_EQ(list[2].REMARK, "营业厅受理");
    }
    if (count > 1) {
      EXPECT_EQ(stat.DEPOSIT_SUM, 880000);
    }
    if (count > 2) {
      EXPECT_EQ(ret, 3);
    }
  }
};

struct UserCall {
  using Proxy = ICustQryAccept;
  static constexpr const char* kFullName =
      "custqryaccept.MCustQryAccept.ICustQryAccept.query_mppUser";
  static constexpr const char* kScopedName = "MCustQryAccept::ICustQryAccept::query_mppUser";
  static constexpr const char* kInterface = "MCustQryAccept_ICustQryAccept";
  static constexpr const char* kService = "BACUQQMP";
  static inline const std::vector<std::string> kOutputs = {"listOut", "cErrorMsg"};
  static std::string OutName() { return far_end::kUserOut; }

  SFetchInfoIn sIn;
  SQueryLogSoInfo sSoInfo;
  SMpUserInfoList list{far_end::SampleUser(90)};
  QRSErrorMsg err;

  UserCall() {
    sIn.set_PHONE_ID("13900139000");
    sIn.set_QUERY_TYPE(1);
    sSoInfo.set_OP_ID(4001);
  }
  int Run(Proxy& proxy) { return proxy.query_mppUser(sIn, sSoInfo, list, err, nullptr); }

  static void WriteOutputs(tmb_stream& s, std::size_t count, const QRSErrorMsg& cErr) {
    if (count > 0) s << SMpUserInfoList{far_end::SampleUser(0), far_end::SampleUser(1)};
    if (count > 1) s << cErr;
  }
  void ExpectUntouched() const {
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].SERV_ID, far_end::SampleUser(90).SERV_ID);
  }
  void ExpectRead(std::size_t count) const {
    if (count > 0) {
      ASSERT_EQ(list.size(), 3u);
      EXPECT_EQ(list[2].REMARK, "开户");
    }
  }
};

QRSErrorMsg ServerError(int code, const std::string& text) {
  QRSErrorMsg e;
  e.set_code(code);
  e.set_msg(text);
  return e;
}

template <class C>
class RemoteOperation : public ::testing::Test {
 protected:
  void SetUp() override {
    far_end::Reset();
    far_end::RouteBroker(kBroker);
    ASSERT_EQ(proxy.bind_openBroker(kBroker), 0);
  }

  // The far end answers `result` with the first `outputs` outputs.
  void Reply(int result, std::size_t outputs, const QRSErrorMsg& cErr = QRSErrorMsg(),
             bool withEnd = true, const std::string& streamName = C::OutName()) {
    far_end::Answer(
        [=](const std::string&, const std::string&, std::string_view, std::string& reply) {
          reply = far_end::Frame(
              streamName, [&](tmb_stream& s) { C::WriteOutputs(s, outputs, cErr); }, withEnd);
          return result;
        });
  }

  typename C::Proxy proxy;
  C call;
};

using Operations = ::testing::Types<SoListCall, UserCall>;
TYPED_TEST_SUITE(RemoteOperation, Operations);

TYPED_TEST(RemoteOperation, SendsTheRequestAndReadsTheReply) {
  this->Reply(0, TypeParam::kOutputs.size());
  ASSERT_EQ(this->call.Run(this->proxy), 0);

  ASSERT_EQ(far_end::Calls().size(), 1u);
  EXPECT_EQ(far_end::Calls()[0].interfaceName, TypeParam::kInterface);
  EXPECT_EQ(far_end::Calls()[0].serviceCode, TypeParam::kService);
  this->call.ExpectRead(TypeParam::kOutputs.size());
  EXPECT_EQ(this->call.err.get_code(), 0);
  EXPECT_EQ(this->call.err.get_msg(), "no error");
}

TYPED_TEST(RemoteOperation, PassesLibraryFailuresThroughWithoutReadingTheReply) {
  for (int code : {-9999, -9971, tmclient::kErrTimeout}) {
    far_end::Answer(
        [code](const std::string&, const std::string&, std::string_view, std::string& reply) {
          reply = "ignored";
          return code;
        });
    EXPECT_EQ(this->call.Run(this->proxy), code);
    EXPECT_EQ(this->call.err.get_code(), code);
    EXPECT_EQ(this->call.err.get_msg(), tmd_getErrorMsg(code));
    this->call.ExpectUntouched();
  }
}

TYPED_TEST(RemoteOperation, ReadsCodesOutsideTheLibraryRangeAsServerAnswers) {
  for (int code : {-9970, -10000, 1}) {
    this->call = TypeParam();
    this->Reply(code, TypeParam::kOutputs.size(), ServerError(code, "无此用户的小额支付记录"));
    EXPECT_EQ(this->call.Run(this->proxy), code);
    EXPECT_EQ(this->call.err.get_code(), code);
    EXPECT_EQ(this->call.err.get_msg(), "无此用户的小额支付记录");
    this->call.ExpectRead(TypeParam::kOutputs.size());
  }
}

TYPED_TEST(RemoteOperation, NamesTheOutputThatCannotBeRead) {
  for (std::size_t readable = 0; readable < TypeParam::kOutputs.size(); ++readable) {
    this->call = TypeParam();
    this->Reply(0, readable, QRSErrorMsg(), /*withEnd=*/false);
    EXPECT_EQ(this->call.Run(this->proxy), -9995);
    EXPECT_EQ(this->call.err.get_code(), -9995);
    EXPECT_EQ(this->call.err.get_msg(),
              std::string(TypeParam::kScopedName) +
                  " marshalling out error: " + TypeParam::kOutputs[readable]);
    this->call.ExpectRead(readable);
  }
}

TYPED_TEST(RemoteOperation, FailsOnAReplyThatDoesNotBeginOrEndRight) {
  this->Reply(0, TypeParam::kOutputs.size(), QRSErrorMsg(), true,
              std::string(TypeParam::kFullName) + ".ParamIn");
  EXPECT_EQ(this->call.Run(this->proxy), -9988);
  EXPECT_EQ(this->call.err.get_msg(),
            std::string("TME_CLN_OUT_BEGIN_STREAM: ") + TypeParam::kFullName);
  this->call.ExpectUntouched();

  // Every output read, but no end marker: the reply still counts as broken.
  this->call = TypeParam();
  this->Reply(0, TypeParam::kOutputs.size(), ServerError(0, "no error"), /*withEnd=*/false);
  EXPECT_EQ(this->call.Run(this->proxy), -9987);
  EXPECT_EQ(this->call.err.get_code(), -9987);
  EXPECT_EQ(this->call.err.get_msg(),
            std::string("TME_CLN_OUT_END_STREAM: ") + TypeParam::kFullName);
  this->call.ExpectRead(TypeParam::kOutputs.size());

  // Bytes after the end marker.
  far_end::Answer([](const std::string&, const std::string&, std::string_view, std::string& reply) {
    reply = far_end::Frame(TypeParam::OutName(), [](tmb_stream& s) {
      TypeParam::WriteOutputs(s, TypeParam::kOutputs.size(), QRSErrorMsg());
    });
    reply += '\0';
    return 0;
  });
  this->call = TypeParam();
  EXPECT_EQ(this->call.Run(this->proxy), -9987);
}

TYPED_TEST(RemoteOperation, NamesTheInputThatCannotBeWritten) {
  // A text longer than a frame may be fails the request stream.
  std::string huge(tmb_stream::kMaxFrameSize + 1, '1');
  this->call.sIn.PHONE_ID.swap(huge);
  EXPECT_EQ(this->call.Run(this->proxy), -9996);
  EXPECT_EQ(this->call.err.get_msg(),
            std::string(TypeParam::kScopedName) + " marshalling in error: sIn");
  this->call.sIn.PHONE_ID.swap(huge);

  this->call.sSoInfo.set_REMARK("");
  this->call.sSoInfo.REMARK.swap(huge);
  EXPECT_EQ(this->call.Run(this->proxy), -9996);
  EXPECT_EQ(this->call.err.get_code(), -9996);
  EXPECT_EQ(this->call.err.get_msg(),
            std::string(TypeParam::kScopedName) + " marshalling in error: sSoInfo");
  EXPECT_TRUE(far_end::Calls().empty());
  this->call.ExpectUntouched();
}

// A proxy whose call_server throws, whatever it throws.
template <class Proxy>
class CThrowingProxy : public Proxy {
 public:
  int call_server(const std::string&, const std::string&, STMSession*, tmb_stream&,
                  tmb_stream&) override {
    throw 42;
  }
};

TYPED_TEST(RemoteOperation, TurnsAnExceptionIntoAResult) {
  CThrowingProxy<typename TypeParam::Proxy> throwing;
  EXPECT_EQ(this->call.Run(throwing), -9985);
  EXPECT_EQ(this->call.err.get_code(), -9985);
  EXPECT_EQ(this->call.err.get_msg(),
            std::string("TME_CLN_TMB_EXCEPTION: ") + TypeParam::kFullName);
  this->call.ExpectUntouched();
}

// An allocation that fails anywhere in a call (writers, readers, streams,
// texts) never escapes: the result is -9985 with its text, a library code
// when the failure hit the broker client, or success when it came too late.
TYPED_TEST(RemoteOperation, SurvivesAnAllocationFailureAnywhere) {
  this->Reply(0, TypeParam::kOutputs.size());
  int exceptions = 0;
  for (long k = 1; k < 5000; ++k) {
    this->call = TypeParam();
    allocation_failure::FailAt(k);
    int result = 0;
    try {
      result = this->call.Run(this->proxy);
    } catch (...) {
      allocation_failure::FailAt(0);
      FAIL() << "exception escaped at allocation " << k;
    }
    allocation_failure::FailAt(0);
    if (!allocation_failure::Failed()) {
      EXPECT_EQ(result, 0);
      break;
    }
    if (result == -9985) {
      ++exceptions;
      EXPECT_EQ(this->call.err.get_msg(),
                std::string("TME_CLN_TMB_EXCEPTION: ") + TypeParam::kFullName);
    } else {
      EXPECT_TRUE(tmclient::IsLibraryError(result)) << "allocation " << k << ": " << result;
    }
    if (k == 1) {
      EXPECT_EQ(result, -9985);
    }
  }
  EXPECT_FALSE(allocation_failure::Failed()) << "the call never completed";
  EXPECT_GT(exceptions, 5);
}

TYPED_TEST(RemoteOperation, RunsUnboundAndReportsWhatTheClientSays) {
  this->proxy.unbind();
  EXPECT_EQ(this->call.Run(this->proxy), -9999);
  EXPECT_EQ(this->call.err.get_msg(), tmd_getErrorMsg(-9999));
  this->call.ExpectUntouched();
}

TYPED_TEST(RemoteOperation, FifthSlotAnswersMinus9979) {
  CTmdClientObject& base = this->proxy;
  EXPECT_EQ(base.reserved(), -9979);
}

// The request as the far end sees it: stream name, records and masks.
TEST(QueryMpSoList, WritesBothInputsInOrder) {
  far_end::Reset();
  far_end::RouteBroker(kBroker);
  IBusiOrdmgnt proxy;
  ASSERT_EQ(proxy.bind_openBroker(kBroker), 0);
  SQuerySoInfoListIn received;
  SQueryLogSoInfo receivedSoInfo;
  bool decoded = false;
  far_end::Answer([&](const std::string&, const std::string&, std::string_view request,
                      std::string& reply) {
    decoded = far_end::DecodeSoList(request, received, receivedSoInfo);
    reply = far_end::Frame(far_end::kSoListOut,
                           [](tmb_stream& s) { SoListCall::WriteOutputs(s, 4, QRSErrorMsg()); });
    return 0;
  });
  SoListCall call;
  ASSERT_EQ(call.Run(proxy), 0);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(received.Marker, 0x8001u);
  EXPECT_EQ(received.SO_NBR, 202612070000001);
  EXPECT_EQ(received.PHONE_ID, "13800138000");
  EXPECT_EQ(receivedSoInfo.Marker, 0x80u);
  EXPECT_EQ(receivedSoInfo.OP_ID, 4001);
}

}  // namespace

// The two request-stream failures cannot happen with the operations' own
// names and records; the shared sequence still reports them.
namespace {

TEST(CallRemote, ReportsRequestStreamFailures) {
  far_end::Reset();
  far_end::RouteBroker(kBroker);
  IBusiOrdmgnt proxy;
  ASSERT_EQ(proxy.bind_openBroker(kBroker), 0);
  QRSErrorMsg err;

  const std::string tooLong(300, 'n');  // longer than a frame name may be
  const service_detail::RemoteOperation badName = {tooLong.c_str(), "S", "I", "C"};
  EXPECT_EQ(service_detail::CallRemote(proxy, badName, nullptr, {}, {}, err), -9990);
  EXPECT_EQ(err.get_code(), -9990);
  EXPECT_EQ(err.get_msg(), "TME_CLN_IN_BEGIN_STREAM: " + tooLong);

  // An input that leaves the request unable to take its end marker.
  const service_detail::RemoteOperation op = {"full", "S", "I", "C"};
  const service_detail::StreamStep spoil = {
      "spoil", [](tmb_stream& s, void*) { s.load(std::string_view()); }, nullptr};
  EXPECT_EQ(service_detail::CallRemote(proxy, op, nullptr, {spoil}, {}, err), -9989);
  EXPECT_EQ(err.get_msg(), "TME_CLN_IN_END_STREAM: full");
  EXPECT_TRUE(far_end::Calls().empty());
}

}  // namespace
