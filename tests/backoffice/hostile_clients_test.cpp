// mpay-backoffice over tcp against clients that hold on to what the server
// gives them: connections half closed with their request, idle floods,
// clients that ask for large replies and never read, and a stop while
// requests are waiting. Each must cost the server nothing it keeps, and never
// another client's queries.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "../support/sign_in.h"
#include "backoffice/protocol.h"
#include "backoffice/sqlite_db.h"
#include "child_process.h"
#include "demo_db.h"
#include "raw_client.h"
#include "service/busi_ordmgnt.h"
#include "test_db.h"
#include "tmclient/broker_resolver.h"
#include "wire_helpers.h"

using namespace backoffice;
using namespace std::chrono_literals;
using MCustQryAccept::IBusiOrdmgnt;

namespace {

constexpr char kBroker[] = "HOSTILE";
// The server is built like this test: under the sanitizers its memory is
// mostly theirs.
#ifdef __SANITIZE_ADDRESS__
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

class HostileClients : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Thousands of connections: the soft limit on open files up to the hard one
    // (inherited by the server).
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);

    pDir = new TempDir;
    strDb = pDir->File("hostile.db");
    MakeDemoDatabase(strDb, 120000);
    for (const auto& [phone, rows] : PhonesWithLogRows(strDb, 4, 1)) {
      strPhone = phone;
      iPhoneRows = rows;
    }
    Database d(strDb, Database::Mode::kReadOnly);
    // The time from which the last 100,000 rows run.
    Statement from =
        d.Prepare("SELECT so_date FROM mp_so_log ORDER BY so_date DESC LIMIT 1 OFFSET 99999");
    if (from.Step()) iLargeBegin = from.Int(0);
  }
  static void TearDownTestSuite() { delete pDir; }

  void StartServer(std::vector<std::string> extra = {}) {
    ASSERT_TRUE(cServer.Start(strDb, 0, "", std::move(extra))) << cServer.proc.output();
    setenv(tmclient::BrokerEnvironmentVariable(kBroker).c_str(), cServer.Url().c_str(), 1);
    // The sign-in's connection is gone again before the tests count sockets.
    const int sockets = raw::OpenSockets(pid());
    ASSERT_TRUE(SignIn(kBroker));
    ASSERT_TRUE(WaitUntil([&] { return raw::OpenSockets(pid()) <= sockets; }, 5000ms));
  }
  pid_t pid() const { return cServer.proc.pid(); }

  // The log rows of one phone number: a small reply.
  static std::string SmallRequest(uint32_t callId) {
    return raw::RequestFrame(callId, kLogInterface, kLogServiceCode,
                             wire::Request(kLogRequestStream, wire::LogIn(0, 0, strPhone, 0, 0)));
  }
  // About 100,000 rows (a few more when the first second holds several): a
  // large streamed reply.
  static std::string LargeRequest(uint32_t callId) {
    return raw::RequestFrame(
        callId, kLogInterface, kLogServiceCode,
        wire::Request(kLogRequestStream, wire::LogIn(0, 0, "", iLargeBegin, 0)));
  }

  // One small query through the proxy; true when its rows came back whole.
  static bool SmallQuery(IBusiOrdmgnt& log) {
    MMicroPaymentDef::SMpInfoList rows;
    MMicroPaymentDef::SMpAcctStatInfo stat;
    int ret = -1;
    QRSErrorMsg error;
    return log.query_mpSoList(wire::LogIn(0, 0, strPhone, 0, 0), wire::Operator(), rows, stat, ret,
                              error, nullptr) == 0 &&
           static_cast<int64_t>(rows.size()) == iPhoneRows;
  }

  static TempDir* pDir;
  static std::string strDb;
  static std::string strPhone;
  static int64_t iPhoneRows;
  static int64_t iLargeBegin;
  Backoffice cServer;
};
TempDir* HostileClients::pDir = nullptr;
std::string HostileClients::strDb;
std::string HostileClients::strPhone;
int64_t HostileClients::iPhoneRows = 0;
int64_t HostileClients::iLargeBegin = 0;

}  // namespace

