// The log query's rows read while a streamed reply arrives over tcp://, from
// a scripted far end that cuts the reply anywhere and ends it in every way
// the framing allows: the outcome is what reading the whole reply gives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "far_end.h"
#include "records/record_stream.h"
#include "service/busi_ordmgnt.h"
#include "test_servers.h"
#include "tmclient/broker_resolver.h"
#include "tmclient/call_wait.h"
#include "tmclient/tmd_error.h"

namespace {

using namespace MMicroPaymentDef;
using namespace transport_test;

constexpr int kRows = 50;

// How the far end ends the reply after streaming its parts.
enum class End { kFinish, kCountShort, kCountLong, kReplaced, kError, kClosed, kHeld };

std::string Frame(char kind, uint32_t callId, std::string_view rest) {
  std::string f;
  Put32(f, static_cast<uint32_t>(5 + rest.size()));
  f.push_back(kind);
  Put32(f, callId);
  f += rest;
  return f;
}

SMpInfoList Rows(int n) {
  SMpInfoList rows;
  for (int i = 0; i < n; ++i) rows.push_back(far_end::SampleInfo(i));
  return rows;
}

// The stream header and the list header counting `count` rows.
std::string Head(int count) {
  tmb_stream s;
  s.open();
  s.begin_stream(far_end::kSoListOut);
  s.begin_write_list(kSMpInfoListName, count);
  return std::string(s.written());
}

// The reply as a server writes it; `head` bytes of it come last.
std::string Reply(const SMpInfoList& rows) {
  return far_end::Frame(far_end::kSoListOut, [&](tmb_stream& s) {
    s << rows << SMpAcctStatInfo() << 0 << QRSErrorMsg();
  });
}

void Serve(int fd, End end) {
  std::string body;
  if (!ReadFrame(fd, body)) return;
  const uint32_t id = CallIdOf(body);
  const std::string head = Head(kRows), reply = Reply(Rows(kRows));
  std::string start;
  Put32(start, static_cast<uint32_t>(head.size()));
  WriteAll(fd, Frame('H', id, start));
  // Parts that cut records anywhere; a reply that does not finish stops
  // half-way.
  const bool finishes = end == End::kFinish || end == End::kCountShort || end == End::kCountLong;
  const std::size_t stop = finishes ? reply.size() : reply.size() / 2;
  for (std::size_t at = head.size(); at < stop; at += 777)
    WriteAll(fd, Frame('S', id,
                       std::string_view(reply).substr(at, std::min<std::size_t>(777, stop - at))));
  std::string rest;
  switch (end) {
    case End::kFinish:
    case End::kCountShort:
    case End::kCountLong:
      Put32(rest, 0);
      rest += Head(end == End::kFinish ? kRows : end == End::kCountShort ? kRows - 1 : kRows + 1);
      WriteAll(fd, Frame('F', id, rest));
      break;
    case End::kReplaced:
      WriteAll(fd, ReplyFrame(id, 0, Reply(Rows(2))));
      break;
    case End::kError:
      Put32(rest, static_cast<uint32_t>(tmclient::kErrServiceFailed));
      WriteAll(fd, Frame('E', id, rest));
      break;
    case End::kClosed:
      break;
    case End::kHeld:
      while (ReadFrame(fd, body)) {
      }
      break;
  }
}

// Gives every call up after 300 ms.
class GiveUpHook : public tmclient::CallWaitHook {
 public:
  bool WaitsHere() override { return true; }
  void Wait(tmclient::PendingCall& call) override {
    if (!call.WaitEnded(300)) call.Abandon();
  }
};

TEST(QueryMpSoList, RowsReadWhileTheReplyArrivesCountOnlyWithTheReply) {
  struct Case {
    End end;
    int rc;
    std::size_t rows;  // appended to the one the list held
  };
  const Case cases[] = {
      {End::kFinish, 0, kRows},
      {End::kCountShort, -9995, kRows - 1},
      {End::kCountLong, -9995, kRows},
      {End::kReplaced, 0, 2},
      {End::kError, tmclient::kErrServiceFailed, 0},
      {End::kClosed, tmclient::kErrConnectionLost, 0},
      {End::kHeld, tmclient::kErrCallAbandoned, 0},
  };
  const SMpInfoList expected = Rows(kRows);
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.end));
    RawTcpServer server([&](int fd) { Serve(fd, c.end); });
    EnvGuard broker(tmclient::BrokerEnvironmentVariable("READAHEAD").c_str(), server.Url());
    GiveUpHook hook;
    tmclient::CallWaitHook* previous =
        tmclient::SetCallWaitHook(c.end == End::kHeld ? &hook : nullptr);
    MCustQryAccept::IBusiOrdmgnt proxy;
    ASSERT_EQ(proxy.bind_openBroker("READAHEAD"), 0);
    SMpInfoList list{far_end::SampleInfo(90)};
    SMpAcctStatInfo stat;
    int ret = -7;
    QRSErrorMsg err;
    EXPECT_EQ(proxy.query_mpSoList({}, {}, list, stat, ret, err, nullptr), c.rc);
    tmclient::SetCallWaitHook(previous);
    ASSERT_EQ(list.size(), 1 + c.rows);
    EXPECT_EQ(list[0].SO_NBR, far_end::SampleInfo(90).SO_NBR);
    for (std::size_t i = 0; i < c.rows; ++i) {
      EXPECT_EQ(list[1 + i].SO_NBR, expected[i].SO_NBR);
      EXPECT_EQ(list[1 + i].REMARK, expected[i].REMARK);
      EXPECT_EQ(list[1 + i].Marker, expected[i].Marker);
    }
    proxy.unbind();
  }
}

}  // namespace
