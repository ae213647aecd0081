// Broker URLs, the client configuration file and broker name resolution.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "test_servers.h"
#include "tmclient/broker_config.h"
#include "tmclient/broker_resolver.h"
#include "tmclient/tmd_error.h"
#include "tmclient/transport.h"

namespace {

using namespace tmclient;
using transport_test::EnvGuard;

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/tmclient-conf-XXXXXX";
    sPath = ::mkdtemp(tmpl);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(sPath, ignored);
  }
  std::string Write(const std::string& name, const std::string& text) const {
    std::string p = sPath + "/" + name;
    std::filesystem::create_directories(std::filesystem::path(p).parent_path());
    std::ofstream(p, std::ios::binary) << text;
    return p;
  }
  const std::string& path() const { return sPath; }

 private:
  std::string sPath;
};

TEST(ParseBrokerUrl, AcceptsWhatTheTransportsServe) {
  BrokerUrl u;
  ASSERT_TRUE(ParseBrokerUrl("tcp://127.0.0.1:47100", u));
  EXPECT_EQ(u.scheme, "tcp");
  ASSERT_EQ(u.endpoints.size(), 1u);
  EXPECT_EQ(u.endpoints[0].host, "127.0.0.1");
  EXPECT_EQ(u.endpoints[0].port, 47100);
  EXPECT_EQ(u.deadlineMs, kDefaultDeadlineMs);

  ASSERT_TRUE(ParseBrokerUrl(" nats://a:4222,[::1]:4223?deadline_ms=250&broker=TAL_1 ", u));
  ASSERT_EQ(u.endpoints.size(), 2u);
  EXPECT_EQ(u.endpoints[1].host, "::1");
  EXPECT_EQ(u.endpoints[1].port, 4223);
  EXPECT_EQ(u.deadlineMs, 250);
  EXPECT_EQ(u.broker, "TAL_1");

  ASSERT_TRUE(ParseBrokerUrl("inproc://svc?deadline_ms=5", u));
  EXPECT_EQ(u.target, "svc");
  EXPECT_EQ(u.deadlineMs, 5);
  EXPECT_TRUE(u.idempotent.empty());
  EXPECT_EQ(u.attemptMs, 0);
  EXPECT_EQ(u.retryMs, kDefaultRetryMs);

  ASSERT_TRUE(
      ParseBrokerUrl("tcp://a:1?idempotent=BABOMOMP,BACUQQMP&attempt_ms=900&retry_ms=70", u));
  EXPECT_EQ(u.idempotent, (std::vector<std::string>{"BABOMOMP", "BACUQQMP"}));
  EXPECT_EQ(u.attemptMs, 900);
  EXPECT_EQ(u.retryMs, 70);
  EXPECT_EQ(u.maxReplyBytes(), std::size_t(kDefaultMaxReplyMb) << 20);
  EXPECT_EQ(u.maxRows, kDefaultMaxRows);

  ASSERT_TRUE(ParseBrokerUrl("tcp://a:1?max_reply_mb=256&max_rows=7", u));
  EXPECT_EQ(u.maxReplyBytes(), std::size_t(256) << 20);
  EXPECT_EQ(u.maxRows, 7);

  ASSERT_TRUE(ParseBrokerUrl("tls://host.example:47443?ca=/etc/mpay/ca.pem", u));
  EXPECT_EQ(u.scheme, "tls");
  ASSERT_EQ(u.endpoints.size(), 1u);
  EXPECT_EQ(u.caFile, "/etc/mpay/ca.pem");
  ASSERT_TRUE(ParseBrokerUrl("nats://a:4222?broker=B&ca=c.pem&creds=/home/op/nats.creds", u));
  EXPECT_EQ(u.caFile, "c.pem");
  EXPECT_EQ(u.credsFile, "/home/op/nats.creds");
}