// Clients that send their request and their end of input together, read the
// reply and close: the server answers each and keeps none of them open.
TEST_F(HostileClients, RequestWithEndOfInputLeavesNoConnectionBehind) {
  StartServer();
  const int before = raw::OpenSockets(pid());
  const std::string request = SmallRequest(7);
  int answered = 0;
  for (int batch = 0; batch < 10; ++batch) {
    std::vector<int> fds;
    for (int i = 0; i < 100; ++i) {
      int fd = raw::Connect(cServer.port);
      if (fd < 0) continue;
      raw::SendAll(fd, request);
      shutdown(fd, SHUT_WR);
      fds.push_back(fd);
    }
    for (int fd : fds) {
      std::string reply = raw::ReadReply(fd);
      if (raw::KindOf(reply) == 'R' && raw::ResultOf(reply) == 0) ++answered;
      close(fd);
    }
  }
  EXPECT_EQ(answered, 1000);
  EXPECT_TRUE(WaitUntil([&] { return raw::OpenSockets(pid()) <= before; }, 1000ms))
      << raw::OpenSockets(pid()) << " sockets open, " << before << " before";
}

// Connections that are opened and never used, five times as many as the
// server takes: the ones idle the longest make way for new ones, so operators
// who open a window (a new connection) or keep theirs are served throughout,
// and the rest go once the idle timeout passes.
TEST_F(HostileClients, IdleFloodDoesNotLockOutWorkingClients) {
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  if (files.rlim_cur < 5200) GTEST_SKIP() << "only " << files.rlim_cur << " open files allowed";
  StartServer({"--max-connections", "1000", "--idle-timeout", "3"});
  EXPECT_NE(
      cServer.proc.output().find("max 1000 connections, idle timeout 3 s, write timeout 30 s"),
      std::string::npos)
      << cServer.proc.output();
  const int before = raw::OpenSockets(pid());
  IBusiOrdmgnt kept;
  ASSERT_EQ(kept.bind_openBroker(kBroker), 0);
  ASSERT_TRUE(SmallQuery(kept));
  std::vector<int> idle;
  int refused = 0, failed = 0;
  for (int i = 0; i < 5000; ++i) {
    int fd = raw::Connect(cServer.port);
    if (fd < 0) {
      ++refused;
      continue;
    }
    idle.push_back(fd);
    if (i % 250 == 249) {
      IBusiOrdmgnt fresh;
      if (fresh.bind_openBroker(kBroker) != 0 || !SmallQuery(fresh)) ++failed;
      if (!SmallQuery(kept)) ++failed;
    }
  }
  EXPECT_EQ(refused, 0);
  EXPECT_EQ(failed, 0);
  EXPECT_LE(raw::OpenSockets(pid()), before + 1000);
  EXPECT_TRUE(WaitUntil([&] { return raw::OpenSockets(pid()) <= before + 1; }, 6000ms))
      << raw::OpenSockets(pid()) << " sockets open, " << before << " before";
  EXPECT_TRUE(SmallQuery(kept));
  for (int fd : idle) close(fd);
}

// Clients that ask for 100,000 rows and never read what comes: the server
// keeps a bounded part of each reply, serves 20 working clients meanwhile
// (none of whose calls comes near its deadline), and disconnects the readers
// that take nothing for the write timeout.
TEST_F(HostileClients, ClientsThatNeverReadStopNobody) {
  StartServer({"--write-timeout", "2"});
  const int before = raw::OpenSockets(pid());
  const long memoryBefore = raw::ResidentKb(pid());
  std::vector<int> slow;
  for (uint32_t i = 0; i < 8; ++i) {
    int fd = raw::Connect(cServer.port, 4096);
    ASSERT_GE(fd, 0);
    raw::SendAll(fd, LargeRequest(i + 1));
    slow.push_back(fd);
  }
  // Deadlines of 1.5 s: a call that had to wait for a worker held by a slow
  // reader (2 s) would fail.
  setenv(tmclient::BrokerEnvironmentVariable(kBroker).c_str(),
         (cServer.Url() + "?deadline_ms=1500").c_str(), 1);
  std::atomic<int> failed{0};
  std::atomic<long> memoryPeak{0};
  std::vector<std::thread> working;
  for (int t = 0; t < 20; ++t) {
    working.emplace_back([&] {
      IBusiOrdmgnt log;
      if (log.bind_openBroker(kBroker) != 0) {
        failed += 20;
        return;
      }
      for (int i = 0; i < 20; ++i) {
        if (!SmallQuery(log)) ++failed;
        long kb = raw::ResidentKb(pid());
        for (long seen = memoryPeak; kb > seen && !memoryPeak.compare_exchange_weak(seen, kb);) {
        }
        std::this_thread::sleep_for(20ms);
      }
    });
  }
  for (auto& t : working) t.join();
  EXPECT_EQ(failed.load(), 0);
  // Each slow reader holds its connection's queue (1 MiB), the blocks in
  // flight and a read connection with its cache: about 4 MB (35 MB for the
  // eight here), where its reply alone is 13 MB.
  if (!kSanitized) {
    EXPECT_LT(memoryPeak - memoryBefore, 8 * 8 * 1024) << memoryBefore << " KiB before";
  }
  EXPECT_TRUE(WaitUntil([&] { return raw::OpenSockets(pid()) <= before; }, 5000ms))
      << raw::OpenSockets(pid()) << " sockets open, " << before << " before";
  for (int fd : slow) EXPECT_TRUE(raw::ClosedByPeer(fd));
  for (int fd : slow) close(fd);
}

