// The client object over the in-process transport and over fault-injecting
// transports; broker name resolution; the library's code table.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>

#include "tmclient/broker_resolver.h"
#include "tmclient/inproc_transport.h"
#include "tmclient/tmb_stream.h"
#include "tmclient/tmd_client_object.h"
#include "tmclient/tmd_error.h"
#include "tmclient/transport.h"

namespace {

// Points a broker name at a URL for the life of the object.
class BrokerOverride {
 public:
  BrokerOverride(const std::string& name, const std::string& url)
      : var_(tmclient::BrokerEnvironmentVariable(name)) {
    setenv(var_.c_str(), url.c_str(), 1);
  }
  ~BrokerOverride() { unsetenv(var_.c_str()); }

 private:
  std::string var_;
};

// A transport whose behaviour the test chooses.
class FaultTransport : public tmclient::Transport {
 public:
  int code = 0;
  std::string reply;
  bool throws = false;
  bool append = false;  // add the reply to what `out` holds, as a reader would

  int Call(const std::string&, const std::string&, std::string_view, std::string& out) override {
    if (append) out.append(reply);
    if (throws) throw std::runtime_error("injected");
    if (!append) out = reply;
    return code;
  }
};

// The fault transport handed to the next bind through "fault://".
FaultTransport* gFault = nullptr;

std::string Request() {
  tmb_stream s;
  s.open();
  s.begin_stream("op.ParamIn");
  s << 1;
  s.end_stream();
  return std::string(s.bytes());
}

class ClientObjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tmclient::RegisterTransportScheme(
        "fault", [](const std::string&, std::unique_ptr<tmclient::Transport>& out) {
          auto t = std::make_unique<FaultTransport>();
          gFault = t.get();
          out = std::move(t);
          return 0;
        });
    in_.open();
    in_.begin_stream("op.ParamIn");
    in_ << 1;
    in_.end_stream();
  }
  void TearDown() override {
    tmclient::RegisterTransportScheme("fault", nullptr);
    tmclient::RegisterInProcessService("svc", nullptr);
    gFault = nullptr;
  }

  int Call(CTmdClientObject& c) { return c.call_server("IFace", "CODE", nullptr, in_, out_); }

  tmb_stream in_;
  tmb_stream out_;
};

}  // namespace

TEST_F(ClientObjectTest, UnboundCallFailsWithNotBound) {
  CTmdClientObject c;
  EXPECT_FALSE(c.is_bound());
  EXPECT_EQ(Call(c), tmclient::kErrNotBound);
  EXPECT_TRUE(out_.failed());  // untouched: never opened
}

TEST_F(ClientObjectTest, InProcessServiceGetsTheRequestAndAnswers) {
  std::string seenIface, seenCode, seenRequest;
  tmclient::RegisterInProcessService("svc", [&](const std::string& iface, const std::string& code,
                                                std::string_view request, std::string& reply) {
    seenIface = iface;
    seenCode = code;
    seenRequest = request;
    tmb_stream r;
    r.open();
    r.begin_stream("op.ParamOut");
    r << 42;
    r.end_stream();
    reply = r.bytes();
    return -10000;  // a server's own result travels with its reply
  });
  BrokerOverride env("TALMIRON", "inproc://svc");
  CTmdClientObject c;
  ASSERT_EQ(c.bind_openBroker("TALMIRON"), 0);
  EXPECT_TRUE(c.is_bound());
  EXPECT_EQ(Call(c), -10000);
  EXPECT_EQ(seenIface, "IFace");
  EXPECT_EQ(seenCode, "CODE");
  EXPECT_EQ(seenRequest, Request());
  int v = 0;
  EXPECT_TRUE(out_.begin_stream("op.ParamOut"));
  out_ >> v;
  EXPECT_TRUE(out_.end_stream());
  EXPECT_EQ(v, 42);

  EXPECT_EQ(c.unbind(), 0);
  EXPECT_FALSE(c.is_bound());
  EXPECT_EQ(Call(c), tmclient::kErrNotBound);
}

