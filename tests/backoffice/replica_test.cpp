// Read replicas: a PostgreSQL primary of the private cluster and a streaming
// replica of it (scripts/pg-start --replica). Queries go to the replica
// while it keeps up, to the primary while it lags or once it is gone, and
// none fails on the way.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

#include "backoffice/replica_store.h"
#include "backoffice/store.h"
#include "test_stores.h"

using namespace backoffice;

namespace {

constexpr int64_t kEnd = 20261130120000;

class CountRows : public LogRowSink {
 public:
  LogRows& Block() override { return cBlock; }
  bool Added() override { return ++iRows, true; }
  int64_t Take() {
    cBlock.Clear();
    return std::exchange(iRows, 0);
  }

 private:
  LogRows cBlock;
  int64_t iRows = 0;
};

// Runs a script of the source tree, with `env` (NAME=VALUE ...) before it.
int Script(const std::string& env, const std::string& line, std::string& out) {
  const char* source = std::getenv("MPAY_SOURCE_DIR");
  return RunCommand(env + " bash " + (source ? source : MPAY_SOURCE_PATH) + "/scripts/" + line,
                    out);
}

bool WaitFor(const std::function<bool()>& done, int seconds = 20) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

TEST(ReadReplicas, LaggingOrKilledReplicaLeavesItsQueriesToThePrimaryAndNoneFails) {
  TempDir dir;
  DemoOptions o;
  o.rows = 1500;  // every answer within what a replica's query holds back
  o.endStamp = kEnd;
  const std::string db = DemoStore(StoreKind::kPostgres, dir.File("demo.db"), o);
  ASSERT_FALSE(db.empty()) << PgCluster::Get().error();
  std::string out;
  ASSERT_EQ(Script("", "pg-start --replica", out), 0) << out;
  const std::string replicaDir = std::string(std::getenv("MPAY_PG_DIR")) + "-replica";
  const std::string atReplica = "MPAY_PG_DIR=" + replicaDir;
  struct StopReplica {
    const std::string& env;
    ~StopReplica() {
      std::string ignored;
      Script(env, "pg-stop", ignored);
    }
  } stop{atReplica};
  std::string port;
  std::ifstream(replicaDir + "/port") >> port;
  ASSERT_FALSE(port.empty());
  const std::size_t colon = db.rfind(':'), slash = db.rfind('/');
  const std::string replicaUri = db.substr(0, colon + 1) + port + db.substr(slash);

  auto made = OpenStore(db, {replicaUri}, 1000);
  auto& store = dynamic_cast<ReplicatedStore&>(*made);
  ASSERT_TRUE(WaitFor([&] { return store.usable(0); })) << "the replica never became usable";

  // Two workers query all along; every answer must be whole.
  LogConditions all;
  all.BEGIN_SO_DATE = 20000101000000;
  all.END_SO_DATE = kEnd;
  std::atomic<bool> running{true};
  std::atomic<int> failures{0}, wrong{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < 2; ++w) {
    workers.emplace_back([&] {
      auto reader = store.OpenReader();
      CountRows sink;
      while (running) {
        try {
          reader->QueryLog(all, 100000, sink);
          if (sink.Take() != o.rows) ++wrong;
        } catch (const DbError&) {
          ++failures;
        }
      }
    });
  }
  ASSERT_TRUE(WaitFor([&] { return store.replicaQueries() > 20; }));

  // Replay paused while the primary writes: left out once a second behind.
  PgCluster::Exec(replicaUri, "SELECT pg_wal_replay_pause()");
  PgCluster::Exec(db, "CREATE TABLE replica_probe AS SELECT 1 AS x");
  EXPECT_TRUE(WaitFor([&] { return !store.usable(0); })) << "a replica 1 s behind stayed in use";
  const int64_t primaryBefore = store.primaryQueries();
  EXPECT_TRUE(WaitFor([&] { return store.primaryQueries() > primaryBefore + 20; }));
  PgCluster::Exec(replicaUri, "SELECT pg_wal_replay_resume()");
  EXPECT_TRUE(WaitFor([&] { return store.usable(0); })) << "the replica did not come back";

  // Killed while queries run on it.
  const int64_t onReplica = store.replicaQueries();
  ASSERT_TRUE(WaitFor([&] { return store.replicaQueries() > onReplica + 20; }));
  ASSERT_EQ(Script(atReplica, "pg-stop", out), 0) << out;
  const int64_t afterKill = store.primaryQueries();
  EXPECT_TRUE(WaitFor([&] { return store.primaryQueries() > afterKill + 50; }));
  running = false;
  for (auto& t : workers) t.join();
  EXPECT_FALSE(store.usable(0));
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(wrong, 0);
}

}  // namespace
