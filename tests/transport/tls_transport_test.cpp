// tls:// against a TcpServer with TLS, with certificates made for the run:
// each certificate failure has its own code, clear text and TLS never take
// each other's bytes for their own, and the tcp server's hardening holds for
// TLS connections (a handshake that stalls, big and streamed replies).

#include <gtest/gtest.h>
#include <malloc.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "shared_cases.h"
#include "test_certs.h"
#include "test_servers.h"
#include "tmclient/tcp_server.h"
#include "tmclient/tls_server.h"
#include "tmclient/tmd_error.h"
#include "tmclient/transport.h"

namespace {

using namespace tmclient;
using namespace transport_test;
using Clock = std::chrono::steady_clock;

constexpr int kDeadlineMs = 5000;

class Tls : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { pCerts = new TestCerts; }
  static void TearDownTestSuite() { delete pCerts; }
  void SetUp() override { ASSERT_TRUE(pCerts->ok()) << "see " << pCerts->dir(); }

  static TcpServerOptions WithTls(const TestCerts::Pair& pair, TcpServerOptions options = {}) {
    std::string error;
    options.layer = MakeTlsServerLayer(pair.cert, pair.key, error);
    EXPECT_TRUE(options.layer) << error;
    return options;
  }
  static std::string Url(const std::string& host, uint16_t port, bool withCa = true) {
    return "tls://" + host + ":" + std::to_string(port) +
           "?deadline_ms=" + std::to_string(kDeadlineMs) + (withCa ? "&ca=" + pCerts->caFile : "");
  }
  // The code a new transport's first call gets (opening it connects).
  static int FirstCall(const std::string& url, std::string& reply) {
    std::unique_ptr<Transport> t;
    if (int rc = OpenTransport(url, t); rc != 0) return rc;
    return t->Call("I", "C", "hello", reply);
  }

  static TestCerts* pCerts;
};

TestCerts* Tls::pCerts = nullptr;

TEST_F(Tls, CarriesCallsLikeTcp) {
  TcpServer echo(Echo, WithTls(pCerts->good));
  ASSERT_TRUE(echo.Start());
  std::unique_ptr<Transport> t;
  ASSERT_EQ(OpenTransport(Url("127.0.0.1", echo.port()), t), 0);
  std::string reply;
  EXPECT_EQ(t->Call("IFACE", "CODE", "hello", reply), 5);
  EXPECT_EQ(reply, "IFACE|CODE|hello");
  EXPECT_EQ(t->Call("I", "C", "", reply), 0);
  // Records of every size, and a socket that fills up both ways.
  std::string big(5u << 20, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 131);
  EXPECT_EQ(t->Call("I", "C", big, reply), static_cast<int>(big.size()));
  EXPECT_TRUE(reply == "I|C|" + big);
  ExpectConcurrentCallersGetTheirOwnReplies([&] {
    std::unique_ptr<Transport> each;
    EXPECT_EQ(OpenTransport(Url("localhost", echo.port()), each), 0);
    return each;
  });

  TcpServer streaming(ScriptedStreaming, WithTls(pCerts->good));
  ASSERT_TRUE(streaming.Start());
  ASSERT_EQ(OpenTransport(Url("127.0.0.1", streaming.port()), t), 0);
  ExpectStreamedRepliesWholeOrNothing(*t);

  // The client's own reply limits hold as over tcp://.
  TcpServer sized(SizedReplies, WithTls(pCerts->good));
  ASSERT_TRUE(sized.Start());
  ASSERT_EQ(OpenTransport(Url("127.0.0.1", sized.port()) + "&max_reply_mb=1&max_rows=3", t), 0);
  ExpectTheClientsOwnLimitsHold(*t);
}

// Every way the server's certificate can fail, each within the deadline and
// with its own code; and both mismatches of clear text and TLS, which share
// one.
TEST_F(Tls, EachFailureHasItsCodeAndNoneWaitsForTheDeadline) {
  struct Case {
    const char* what;
    const TestCerts::Pair* pair;  // null: a clear-text server
    const char* host;
    bool withCa;
    const char* scheme;
    int expected;
  };
  const Case cases[] = {
      {"trusted, by address", &pCerts->good, "127.0.0.1", true, "tls", 5},
      {"trusted, by name", &pCerts->good, "localhost", true, "tls", 5},
      {"our CA is not the system's", &pCerts->good, "127.0.0.1", false, "tls", kErrTlsUntrusted},
      {"self-signed", &pCerts->untrusted, "127.0.0.1", true, "tls", kErrTlsUntrusted},
      {"another address", &pCerts->wrongName, "127.0.0.1", true, "tls", kErrTlsNameMismatch},
      {"another name", &pCerts->wrongName, "localhost", true, "tls", kErrTlsNameMismatch},
      {"expired", &pCerts->expired, "127.0.0.1", true, "tls", kErrTlsExpired},
      {"clear-text client", &pCerts->good, "127.0.0.1", false, "tcp", kErrTlsHandshake},
      {"clear-text server", nullptr, "127.0.0.1", true, "tls", kErrTlsHandshake},
  };
  for (const Case& c : cases) {
    TcpServer server(Echo, c.pair ? WithTls(*c.pair) : TcpServerOptions{});
    ASSERT_TRUE(server.Start()) << c.what;
    std::string url = Url(c.host, server.port(), c.withCa);
    url.replace(0, 3, c.scheme);
    const auto start = Clock::now();
    std::string reply;
    EXPECT_EQ(FirstCall(url, reply), c.expected) << c.what;
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(kDeadlineMs)) << c.what;
    if (c.expected < 0) {
      EXPECT_STRNE(tmd_getErrorMsg(c.expected), tmd_getErrorMsg(1)) << c.what;
    }
  }
}