TEST_F(ClientObjectTest, InProcessFailuresHaveTheirOwnCodes) {
  BrokerOverride env("TALMIRON", "inproc://svc");
  CTmdClientObject c;
  ASSERT_EQ(c.bind_openBroker("TALMIRON"), 0);
  EXPECT_EQ(Call(c), tmclient::kErrNoInProcService);

  tmclient::RegisterInProcessService(
      "svc", [](const std::string&, const std::string&, std::string_view, std::string& reply) {
        reply = "partial";
        return tmclient::kErrTimeout;
      });
  out_.open();
  EXPECT_EQ(Call(c), tmclient::kErrTimeout);
  EXPECT_EQ(out_.bytes(), "");  // a library failure comes without a reply

  tmclient::RegisterInProcessService(
      "svc", [](const std::string&, const std::string&, std::string_view, std::string&) -> int {
        throw std::runtime_error("boom");
      });
  EXPECT_EQ(Call(c), tmclient::kErrServiceFailed);
}

TEST_F(ClientObjectTest, FaultTransportResultsPassThrough) {
  BrokerOverride env("FAULTY", "fault://x");
  CTmdClientObject c;
  ASSERT_EQ(c.bind_openBroker("FAULTY"), 0);
  ASSERT_NE(gFault, nullptr);
  for (const int code : {tmclient::kErrNotBound, tmclient::kErrTransport,
                         tmclient::kErrConnectionLost, tmclient::kErrBadReplyFrame}) {
    gFault->code = code;
    gFault->reply = "ignored";
    out_.open();
    EXPECT_EQ(Call(c), code);
    EXPECT_EQ(out_.bytes(), "");
  }
  gFault->code = -9970;  // outside the library's range: the server's answer
  gFault->reply = Request();
  EXPECT_EQ(Call(c), -9970);
  EXPECT_EQ(out_.bytes(), Request());
  gFault->code = 0;
  gFault->reply = "\xFF";  // a broken reply is the readers' business
  EXPECT_EQ(Call(c), 0);
  EXPECT_FALSE(out_.begin_stream("op.ParamOut"));

  gFault->throws = true;
  EXPECT_EQ(Call(c), tmclient::kErrTransport);
}

TEST_F(ClientObjectTest, EveryReplyStreamKeepsExactlyItsOwnReply) {
  BrokerOverride env("FAULTY", "fault://x");
  CTmdClientObject c;
  ASSERT_EQ(c.bind_openBroker("FAULTY"), 0);
  // Transports append to what they are given: whatever the buffer held
  // before would show.
  gFault->append = true;
  const std::string longReply(100000, 'L');
  gFault->reply = longReply;
  tmb_stream kept;
  ASSERT_EQ(c.call_server("I", "C", nullptr, in_, kept), 0);

  // A second call while the first reply is still being read.
  gFault->reply = "short";
  ASSERT_EQ(Call(c), 0);
  EXPECT_EQ(out_.bytes(), "short");
  EXPECT_EQ(kept.bytes(), longReply);

  // A failed call that left part of a reply in the buffer.
  gFault->reply = "partial";
  gFault->code = tmclient::kErrConnectionLost;
  tmb_stream failed;
  EXPECT_EQ(c.call_server("I", "C", nullptr, in_, failed), tmclient::kErrConnectionLost);
  EXPECT_TRUE(failed.failed());  // untouched
  gFault->throws = true;
  EXPECT_EQ(c.call_server("I", "C", nullptr, in_, failed), tmclient::kErrTransport);
  gFault->throws = false;

  // The buffers go round once the streams let them go, always emptied first.
  out_.open();
  kept.open();
  gFault->code = 0;
  for (const std::string reply : {"one", "", "three"}) {
    gFault->reply = reply;
    ASSERT_EQ(Call(c), 0);
    EXPECT_EQ(out_.bytes(), reply);
    out_.open();
  }
  EXPECT_EQ(kept.bytes(), "");

  // Unbinding does not take a reply away from the stream that holds it.
  gFault->reply = "last";
  ASSERT_EQ(Call(c), 0);
  c.unbind();
  EXPECT_EQ(out_.bytes(), "last");
}

TEST_F(ClientObjectTest, FailedRequestStreamIsNotSent) {
  BrokerOverride env("FAULTY", "fault://x");
  CTmdClientObject c;
  ASSERT_EQ(c.bind_openBroker("FAULTY"), 0);
  in_ >> *std::make_unique<int>();  // reading a write stream fails it
  EXPECT_EQ(Call(c), tmclient::kErrBadRequest);
}

