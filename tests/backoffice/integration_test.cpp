// mpay-backoffice as a real process, reached through the module's proxies
// over tcp:// and through a real nats-server.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <thread>

#include "../support/sign_in.h"
#include "backoffice/credentials.h"
#include "backoffice/messages.h"
#include "backoffice/protocol.h"
#include "backoffice/service.h"
#include "backoffice/sqlite_db.h"
#include "child_process.h"
#include "demo_db.h"
#include "log_rows.h"
#include "raw_client.h"
#include "service/busi_ordmgnt.h"
#include "service/cust_qry_accept.h"
#include "service/operator_auth.h"
#include "test_certs.h"
#include "test_db.h"
#include "test_stores.h"
#include "tmclient/broker_config.h"
#include "tmclient/broker_resolver.h"
#include "tmclient/session.h"
#include "tmclient/tmd_client_object.h"
#include "tmclient/tmd_error.h"
#include "wire_helpers.h"

using namespace backoffice;
using MCustQryAccept::IBusiOrdmgnt;
using MCustQryAccept::ICustQryAccept;

namespace {

constexpr char kBroker[] = "TALMIRON";

void UseBroker(const std::string& url) {
  setenv(tmclient::BrokerEnvironmentVariable(kBroker).c_str(), url.c_str(), 1);
}

// Runs against both stores with the same rows: strDb is the SQLite file the
// expected rows come from, Db() the store the back offices serve, and
// pMain the back office of this store on the suite's nats-server.
class Integration : public ::testing::TestWithParam<StoreKind> {
 protected:
  static void SetUpTestSuite() {
    pDir = new TempDir;
    strDb = pDir->File("demo.db");
    MakeDemoDatabase(strDb, 60000);
    mapPhones = PhonesWithLogRows(strDb, 4, 16);
    pNats = new NatsServer;
    bReady = pNats->Start();
  }
  static void TearDownTestSuite() {
    for (Backoffice*& b : aMains) delete std::exchange(b, nullptr);
    delete pNats;
    delete pDir;
  }
  void SetUp() override {
    ASSERT_TRUE(bReady) << pNats->proc.output();
    const int kind = static_cast<int>(GetParam());
    if (aDbs[kind].empty()) {
      backoffice::DemoOptions options;
      options.rows = 60000;
      options.endStamp = kDemoEnd;
      aDbs[kind] = DemoStore(GetParam(), strDb, options);
      ASSERT_FALSE(aDbs[kind].empty()) << PgCluster::Get().error();
      aMains[kind] = new Backoffice;
      ASSERT_TRUE(aMains[kind]->Start(aDbs[kind], 0, pNats->Url())) << aMains[kind]->proc.output();
      // One session for the suite. Both stores' back offices answer in one
      // queue group, so both databases know it, as one shared database would.
      if (strSession.empty()) {
        UseBroker(aMains[kind]->Url());
        ASSERT_TRUE(SignIn(kBroker));
        strSession = tmclient::CurrentSession();
      } else {
        const std::string now = std::to_string(std::time(nullptr));
        SqlRows(aDbs[kind],
                "INSERT INTO mp_session (token_hash, op_id, created_at, last_used_at, ended) "
                "VALUES ('" +
                    backoffice::TokenHash(strSession) + "', 1001, " + now + ", " + now + ", 0)");
      }
    }
    tmclient::SetSession(strSession);
    pMain = aMains[kind];
    ASSERT_TRUE(pMain->proc.running()) << pMain->proc.output();
  }
  static const std::string& Db() { return aDbs[static_cast<int>(GetParam())]; }

  static int QueryLog(IBusiOrdmgnt& proxy, const MCustQryAccept::SQuerySoInfoListIn& in,
                      MMicroPaymentDef::SMpInfoList& list, QRSErrorMsg& error, int opId = 4711) {
    MMicroPaymentDef::SMpAcctStatInfo stat;
    int ret = -1;
    list.clear();
    return proxy.query_mpSoList(in, wire::Operator(opId), list, stat, ret, error, nullptr);
  }

  static int QueryUser(ICustQryAccept& proxy, const std::string& phone,
                       MMicroPaymentDef::SMpUserInfoList& list, QRSErrorMsg& error) {
    list.clear();
    return proxy.query_mppUser(wire::UserIn(phone), wire::Operator(), list, error, nullptr);
  }

