// What the back office shows its operators, against the real program: the
// metrics after a known sequence of calls, health and readiness, its HTTP
// endpoint against bad and hostile clients, its log lines, and its word to
// the service manager.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <thread>
#include <vector>

#include "../support/sign_in.h"
#include "backoffice/protocol.h"
#include "backoffice/service.h"
#include "child_process.h"
#include "demo_db.h"
#include "raw_client.h"
#include "service/busi_ordmgnt.h"
#include "service/cust_qry_accept.h"
#include "test_db.h"
#include "test_stores.h"
#include "tmclient/broker_resolver.h"
#include "wire_helpers.h"

using namespace backoffice;
using MCustQryAccept::IBusiOrdmgnt;
using MCustQryAccept::ICustQryAccept;

namespace {

struct HttpReply {
  int status = 0;
  std::string body;
};

// One request with Connection: close; status 0 when no reply came.
HttpReply Http(int port, const std::string& method, const std::string& path) {
  HttpReply r;
  const int fd = raw::Connect(port);
  if (fd < 0) return r;
  raw::SendAll(fd,
               method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
  std::string all;
  char chunk[4096];
  for (ssize_t n; (n = recv(fd, chunk, sizeof chunk, 0)) > 0;) all.append(chunk, n);
  close(fd);
  if (std::sscanf(all.c_str(), "HTTP/1.1 %d", &r.status) != 1) return r;
  const std::size_t end = all.find("\r\n\r\n");
  if (end != std::string::npos) r.body = all.substr(end + 4);
  return r;
}

// The samples of a scrape: "name{labels}" -> value.
std::map<std::string, double> Samples(const std::string& text) {
  std::map<std::string, double> out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) nl = text.size();
    const std::string line = text.substr(pos, nl - pos);
    pos = nl + 1;
    if (line.empty() || line[0] == '#') continue;
    const std::size_t space = line.rfind(' ');
    out[line.substr(0, space)] = std::stod(line.substr(space + 1));
  }
  return out;
}

// Splits a logfmt line into its pairs; false when it is not logfmt.
bool ParseLogfmt(const std::string& line, std::map<std::string, std::string>& pairs) {
  std::size_t i = 0;
  while (i < line.size()) {
    const std::size_t eq = line.find('=', i);
    if (eq == std::string::npos || eq == i) return false;
    const std::string key = line.substr(i, eq - i);
    if (key.find_first_of(" \"") != std::string::npos) return false;
    std::string value;
    i = eq + 1;
    if (i < line.size() && line[i] == '"') {
      for (++i;; ++i) {
        if (i >= line.size()) return false;
        if (line[i] == '"') break;
        if (line[i] == '\\' && ++i >= line.size()) return false;
        value += line[i];
      }
      ++i;
    } else {
      while (i < line.size() && line[i] != ' ') {
        if (line[i] == '"' || line[i] == '=') return false;
        value += line[i++];
      }
    }
    pairs[key] = value;
    if (i < line.size() && line[i++] != ' ') return false;
  }
  return pairs.count("ts") && pairs.count("level") && pairs.count("event");
}

int MetricsPort(const ChildProcess& p) {
  static const std::regex kLine("metrics on tcp://127\\.0\\.0\\.1:([0-9]+)");
  std::smatch m;
  return std::regex_search(p.output(), m, kLine) ? std::stoi(m[1]) : 0;
}

class Operations : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pDir = new TempDir;
    strDb = pDir->File("demo.db");
    MakeDemoDatabase(strDb, 60000);
    pNats = new NatsServer;
    pMain = new Backoffice;
    iMetricsPort = 0;
    if (pNats->Start() && pMain->Start(strDb, 0, pNats->Url(),
                                       {"--metrics", "tcp://127.0.0.1:0", "--log-level", "debug"}))
      iMetricsPort = MetricsPort(pMain->proc);
    setenv(tmclient::BrokerEnvironmentVariable("TALMIRON").c_str(), pMain->Url().c_str(), 1);
    if (iMetricsPort != 0 && !SignIn("TALMIRON")) iMetricsPort = 0;
  }
  static void TearDownTestSuite() {
    delete pMain;
    delete pNats;
    delete pDir;
  }
  void SetUp() override { ASSERT_NE(iMetricsPort, 0) << pMain->proc.output(); }

  // The status `path` answers once it answers `want`, or after 10 s.
  static int AnswerOnceItIs(const std::string& path, int want, int port = iMetricsPort) {
    int status = 0;
    for (int i = 0; i < 200 && status != want; ++i) {
      status = Http(port, "GET", path).status;
      if (status != want) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return status;
  }

  static std::map<std::string, double> Scrape() {
    const HttpReply r = Http(iMetricsPort, "GET", "/metrics");
    EXPECT_EQ(r.status, 200);
    return Samples(r.body);
  }

  static inline TempDir* pDir = nullptr;
  static inline std::string strDb;
  static inline NatsServer* pNats = nullptr;
  static inline Backoffice* pMain = nullptr;
  static inline int iMetricsPort = 0;
  // The output of every back office of the suite, checked by the last test.
  static inline std::string strAllOutput;
};