TEST(ParseBrokerUrl, RejectsMalformedUrlsWithAReason) {
  for (const char* bad : {"",
                          "127.0.0.1:1",
                          "://x",
                          "TCP://a:1",
                          "tcp://",
                          "tcp://a",
                          "tcp://a:",
                          "tcp://a:0",
                          "tcp://a:65536",
                          "tcp://a:12x",
                          "tcp://:1",
                          "tcp://a:1,b:2",
                          "tcp://a b:1",
                          "nats://a:1,",
                          "nats://[::1:4222",
                          "tcp://a:1?deadline_ms=0",
                          "tcp://a:1?deadline_ms=-5",
                          "tcp://a:1?deadline_ms=86400001",
                          "tcp://a:1?deadline_ms=",
                          "tcp://a:1?color=red",
                          "nats://a:1?broker=a.b",
                          "nats://a:1?broker=*",
                          "tcp://a:1?idempotent=",
                          "tcp://a:1?idempotent=A,,B",
                          "tcp://a:1?idempotent=A,",
                          "tcp://a:1?idempotent=A.B",
                          "tcp://a:1?attempt_ms=0",
                          "tcp://a:1?attempt_ms=x",
                          "tcp://a:1?retry_ms=0",
                          "tcp://a:1?max_reply_mb=0",
                          "tcp://a:1?max_reply_mb=257",
                          "tcp://a:1?max_rows=0",
                          "tcp://a:1?max_rows=1e3",
                          "tls://a:1,b:2",
                          "tls://a",
                          "tls://a:1?ca=",
                          "tcp://a:1?ca=c.pem",
                          "tls://a:1?creds=n.creds",
                          "nats://a:1?creds="}) {
    BrokerUrl u;
    std::string why;
    EXPECT_FALSE(ParseBrokerUrl(bad, u, &why)) << bad;
    EXPECT_FALSE(why.empty()) << bad;
  }
}

TEST(ReadBrokerConfig, ReadsNameUrlAndLockLinesAndReportsTheRest) {
  TempDir dir;
  std::string path = dir.Write("brokers.conf",
                               "# brokers\n"
                               "\n"
                               "TALMIRON = tcp://127.0.0.1:1\r\n"
                               "  OTHER=nats://h:2?deadline_ms=10  \n"
                               "no equals sign\n"
                               "= tcp://h:3\n"
                               "EMPTY =\n"
                               "TALMIRON = tcp://127.0.0.1:4\n"
                               "lock TALMIRON\n");
  BrokerConfig c = ReadBrokerConfig(path);
  EXPECT_TRUE(c.found);
  EXPECT_EQ(c.error, "");
  EXPECT_EQ(c.urls.size(), 2u);
  EXPECT_EQ(c.urls["TALMIRON"], "tcp://127.0.0.1:4");  // a later line wins
  EXPECT_EQ(c.urls["OTHER"], "nats://h:2?deadline_ms=10");
  EXPECT_EQ(c.locked, std::set<std::string>{"TALMIRON"});
  ASSERT_EQ(c.problems.size(), 3u);
  EXPECT_EQ(c.problems[0], path + ":5: expected NAME = URL or lock NAME");
}

// A file that exists but cannot be used is an error, never "no file".
TEST(ReadBrokerConfig, AFileThatCannotBeUsedSaysWhy) {
  TempDir dir;
  const std::string open = dir.Write("open.conf", "A = tcp://h:1\n");
  ::chmod(open.c_str(), 0666);
  const std::string big = dir.Write("big.conf", std::string((1u << 20) + 1, '#'));
  const struct {
    std::string path, why;
  } cases[] = {
      {dir.path() + "/missing.conf", ""},
      {dir.path(), dir.path() + ": not a regular file"},
      {open, open + ": other users may change it (chmod o-w)"},
      {big, big + ": larger than 1 MiB"},
  };
  for (const auto& c : cases) {
    const BrokerConfig config = ReadBrokerConfig(c.path);
    EXPECT_FALSE(config.found) << c.path;
    EXPECT_EQ(config.error, c.why) << c.path;
    EXPECT_TRUE(config.urls.empty()) << c.path;
  }
}

TEST(UserBrokerConfigPath, TheVariableThenTheUserFile) {
  TempDir dir;
  EnvGuard xdg("XDG_CONFIG_HOME", dir.path());
  {
    EnvGuard conf("TMCLIENT_CONF", "");
    EXPECT_EQ(UserBrokerConfigPath(), "");
    std::string user = dir.Write("tmclient/brokers.conf", "A = tcp://h:1\n");
    EXPECT_EQ(UserBrokerConfigPath(), user);
  }
  EnvGuard conf("TMCLIENT_CONF", "/some/where.conf");
  EXPECT_EQ(UserBrokerConfigPath(), "/some/where.conf");
}