  // Both operations, checked against SQL, through whatever TALMIRON is now.
  void BothOperationsEndToEnd() {
    IBusiOrdmgnt log;
    ICustQryAccept user;
    ASSERT_EQ(log.bind_openBroker(kBroker), 0);
    ASSERT_EQ(user.bind_openBroker(kBroker), 0);
    const std::string phone = mapPhones.begin()->first;
    MMicroPaymentDef::SMpInfoList rows;
    QRSErrorMsg error;
    ASSERT_EQ(QueryLog(log, wire::LogIn(0, 0, phone, 0, 0), rows, error), 0) << error.get_msg();
    ExpectLogRowsOfPhone(strDb, phone, rows);

    MMicroPaymentDef::SMpUserInfoList users;
    ASSERT_EQ(QueryUser(user, phone, users, error), 0) << error.get_msg();
    Database d(strDb, Database::Mode::kReadOnly);
    Statement us = d.Prepare(
        "SELECT serv_id, reg_type, reg_nbr, fee_limit, mp_sts, mp_create_date, mpp_trans_id, "
        "so_nbr, remark FROM mp_user WHERE phone_id = ?1 ORDER BY mp_create_date, serv_id");
    us.Bind(1, phone);
    size_t k = 0;
    while (us.Step()) {
      ASSERT_LT(k, users.size());
      const auto& u = users[k++];
      EXPECT_EQ(u.SERV_ID, us.Int(0));
      EXPECT_EQ(u.PHONE_ID, phone);
      EXPECT_EQ(u.MP_PWD, "******");
      EXPECT_EQ(u.REG_TYPE, us.Int(1));
      EXPECT_EQ(u.REG_NBR, us.Text(2));
      EXPECT_EQ(u.FEE_LIMIT, us.Int(3));
      EXPECT_EQ(u.MP_STS, us.Int(4));
      EXPECT_EQ(ToStamp(u.MP_CREATE_DATE), us.Int(5));
      EXPECT_EQ(u.MPP_TRANS_ID, us.Text(6));
      EXPECT_EQ(u.SO_NBR, us.Int(7));
      EXPECT_EQ(u.REMARK, us.Text(8));
    }
    EXPECT_EQ(k, users.size());
    ASSERT_FALSE(users.empty());

    // A refusal comes back as the server's code with its Chinese text.
    EXPECT_EQ(QueryLog(log, wire::LogIn(0, 0, "", 0, 0), rows, error), kRcNoCondition);
    EXPECT_EQ(error.get_msg(), messages::kNoCondition);

    // Four months of logs: a reply of several megabytes.
    const int64_t begin = 20260501000000, end = 20260831235959;
    ASSERT_EQ(QueryLog(log, wire::LogIn(0, 0, "", begin, end), rows, error), 0) << error.get_msg();
    Statement s = d.Prepare(
        "SELECT count(*), min(so_nbr), max(so_nbr) FROM mp_so_log WHERE so_date BETWEEN ?1 AND ?2");
    s.Bind(1, begin);
    s.Bind(2, end);
    ASSERT_TRUE(s.Step());
    ASSERT_EQ(static_cast<int64_t>(rows.size()), s.Int(0));
    EXPECT_GT(rows.size(), 15000u);
    EXPECT_EQ(rows.front().SO_NBR, s.Int(1));
    EXPECT_EQ(rows.back().SO_NBR, s.Int(2));
  }

  // 20 client threads, each with its own proxies, 200 calls each through
  // whatever TALMIRON (or client t's broker, brokers[t % size]) is now; every
  // reply must be complete and correct.
  // `midRun` (optional) runs once a quarter of the calls are done, while the
  // last quarter of each client's calls waits for it to be over, so that it
  // comes mid-run however late this thread gets the processor; no call may
  // take half of `deadlineMs`.
  void TwentyClientsTwoHundredCallsEach(const std::function<void()>& midRun = {},
                                        int64_t deadlineMs = tmclient::kDefaultDeadlineMs,
                                        const std::vector<std::string>& brokers = {kBroker}) {
    using Clock = std::chrono::steady_clock;
    std::vector<std::pair<std::string, int64_t>> phones(mapPhones.begin(), mapPhones.end());
    std::atomic<int> wrong{0}, done{0};
    std::atomic<bool> disturbed{!midRun};
    std::atomic<int64_t> longestMs{0};
    std::vector<std::thread> clients;
    for (int t = 0; t < 20; ++t) {
      clients.emplace_back([&, t] {
        IBusiOrdmgnt log;
        ICustQryAccept user;
        const std::string& broker = brokers[static_cast<size_t>(t) % brokers.size()];
        if (log.bind_openBroker(broker) != 0 || user.bind_openBroker(broker) != 0) {
          wrong += 200;
          return;
        }
        for (int i = 0; i < 200; ++i, ++done) {
          while (i == 150 && !disturbed) std::this_thread::sleep_for(std::chrono::milliseconds(1));
          const auto& [phone, count] = phones[static_cast<size_t>(t + i) % phones.size()];
          QRSErrorMsg error;
          const auto start = Clock::now();
          struct Timed {
            Clock::time_point start;
            std::atomic<int64_t>& longest;
            ~Timed() {
              const int64_t ms =
                  std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start)
                      .count();
              for (int64_t was = longest; ms > was && !longest.compare_exchange_weak(was, ms);) {
              }
            }
          } timed{start, longestMs};
          if (i % 4 == 3) {
            MMicroPaymentDef::SMpUserInfoList users;
            if (QueryUser(user, phone, users, error) != 0 || users.empty() ||
                users.front().PHONE_ID != phone) {
              ++wrong;
            }
            continue;
          }
          MMicroPaymentDef::SMpInfoList rows;
          if (QueryLog(log, wire::LogIn(0, 0, phone, 0, 0), rows, error, t) != 0 ||
              static_cast<int64_t>(rows.size()) != count ||
              !std::all_of(rows.begin(), rows.end(),
                           [&](auto& r) { return r.PHONE_ID == phone; })) {
            ++wrong;
          }
        }
      });
    }
    if (midRun) {
      while (done < 1000) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      midRun();
      disturbed = true;
    }
    for (auto& c : clients) c.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_LT(longestMs.load(), deadlineMs / 2);  // nobody waited anywhere near the deadline
  }

