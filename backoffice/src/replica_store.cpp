#include "backoffice/replica_store.h"

#include "backoffice/log.h"
#include "pg_db.h"
#include "stores.h"

namespace backoffice {
namespace {

// Whether the replica streams from its primary, and how far behind its
// replay is: nothing when it has replayed all it received, else the time
// since the last transaction it replayed (-1 while it has replayed none
// since it started: unknown). A server that is not in recovery (a primary
// named as a replica) is never behind.
constexpr char kLagSql[] =
    "SELECT pg_is_in_recovery(), "
    "(SELECT count(*) FROM pg_stat_wal_receiver WHERE status = 'streaming'), "
    "CASE WHEN NOT pg_is_in_recovery() "
    "  OR pg_last_wal_receive_lsn() = pg_last_wal_replay_lsn() THEN 0 "
    "ELSE COALESCE(EXTRACT(EPOCH FROM now() - pg_last_xact_replay_timestamp()) * 1000, -1) "
    "END::bigint";

// Holds a query's first rows back from the sink it answers, so that a query
// that fails on a replica before more than kHeldRows rows came runs again
// on the primary as if the replica had never been asked: nothing of it went
// out. Past kHeldRows (a reply as large as the back office streams in
// parts) the rows go on as they come, and a failure fails the call.
template <class R>
class HoldingSink final : public RowSink<R> {
 public:
  static constexpr std::size_t kHeldRows = 2000;

  explicit HoldingSink(RowSink<R>& to) : rTo(to) {}
  RowBlock<R>& Block() override { return bPassing ? rTo.Block() : cHeld; }
  bool Added() override {
    if (bPassing) return rTo.Added();
    return cHeld.size() < kHeldRows || PassOn();
  }
  // Hands the rows held to the sink; false when it wants no more of them.
  bool PassOn() {
    bPassing = true;
    for (std::size_t i = 0; i < cHeld.size(); ++i) {
      rTo.Block().AddRow(cHeld, i);
      if (!rTo.Added()) return false;
    }
    return true;
  }
  // Whether rows went out: the query can no longer be run elsewhere.
  bool passing() const { return bPassing; }

 private:
  RowSink<R>& rTo;
  RowBlock<R> cHeld;
  bool bPassing = false;
};

}  // namespace

// One worker's connections: the primary's and one per replica, each opened
// on its first query.
class ReplicatedStore::Reader final : public StoreReader {
 public:
  Reader(ReplicatedStore& store, uint32_t first)
      : rStore(store), iNext(first), vReaders(store.vReplicas.size()) {}

  int64_t QueryLog(const LogConditions& conditions, int64_t limit, LogRowSink& sink) override {
    return Route(sink,
                 [&](StoreReader& r, LogRowSink& s) { return r.QueryLog(conditions, limit, s); });
  }
  int64_t QueryUsers(std::string_view phoneId, int64_t limit, UserRowSink& sink) override {
    return Route(sink,
                 [&](StoreReader& r, UserRowSink& s) { return r.QueryUsers(phoneId, limit, s); });
  }

 private:
  template <class R, class Query>
  int64_t Route(RowSink<R>& sink, Query&& query) {
    const std::size_t n = vReaders.size();
    for (std::size_t k = 0; k < n; ++k) {
      const std::size_t i = iNext++ % n;
      Replica& replica = *rStore.vReplicas[i];
      if (!replica.bUsable.load(std::memory_order_relaxed)) continue;
      HoldingSink<R> holding(sink);
      try {
        if (!vReaders[i]) vReaders[i] = replica.store->OpenReader();
        const int64_t rows = query(*vReaders[i], holding);
        if (!holding.passing()) holding.PassOn();
        rStore.iReplicaQueries.fetch_add(1, std::memory_order_relaxed);
        return rows;
      } catch (const DbError& e) {
        // Rows that went out cannot be taken back: the call fails with them.
        if (holding.passing()) throw;
        // Left out until a check finds it good again; the query goes on.
        if (replica.bUsable.exchange(false))
          log::Write(log::Level::kWarn, "replica_failed",
                     {{"replica", replica.store->Describe()}, {"error", e.what()}});
        vReaders[i].reset();
      }
    }
    if (!pPrimary) pPrimary = rStore.pPrimary->OpenReader();
    const int64_t rows = query(*pPrimary, sink);
    rStore.iPrimaryQueries.fetch_add(1, std::memory_order_relaxed);
    return rows;
  }

  ReplicatedStore& rStore;
  uint32_t iNext;
  std::unique_ptr<StoreReader> pPrimary;
  std::vector<std::unique_ptr<StoreReader>> vReaders;
};

ReplicatedStore::ReplicatedStore(std::unique_ptr<Store> primary,
                                 const std::vector<std::string>& replicaUris, ReplicaPolicy policy)
    : pPrimary(std::move(primary)), cPolicy(policy) {
  for (const std::string& uri : replicaUris) {
    auto r = std::make_unique<Replica>();
    r->uri = uri;
    r->store = MakePostgresStore(uri);
    vReplicas.push_back(std::move(r));
  }
  tChecker = std::thread([this] { CheckLoop(); });
}

ReplicatedStore::~ReplicatedStore() {
  {
    std::lock_guard lock(mLock);
    bStopping = true;
  }
  cvStop.notify_all();
  tChecker.join();
}

std::unique_ptr<StoreReader> ReplicatedStore::OpenReader() {
  return std::make_unique<Reader>(*this, iNextReader++);
}

std::string ReplicatedStore::Describe() const {
  std::string text = pPrimary->Describe() + " (reads on";
  for (const auto& r : vReplicas) text += " " + r->store->Describe();
  return text + ")";
}

void ReplicatedStore::CheckLoop() {
  // Each replica's own connection for the checks, made when first needed.
  std::vector<std::unique_ptr<PgConnection>> conns(vReplicas.size());
  std::unique_lock lock(mLock);
  while (!bStopping) {
    lock.unlock();
    for (std::size_t i = 0; i < vReplicas.size(); ++i) {
      Replica& r = *vReplicas[i];
      bool good = false;
      std::string why;
      try {
        if (!conns[i]) conns[i] = std::make_unique<PgConnection>(r.uri, "");
        conns[i]->EnsureConnected();
        PgResult res = conns[i]->Query(kLagSql, PgParams());
        const bool recovering = res.Int(0, 0) != 0;
        const int64_t streaming = res.Int(0, 1), lagMs = res.Int(0, 2);
        good = (!recovering || streaming > 0) && lagMs >= 0 && lagMs <= cPolicy.maxLagMs;
        if (!good)
          why = recovering && streaming == 0 ? "not streaming"
                : lagMs < 0                  ? "behind, by an unknown time"
                                             : "behind by " + std::to_string(lagMs / 1000) + " s";
      } catch (const DbError& e) {
        why = e.what();
        conns[i].reset();
      }
      if (r.bUsable.exchange(good) != good) {
        if (good)
          log::Write(log::Level::kInfo, "replica_usable", {{"replica", r.store->Describe()}});
        else
          log::Write(log::Level::kWarn, "replica_left_out",
                     {{"replica", r.store->Describe()}, {"reason", why}});
      }
    }
    lock.lock();
    cvStop.wait_for(lock, std::chrono::milliseconds(cPolicy.checkMs), [this] { return bStopping; });
  }
}

}  // namespace backoffice