TEST_F(Operations, EveryCounterIsExactAfterAKnownSequenceOfCalls) {
  const auto phones = PhonesWithLogRows(strDb, 2, 3);
  ASSERT_EQ(phones.size(), 3u);
  IBusiOrdmgnt log;
  ICustQryAccept user;
  ASSERT_EQ(log.bind_openBroker("TALMIRON"), 0);
  ASSERT_EQ(user.bind_openBroker("TALMIRON"), 0);
  const auto before = Scrape();
  std::map<std::string, double> want;  // what each counter should have gained
  double logRows = 0, userRows = 0;
  auto count = [&](const char* op, const char* result) {
    ++want[std::string("mpay_requests_total{operation=\"") + op + "\",result=\"" + result + "\"}"];
  };
  for (const auto& [phone, rows] : phones) {
    MMicroPaymentDef::SMpInfoList list;
    MMicroPaymentDef::SMpAcctStatInfo stat;
    int ret = 0;
    QRSErrorMsg error;
    ASSERT_EQ(log.query_mpSoList(wire::LogIn(0, 0, phone, 0, 0), wire::Operator(), list, stat, ret,
                                 error, nullptr),
              0);
    EXPECT_EQ(static_cast<int64_t>(list.size()), rows);
    logRows += static_cast<double>(list.size());
    count("query_mpSoList", "0");
    MMicroPaymentDef::SMpUserInfoList users;
    ASSERT_EQ(user.query_mppUser(wire::UserIn(phone), wire::Operator(), users, error, nullptr), 0);
    userRows += static_cast<double>(users.size());
    count("query_mppUser", "0");
  }
  const struct {
    MCustQryAccept::SQuerySoInfoListIn in;
    const char* result;
  } refused[] = {
      {wire::LogIn(0, 0, "", 0, 0), "1001"},
      {wire::LogIn(0, 0, "", 20261130000000, 20261101000000), "1003"},
      {wire::LogIn(0, 0, std::string(21, '1'), 0, 0), "1003"},
  };
  for (const auto& r : refused) {
    MMicroPaymentDef::SMpInfoList list;
    MMicroPaymentDef::SMpAcctStatInfo stat;
    int ret = 0;
    QRSErrorMsg error;
    EXPECT_EQ(log.query_mpSoList(r.in, wire::Operator(), list, stat, ret, error, nullptr),
              std::stoi(r.result));
    count("query_mpSoList", r.result);
  }
  MMicroPaymentDef::SMpUserInfoList users;
  QRSErrorMsg error;
  EXPECT_EQ(user.query_mppUser(wire::UserIn(""), wire::Operator(), users, error, nullptr), 1001);
  count("query_mppUser", "1001");
  EXPECT_FALSE(SignIn("TALMIRON", backoffice::kDemoLogin, "not-the-password"));
  count("signIn", "1010");
  ASSERT_TRUE(SignIn("TALMIRON"));
  count("signIn", "0");

  auto after = Scrape();
  for (const auto& [name, value] : before) {
    if (!name.starts_with("mpay_requests_total")) continue;
    EXPECT_EQ(after[name] - value, want[name]) << name;
  }
  const double logCalls = 3 + 3, userCalls = 3 + 1;
  for (const auto& [op, calls] :
       {std::pair{"query_mpSoList", logCalls}, {"query_mppUser", userCalls}}) {
    const std::string label = std::string("{operation=\"") + op + "\"";
    EXPECT_EQ(after["mpay_request_duration_seconds_count" + label + "}"] -
                  before.at("mpay_request_duration_seconds_count" + label + "}"),
              calls);
    EXPECT_EQ(after["mpay_request_duration_seconds_bucket" + label + ",le=\"+Inf\"}"],
              after["mpay_request_duration_seconds_count" + label + "}"]);
    EXPECT_GT(after["mpay_request_duration_seconds_sum" + label + "}"], 0);
  }
  EXPECT_EQ(after["mpay_rows_returned_total{operation=\"query_mpSoList\"}"] -
                before.at("mpay_rows_returned_total{operation=\"query_mpSoList\"}"),
            logRows);
  EXPECT_EQ(after["mpay_rows_returned_total{operation=\"query_mppUser\"}"] -
                before.at("mpay_rows_returned_total{operation=\"query_mppUser\"}"),
            userRows);
  EXPECT_EQ(after["mpay_store_errors_total"], 0);
  const std::string endpoint = "{endpoint=\"" + pMain->Url() + "\"";
  for (const char* zero : {"mpay_tcp_connections_evicted_total", "mpay_standin_threads",
                           "mpay_tcp_connections_reset_not_reading_total",
                           "mpay_worker_queue_depth", "mpay_tcp_connections_shed_total"})
    EXPECT_EQ(after[zero + endpoint + "}"], 0) << zero;
  EXPECT_EQ(after["mpay_audit_refusing"], 0);
  EXPECT_EQ(after["mpay_endpoint_serving" + endpoint + "}"], 1);
  // Each call's audit entry is committed within a batch's delay (an entry
  // leaves the queue before its batch is committed). The two proxies each
  // keep their connection, idle between calls (a worker may still hold one
  // for a moment after its reply went).
  const std::string idle = "mpay_tcp_connections" + endpoint + ",state=\"idle\"}";
  const std::string active = "mpay_tcp_connections" + endpoint + ",state=\"active\"}";
  for (int i = 0; i < 100; ++i) {
    after = Scrape();
    if (after["mpay_audit_queue_depth"] == 0 && after["mpay_audit_batches_written_total"] >= 1 &&
        after[idle] == 2)
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(after[idle], 2);
  EXPECT_EQ(after[active], 0);
  EXPECT_EQ(after["mpay_audit_queue_depth"], 0);
  EXPECT_GE(after["mpay_audit_batches_written_total"], 1);
  EXPECT_EQ(after["mpay_audit_batches_failed_total"], 0);
  EXPECT_GT(after["process_start_time_seconds"], 1.7e9);
  EXPECT_EQ(after["mpay_build_info{version=\"" MPAY_VERSION "\"}"], 1);
}

TEST_F(Operations, HealthReadinessAndNothingElse) {
  const struct {
    const char* method;
    const char* path;
    int status;
  } cases[] = {
      {"GET", "/healthz", 200},    {"GET", "/readyz", 200},
      {"HEAD", "/metrics", 200},   {"GET", "/", 404},
      {"GET", "/metrics/x", 404},  {"GET", "/../etc/passwd", 404},
      {"POST", "/metrics", 405},   {"PUT", "/readyz", 405},
      {"DELETE", "/healthz", 405}, {"OPTIONS", "/metrics", 405},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Http(iMetricsPort, c.method, c.path).status, c.status) << c.method << " " << c.path;
}

// The shipped dashboard asks only for metrics that the back office serves.
TEST_F(Operations, TheDashboardNamesOnlyServedMetrics) {
  std::ifstream file(MPAY_SOURCE_PATH "/config/mpay-backoffice-dashboard.json");
  const std::string dashboard((std::istreambuf_iterator<char>(file)), {});
  const std::string served = Http(iMetricsPort, "GET", "/metrics").body;
  static const std::regex kName("mpay_[a-z_]+");
  int names = 0;
  for (std::sregex_iterator it(dashboard.begin(), dashboard.end(), kName), end; it != end; ++it) {
    ++names;
    EXPECT_NE(served.find("\n" + it->str()), std::string::npos) << it->str();
  }
  EXPECT_GT(names, 10);
}

TEST_F(Operations, NotReadyWhileTheStoreIsGoneAndReadyAgainAfter) {
  const double errors = Scrape()["mpay_store_errors_total"];
  const std::string away = strDb + ".away";
  std::filesystem::rename(strDb, away);
  EXPECT_EQ(Http(iMetricsPort, "GET", "/readyz").status, 503);
  EXPECT_EQ(Http(iMetricsPort, "GET", "/healthz").status, 200);
  std::filesystem::rename(away, strDb);
  EXPECT_EQ(Http(iMetricsPort, "GET", "/readyz").status, 200);
  EXPECT_EQ(Scrape()["mpay_store_errors_total"], errors + 1);
}

// The same with the store on a PostgreSQL server that is stopped and started
// again, as an operator would: the back office itself is not restarted.
TEST_F(Operations, NotReadyWhilePostgresIsStoppedAndReadyAgainAfter) {
  backoffice::DemoOptions demo;
  demo.rows = 1000;
  demo.endStamp = kDemoEnd;
  const std::string uri = DemoStore(StoreKind::kPostgres, pDir->File("pg-reference.db"), demo);
  ASSERT_FALSE(uri.empty()) << PgCluster::Get().error();
  Backoffice b;
  ASSERT_TRUE(b.Start(uri, 0, "", {"--metrics", "tcp://127.0.0.1:0"})) << b.proc.output();
  const int port = MetricsPort(b.proc);
  EXPECT_EQ(AnswerOnceItIs("/readyz", 200, port), 200) << b.proc.output();
  ASSERT_TRUE(PgCluster::Get().Stop()) << PgCluster::Get().error();
  EXPECT_EQ(AnswerOnceItIs("/readyz", 503, port), 503);
  EXPECT_EQ(Http(port, "GET", "/healthz").status, 200);
  ASSERT_TRUE(PgCluster::Get().Start()) << PgCluster::Get().error();
  EXPECT_EQ(AnswerOnceItIs("/readyz", 200, port), 200) << b.proc.output();
  EXPECT_GE(Samples(Http(port, "GET", "/metrics").body)["mpay_store_errors_total"], 1);
  kill(b.proc.pid(), SIGTERM);
  b.proc.WaitForLine("event=stopped");
  EXPECT_EQ(b.proc.Wait(), 0);
  strAllOutput += b.proc.output();
}

// Every endpoint must serve: the NATS one while its server is away is not.
TEST_F(Operations, NotReadyWhileTheBrokerIsGoneAndReadyAgainAfterItsReconnect) {
  const std::string serving =
      "mpay_endpoint_serving{endpoint=\"" + pNats->Url() + " queue group TALMIRON\"}";
  const std::string reconnects =
      "mpay_nats_reconnects_total{endpoint=\"" + pNats->Url() + " queue group TALMIRON\"}";
  const double before = Scrape()[reconnects];
  pNats->proc.Kill(SIGKILL);
  EXPECT_EQ(AnswerOnceItIs("/readyz", 503), 503);
  EXPECT_EQ(Scrape()[serving], 0);
  ASSERT_TRUE(
      pNats->proc.Start({"nats-server", "-a", "127.0.0.1", "-p", std::to_string(pNats->port)}));
  ASSERT_NE(pNats->proc.WaitForLine("Server is ready"), "");
  EXPECT_EQ(AnswerOnceItIs("/readyz", 200), 200);
  const auto after = Scrape();
  EXPECT_EQ(after.at(serving), 1);
  EXPECT_EQ(after.at(reconnects), before + 1);
}

TEST_F(Operations, SlowAndFloodingHttpClientsDoNotSlowTheQueries) {
  // More clients than the metrics server has threads and queue, each sending
  // half a request and then nothing.
  std::vector<int> hogs;
  for (int i = 0; i < 24; ++i) {
    const int fd = raw::Connect(iMetricsPort);
    if (fd >= 0) raw::SendAll(fd, "GET /metrics HTTP/1.1\r\nHost: x\r\n");
    hogs.push_back(fd);
  }
  ICustQryAccept user;
  ASSERT_EQ(user.bind_openBroker("TALMIRON"), 0);
  const std::string phone = PhonesWithLogRows(strDb, 1, 1).begin()->first;
  for (int i = 0; i < 50; ++i) {
    MMicroPaymentDef::SMpUserInfoList users;
    QRSErrorMsg error;
    ASSERT_EQ(user.query_mppUser(wire::UserIn(phone), wire::Operator(), users, error, nullptr), 0);
  }
  for (int fd : hogs) close(fd);
  // The server is free again once it has dropped them.
  EXPECT_EQ(AnswerOnceItIs("/healthz", 200), 200);
}

// A stop waits for a client that takes nothing of its reply (up to the write
// timeout); meanwhile the process is healthy and not ready.
TEST_F(Operations, NotReadyWhileStopping) {
  Backoffice b;
  ASSERT_TRUE(b.Start(strDb, 0, "", {"--metrics", "tcp://127.0.0.1:0", "--write-timeout", "5"}))
      << b.proc.output();
  const int port = MetricsPort(b.proc);
  const int fd = raw::Connect(b.port, 4096);
  // Every row of the database: megabytes more than the sockets hold.
  raw::SendAll(fd, raw::RequestFrame(
                       1, kLogInterface, kLogServiceCode,
                       wire::Request(kLogRequestStream, wire::LogIn(0, 0, "", 20250101000000, 0))));
  const std::string active = "mpay_tcp_connections{endpoint=\"" + b.Url() + "\",state=\"active\"}";
  double busy = 0;
  for (int i = 0; i < 200 && busy != 1; ++i) {
    busy = Samples(Http(port, "GET", "/metrics").body)[active];
    if (busy != 1) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_EQ(busy, 1);
  // Ready a moment after its start-up lines.
  EXPECT_EQ(AnswerOnceItIs("/readyz", 200, port), 200) << b.proc.output();
  kill(b.proc.pid(), SIGTERM);
  ASSERT_NE(b.proc.WaitForLine("stopping"), "");
  EXPECT_EQ(Http(port, "GET", "/readyz").status, 503);
  EXPECT_EQ(Http(port, "GET", "/healthz").status, 200);
  close(fd);
  b.proc.WaitForLine("event=stopped");
  EXPECT_EQ(b.proc.Wait(), 0);
  strAllOutput += b.proc.output();
}

TEST_F(Operations, MetricsAddressInUseEndsTheStartWithTheReason) {
  Backoffice second;
  ASSERT_TRUE(second.proc.Start({BACKOFFICE_EXE, "--db", strDb, "--listen", "tcp://127.0.0.1:0",
                                 "--metrics", "tcp://127.0.0.1:" + std::to_string(iMetricsPort)}));
  second.proc.WaitForLine("start_failed");
  const int status = second.proc.Wait();
  strAllOutput += second.proc.output();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << second.proc.output();
  EXPECT_NE(second.proc.output().find("Address already in use"), std::string::npos)
      << second.proc.output();
}

TEST_F(Operations, TellsTheServiceManagerWhenReadyAndWhenStopping) {
  const std::string path = pDir->File("notify");
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  timeval tv{20, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  auto next = [fd] {
    char buf[256];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
  };
  setenv("NOTIFY_SOCKET", path.c_str(), 1);
  Backoffice b;
  const bool started = b.Start(strDb, 0);
  unsetenv("NOTIFY_SOCKET");
  ASSERT_TRUE(started) << b.proc.output();
  EXPECT_EQ(next(), "READY=1");
  kill(b.proc.pid(), SIGTERM);
  EXPECT_EQ(next(), "STOPPING=1");
  b.proc.WaitForLine("event=stopped");
  EXPECT_EQ(b.proc.Wait(), 0);
  strAllOutput += b.proc.output();
  close(fd);
}

// Last: the whole suite's output, the main back office's at debug level
// with every request's conditions in it.
TEST_F(Operations, EveryLogLineIsLogfmtAndNoPhoneNumberIsWhole) {
  kill(pMain->proc.pid(), SIGTERM);
  pMain->proc.WaitForLine("event=stopped");
  EXPECT_EQ(pMain->proc.Wait(), 0);
  const std::string all = strAllOutput + pMain->proc.output();
  int requests = 0;
  std::size_t pos = 0;
  while (pos < all.size()) {
    const std::size_t nl = all.find('\n', pos);
    const std::string line = all.substr(pos, nl - pos);
    pos = nl + 1;
    // Standard output's start-up lines stay as scripts expect them.
    if (line.starts_with("mpay-backoffice: ")) continue;
    std::map<std::string, std::string> pairs;
    EXPECT_TRUE(ParseLogfmt(line, pairs)) << line;
    if (pairs["event"] == "request" && pairs["conditions"].starts_with("PHONE_ID=")) ++requests;
    // A checkpoint's time, hashes, key and signature are written as they are:
    // they hold no subscriber's number, and a run of digits in them is chance.
    static const std::set<std::string> kHex = {"at", "last_hash", "key", "signature"};
    const bool checkpoint = pairs["event"] == "audit_checkpoint";
    for (const auto& [key, value] : pairs) {
      if (checkpoint && kHex.contains(key)) continue;
      EXPECT_FALSE(std::regex_search(value, std::regex("[0-9]{11}"))) << line;
    }
  }
  EXPECT_GT(requests, 50);
}

}  // namespace