  static TempDir* pDir;
  static std::string strDb;
  static std::map<std::string, int64_t> mapPhones;  // phone -> its log rows
  static NatsServer* pNats;
  static std::string aDbs[2];
  static Backoffice* aMains[2];
  static std::string strSession;
  static bool bReady;
  Backoffice* pMain = nullptr;
};
TempDir* Integration::pDir = nullptr;
std::string Integration::strDb;
std::map<std::string, int64_t> Integration::mapPhones;
NatsServer* Integration::pNats = nullptr;
std::string Integration::aDbs[2];
Backoffice* Integration::aMains[2];
std::string Integration::strSession;
bool Integration::bReady = false;

}  // namespace

TEST_P(Integration, BothOperationsOverTcp) {
  UseBroker(pMain->Url());
  BothOperationsEndToEnd();
}

// A certificate and key as an operations team would install them; the client
// trusts the CA of the URL and checks the name.
TEST_P(Integration, BothOperationsOverTls) {
  TestCerts certs;
  ASSERT_TRUE(certs.ok());
  Backoffice tls;
  ASSERT_TRUE(tls.Start(Db(), -1, "",
                        {"--listen", "tls://127.0.0.1:0", "--tls-cert", certs.good.cert,
                         "--tls-key", certs.good.key}));
  const std::string line = tls.proc.WaitForLine("serving tls://");
  ASSERT_NE(line, "") << tls.proc.output();
  const std::string port = line.substr(line.rfind(':') + 1, line.find(',') - line.rfind(':') - 1);
  UseBroker("tls://localhost:" + port + "?ca=" + certs.caFile);
  BothOperationsEndToEnd();
}

TEST_P(Integration, BothOperationsOverNats) {
  UseBroker(pNats->Url());
  BothOperationsEndToEnd();
}

// Every row of the database goes out while it is still being read; past the
// row limit the rows already sent are dropped and the caller gets the
// refusal alone.
TEST_P(Integration, LargeRepliesWholeOrRefusedOverBothTransports) {
  Backoffice capped;
  ASSERT_TRUE(capped.Start(Db(), 0, pNats->Url(), {"--broker", "CAPPED", "--max-rows", "5000"}))
      << capped.proc.output();
  const auto everything = wire::LogIn(0, 0, "", 20000101000000, 0);
  for (const std::string& url : {pMain->Url(), pNats->Url()}) {
    UseBroker(url);
    IBusiOrdmgnt log;
    ASSERT_EQ(log.bind_openBroker(kBroker), 0);
    MMicroPaymentDef::SMpInfoList rows;
    QRSErrorMsg error;
    ASSERT_EQ(QueryLog(log, everything, rows, error), 0) << url << " " << error.get_msg();
    EXPECT_EQ(rows.size(), 60000u) << url;
  }
  for (const std::string& url : {capped.Url(), pNats->Url()}) {
    setenv(tmclient::BrokerEnvironmentVariable("CAPPED").c_str(), url.c_str(), 1);
    IBusiOrdmgnt log;
    ASSERT_EQ(log.bind_openBroker("CAPPED"), 0);
    MMicroPaymentDef::SMpInfoList rows;
    QRSErrorMsg error;
    EXPECT_EQ(QueryLog(log, everything, rows, error), kRcTooManyRows) << url;
    EXPECT_TRUE(rows.empty()) << url;
    EXPECT_NE(error.get_msg().find("5000"), std::string::npos) << url;
  }
}