// A stop answers every request the server has received, those still waiting
// for a worker included, and closes each connection after its last reply.
TEST_F(HostileClients, StopAnswersEveryRequestReceived) {
  StartServer();
  const int before = raw::OpenSockets(pid());
  std::vector<int> fds;
  for (uint32_t i = 0; i < 8; ++i) {
    int fd = raw::Connect(cServer.port);
    ASSERT_GE(fd, 0);
    raw::SendAll(fd, LargeRequest(2 * i + 1) + SmallRequest(2 * i + 2));
    fds.push_back(fd);
  }
  ASSERT_TRUE(WaitUntil([&] { return raw::OpenSockets(pid()) >= before + 8; }, 5000ms));
  int status = -1;
  std::thread stopper([&] { status = cServer.proc.Kill(SIGTERM); });
  int answered = 0;
  for (int fd : fds) {
    std::string large = raw::ReadReply(fd);
    std::string small = raw::ReadReply(fd);
    if (raw::KindOf(large) == 'F' && raw::ResultOf(large) == 0 && raw::KindOf(small) == 'R' &&
        raw::ResultOf(small) == 0 && raw::ClosedByPeer(fd)) {
      ++answered;
    }
    close(fd);
  }
  stopper.join();
  EXPECT_EQ(answered, 8);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// A server allowed fewer open files than --max-connections needs: it takes
// fewer connections, says so at start-up, and the connections idle the
// longest make room as at the cap, while the database keeps the files it
// needs.
TEST_F(HostileClients, FewOpenFilesCapTheConnections) {
  ChildProcess limited;
  ASSERT_TRUE(limited.Start(
      {"prlimit", "--nofile=256", BACKOFFICE_EXE, "--db", strDb, "--listen", "tcp://127.0.0.1:0"}));
  const std::string line = limited.WaitForLine("serving tcp://");
  ASSERT_NE(line, "") << limited.output();
  // 256 files, less 64 and three for each of 38 database connections: 78.
  EXPECT_NE(limited.output().find("event=open_files_limit limit=256 connections_per_listen=78"),
            std::string::npos)
      << limited.output();
  EXPECT_NE(line.find("max 78 connections"), std::string::npos) << line;
  const int port = std::atoi(line.c_str() + line.rfind(':') + 1);
  setenv(tmclient::BrokerEnvironmentVariable(kBroker).c_str(),
         ("tcp://127.0.0.1:" + std::to_string(port) + "?deadline_ms=5000").c_str(), 1);
  ASSERT_TRUE(SignIn(kBroker));
  std::vector<int> idle;
  for (int i = 0; i < 150; ++i) idle.push_back(raw::Connect(port));
  IBusiOrdmgnt fresh;
  ASSERT_EQ(fresh.bind_openBroker(kBroker), 0);
  EXPECT_TRUE(SmallQuery(fresh)) << limited.output();
  EXPECT_LE(raw::OpenSockets(limited.pid()), 78 + 1);
  for (int fd : idle)
    if (fd >= 0) close(fd);
  EXPECT_TRUE(SmallQuery(fresh)) << limited.output();
}
