// The nats:// transport and NatsResponder through a real nats-server, and
// against scripted responders that misbehave.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nats/nats.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

#include "shared_cases.h"
#include "test_servers.h"
#include "tmclient/nats_responder.h"
#include "tmclient/tmb_stream.h"
#include "tmclient/tmd_client_object.h"
#include "tmclient/tmd_error.h"
#include "tmclient/transport.h"

namespace {

using namespace tmclient;
using namespace transport_test;

// A user NKey made by the NATS tools, and its public key.
constexpr char kToolSeed[] = "SUACSSL3UAHUDXKFSNVUZRF5UHPMWZ6BFDTJ7M6USDXIEDNPPQYYYCU3VY";
constexpr char kToolPublicKey[] = "UDXU4RCSJNZOIQHZNWXHXORDPRTGNJAHAHFRGZNEEJCPQTT2M7NLCNF4";

// A new folder under /tmp, removed with what it holds.
struct TempFolder {
  TempFolder() {
    char tmpl[] = "/tmp/mpay-nats-XXXXXX";
    if (mkdtemp(tmpl)) path = tmpl;
  }
  ~TempFolder() {
    if (!path.empty()) std::filesystem::remove_all(path);
  }
  std::string path;
};

// Writes `text` into `path`, readable by its owner only.
void WriteSecret(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
  ::chmod(path.c_str(), 0600);
}

class NatsTransportTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server.Start()) << "nats-server did not start"; }

  std::string ClientUrl(const std::string& broker, int deadlineMs = 5000) const {
    return server.Url() + "?broker=" + broker + "&deadline_ms=" + std::to_string(deadlineMs);
  }
  std::unique_ptr<Transport> Open(const std::string& url) {
    std::unique_ptr<Transport> t;
    EXPECT_EQ(OpenTransport(url, t), 0) << url;
    return t;
  }
  template <class Handler>
  std::unique_ptr<NatsResponder> Respond(const std::string& broker, Handler handler,
                                         int workers = 2) {
    auto r = std::make_unique<NatsResponder>(std::move(handler),
                                             NatsResponderOptions{server.Url(), broker, workers});
    std::string error;
    EXPECT_TRUE(r->Start(&error)) << error;
    return r;
  }

  NatsServer server;
};

// A raw subscriber on "BROKER.*" that answers each request with whatever
// `answer` publishes; for responders that misbehave.
class RawResponder {
 public:
  using Answer = std::function<void(natsConnection*, natsMsg*)>;
  RawResponder(const std::string& url, const std::string& broker, Answer answer)
      : fnAnswer(std::move(answer)) {
    EXPECT_EQ(natsConnection_ConnectTo(&pConn, url.c_str()), NATS_OK);
    EXPECT_EQ(natsConnection_Subscribe(&pSub, pConn, (broker + ".*").c_str(), &OnMsg, this),
              NATS_OK);
    EXPECT_EQ(natsConnection_Flush(pConn), NATS_OK);
  }
  ~RawResponder() {
    natsSubscription_Unsubscribe(pSub);
    natsSubscription_Destroy(pSub);
    natsConnection_Destroy(pConn);
  }
  static void Publish(natsConnection* nc, natsMsg* m, const std::string& bytes) {
    natsConnection_Publish(nc, natsMsg_GetReply(m), bytes.data(), static_cast<int>(bytes.size()));
    natsConnection_Flush(nc);
  }
  static uint32_t CallId(natsMsg* m) {
    return CallIdOf(std::string_view(natsMsg_GetData(m), natsMsg_GetDataLength(m)));
  }

 private:
  static void OnMsg(natsConnection* nc, natsSubscription*, natsMsg* m, void* self) {
    static_cast<RawResponder*>(self)->fnAnswer(nc, m);
    natsMsg_Destroy(m);
  }
  Answer fnAnswer;
  natsConnection* pConn = nullptr;
  natsSubscription* pSub = nullptr;
};