TEST_P(Integration, QueueGroupLosesNoCallWhenAnInstanceStops) {
  Backoffice second;
  ASSERT_TRUE(second.Start(Db(), -1, pNats->Url())) << second.proc.output();
  UseBroker(pNats->Url());
  IBusiOrdmgnt log;
  ASSERT_EQ(log.bind_openBroker(kBroker), 0);
  const auto& [phone, count] = *mapPhones.begin();
  std::atomic<int> done{0};
  int status = -1;
  std::thread stopper([&] {
    while (done.load() < 100) std::this_thread::yield();
    status = second.proc.Kill(SIGTERM);
  });
  int failures = 0;
  for (int i = 0; i < 400; ++i) {
    MMicroPaymentDef::SMpInfoList rows;
    QRSErrorMsg error;
    int rc = QueryLog(log, wire::LogIn(0, 0, phone, 0, 0), rows, error);
    if (rc != 0 || static_cast<int64_t>(rows.size()) != count) ++failures;
    done.fetch_add(1);
  }
  stopper.join();
  EXPECT_EQ(failures, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// A crashed instance costs the calls it was answering (each ends at its
// deadline with the timeout code); the queue group goes on serving.
TEST_P(Integration, QueueGroupServesOnWhenAnInstanceCrashes) {
  Backoffice second;
  ASSERT_TRUE(second.Start(Db(), -1, pNats->Url())) << second.proc.output();
  UseBroker(pNats->Url() + "?deadline_ms=5000");
  IBusiOrdmgnt log;
  ASSERT_EQ(log.bind_openBroker(kBroker), 0);
  const auto& [phone, count] = *mapPhones.begin();
  std::vector<int> results;
  for (int i = 0; i < 300; ++i) {
    if (i == 100) second.proc.Kill(SIGKILL);
    MMicroPaymentDef::SMpInfoList rows;
    QRSErrorMsg error;
    int rc = QueryLog(log, wire::LogIn(0, 0, phone, 0, 0), rows, error);
    if (rc == 0 && static_cast<int64_t>(rows.size()) != count) rc = 1;
    results.push_back(rc);
  }
  int lost = 0;
  for (int rc : results) {
    if (rc != 0) {
      EXPECT_EQ(rc, tmclient::kErrTimeout);
      ++lost;
    }
  }
  EXPECT_LE(lost, 2);
  EXPECT_TRUE(std::all_of(results.end() - 100, results.end(), [](int rc) { return rc == 0; }));
}

TEST_P(Integration, BackOfficeDownAtBindAndAtCallTime) {
  // Nobody listens: binding over tcp fails, and a call on the unbound proxy
  // says so.
  UseBroker("tcp://127.0.0.1:" + std::to_string(FreePort()));
  IBusiOrdmgnt log;
  EXPECT_EQ(log.bind_openBroker(kBroker), tmclient::kErrConnectFailed);
  MMicroPaymentDef::SMpInfoList rows;
  QRSErrorMsg error;
  EXPECT_EQ(QueryLog(log, wire::LogIn(0, 0, "13800000000", 0, 0), rows, error),
            tmclient::kErrNotBound);
  EXPECT_EQ(error.get_msg(), tmd_getErrorMsg(tmclient::kErrNotBound));

  // A back office that stops between two calls; then comes back on its port.
  // (Calls are tried again until their deadline while it is away.)
  // (On a port outside the kernel's ephemeral range, so that no connection of
  // another test takes it while it is free.)
  Backoffice own;
  ASSERT_TRUE(own.Start(Db(), FreePort())) << own.proc.output();
  UseBroker(own.Url() + "?deadline_ms=500");
  ASSERT_EQ(log.bind_openBroker(kBroker), 0);
  const std::string phone = mapPhones.begin()->first;
  ASSERT_EQ(QueryLog(log, wire::LogIn(0, 0, phone, 0, 0), rows, error), 0);
  int status = own.proc.Kill(SIGTERM);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  int rc = QueryLog(log, wire::LogIn(0, 0, phone, 0, 0), rows, error);
  EXPECT_TRUE(tmclient::IsLibraryError(rc)) << rc;
  EXPECT_EQ(error.get_code(), rc);
  EXPECT_EQ(error.get_msg(), tmd_getErrorMsg(rc));
  Backoffice again;
  ASSERT_TRUE(again.Start(Db(), own.port)) << again.proc.output();
  EXPECT_EQ(QueryLog(log, wire::LogIn(0, 0, phone, 0, 0), rows, error), 0) << error.get_msg();

  // Through the broker, with no back office in the queue group.
  UseBroker(pNats->Url() + "?broker=NOBODY&deadline_ms=500");
  IBusiOrdmgnt nobody;
  ASSERT_EQ(nobody.bind_openBroker(kBroker), 0);
  EXPECT_EQ(QueryLog(nobody, wire::LogIn(0, 0, phone, 0, 0), rows, error),
            tmclient::kErrNoResponders);
}

TEST_P(Integration, TwentyClientsTwoHundredCallsEachOverTcp) {
  UseBroker(pMain->Url());
  TwentyClientsTwoHundredCallsEach();
}

TEST_P(Integration, TwentyClientsTwoHundredCallsEachOverNats) {
  UseBroker(pNats->Url());
  TwentyClientsTwoHundredCallsEach();
}

// The two query services, as the shipped configuration marks them.
constexpr char kQueriesAreIdempotent[] = "idempotent=BABOMOMP,BACUQQMP";

TEST_P(Integration, NoCallFailsWhileTheTcpBackOfficeRestarts) {
  // The port is free while the back office restarts: one outside the kernel's
  // ephemeral range, so that no connection of another test takes it.
  Backoffice first, second;
  ASSERT_TRUE(first.Start(Db(), FreePort())) << first.proc.output();
  const int64_t deadlineMs = 10000;
  UseBroker(first.Url() + "?deadline_ms=" + std::to_string(deadlineMs) + "&" +
            kQueriesAreIdempotent);
  TwentyClientsTwoHundredCallsEach(
      [&] {
        const int status = first.proc.Kill(SIGTERM);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        ASSERT_TRUE(second.Start(Db(), first.port)) << second.proc.output();
      },
      deadlineMs);
}

TEST_P(Integration, NoCallFailsWhenOneOfTwoBackOfficesIsKilledOverNats) {
  // A queue group of its own, so that exactly these two serve it.
  Backoffice one, two;
  ASSERT_TRUE(one.Start(Db(), -1, pNats->Url(), {"--broker", "PAIR"})) << one.proc.output();
  ASSERT_TRUE(two.Start(Db(), -1, pNats->Url(), {"--broker", "PAIR"})) << two.proc.output();
  // The default attempt of an idempotent call: a third of the deadline.
  const int64_t deadlineMs = 6000;
  UseBroker(pNats->Url() + "?broker=PAIR&deadline_ms=" + std::to_string(deadlineMs) + "&" +
            kQueriesAreIdempotent);
  TwentyClientsTwoHundredCallsEach([&] { one.proc.Kill(SIGKILL); }, deadlineMs);
}

namespace {

// The three-node cluster of config/nats-cluster/, started by the broker
// scripts in a folder of its own and stopped with the object, over TLS with
// the broker's users, as broker-start configures them.
class NatsCluster {
 public:
  NatsCluster() {
    // Client ports P..P+2, route ports P+2000..P+2002, all free.
    auto freeFrom = [](int p) {
      for (int q : {p, p + 1, p + 2, p + 2000, p + 2001, p + 2002}) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(q));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool taken = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0;
        close(fd);
        if (taken) return false;
      }
      return true;
    };
    for (int i = 0; i < 50 && iPort == 0; ++i) {
      const int p = FreePort();
      if (p > 1024 && p + 2002 < 32768 && freeFrom(p)) iPort = p;
    }
    if (iPort == 0) return;
    setenv("MPAY_RUN_DIR", cRun.File("").c_str(), 1);
    bStarted = std::system(("bash " MPAY_SOURCE_PATH "/scripts/broker-start --cluster " +
                            std::to_string(iPort) + " >/dev/null")
                               .c_str()) == 0;
  }
  ~NatsCluster() {
    EXPECT_EQ(std::system("bash " MPAY_SOURCE_PATH "/scripts/broker-stop >/dev/null"), 0);
    unsetenv("MPAY_RUN_DIR");
  }
  bool started() const { return bStarted; }

  // The back office's URL of node `first`, then the others.
  std::string BackofficeUrl(int first) const {
    return Servers(first) + "?ca=" + cRun.File("nats/ca.pem") +
           "&creds=" + cRun.File("nats/backoffice.creds");
  }
  // Sets broker NODEn for the operators' clients of each node (its own node
  // first), with `options`; returns their names.
  std::vector<std::string> ClientBrokers(const std::string& options) const {
    std::vector<std::string> brokers;
    for (int n = 0; n < 3; ++n) {
      brokers.push_back("NODE" + std::to_string(n));
      setenv(tmclient::BrokerEnvironmentVariable(brokers.back()).c_str(),
             (Servers(n) + "?ca=" + cRun.File("nats/ca.pem") +
              "&creds=" + cRun.File("nats/operator.creds") + "&broker=TALMIRON&" + options)
                 .c_str(),
             1);
    }
    return brokers;
  }
  // Kills node `n` (its process, at once).
  bool KillNode(int n) const {
    std::ifstream pidFile(cRun.File("nats-node-" + std::to_string(n) + ".pid"));
    pid_t node = 0;
    return (pidFile >> node) && kill(node, SIGKILL) == 0;
  }

 private:
  std::string Servers(int first) const {
    std::string list;
    for (int i = 0; i < 3; ++i)
      list += (i ? "," : "") + std::string("127.0.0.1:") + std::to_string(iPort + (first + i) % 3);
    return "nats://" + list;
  }

  TempDir cRun;
  int iPort = 0;
  bool bStarted = false;
};

}  // namespace

