// The tcp:// transport and TcpServer against each other and against
// scripted peers that misbehave.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "shared_cases.h"
#include "test_servers.h"
#include "tmclient/broker_resolver.h"
#include "tmclient/reply_progress.h"
#include "tmclient/session.h"
#include "tmclient/tcp_server.h"
#include "tmclient/tmb_stream.h"
#include "tmclient/tmd_client_object.h"
#include "tmclient/tmd_error.h"
#include "tmclient/transport.h"

namespace {

using namespace tmclient;
using namespace transport_test;

std::string Url(uint16_t port, int deadlineMs = 0) {
  std::string url = "tcp://127.0.0.1:" + std::to_string(port);
  if (deadlineMs) url += "?deadline_ms=" + std::to_string(deadlineMs);
  return url;
}

std::unique_ptr<Transport> Open(const std::string& url) {
  std::unique_ptr<Transport> t;
  EXPECT_EQ(OpenTransport(url, t), 0) << url;
  return t;
}

// Reads requests and never answers; returns when the client goes away.
void NeverAnswer(int fd) {
  std::string body;
  while (ReadFrame(fd, body)) {
  }
}

TEST(TcpTransport, CarriesRequestAndReplyBothWays) {
  TcpServer server(Echo, {});
  ASSERT_TRUE(server.Start());
  auto t = Open(Url(server.port()));
  ASSERT_TRUE(t);
  std::string reply;
  EXPECT_EQ(t->Call("IFACE", "CODE", "hello", reply), 5);
  EXPECT_EQ(reply, "IFACE|CODE|hello");

  // Empty and large requests, on the same connection.
  EXPECT_EQ(t->Call("I", "C", "", reply), 0);
  EXPECT_EQ(reply, "I|C|");
  std::string big(5u << 20, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 131);
  EXPECT_EQ(t->Call("I", "C", big, reply), static_cast<int>(big.size()));
  EXPECT_EQ(reply, "I|C|" + big);
}

TEST(TcpTransport, TheClientsOwnReplySizeAndRowLimitsHold) {
  TcpServer server(SizedReplies, {});
  ASSERT_TRUE(server.Start());
  auto t = Open(Url(server.port()) + "?max_reply_mb=1&max_rows=3");
  ASSERT_TRUE(t);
  ExpectTheClientsOwnLimitsHold(*t);
}

TEST(TcpTransport, RepliesLongerThanWhatIsReservedAtOnceArriveWhole) {
  // Past 1 MiB the client grows its buffer as bytes arrive instead of
  // believing the announced length.
  std::string big((65u << 20) + 3, '\0');
  for (std::size_t i = 0; i < big.size(); i += 4096) big[i] = static_cast<char>(i >> 12);
  big.back() = 'z';
  TcpServer server(
      [&](const std::string&, const std::string&, std::string_view, std::string& reply) {
        reply = big;
        return 0;
      },
      {});
  ASSERT_TRUE(server.Start());
  auto t = Open(Url(server.port()) + "?max_reply_mb=80");
  std::string reply;
  ASSERT_EQ(t->Call("I", "C", "x", reply), 0);
  EXPECT_TRUE(reply == big) << reply.size();
}

TEST(TcpTransport, ServerResultsAndFailuresReachTheCaller) {
  TcpServer server(ScriptedResults, {});
  ASSERT_TRUE(server.Start());
  ExpectServerResultsReachTheCaller(*Open(Url(server.port())));
}

TEST(TcpTransport, StreamedRepliesArriveWholeOrNotAtAll) {
  TcpServer server(ScriptedStreaming, {});
  ASSERT_TRUE(server.Start());
  ExpectStreamedRepliesWholeOrNothing(*Open(Url(server.port())));
}

// Writes down what it is told, in order.
class ProgressLog : public ReplyProgress {
 public:
  std::string sLog;
  std::atomic<bool> bSeen{false};  // some bytes have arrived
  void Started(std::size_t headSize) override { sLog += "S" + std::to_string(headSize) + " "; }
  void Arrived(std::string_view body) override {
    sLog += "A" + std::string(body) + " ";
    bSeen = true;
  }
  void Dropped() override { sLog += "D "; }
};

TEST(TcpTransport, AWatcherIsToldOfAStreamedReplyWhileItArrives) {
  std::atomic<ProgressLog*> watcher{nullptr};
  // The rest of each reply waits until the client has seen its first part:
  // a client that read it only once whole would wait for ever.
  TcpServer server(
      [&](const CallContext&, const std::string&, const std::string& code, std::string_view,
          std::string& reply, ReplyWriter& w) {
        if (!w.Begin(4) || !w.Append("one") || !WaitFor(watcher.load()->bSeen)) return 1;
        if (code == "REPLACE") {
          reply = "whole";
          return 0;
        }
        return w.Append("two") && w.Finish("HEAD") ? 0 : 1;
      },
      {});
  ASSERT_TRUE(server.Start());
  auto t = Open(Url(server.port()));
  const struct {
    const char *code, *log, *reply;
  } cases[] = {{"FINISH", "S4 Aone Aonetwo ", "HEADonetwo"}, {"REPLACE", "S4 Aone D ", "whole"}};
  for (const auto& c : cases) {
    ProgressLog log;
    watcher = &log;
    std::string reply;
    ASSERT_EQ(t->CallWatched("I", c.code, "", reply, log), 0);
    EXPECT_EQ(log.sLog, c.log);
    EXPECT_EQ(reply, c.reply);
  }
}

// A reader of the rows ahead is told no more of them than the client takes:
// past max_rows it is told the reply is dropped, and the call fails. The
// lists' counts are checked as the parts arrive and in the head that comes
// last, so that a list too long fails the call wherever it is.
TEST(TcpTransport, AWatcherSeesNoMoreRowsThanTheClientTakes) {
  const std::string element(
      "\x12\x01"
      "E\x01\x07\0\0\0\x13",
      9);
  // Request "ROWS,COUNTED,NESTED": ROWS elements, COUNTED in the head, and
  // in the first element a list of NESTED elements when not 0.
  TcpServer server(
      [&](const CallContext&, const std::string&, const std::string&, std::string_view request,
          std::string&, ReplyWriter& w) {
        unsigned rows = 0, counted = 0, nested = 0;
        if (std::sscanf(std::string(request).c_str(), "%u,%u,%u", &rows, &counted, &nested) != 3)
          return 2;
        std::string head("\x10\x01\x01S\x14\x04rows", 10);
        Put32(head, counted);
        std::string inner(
            "\x12\x01"
            "E\x14\x01L",
            6);
        Put32(inner, nested);
        inner += "\x15\x13";
        if (!w.Begin(head.size())) return 1;
        for (unsigned i = 0; i < rows; ++i)
          if (!w.Append(i == 0 && nested ? inner : element)) return 1;
        return w.Append("\x15\x11") && w.Finish(head) ? 0 : 1;
      },
      {});
  ASSERT_TRUE(server.Start());
  auto t = Open(Url(server.port()) + "?max_rows=3");
  struct Watcher : ReplyProgress {
    std::size_t iMostRows = 0;
    bool bDropped = false;
    void Started(std::size_t) override {}
    void Arrived(std::string_view body) override {
      std::size_t rows = 0;
      for (std::size_t at = body.find("\x12\x01"
                                      "E");
           at != std::string_view::npos; at = body.find("\x12\x01"
                                                        "E",
                                                        at + 1))
        ++rows;
      iMostRows = std::max(iMostRows, rows);
    }
    void Dropped() override { bDropped = true; }
  };
  const struct {
    const char* request;
    int result;
    bool dropped;
  } cases[] = {
      {"3,3,0", 0, false},
      {"3,3,3", 0, false},
      {"50,50,0", kErrReplyTooLarge, true},
      {"3,50,0", kErrReplyTooLarge, false},  // the head's count
      {"3,3,4", kErrReplyTooLarge, true},    // a list inside an element
  };
  for (const auto& c : cases) {
    Watcher watcher;
    std::string reply;
    EXPECT_EQ(t->CallWatched("I", "C", c.request, reply, watcher), c.result) << c.request;
    EXPECT_LE(watcher.iMostRows, 3u) << c.request;
    EXPECT_EQ(watcher.bDropped, c.dropped) << c.request;
    EXPECT_EQ(reply.empty(), c.result != 0) << c.request;
  }
}

TEST(TcpTransport, BackEndDown) {
  uint16_t port = FreePort();
  // At bind time: the client object stays unbound and says so on a call.
  EnvGuard env("TMCLIENT_BROKER_TCPDOWN", Url(port));
  CTmdClientObject client;
  EXPECT_EQ(client.bind_openBroker("TCPDOWN"), kErrConnectFailed);
  EXPECT_FALSE(client.is_bound());
  tmb_stream in, out;
  in.open();
  EXPECT_EQ(client.call_server("I", "C", nullptr, in, out), kErrNotBound);
  EXPECT_STRNE(tmd_getErrorMsg(kErrConnectFailed), tmd_getErrorMsg(kErrNotBound));

  // At call time: bound while the server ran, which then went away. The
  // call is tried again until its deadline, then fails with the reason.
  auto server = std::make_unique<TcpServer>(Echo, TcpServerOptions{.port = port});
  ASSERT_TRUE(server->Start());
  auto t = Open(Url(port, 300));
  std::string reply;
  ASSERT_EQ(t->Call("I", "C", "a", reply), 1);
  server.reset();
  EXPECT_EQ(t->Call("I", "C", "a", reply), kErrConnectFailed);

  // The next call after the peer restarted on the same port gets through.
  server = std::make_unique<TcpServer>(Echo, TcpServerOptions{.port = port});
  ASSERT_TRUE(server->Start());
  EXPECT_EQ(t->Call("I", "C", "ab", reply), 2);
}

TEST(TcpTransport, CallsMadeWhileTheServerIsDownGoThroughWhenItIsBack) {
  uint16_t port = FreePort();
  auto server = std::make_unique<TcpServer>(Echo, TcpServerOptions{.port = port});
  ASSERT_TRUE(server->Start());
  auto t = Open(Url(port, 10000));
  std::string reply;
  ASSERT_EQ(t->Call("I", "C", "a", reply), 1);
  server.reset();
  std::thread restart([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    server = std::make_unique<TcpServer>(Echo, TcpServerOptions{.port = port});
    EXPECT_TRUE(server->Start());
  });
  // Refused connections never reached a server: any service is tried again.
  EXPECT_EQ(t->Call("I", "C", "abc", reply), 3);
  restart.join();
}

TEST(TcpTransport, AServerThatStaysDownFailsTheCallAfterTheRetryTimeNotTheDeadline) {
  uint16_t port = FreePort();
  auto server = std::make_unique<TcpServer>(Echo, TcpServerOptions{.port = port});
  ASSERT_TRUE(server->Start());
  auto t = Open(Url(port, 60000) + "&retry_ms=300");
  std::string reply;
  ASSERT_EQ(t->Call("I", "C", "a", reply), 1);
  server.reset();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(t->Call("I", "C", "a", reply), kErrConnectFailed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

// A peer that loses every other request: it reads it, then closes the
// connection (or, when `silent`, keeps it open without an answer). The
// others are answered with their number.
class ForgetfulPeer {
 public:
  explicit ForgetfulPeer(bool silent)
      : cServer([this, silent](int fd) {
          std::string body;
          while (ReadFrame(fd, body)) {
            const int k = ++iSeen;
            if (k % 2 == 1) {
              if (silent) NeverAnswer(fd);
              return;
            }
            std::string out;
            Put32(out, 9);
            out.push_back('R');
            Put32(out, CallIdOf(body));
            Put32(out, static_cast<uint32_t>(k));
            WriteAll(fd, out);
          }
        }) {}
  std::string Url(const std::string& options) const { return cServer.Url() + "?" + options; }
  int seen() const { return iSeen; }

 private:
  std::atomic<int> iSeen{0};
  RawTcpServer cServer;
};

TEST(TcpTransport, OnlyIdempotentServicesAreAskedAgainWhenTheRequestMayHaveRun) {
  {
    ForgetfulPeer closes(false);
    auto t = Open(closes.Url("idempotent=QUERY,OTHERQ&deadline_ms=5000"));
    std::string reply;
    EXPECT_EQ(t->Call("I", "QUERY", "x", reply), 2);  // closed mid-call, then answered
    EXPECT_EQ(t->Call("I", "UPDATE", "x", reply), kErrConnectionLost);
    EXPECT_EQ(closes.seen(), 3);  // the update was sent once
  }
  {
    ForgetfulPeer silent(true);
    auto t = Open(silent.Url("idempotent=QUERY&attempt_ms=200&deadline_ms=5000"));
    std::string reply;
    EXPECT_EQ(t->Call("I", "QUERY", "x", reply), 2);  // unanswered for 200 ms, then answered
    auto once = Open(silent.Url("idempotent=QUERY&attempt_ms=200&deadline_ms=400"));
    EXPECT_EQ(once->Call("I", "UPDATE", "x", reply), kErrTimeout);  // waits its whole deadline
    EXPECT_EQ(silent.seen(), 3);
  }
}

TEST(TcpTransport, ReconnectsWhenThePeerRestartedBetweenCalls) {
  uint16_t port = FreePort();
  auto server = std::make_unique<TcpServer>(Echo, TcpServerOptions{.port = port});
  ASSERT_TRUE(server->Start());
  auto t = Open(Url(port));
  std::string reply;
  ASSERT_EQ(t->Call("I", "C", "a", reply), 1);
  server = std::make_unique<TcpServer>(Echo, TcpServerOptions{.port = port});
  ASSERT_TRUE(server->Start());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(t->Call("I", "C", "abc", reply), 3);
}

TEST(TcpTransport, DeadlinePassesWhenTheServerNeverAnswers) {
  RawTcpServer silent(NeverAnswer);
  auto t = Open(Url(silent.port(), 200));
  std::string reply;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(t->Call("I", "C", "x", reply), kErrTimeout);
}

TEST(TcpTransport, LateReplyIsNeverTakenForTheNextOne) {
  // The first request is answered only after the client gave up on it.
  std::atomic<int> seen{0};
  std::atomic<bool> release{false}, sent{false};
  RawTcpServer slow([&](int fd) {
    std::string body;
    while (ReadFrame(fd, body)) {
      int k = ++seen;
      if (k == 1) WaitFor(release);
      WriteAll(fd, ReplyFrame(CallIdOf(body), static_cast<uint32_t>(k), "late"));
      if (k == 1) sent = true;
    }
  });
  auto t = Open(Url(slow.port(), 200));
  std::string reply;
  EXPECT_EQ(t->Call("I", "C", "x", reply), kErrTimeout);
  release = true;
  ASSERT_TRUE(WaitFor(sent));
  EXPECT_EQ(t->Call("I", "C", "x", reply), 2);  // answered on a fresh connection
}

TEST(TcpTransport, BrokenRepliesHaveTheirOwnCodes) {
  struct Case {
    const char* what;
    std::function<std::string(uint32_t callId)> reply;  // bytes sent, then the connection closes
    int expected;
  };
  auto frame = [](char kind, uint32_t id, uint32_t result, const std::string& data) {
    std::string out;
    Put32(out, static_cast<uint32_t>(9 + data.size()));
    out.push_back(kind);
    Put32(out, id);
    Put32(out, result);
    return out + data;
  };
  // A streamed reply's part: no result field.
  auto part = [](uint32_t id, const std::string& data) {
    std::string out;
    Put32(out, static_cast<uint32_t>(5 + data.size()));
    out.push_back('S');
    Put32(out, id);
    return out + data;
  };
  const Case cases[] = {
      {"closes before answering", [](uint32_t) { return std::string(); }, kErrConnectionLost},
      {"closes mid-header", [](uint32_t) { return std::string("\x20\0\0", 3); },
       kErrConnectionLost},
      {"closes mid-reply",
       [&](uint32_t id) { return frame('R', id, 0, "0123456789").substr(0, 17); },
       kErrConnectionLost},
      {"garbage", [](uint32_t) { return std::string("\x0c\0\0\0garbagegarbag", 16); },
       kErrBadReplyFrame},
      {"too short", [](uint32_t) { return std::string("\x02\0\0\0RR", 6); }, kErrBadReplyFrame},
      {"wrong call id", [&](uint32_t id) { return frame('R', id + 1, 0, "x"); }, kErrBadReplyFrame},
      {"library code as a result",
       [&](uint32_t id) { return frame('R', id, uint32_t(kErrTimeout), ""); }, kErrBadReplyFrame},
      {"over the size limit", [](uint32_t) { return std::string("\xf0\xff\xff\xff", 4); },
       kErrReplyTooLarge},
      {"error frame", [&](uint32_t id) { return frame('E', id, uint32_t(kErrServiceFailed), ""); },
       kErrServiceFailed},
      {"streamed part without a start", [&](uint32_t id) { return part(id, "abc"); },
       kErrBadReplyFrame},
      {"stream started twice",
       [&](uint32_t id) { return frame('H', id, 2, "") + frame('H', id, 2, ""); },
       kErrBadReplyFrame},
      {"head larger than a head may be", [&](uint32_t id) { return frame('H', id, 1u << 20, ""); },
       kErrBadReplyFrame},
      {"finish without a start", [&](uint32_t id) { return frame('F', id, 0, ""); },
       kErrBadReplyFrame},
      {"stream start with bytes after it",  // that would read as a part of its own
       [&](uint32_t id) { return frame('H', id, 2, part(id, "ab")) + frame('F', id, 0, "hd"); },
       kErrBadReplyFrame},
      {"head of another size than announced",
       [&](uint32_t id) { return frame('H', id, 2, "") + part(id, "ab") + frame('F', id, 0, "x"); },
       kErrBadReplyFrame},
      {"streamed part of another call",
       [&](uint32_t id) { return frame('H', id, 2, "") + part(id + 1, "ab"); }, kErrBadReplyFrame},
      {"streamed part over the size limit",
       [&](uint32_t id) { return frame('H', id, 2, "") + std::string("\xf0\xff\xff\xff", 4); },
       kErrReplyTooLarge},
      {"library code finishing a stream",
       [&](uint32_t id) {
         return frame('H', id, 2, "") + part(id, "ab") +
                frame('F', id, uint32_t(kErrTimeout), "hd");
       },
       kErrBadReplyFrame},
      {"closes mid-stream",
       [&](uint32_t id) { return frame('H', id, 2, "") + part(id, "streamed rows"); },
       kErrConnectionLost},
  };
  for (const Case& c : cases) {
    RawTcpServer peer([&](int fd) {
      std::string body;
      if (ReadFrame(fd, body)) WriteAll(fd, c.reply(CallIdOf(body)));
    });
    auto t = Open(Url(peer.port(), 5000));
    std::string reply = "left from before";
    EXPECT_EQ(t->Call("I", "C", "x", reply), c.expected) << c.what;
    EXPECT_EQ(reply, "") << c.what;  // nothing of a reply that did not come whole
  }
}

TEST(TcpServer, MisbehavingClientsAreDisconnectedWithoutDisturbingOthers) {
  TcpServerOptions options;
  options.idleTimeoutMs = 300;
  options.readTimeoutMs = 300;
  options.maxRequestSize = 1024;
  TcpServer server(Echo, options);
  ASSERT_TRUE(server.Start());
  auto good = Open(Url(server.port()));
  std::string reply;

  int silent = RawConnect(server.port());  // sends nothing
  int halfFrame = RawConnect(server.port());
  WriteAll(halfFrame, std::string("\x40\0\0\0Q", 5));  // 64 bytes announced, 1 sent
  int garbage = RawConnect(server.port());
  WriteAll(garbage, std::string("\x05\0\0\0hello", 9));
  int oversized = RawConnect(server.port());
  WriteAll(oversized, std::string("\0\0\0\x10", 4));  // 256 MiB announced

  EXPECT_EQ(good->Call("I", "C", "still served", reply), 12);
  EXPECT_TRUE(ClosedByServer(garbage));
  EXPECT_TRUE(ClosedByServer(oversized));
  EXPECT_TRUE(ClosedByServer(halfFrame));
  EXPECT_TRUE(ClosedByServer(silent));
  EXPECT_EQ(good->Call("I", "C", "and again", reply), 9);  // reconnects after its idle close
  for (int fd : {silent, halfFrame, garbage, oversized}) ::close(fd);

  // The limit is the request stream's: the longest names and session still
  // fit beside it; one byte more is refused with a code, not a hang.
  const std::string longest(255, 'n');
  ASSERT_TRUE(SetSession(longest));
  EXPECT_EQ(good->Call(longest, longest, std::string(1024, 'x'), reply), 1024);
  EXPECT_EQ(good->Call(longest, longest, std::string(1025, 'x'), reply), kErrRequestTooLarge);
  SetSession("");
}

// A request over the server's limit, most of it unread when it is refused,
// behind replies its client has not read yet: the client reads them and the
// error, then the end, never a reset in their place.
TEST(TcpServer, ARequestOverTheLimitGetsItsErrorNotAReset) {
  TcpServerOptions options;
  options.maxRequestSize = 64 * 1024;
  options.maxQueuedBytes = 64u << 20;  // every reply is queued at once
  TcpServer server(Echo, options);
  ASSERT_TRUE(server.Start());
  std::string reply;
  auto t = Open(Url(server.port()));
  EXPECT_EQ(t->Call("I", "C", std::string(70 * 1024, 'x'), reply), kErrRequestTooLarge);

  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  int small = 4096;  // the replies stay on the server's side
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(server.port());
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  constexpr int kReplies = 100;
  std::string burst;
  for (int i = 1; i <= kReplies; ++i)
    burst += RequestFrame(i, "I", "C", std::string(60 * 1024, 'y'));
  burst += RequestFrame(kReplies + 1, "I", "C", std::string(70 * 1024, 'x'));
  WriteAll(fd, burst);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::string body;
  int replies = 0;
  while (ReadFrame(fd, body) && body[0] != 'E') ++replies;
  EXPECT_EQ(replies, kReplies);
  EXPECT_EQ(body.substr(0, 1), "E");
  EXPECT_TRUE(ClosedByServer(fd));
  ::close(fd);
}

// Connections that each hold part of a frame, past what the server lets all
// of them hold together: the ones quiet the longest are closed, the others
// and a working client go on.
TEST(TcpServer, ClosesTheQuietestConnectionsWhenAllTogetherHoldTooMuch) {
  TcpServerOptions options;
  options.maxRequestSize = 64 * 1024;
  options.maxBufferedBytes = 200 * 1024;
  options.readTimeoutMs = 60000;
  TcpServer server(Echo, options);
  ASSERT_TRUE(server.Start());
  std::string partial;
  Put32(partial, 64 * 1024);
  partial += 'A';  // a request, so far
  partial += std::string(60 * 1024, 'p');
  std::vector<int> fds;
  for (int i = 0; i < 6; ++i) {
    fds.push_back(RawConnect(server.port()));
    WriteAll(fds.back(), partial);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  auto t = Open(Url(server.port()));
  std::string reply;
  EXPECT_EQ(t->Call("I", "C", "served", reply), 6);
  // Three of 60 KiB fit in 200 KiB: the first three went, the last stays.
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(ClosedByServer(fds[i])) << i;
  char c;
  EXPECT_EQ(::recv(fds.back(), &c, 1, MSG_DONTWAIT), -1);
  EXPECT_EQ(errno, EAGAIN);
  EXPECT_EQ(server.stats().shed, 3u);
  EXPECT_EQ(server.stats().buffered, static_cast<int64_t>(3 * partial.size()));
  for (int fd : fds) ::close(fd);
}

TEST(TcpServer, ClosesOnRequestsWithCallIdZeroOrAnEmptyName) {
  TcpServer server(Echo, {});
  ASSERT_TRUE(server.Start());
  for (const std::string& bad :
       {RequestFrame(0, "I", "C"), RequestFrame(1, "", "C"), RequestFrame(1, "I", "")}) {
    int fd = RawConnect(server.port());
    WriteAll(fd, bad);
    char c;
    EXPECT_LE(::recv(fd, &c, 1, 0), 0);  // closed, with no reply before the close
    ::close(fd);
  }
  int fd = RawConnect(server.port());
  WriteAll(fd, RequestFrame(1, "I", "C"));
  std::string body;
  EXPECT_TRUE(ReadFrame(fd, body));
  ::close(fd);

  // The client never sends one.
  auto t = Open(Url(server.port()));
  std::string reply;
  EXPECT_EQ(t->Call("", "C", "x", reply), kErrBadRequest);
  EXPECT_EQ(t->Call("I", "", "x", reply), kErrBadRequest);
  EXPECT_EQ(t->Call("I", "C", "x", reply), 1);
}

TEST(TcpServer, AnswersFramesThatArriveInPiecesOrTogether) {
  TcpServer server(Echo, {});
  ASSERT_TRUE(server.Start());
  auto request = [](uint32_t id, std::string_view stream) {
    return RequestFrame(id, "I", "C", stream);
  };
  auto replyOf = [](int fd) {
    std::string body;
    EXPECT_TRUE(ReadFrame(fd, body));
    return body.substr(9);  // after kind, call id and result
  };
  int fd = RawConnect(server.port());
  // One frame in three writes, the later ones after the server has read the
  // first: each arrival must wake the server again.
  const std::string first = request(1, "pieces");
  WriteAll(fd, first.substr(0, 3));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  WriteAll(fd, first.substr(3, 9));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  WriteAll(fd, first.substr(12));
  EXPECT_EQ(replyOf(fd), "I|C|pieces");
  // Two frames in one write: both are answered, in order.
  WriteAll(fd, request(2, "one") + request(3, "two"));
  EXPECT_EQ(replyOf(fd), "I|C|one");
  EXPECT_EQ(replyOf(fd), "I|C|two");
  ::close(fd);
}

// A client that asks for an endless streamed reply and never reads: the
// handler waits for it with a bounded amount queued, another thread serves
// the other clients meanwhile (there is one worker), and after the write
// timeout the connection is closed and the handler told to stop.
TEST(TcpServer, AStreamedReplyWaitsForItsClientWithoutHoldingTheWorkers) {
  std::atomic<bool> stopped{false};
  std::atomic<std::size_t> appended{0};
  TcpServerOptions options;
  options.workers = 1;
  options.writeTimeoutMs = 300;
  options.maxQueuedBytes = 64 * 1024;
  TcpServer server(
      [&](const CallContext&, const std::string& iface, const std::string& code,
          std::string_view request, std::string& reply, ReplyWriter& writer) {
        if (code != "ENDLESS") return Echo(iface, code, request, reply);
        const std::string chunk(16 * 1024, 'x');
        if (!writer.Begin(4)) return 1;
        for (int i = 0; i < 16384 && writer.Append(chunk); ++i) appended += chunk.size();
        stopped = true;
        return 1;
      },
      options);
  ASSERT_TRUE(server.Start());
  int slow = RawConnect(server.port());
  int small = 4096;
  ::setsockopt(slow, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  WriteAll(slow, RequestFrame(1, "I", "ENDLESS"));
  auto t = Open(Url(server.port(), 2000));
  std::string reply;
  for (int i = 0; i < 20; ++i) EXPECT_EQ(t->Call("I", "C", "still served", reply), 12);
  EXPECT_TRUE(WaitFor(stopped));
  // The queue's bound and what the sockets hold: far from the 256 MiB asked.
  EXPECT_LT(appended.load(), std::size_t{16} << 20);
  EXPECT_TRUE(ClosedByServer(slow));
  ::close(slow);
  EXPECT_EQ(t->Call("I", "C", "and after", reply), 9);
}

TEST(TcpServer, StopAnswersRequestsAlreadyRunning) {
  std::atomic<bool> started{false};
  TcpServer server(
      [&](const std::string&, const std::string&, std::string_view, std::string& reply) {
        started = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        reply = "done";
        return 0;
      },
      {});
  ASSERT_TRUE(server.Start());
  auto t = Open(Url(server.port(), 300));
  int result = -1;
  std::string reply;
  std::thread caller([&] { result = t->Call("I", "C", "x", reply); });
  EXPECT_TRUE(WaitFor(started));
  server.Stop();
  caller.join();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(reply, "done");
  EXPECT_EQ(t->Call("I", "C", "x", reply), kErrConnectFailed);
}

TEST(TcpServer, RefusesAnAddressInUse) {
  TcpServer first(Echo, {});
  ASSERT_TRUE(first.Start());
  TcpServer second(Echo, {.port = first.port()});
  std::string error;
  EXPECT_FALSE(second.Start(&error));
  EXPECT_NE(error.find(std::to_string(first.port())), std::string::npos) << error;
}

TEST(TcpTransport, ConcurrentCallersEachGetTheirOwnReplies) {
  TcpServer server(Echo, {.workers = 4});
  ASSERT_TRUE(server.Start());
  ExpectConcurrentCallersGetTheirOwnReplies([&] { return Open(Url(server.port())); });
}

TEST(TcpTransport, CallServerCarriesStreams) {
  TcpServer server(
      [](const std::string&, const std::string&, std::string_view request, std::string& reply) {
        tmb_stream in;
        in.load(request);
        int v = 0;
        in.begin_stream("req");
        in >> v;
        in.end_stream();
        tmb_stream out;
        out.open();
        out.begin_stream("rep");
        out << (v + 1);
        out.end_stream();
        reply = out.bytes();
        return in.failed() ? 1 : 0;
      },
      {});
  ASSERT_TRUE(server.Start());
  EnvGuard env("TMCLIENT_BROKER_TCPSTREAM", Url(server.port()));
  CTmdClientObject client;
  ASSERT_EQ(client.bind_openBroker("TCPSTREAM"), 0);
  tmb_stream in, out;
  in.open();
  in.begin_stream("req");
  in << 41;
  in.end_stream();
  ASSERT_EQ(client.call_server("I", "C", nullptr, in, out), 0);
  int v = 0;
  EXPECT_TRUE(out.begin_stream("rep"));
  out >> v;
  EXPECT_TRUE(out.end_stream());
  EXPECT_EQ(v, 42);
}

}  // namespace