std::string Header(char kind, uint32_t id, uint32_t result) {
  std::string out(1, kind);
  Put32(out, id);
  Put32(out, result);
  return out;
}

std::string PartHeader(uint32_t id, uint32_t result, uint32_t index, uint32_t count,
                       uint64_t total) {
  std::string out = Header('P', id, result);
  Put32(out, index);
  Put32(out, count);
  Put64(out, total);
  return out;
}

TEST_F(NatsTransportTest, CarriesSmallAndVeryLargeRepliesWithDefaultServerLimits) {
  auto responder = Respond("ECHO", Echo);
  auto t = Open(ClientUrl("ECHO"));
  std::string reply;
  EXPECT_EQ(t->Call("IFACE", "CODE", "hello", reply), 5);
  EXPECT_EQ(reply, "IFACE|CODE|hello");

  // About 9 MB: the size of a 100,000-row reply, far over the 1 MB payload
  // limit of a server left at its defaults.
  std::string big(9u << 20, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + (i >> 12));
  auto sizedEcho = [&](const std::string&, const std::string&, std::string_view request,
                       std::string& out) {
    out = request == "big" ? big : std::string(request);
    return 0;
  };
  auto bigResponder = Respond("BIG", sizedEcho);
  auto tb = Open(ClientUrl("BIG"));
  EXPECT_EQ(tb->Call("I", "C", "big", reply), 0);
  EXPECT_TRUE(reply == big) << "reply of " << reply.size() << " bytes differs";
  // Exactly one message's worth, and the next call on the same inbox.
  EXPECT_EQ(tb->Call("I", "C", std::string(1000, 'z'), reply), 0);
  EXPECT_EQ(reply, std::string(1000, 'z'));
}