// A back office and a third of the clients on each node of the cluster
// (each lists its own node first, then the others). One node is killed
// mid-run: its back office and clients go over to the other nodes, and the
// calls it was carrying are tried again.
TEST_P(Integration, NoCallIsLostWhenANodeOfTheNatsClusterDies) {
  NatsCluster cluster;
  ASSERT_TRUE(cluster.started());
  Backoffice offices[3];
  for (int n = 0; n < 3; ++n) {
    ASSERT_TRUE(offices[n].Start(Db(), -1, cluster.BackofficeUrl(n),
                                 {"--broker", "TALMIRON", "--workers", "2"}))
        << offices[n].proc.output();
  }
  const int64_t deadlineMs = 6000;
  const std::vector<std::string> brokers = cluster.ClientBrokers(
      "deadline_ms=" + std::to_string(deadlineMs) + "&" + kQueriesAreIdempotent);
  // The routes carry every node's queue subscriptions once a call through
  // each node has been answered.
  for (const std::string& broker : brokers) {
    IBusiOrdmgnt log;
    ASSERT_EQ(log.bind_openBroker(broker), 0);
    MMicroPaymentDef::SMpInfoList rows;
    QRSErrorMsg error;
    int rc = -1;
    for (int i = 0; i < 100 && rc != 0; ++i) {
      rc = QueryLog(log, wire::LogIn(0, 0, mapPhones.begin()->first, 0, 0), rows, error);
      if (rc != 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_EQ(rc, 0) << broker;
  }
  TwentyClientsTwoHundredCallsEach([&] { ASSERT_TRUE(cluster.KillNode(1)); }, deadlineMs, brokers);
}

// Sign-ins and sign-outs through the cluster while a node dies and then a
// back office dies holding sign-ins: each is tried again (a sign-in with its
// nonce gets the session of its first attempt, a sign-out of an ended
// session is no error), none fails, none waits its deadline. On PostgreSQL,
// the store back offices on several machines share.
TEST_P(Integration, NoSignInOrSignOutIsLostWhenANodeOrABackOfficeDies) {
  if (GetParam() != StoreKind::kPostgres) GTEST_SKIP() << "one store is enough";
  NatsCluster cluster;
  ASSERT_TRUE(cluster.started());
  Backoffice offices[3];
  for (int n = 0; n < 3; ++n) {
    ASSERT_TRUE(offices[n].Start(Db(), -1, cluster.BackofficeUrl(n),
                                 {"--broker", "TALMIRON", "--workers", "2"}))
        << offices[n].proc.output();
  }
  const int64_t deadlineMs = 15000;
  const std::vector<std::string> brokers =
      cluster.ClientBrokers("deadline_ms=" + std::to_string(deadlineMs));
  for (const std::string& broker : brokers) {
    int rc = -1;
    for (int i = 0; i < 100 && rc != 0; ++i) {
      rc = SignIn(broker) ? 0 : 1;
      if (rc != 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_EQ(rc, 0) << broker;
  }
  using Clock = std::chrono::steady_clock;
  std::atomic<int> failures{0}, started{0};
  std::atomic<int64_t> longestMs{0};
  auto timed = [&](const std::function<int()>& call) {
    const auto start = Clock::now();
    if (call() != 0) ++failures;
    const int64_t ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    for (int64_t was = longestMs; ms > was && !longestMs.compare_exchange_weak(was, ms);) {
    }
  };
  constexpr int kRounds = 12;
  std::vector<std::thread> clients;
  // Sign-ins of their own (the process's session is not theirs to set)...
  for (int t = 0; t < 3; ++t) {
    clients.emplace_back([&, t] {
      MSysmgnt::IOperatorAuth auth;
      if (auth.bind("MSysmgnt_IOperatorAuth", brokers[static_cast<size_t>(t)]) != 0) {
        failures += kRounds;
        return;
      }
      for (int i = 0; i < kRounds; ++i) {
        MSysmgntDef::SSignInIn in;
        in.set_LOGIN_NAME(kDemoLogin);
        in.set_OP_PASSWD(kDemoPassword);
        in.set_OP_ADDRESS("127.0.0.1");
        in.set_SIGNIN_NONCE(NewSessionToken());
        ++started;
        timed([&] {
          MSysmgntDef::SOperator op;
          MSysmgntDef::SSessionInfo session;
          QRSErrorMsg error;
          return auth.signIn(in, op, session, error);
        });
      }
    });
  }
  // ... and the process's own sign-ins and sign-outs, one after the other.
  clients.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      timed([&] { return SignIn(brokers[2]) ? 0 : 1; });
      timed([&] { return service::SignOut(brokers[2]); });
    }
  });
  while (started < 3 * kRounds / 3) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(cluster.KillNode(1));
  while (started < 3 * kRounds * 2 / 3) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));  // sign-ins under way
  offices[2].proc.Kill(SIGKILL);
  for (auto& c : clients) c.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_LT(longestMs.load(), deadlineMs / 2);
  tmclient::SetSession(strSession);
}