// Clients that connect and stall before or inside the handshake hold no
// worker (there is one), and are closed after the read timeout.
TEST_F(Tls, AHandshakeThatStallsIsClosedWithoutDisturbingOthers) {
  TcpServer server(Echo, WithTls(pCerts->good, {.workers = 1, .readTimeoutMs = 300}));
  ASSERT_TRUE(server.Start());
  const int silent = RawConnect(server.port());
  const int halfway = RawConnect(server.port());
  WriteAll(halfway, std::string("\x16\x03\x01\x02\x00\x01\x00", 7));  // a ClientHello's start
  std::unique_ptr<Transport> t;
  ASSERT_EQ(OpenTransport(Url("127.0.0.1", server.port()), t), 0);
  std::string reply;
  for (int i = 0; i < 20; ++i) EXPECT_EQ(t->Call("I", "C", "still served", reply), 12);
  EXPECT_TRUE(ClosedByServer(silent));
  EXPECT_TRUE(ClosedByServer(halfway));
  ::close(silent);
  ::close(halfway);
}

// The bytes malloc has handed out; 0 under the sanitizer, whose allocator does
// not count through mallinfo2 (there the test below only makes its calls).
std::size_t HeapInUse() {
#ifdef __SANITIZE_ADDRESS__
  return 0;
#else
  return mallinfo2().uordblks;
#endif
}

// A connection keeps its record buffers while it carries calls and gives
// them back once idle, so that a flood of idle connections holds none; a
// connection that gave them back serves its next call as before.
TEST_F(Tls, IdleConnectionsGiveTheirRecordBuffersBack) {
  // The sweep looks at the connections every 250 ms.
  TcpServer server(Echo, WithTls(pCerts->good, {.idleTimeoutMs = 60000, .readTimeoutMs = 1000}));
  ASSERT_TRUE(server.Start());
  constexpr int kClients = 32;
  constexpr std::size_t kAtLeast = kClients * std::size_t{24 << 10};  // of 34 KiB each
  std::vector<std::unique_ptr<Transport>> clients(kClients);
  std::string reply;
  for (auto& t : clients) ASSERT_EQ(OpenTransport(Url("127.0.0.1", server.port()), t), 0);
  // A sweep may fall between the calls and the count; then the next round
  // shows it.
  bool released = false;
  for (int round = 0; round < 3 && !released; ++round) {
    for (auto& t : clients) ASSERT_EQ(t->Call("I", "C", "active", reply), 6);
    const std::size_t active = HeapInUse();
    for (int i = 0; i < 30 && !released; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      released = active > 0 ? HeapInUse() + kAtLeast <= active : i == 15;
    }
  }
  EXPECT_TRUE(released);
  for (auto& t : clients) EXPECT_EQ(t->Call("I", "C", "again", reply), 5);
}

TEST_F(Tls, AServerRefusesKeysAndCertificatesItCannotUse) {
  const std::string open = pCerts->dir() + "/open.key";
  std::filesystem::copy_file(pCerts->good.key, open);
  ::chmod(open.c_str(), 0644);
  struct Case {
    std::string cert, key, mentions;
  };
  const Case cases[] = {
      {pCerts->good.cert, open, "chmod 600"},
      {pCerts->good.cert, pCerts->dir() + "/missing.key", "missing.key"},
      {pCerts->dir() + "/missing.pem", pCerts->good.key, "missing.pem"},
      {pCerts->good.cert, pCerts->expired.key, "does not match"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(MakeTlsServerLayer(c.cert, c.key, error));
    EXPECT_NE(error.find(c.mentions), std::string::npos) << error;
    EXPECT_EQ(error.find("PRIVATE KEY"), std::string::npos) << error;
  }
}

}  // namespace