// Each source in its turn, with where the URL came from; the system file's
// locks before all; files that cannot be used never fall back to the default.
TEST(ResolveBroker, LocksThenEnvironmentThenUserFileThenSystemFileThenDefault) {
  TempDir dir;
  EnvGuard xdg("XDG_CONFIG_HOME", dir.path() + "/xdg");
  EnvGuard noConf("TMCLIENT_CONF", "");
  const std::string system = dir.path() + "/system.conf";
  std::string url, origin;
  auto resolve = [&](const std::string& name) {
    url = origin = "unchanged";
    return ResolveBrokerWith(system, name, url, &origin);
  };

  ASSERT_EQ(resolve("TALMIRON"), 0);  // no file anywhere
  EXPECT_EQ(url, "tcp://127.0.0.1:" + std::to_string(kDefaultBrokerPort));
  EXPECT_EQ(origin, "the built-in default (no configuration file)");

  dir.Write("system.conf",
            "TALMIRON = nats://127.0.0.1:4222\n"
            "DIRECT = tcp://10.0.0.1:5?deadline_ms=7\n"
            "SHARED = nats://h:1?deadline_ms=9&broker=TALMIRON\n"
            "lock DIRECT\n"
            "lock NOLINE\n");
  ASSERT_EQ(resolve("TALMIRON"), 0);
  EXPECT_EQ(url, "nats://127.0.0.1:4222?broker=TALMIRON");
  EXPECT_EQ(origin, system);
  ASSERT_EQ(resolve("SHARED"), 0);
  EXPECT_EQ(url, "nats://h:1?deadline_ms=9&broker=TALMIRON");
  EXPECT_EQ(resolve("ABSENT"), kErrUnknownBroker);
  EXPECT_EQ(url, "unchanged");
  EXPECT_EQ(resolve(""), kErrUnknownBroker);
  EXPECT_EQ(resolve("NOLINE"), kErrUnknownBroker);  // locked to nothing

  // The user's file and the environment change what is not locked.
  const std::string user = dir.Write("xdg/tmclient/brokers.conf",
                                     "TALMIRON = tcp://127.0.0.1:6\nDIRECT = tcp://127.0.0.1:6\n");
  ASSERT_EQ(resolve("TALMIRON"), 0);
  EXPECT_EQ(url, "tcp://127.0.0.1:6");
  EXPECT_EQ(origin, user);
  EXPECT_EQ(resolve("SHARED"), kErrUnknownBroker);  // the user's file decides
  EnvGuard env("TMCLIENT_BROKER_TALMIRON", "nats://h:9?deadline_ms=3");
  EnvGuard direct("TMCLIENT_BROKER_DIRECT", "tcp://127.0.0.1:8");
  ASSERT_EQ(resolve("TALMIRON"), 0);
  EXPECT_EQ(url, "nats://h:9?deadline_ms=3&broker=TALMIRON");
  EXPECT_EQ(origin, "the environment variable TMCLIENT_BROKER_TALMIRON");
  ASSERT_EQ(resolve("DIRECT"), 0);
  EXPECT_EQ(url, "tcp://10.0.0.1:5?deadline_ms=7");
  EXPECT_EQ(origin, system + " (locked there)");

  // A named file that is missing, or a file that cannot be used, stops
  // resolution; the environment does not get around a system file's fault.
  {
    EnvGuard conf("TMCLIENT_CONF", dir.path() + "/none.conf");
    EXPECT_EQ(resolve("SHARED"), kErrUnknownBroker);
  }
  ::chmod(user.c_str(), 0666);
  EXPECT_EQ(resolve("SHARED"), kErrUnknownBroker);
  ::chmod(system.c_str(), 0666);
  EXPECT_EQ(resolve("TALMIRON"), kErrUnknownBroker);
  EXPECT_EQ(url, "unchanged");
}

TEST(ReadBrokerConfig, TheShippedExampleMarksBothQueriesIdempotent) {
  const BrokerConfig c = ReadBrokerConfig(std::string(std::getenv("MPAY_SOURCE_DIR")) +
                                          "/config/brokers.conf.example");
  ASSERT_TRUE(c.found);
  EXPECT_TRUE(c.problems.empty());
  BrokerUrl u;
  ASSERT_TRUE(ParseBrokerUrl(c.urls.at("TALMIRON"), u));
  EXPECT_EQ(u.idempotent, (std::vector<std::string>{"BABOMOMP", "BACUQQMP"}));
}

TEST(OpenTransport, MalformedNetworkUrlsAreRefusedBeforeConnecting) {
  std::unique_ptr<Transport> t;
  for (const char* bad :
       {"tcp://127.0.0.1", "tcp://127.0.0.1:1?deadline_ms=x", "nats://127.0.0.1:1",
        "nats://127.0.0.1:1?broker=a.b", "tcp://no-such-host.invalid:1", "tls://127.0.0.1",
        "tls://no-such-host.invalid:1"}) {
    EXPECT_EQ(OpenTransport(bad, t), kErrBadBrokerUrl) << bad;
    EXPECT_FALSE(t);
  }
  EXPECT_NE(std::string(tmd_getErrorMsg(kErrBadBrokerUrl)),
            std::string(tmd_getErrorMsg(kErrUnknownBroker)));
}

}  // namespace
