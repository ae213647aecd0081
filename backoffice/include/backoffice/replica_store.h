#pragma once

// A PostgreSQL primary with read replicas (--db-read): the read-only queries
// (the log and user queries of the StoreReaders) go to the replicas in turn,
// everything else (the schema, the audit, the demo data; sessions and
// sign-ins have stores of their own on --db) to the primary. A replica is
// used only while a check, once a second, finds it streaming from its
// primary with its replay no more than a bound behind; one that lags, stops
// streaming or cannot be reached is left out until a check finds it good
// again, and a query it fails before any row has gone out runs again on the
// primary. The checks need the database user to see the replica's WAL
// receiver (a superuser, or a member of pg_read_all_stats).

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "backoffice/store.h"

namespace backoffice {

struct ReplicaPolicy {
  int64_t maxLagMs = 5000;  // a replica further behind is left out
  int64_t checkMs = 1000;   // how often each replica is checked
};

class ReplicatedStore final : public Store {
 public:
  ReplicatedStore(std::unique_ptr<Store> primary, const std::vector<std::string>& replicaUris,
                  ReplicaPolicy policy);
  ~ReplicatedStore() override;

  void EnsureSchema() override { pPrimary->EnsureSchema(); }
  std::unique_ptr<StoreReader> OpenReader() override;
  std::unique_ptr<AuditStore> OpenAudit() override { return pPrimary->OpenAudit(); }
  DemoSummary CreateDemo(const DemoOptions& options) override {
    return pPrimary->CreateDemo(options);
  }
  std::string Describe() const override;

  // Queries answered by a replica, and by the primary, since the start.
  int64_t replicaQueries() const { return iReplicaQueries.load(); }
  int64_t primaryQueries() const { return iPrimaryQueries.load(); }
  // Whether the last check (or a failed query since) found replica `i` usable.
  bool usable(std::size_t i) const { return vReplicas[i]->bUsable.load(); }

 private:
  struct Replica {
    std::string uri;
    std::unique_ptr<Store> store;
    std::atomic<bool> bUsable{false};
  };
  class Reader;

  // Checks every replica now; then again every checkMs until stopped.
  void CheckLoop();
  void Check(Replica& r);

  std::unique_ptr<Store> pPrimary;
  std::vector<std::unique_ptr<Replica>> vReplicas;
  const ReplicaPolicy cPolicy;
  std::atomic<int64_t> iReplicaQueries{0}, iPrimaryQueries{0};
  std::atomic<uint32_t> iNextReader{0};  // spreads the readers' first choices
  std::mutex mLock;
  std::condition_variable cvStop;
  bool bStopping = false;
  std::thread tChecker;
};

}  // namespace backoffice