// The shipped configuration as scripts/broker-config writes it out: TLS and
// users on every connection, large replies carried, and a client user that
// can neither read other subjects nor answer in the back office's place.
TEST_F(NatsTransportTest, ShippedServerConfigurationWantsTlsAndUsers) {
  TempFolder folder;
  ASSERT_FALSE(folder.path.empty());
  const std::string& dir = folder.path;
  const std::string src = std::getenv("MPAY_SOURCE_DIR");
  ASSERT_EQ(std::system(("bash " + src + "/scripts/broker-config " + dir).c_str()), 0);
  NatsServer shipped;
  ASSERT_TRUE(shipped.Start({"-c", dir + "/nats-server.conf"}));
  const std::string ca = "?ca=" + dir + "/ca.pem";
  std::string big(3u << 20, 'b');
  NatsResponder r(
      [&](const std::string&, const std::string&, std::string_view, std::string& out) {
        out = big;
        return 0;
      },
      {shipped.Url() + ca + "&creds=" + dir + "/backoffice.creds", "TALMIRON", 1});
  std::string why;
  ASSERT_TRUE(r.Start(&why)) << why;

  // A client user that subscribes to everything, or joins the queue group.
  std::string operatorPassword;
  {
    std::ifstream creds(dir + "/operator.creds");
    for (std::string line; std::getline(creds, line);)
      if (line.starts_with("password = ")) operatorPassword = line.substr(11);
  }
  natsOptions* opts = nullptr;
  natsOptions_Create(&opts);
  natsOptions_SetURL(opts, shipped.Url().c_str());
  natsOptions_SetSecure(opts, true);
  natsOptions_LoadCATrustedCertificates(opts, (dir + "/ca.pem").c_str());
  natsOptions_SetUserInfo(opts, "operator", operatorPassword.c_str());
  static std::atomic<int> refusals{0};
  natsOptions_SetErrorHandler(
      opts,
      [](natsConnection*, natsSubscription*, natsStatus s, void*) {
        if (s == NATS_NOT_PERMITTED) ++refusals;
      },
      nullptr);
  natsConnection* spy = nullptr;
  ASSERT_EQ(natsConnection_Connect(&spy, opts), NATS_OK);
  natsOptions_Destroy(opts);
  natsSubscription* all = nullptr;
  natsSubscription* group = nullptr;
  natsConnection_SubscribeSync(&all, spy, ">");
  natsConnection_QueueSubscribeSync(&group, spy, "TALMIRON.*", "TALMIRON");
  natsConnection_Flush(spy);

  auto t = Open(shipped.Url() + ca + "&creds=" + dir + "/operator.creds&broker=TALMIRON");
  ASSERT_TRUE(t);
  std::string reply;
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(t->Call("I", "C", "x", reply), 0);
    EXPECT_EQ(reply.size(), big.size());
  }
  natsMsg* m = nullptr;
  EXPECT_NE(natsSubscription_NextMsg(&m, all, 100), NATS_OK);
  EXPECT_NE(natsSubscription_NextMsg(&m, group, 100), NATS_OK);
  for (int i = 0; i < 100 && refusals < 2; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(refusals.load(), 2);
  natsSubscription_Destroy(all);
  natsSubscription_Destroy(group);
  natsConnection_Destroy(spy);

  // Wrong, missing or unprotected credentials, an NKey the broker does not
  // know, a damaged seed, and clear text.
  WriteSecret(dir + "/wrong.creds", "user = operator\npassword = not-the-one\n");
  std::ofstream(dir + "/open.creds") << "user = operator\npassword = " << operatorPassword << "\n";
  ::chmod((dir + "/open.creds").c_str(), 0644);
  WriteSecret(dir + "/stranger.creds", std::string(kToolSeed) + "\n");
  std::string damaged = kToolSeed;
  damaged[20] = damaged[20] == 'A' ? 'B' : 'A';
  WriteSecret(dir + "/damaged.creds", damaged + "\n");
  const struct {
    std::string options;
    int expected;
  } refused[] = {
      {ca + "&creds=" + dir + "/wrong.creds", kErrConnectFailed},
      {ca, kErrConnectFailed},
      {ca + "&creds=" + dir + "/open.creds", kErrBadBrokerUrl},
      {ca + "&creds=" + dir + "/stranger.creds", kErrConnectFailed},
      {ca + "&creds=" + dir + "/damaged.creds", kErrBadBrokerUrl},
      {"?creds=" + dir + "/operator.creds", kErrTlsHandshake},
  };
  for (const auto& c : refused) {
    std::unique_ptr<Transport> none;
    EXPECT_EQ(OpenTransport(shipped.Url() + c.options + "&broker=TALMIRON&deadline_ms=2000", none),
              c.expected)
        << c.options;
  }
}

// A seed file as the NATS tools write it, bare or armoured, signs the
// server's nonce for the public key the server knows; replies come to the
// inbox named after that key, the only one the user may read.
TEST(NatsNkeys, SeedFilesOfTheNatsToolsSignIn) {
  TempFolder folder;
  ASSERT_FALSE(folder.path.empty());
  const std::string& dir = folder.path;
  const std::string key = kToolPublicKey;
  std::ofstream(dir + "/nats-server.conf")
      << "authorization { users: [ { nkey: " << key
      << ", permissions: { publish: [\"NK.*\", \"_INBOX.>\"], subscribe: [\"NK.*\", \"_INBOX."
      << key << ".>\"] } } ] }\n";
  WriteSecret(dir + "/bare.nk", std::string(kToolSeed) + "\n");
  WriteSecret(dir + "/armoured.nk", "-----BEGIN USER NKEY SEED-----\n" + std::string(kToolSeed) +
                                        "\n------END USER NKEY SEED------\n");
  NatsServer server;
  ASSERT_TRUE(server.Start({"-c", dir + "/nats-server.conf"}));
  NatsResponder r(Echo, {server.Url() + "?creds=" + dir + "/bare.nk", "NK", 1});
  std::string why;
  ASSERT_TRUE(r.Start(&why)) << why;
  for (const char* file : {"/bare.nk", "/armoured.nk"}) {
    std::unique_ptr<Transport> t;
    ASSERT_EQ(OpenTransport(server.Url() + "?creds=" + dir + file + "&broker=NK", t), 0) << file;
    std::string reply;
    EXPECT_EQ(t->Call("I", "C", "nkey", reply), 4) << file;
    EXPECT_EQ(reply, "I|C|nkey");
  }
}