namespace {

// A client object that sends whatever request stream it is given.
class RawClient : public CTmdClientObject {};

}  // namespace

TEST_P(Integration, BadInputNeverHurtsOtherClients) {
  UseBroker(pMain->Url());
  IBusiOrdmgnt log;
  ASSERT_EQ(log.bind_openBroker(kBroker), 0);
  const auto& [phone, count] = *mapPhones.begin();
  auto stillServes = [&] {
    MMicroPaymentDef::SMpInfoList rows;
    QRSErrorMsg error;
    return QueryLog(log, wire::LogIn(0, 0, phone, 0, 0), rows, error) == 0 &&
           static_cast<int64_t>(rows.size()) == count;
  };

  // Clients that connect and send nothing, or half a frame, hold no worker.
  std::vector<int> idle;
  for (int i = 0; i < 8; ++i) idle.push_back(raw::Connect(pMain->port));
  int half = raw::Connect(pMain->port);
  raw::SendAll(half, raw::Frame(1000, std::string(10, 'x')));
  EXPECT_TRUE(stillServes());

  // Garbage and oversized frames end their own connection only.
  int garbage = raw::Connect(pMain->port);
  raw::SendAll(garbage, raw::Frame(64, std::string(64, '\x7f')));
  EXPECT_TRUE(raw::ClosedByPeer(garbage));
  int huge = raw::Connect(pMain->port);
  raw::SendAll(huge, raw::Frame(0xFFFFFFF0u, "xxxx"));
  EXPECT_TRUE(raw::ClosedByPeer(huge));
  EXPECT_TRUE(stillServes());
  for (int fd : idle) close(fd);
  for (int fd : {half, garbage, huge}) close(fd);

  // A request of a client from before sessions is refused like any without one.
  int old = raw::Connect(pMain->port);
  raw::SendAll(old, raw::RequestFrame(
                        9, kLogInterface, kLogServiceCode,
                        wire::Request(kLogRequestStream, wire::LogIn(0, 0, phone, 0, 0)), false));
  EXPECT_EQ(raw::ResultOf(raw::ReadReply(old)), kRcNoSession);
  close(old);

  // A well-framed request whose stream is wrong gets the service's error reply.
  RawClient raw;
  ASSERT_EQ(raw.bind_openBroker(kBroker), 0);
  tmb_stream in, out;
  in.open();
  in.begin_stream(kLogRequestStream);
  in << 42;
  in.end_stream();
  ASSERT_EQ(raw.call_server(kLogInterface, kLogServiceCode, nullptr, in, out), kRcBadRequest);
  out.begin_stream(kLogReplyStream);
  MMicroPaymentDef::SMpInfoList rows;
  MMicroPaymentDef::SMpAcctStatInfo stat;
  int ret = 0;
  QRSErrorMsg error;
  out >> rows >> stat;
  out >> ret;
  out >> error;
  EXPECT_TRUE(out.end_stream());
  EXPECT_EQ(error.get_msg(), messages::kBadRequest);

  // An unknown service code, and absurd conditions through the proxy.
  tmb_stream out2;
  EXPECT_EQ(raw.call_server(kLogInterface, "NOSUCHSV", nullptr, in, out2), kRcUnknownService);
  EXPECT_EQ(QueryLog(log, wire::LogIn(0, 0, "", 20260102000000, 20260101000000), rows, error),
            kRcBadCondition);
  EXPECT_EQ(error.get_msg(), messages::kBadRange);
  // A request over the service's 64 KiB is refused on its frame's length.
  EXPECT_EQ(QueryLog(log, wire::LogIn(0, 0, std::string(100000, '1'), 0, 0), rows, error),
            tmclient::kErrRequestTooLarge);
  EXPECT_TRUE(stillServes());
  EXPECT_TRUE(pMain->proc.running());
}