TEST_F(ClientObjectTest, BindFailuresLeaveTheObjectUnbound) {
  CTmdClientObject c;
  EXPECT_EQ(c.bind_openBroker(""), tmclient::kErrUnknownBroker);
  EXPECT_FALSE(c.is_bound());
  {
    BrokerOverride env("B1", "nowhere");
    EXPECT_EQ(c.bind_openBroker("B1"), tmclient::kErrBadBrokerUrl);
  }
  {
    BrokerOverride env("B1", "gopher://host");
    EXPECT_EQ(c.bind_openBroker("B1"), tmclient::kErrUnsupportedScheme);
  }
  {
    BrokerOverride env("B1", "inproc://");
    EXPECT_EQ(c.bind_openBroker("B1"), tmclient::kErrBadBrokerUrl);
  }
  EXPECT_FALSE(c.is_bound());
  tmclient::RegisterTransportScheme("fault",
                                    [](const std::string&, std::unique_ptr<tmclient::Transport>&) {
                                      return tmclient::kErrConnectFailed;
                                    });
  BrokerOverride env("B1", "fault://x");
  EXPECT_EQ(c.bind("AnyInterface", "B1"), tmclient::kErrConnectFailed);
  EXPECT_FALSE(c.is_bound());
  EXPECT_EQ(c.reserved(), 0);
}

TEST(BrokerResolver, EnvironmentOverridesTheDefault) {
  EXPECT_EQ(tmclient::BrokerEnvironmentVariable("talmiron"), "TMCLIENT_BROKER_TALMIRON");
  EXPECT_EQ(tmclient::BrokerEnvironmentVariable("a.b-c9"), "TMCLIENT_BROKER_A_B_C9");
  std::string url = "unchanged";
  EXPECT_EQ(tmclient::ResolveBroker("", url), tmclient::kErrUnknownBroker);
  EXPECT_EQ(url, "unchanged");
  unsetenv("TMCLIENT_BROKER_NOSUCH");
  ASSERT_EQ(tmclient::ResolveBroker("NOSUCH", url), 0);
  EXPECT_EQ(url, "tcp://127.0.0.1:" + std::to_string(tmclient::kDefaultBrokerPort));
  BrokerOverride env("NOSUCH", "inproc://elsewhere");
  ASSERT_EQ(tmclient::ResolveBroker("NOSUCH", url), 0);
  EXPECT_EQ(url, "inproc://elsewhere");
}

TEST(LibraryCodes, DistinctCodesWithDistinctTexts) {
  const int codes[] = {tmclient::kErrNotBound,
                       tmclient::kErrUnknownBroker,
                       tmclient::kErrBadBrokerUrl,
                       tmclient::kErrConnectFailed,
                       tmclient::kErrNoResponders,
                       tmclient::kErrTimeout,
                       tmclient::kErrConnectionLost,
                       tmclient::kErrBadReplyFrame,
                       tmclient::kErrReplyTooLarge,
                       tmclient::kErrRequestTooLarge,
                       tmclient::kErrNoInProcService,
                       tmclient::kErrUnsupportedScheme,
                       tmclient::kErrBadRequest,
                       tmclient::kErrServiceFailed,
                       tmclient::kErrTransportUnavailable,
                       tmclient::kErrTransport};
  const std::set<int> proxyCodes = {-9996, -9995, -9990, -9989, -9988, -9987, -9985, -9979};
  const std::string generic = tmd_getErrorMsg(0);
  std::set<int> seenCodes;
  std::set<std::string> seenTexts;
  for (const int code : codes) {
    EXPECT_TRUE(tmclient::IsLibraryError(code)) << code;
    EXPECT_EQ(proxyCodes.count(code), 0u) << code;
    EXPECT_TRUE(seenCodes.insert(code).second) << code;
    const char* text = tmd_getErrorMsg(code);
    ASSERT_NE(text, nullptr);
    EXPECT_GT(std::strlen(text), 0u);
    EXPECT_NE(text, generic) << code;
    EXPECT_TRUE(seenTexts.insert(text).second) << code;
  }
  EXPECT_EQ(tmd_getErrorMsg(tmclient::kErrNotBound),
            std::string("服务代理未连接（未绑定到消息中间件）"));
  EXPECT_EQ(tmd_getErrorMsg(-9970), generic);
  EXPECT_EQ(tmd_getErrorMsg(-9996), generic);
  EXPECT_FALSE(tmclient::IsLibraryError(-9970));
  EXPECT_FALSE(tmclient::IsLibraryError(-10000));
}