// A broker's side of one sign-in, scripted: INFO with `nonce`, then PONG to
// every PING until the client hangs up. Returns the client's CONNECT line, ""
// when it sent none.
std::string ServeSignIn(int fd, const std::string& nonce) {
  WriteAll(fd,
           "INFO {\"server_id\":\"scripted\",\"version\":\"2.9.10\",\"proto\":1,"
           "\"headers\":true,\"max_payload\":1048576,\"auth_required\":true,\"nonce\":\"" +
               nonce + "\"}\r\n");
  std::string connect, lines;
  char chunk[4096];
  pollfd pf{fd, POLLIN, 0};
  while (::poll(&pf, 1, 5000) > 0) {
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) break;
    lines.append(chunk, static_cast<std::size_t>(n));
    for (std::size_t eol; (eol = lines.find("\r\n")) != std::string::npos;
         lines.erase(0, eol + 2)) {
      if (lines.starts_with("CONNECT ")) connect = lines.substr(0, eol);
      if (lines.starts_with("PING\r\n")) WriteAll(fd, "PONG\r\n");
    }
  }
  return connect;
}

// libnats leaves a signature whose first byte is zero out of CONNECT, and the
// broker refuses the sign-in; the client signs in on a new connection instead.
TEST(NatsNkeys, ASignatureThatStartsWithZeroIsNotSent) {
  // The tool seed's signature of the first nonce starts with a zero byte.
  const std::string nonces[] = {"Nq2zXuPQd_z_3IE", "NLcPnaaxWmqlBQo"};
  std::mutex lock;
  std::vector<std::string> connects;
  {
    std::atomic<int> accepted{0};
    RawTcpServer broker([&](int fd) {
      std::string line = ServeSignIn(fd, nonces[std::min(accepted++, 1)]);
      std::lock_guard hold(lock);
      connects.push_back(std::move(line));
    });
    TempFolder folder;
    WriteSecret(folder.path + "/user.nk", std::string(kToolSeed) + "\n");
    std::unique_ptr<Transport> t;
    EXPECT_EQ(OpenTransport("nats://127.0.0.1:" + std::to_string(broker.port()) +
                                "?creds=" + folder.path + "/user.nk&broker=NK",
                            t),
              0);
  }  // the client hangs up, then the broker's threads end
  EXPECT_THAT(connects, ::testing::UnorderedElementsAre("", ::testing::HasSubstr("\"sig\":\"")));
}

TEST_F(NatsTransportTest, BrokerDownAtBindTime) {
  uint16_t port = FreePort();
  EnvGuard env("TMCLIENT_BROKER_NATSDOWN", "nats://127.0.0.1:" + std::to_string(port));
  CTmdClientObject client;
  EXPECT_EQ(client.bind_openBroker("NATSDOWN"), kErrConnectFailed);
  EXPECT_FALSE(client.is_bound());
}

TEST_F(NatsTransportTest, BrokerDownAtCallTime) {
  auto responder = Respond("GONE", Echo);
  auto t = Open(ClientUrl("GONE", 300));
  std::string reply;
  ASSERT_EQ(t->Call("I", "C", "a", reply), 1);
  responder.reset();
  server.Stop();
  // Whether the client noticed before or while the call went out, it fails
  // at once or with its deadline, never with a reply.
  EXPECT_THAT(t->Call("I", "C", "a", reply),
              ::testing::AnyOf(kErrConnectFailed, kErrConnectionLost));
  EXPECT_EQ(t->Call("I", "C", "a", reply), kErrConnectFailed);
}