// A hang-up or quit from a terminal stops it as a termination does: no
// audit entry is lost.
// A kill loses no entry either: an answered query's entry was in the
// journal before the reply left, and the next start writes it.
TEST_P(Integration, StopsCleanlyOnSigtermHupOrQuitWithEveryAuditEntryWrittenAndAKillLosesNone) {
  int kOperator = 900001;
  for (int signal : {SIGTERM, SIGHUP, SIGQUIT, SIGKILL}) {
    ++kOperator;
    Backoffice own;
    ASSERT_TRUE(own.Start(Db(), 0)) << own.proc.output();
    UseBroker(own.Url());
    IBusiOrdmgnt log;
    ASSERT_EQ(log.bind_openBroker(kBroker), 0);
    for (int i = 0; i < 25; ++i) {
      MMicroPaymentDef::SMpInfoList rows;
      QRSErrorMsg error;
      ASSERT_EQ(
          QueryLog(log, wire::LogIn(0, 0, mapPhones.begin()->first, 0, 0), rows, error, kOperator),
          0);
    }
    int status = own.proc.Kill(signal);
    if (signal == SIGKILL) {
      Backoffice next;
      ASSERT_TRUE(next.Start(Db(), 0)) << next.proc.output();
      status = next.proc.Kill(SIGTERM);
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << signal << ": " << status;
    // Each under the signed-in operator, with the OP_ID the request claimed
    // beside it, and the connection's own address.
    EXPECT_EQ(SqlRows(Db(),
                      "SELECT count(*) FROM mp_audit WHERE result = 0 AND op_id = 1001 AND "
                      "op_login = 'demo' AND so_org_id = 101 AND peer_address LIKE "
                      "'tcp:127.0.0.1:%' AND declared_op_id = " +
                          std::to_string(kOperator)),
              (std::vector<std::vector<std::string>>{{"25"}}))
        << signal;
  }
}

TEST_P(Integration, CommandLineQueryAndTheDemoScript) {
  UseBroker(pMain->Url());
  const auto& [phone, count] = *mapPhones.begin();
  setenv("MPAY_PASSWORD", kDemoPassword, 1);
  ChildProcess query;
  ASSERT_TRUE(query.Start({MPAY_QUERY_EXE, "--login", kDemoLogin, "--phone", phone}));
  EXPECT_NE(query.WaitForLine(std::to_string(count) + " rows; deposits"), "") << query.output();
  EXPECT_EQ(query.Wait(), 0);
  ChildProcess refused, anonymous;
  ASSERT_TRUE(refused.Start({MPAY_QUERY_EXE, "--login", kDemoLogin, "--phone", ""}));
  EXPECT_NE(refused.WaitForLine("call failed with 1001"), "") << refused.output();
  EXPECT_EQ(WEXITSTATUS(refused.Wait()), 1);
  unsetenv("MPAY_PASSWORD");
  ASSERT_TRUE(anonymous.Start({MPAY_QUERY_EXE, "--phone", phone}));
  EXPECT_NE(anonymous.WaitForLine("call failed with 1008"), "") << anonymous.output();
  EXPECT_EQ(WEXITSTATUS(anonymous.Wait()), 1);
  if (GetParam() != StoreKind::kSqlite) return;

  // `make run` on a fresh runtime folder: demo database, back office, samples, stop.
  TempDir run;
  const std::string port = std::to_string(FreePort());
  setenv("MPAY_RUN_DIR", run.File("run").c_str(), 1);
  setenv("MPAY_RUN_PORT", port.c_str(), 1);
  setenv("MPAY_DEMO_ROWS", "3000", 1);
  setenv("MPAY_RUN_HOST", "/nonexistent", 1);
  ChildProcess demo;
  ASSERT_TRUE(demo.Start({"bash", MPAY_SOURCE_PATH "/scripts/run-demo", MPAY_BUILD_PATH}));
  EXPECT_NE(demo.WaitForLine("serving tcp://127.0.0.1:" + port), "") << demo.output();
  EXPECT_NE(demo.WaitForLine(" rows; deposits"), "") << demo.output();
  EXPECT_NE(demo.WaitForLine("back office stopped"), "") << demo.output();
  EXPECT_EQ(demo.Wait(), 0);
  for (const char* name : {"MPAY_RUN_DIR", "MPAY_RUN_PORT", "MPAY_DEMO_ROWS", "MPAY_RUN_HOST"}) {
    unsetenv(name);
  }
}

INSTANTIATE_TEST_SUITE_P(Stores, Integration,
                         ::testing::Values(StoreKind::kSqlite, StoreKind::kPostgres), StoreName);