TEST_F(NatsTransportTest, CallsWorkAgainAfterTheBrokerRestarts) {
  auto responder = Respond("AGAIN", Echo);
  auto t = Open(ClientUrl("AGAIN", 2000));
  std::string reply;
  ASSERT_EQ(t->Call("I", "C", "a", reply), 1);
  uint16_t port = server.port();
  server.Stop();
  ASSERT_TRUE(server.Start({}, port));
  // Client and responder reconnect on their own, each at its own pace: the
  // first calls may find nobody serving yet.
  int result = 0;
  for (int i = 0; i < 50 && result != 1; ++i) {
    result = t->Call("I", "C", "b", reply);
    if (result != 1) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(result, 1);
  EXPECT_EQ(reply, "I|C|b");
}

TEST_F(NatsTransportTest, NoResponders) {
  auto t = Open(ClientUrl("NOBODY", 300));  // tried again until the deadline
  std::string reply;
  EXPECT_EQ(t->Call("I", "C", "x", reply), kErrNoResponders);
  // A responder for another broker does not count.
  auto other = Respond("SOMEBODY", Echo);
  EXPECT_EQ(t->Call("I", "C", "x", reply), kErrNoResponders);
}

TEST_F(NatsTransportTest, CallsWaitForAResponderWithinTheirDeadline) {
  auto t = Open(ClientUrl("LATE", 10000));
  std::unique_ptr<NatsResponder> responder;
  std::thread later([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    responder = Respond("LATE", Echo);
  });
  std::string reply;
  EXPECT_EQ(t->Call("I", "C", "abc", reply), 3);  // nobody took it: asked again
  later.join();
}

TEST_F(NatsTransportTest, AnIdempotentCallIsAskedAgainWhenAnAttemptGoesUnanswered) {
  std::atomic<int> seen{0};
  // Every other request is lost, as with a responder killed after taking it.
  RawResponder forgetful(server.Url(), "LOSSY", [&](natsConnection* nc, natsMsg* m) {
    const int k = ++seen;
    if (k % 2 == 1) return;
    std::string out("R");
    Put32(out, RawResponder::CallId(m));
    Put32(out, static_cast<uint32_t>(k));
    RawResponder::Publish(nc, m, out);
  });
  std::string reply;
  auto query = Open(ClientUrl("LOSSY", 5000) + "&idempotent=QUERY&attempt_ms=200");
  EXPECT_EQ(query->Call("I", "QUERY", "x", reply), 2);
  auto update = Open(ClientUrl("LOSSY", 400) + "&idempotent=QUERY&attempt_ms=200");
  EXPECT_EQ(update->Call("I", "UPDATE", "x", reply), kErrTimeout);  // sent once, waits it out
  EXPECT_EQ(seen, 3);
}

TEST_F(NatsTransportTest, DeadlinePassesWhenTheResponderNeverAnswers) {
  RawResponder silent(server.Url(), "SILENT", [](natsConnection*, natsMsg*) {});
  auto t = Open(ClientUrl("SILENT", 200));
  std::string reply;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(t->Call("I", "C", "x", reply), kErrTimeout);
}

TEST_F(NatsTransportTest, AnAbandonedCallStopsWaitingAndIsNotAskedAgain) {
  // An idempotent call that would otherwise be asked again every 2 s
  // until its 30 s deadline.
  std::atomic<int> seen{0};
  std::atomic<bool> asked{false};
  RawResponder silent(server.Url(), "SILENT", [&](natsConnection*, natsMsg*) {
    ++seen;
    asked = true;
  });
  auto t = Open(ClientUrl("SILENT", 30000) + "&idempotent=QUERY&attempt_ms=2000");
  std::thread giveUp([&] {
    if (WaitFor(asked)) t->Abandon();
  });
  std::string reply;
  EXPECT_EQ(t->Call("I", "QUERY", "x", reply), kErrCallAbandoned);
  giveUp.join();
  EXPECT_EQ(seen, 1);
}

// The client's own limits hold for replies in one message and in parts; a
// responder refuses a request over its own limit with that code.
TEST_F(NatsTransportTest, TheClientsOwnReplyLimitsAndTheRespondersRequestLimitHold) {
  auto responder = Respond("SIZED", SizedReplies);
  auto t = Open(ClientUrl("SIZED") + "&max_reply_mb=1&max_rows=3");
  ASSERT_TRUE(t);
  ExpectTheClientsOwnLimitsHold(*t);

  NatsResponderOptions options{server.Url(), "SMALL", 1};
  options.maxRequestSize = 1024;
  NatsResponder small(Echo, options);
  ASSERT_TRUE(small.Start());
  auto s = Open(ClientUrl("SMALL"));
  std::string reply;
  EXPECT_EQ(s->Call("I", "C", std::string(1024, 'x'), reply), 1024);
  EXPECT_EQ(s->Call("I", "C", std::string(1025, 'x'), reply), kErrRequestTooLarge);
}

TEST_F(NatsTransportTest, LateRepliesAreNotTakenForTheNextOne) {
  // The first request is answered only after the client gave up on it; its
  // reply then waits in the client's inbox when the second call begins.
  std::atomic<int> n{0};
  std::atomic<bool> release{false}, sent{false};
  RawResponder slow(server.Url(), "SLOW", [&](natsConnection* nc, natsMsg* m) {
    int k = ++n;
    if (k == 1) WaitFor(release);
    RawResponder::Publish(nc, m, Header('R', RawResponder::CallId(m), k) + "r");
    if (k == 1) sent = true;
  });
  auto t = Open(ClientUrl("SLOW", 200));
  std::string reply;
  EXPECT_EQ(t->Call("I", "C", "x", reply), kErrTimeout);
  release = true;
  ASSERT_TRUE(WaitFor(sent));
  EXPECT_EQ(t->Call("I", "C", "x", reply), 2);
}

TEST_F(NatsTransportTest, BrokenRepliesHaveTheirOwnCodes) {
  struct Case {
    const char* what;
    std::function<std::vector<std::string>(uint32_t id)> messages;
    int expected;
  };
  const Case cases[] = {
      {"garbage", [](uint32_t) { return std::vector<std::string>{"garbage!"}; }, kErrBadReplyFrame},
      {"empty", [](uint32_t) { return std::vector<std::string>{""}; }, kErrBadReplyFrame},
      {"wrong call id", [](uint32_t id) { return std::vector{Header('R', id + 1, 0)}; },
       kErrBadReplyFrame},
      {"parts out of order",
       [](uint32_t id) {
         return std::vector{PartHeader(id, 0, 1, 2, 2) + "b", PartHeader(id, 0, 0, 2, 2) + "a"};
       },
       kErrBadReplyFrame},
      {"parts longer than announced",
       [](uint32_t id) {
         return std::vector{PartHeader(id, 0, 0, 2, 2) + "ab", PartHeader(id, 0, 1, 2, 2) + "c"};
       },
       kErrBadReplyFrame},
      {"over the size limit",
       [](uint32_t id) { return std::vector{PartHeader(id, 0, 0, 2, uint64_t(1) << 40) + "a"}; },
       kErrReplyTooLarge},
      {"stops mid-reply", [](uint32_t id) { return std::vector{PartHeader(id, 0, 0, 3, 3) + "a"}; },
       kErrTimeout},
      {"error message",
       [](uint32_t id) { return std::vector{Header('E', id, uint32_t(kErrServiceFailed))}; },
       kErrServiceFailed},
  };
  for (const Case& c : cases) {
    RawResponder peer(server.Url(), "BROKEN", [&](natsConnection* nc, natsMsg* m) {
      for (const std::string& bytes : c.messages(RawResponder::CallId(m)))
        RawResponder::Publish(nc, m, bytes);
    });
    auto t = Open(ClientUrl("BROKEN", 300));
    std::string reply;
    EXPECT_EQ(t->Call("I", "C", "x", reply), c.expected) << c.what;
  }
}

TEST_F(NatsTransportTest, ConnectionLostMidCall) {
  std::atomic<bool> received{false};
  RawResponder silent(server.Url(), "LOST", [&](natsConnection*, natsMsg*) { received = true; });
  auto t = Open(ClientUrl("LOST", 10000));
  std::string reply;
  int result = 0;
  std::thread caller([&] { result = t->Call("I", "C", "x", reply); });
  EXPECT_TRUE(WaitFor(received));  // the call waits for its reply now
  server.Stop();
  caller.join();
  EXPECT_EQ(result, kErrConnectionLost);
}

TEST_F(NatsTransportTest, ServerResultsAndFailuresReachTheCaller) {
  auto responder = Respond("CODES", ScriptedResults);
  ExpectServerResultsReachTheCaller(*Open(ClientUrl("CODES")));
}

TEST_F(NatsTransportTest, StreamedRepliesArriveWholeOrNotAtAll) {
  auto responder = Respond("STREAMED", ScriptedStreaming);
  ExpectStreamedRepliesWholeOrNothing(*Open(ClientUrl("STREAMED")));
}

TEST_F(NatsTransportTest, ReplyThatCannotBePublishedEndsInAnErrorNotATimeout) {
  // Messages so small that no part of a reply fits: only the short error
  // message can go out, and the caller learns at once.
  NatsResponder cramped(Echo, {server.Url(), "CRAMPED", 1, 16});
  ASSERT_TRUE(cramped.Start());
  auto t = Open(ClientUrl("CRAMPED", 60000));
  std::string reply;
  EXPECT_EQ(t->Call("I", "C", "a request whose echo does not fit", reply), kErrServiceFailed);
}

TEST_F(NatsTransportTest, QueueGroupSharesTheLoadAndRoutesAroundAStoppedInstance) {
  std::atomic<int> a{0}, b{0};
  auto counting = [](std::atomic<int>& n) {
    return [&n](const std::string& i, const std::string& c, std::string_view r, std::string& o) {
      ++n;
      return Echo(i, c, r, o);
    };
  };
  auto first = Respond("GROUP", counting(a));
  auto second = Respond("GROUP", counting(b));
  auto t = Open(ClientUrl("GROUP"));
  std::string reply;
  for (int i = 0; i < 60; ++i) ASSERT_EQ(t->Call("I", "C", "x", reply), 1);
  EXPECT_EQ(a + b, 60);
  EXPECT_GT(a, 0);  // each has a 2^-59 chance of getting none
  EXPECT_GT(b, 0);
  first->Stop();
  int before = b;
  for (int i = 0; i < 20; ++i) ASSERT_EQ(t->Call("I", "C", "x", reply), 1);
  EXPECT_EQ(b, before + 20);
}

TEST_F(NatsTransportTest, ConcurrentCallersEachGetTheirOwnReplies) {
  auto responder = Respond("MANY", Echo, 4);
  ExpectConcurrentCallersGetTheirOwnReplies([&] { return Open(ClientUrl("MANY")); });
}

TEST(NatsResponder, StartFailsWithAReason) {
  std::string error;
  NatsResponder down(Echo, {"nats://127.0.0.1:" + std::to_string(FreePort()), "X", 1});
  EXPECT_FALSE(down.Start(&error));
  EXPECT_FALSE(error.empty());
  NatsResponder badBroker(Echo, {"nats://127.0.0.1:1", "A.B", 1});
  EXPECT_FALSE(badBroker.Start(&error));
  EXPECT_NE(error.find("A.B"), std::string::npos) << error;
}

}  // namespace
