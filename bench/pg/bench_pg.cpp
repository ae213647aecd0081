// The back office on PostgreSQL, next to the bare prepared statements
// through libpq: the same queries and parameter sets as bench_backoffice
// (the log query by phone number and one month, by business code and one
// hour, by service-order number, and the user query), and the 100,000-row
// reply over tcp as in bench_bigreply. The 10,000,000-row demo database is
// loaded once (COPY) into a private cluster kept in the build's bench folder
// (bench/pg-cluster), started by scripts/pg-start and stopped at the end.
//
// MPAY_BENCH_PG=0 skips it (for a machine where no PostgreSQL server can
// start), and says so; otherwise a server that cannot start is a failure.
#include <benchmark/benchmark.h>
#include <libpq-fe.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "backoffice/audit_writer.h"
#include "backoffice/conditions.h"
#include "backoffice/demo_data.h"
#include "backoffice/protocol.h"
#include "backoffice/server.h"
#include "backoffice/service.h"
#include "backoffice/sql_dialect.h"
#include "bench_rounds.h"
#include "bench_support.h"
#include "service/busi_ordmgnt.h"
#include "tmclient/broker_resolver.h"
#include "wire_helpers.h"

using namespace backoffice;
using SteadyClock = std::chrono::steady_clock;

namespace {

constexpr int kSamples = 2000;
constexpr int64_t kBigRows = 100000;
constexpr char kBroker[] = "TALMIRON";

double Us(SteadyClock::time_point since) {
  return std::chrono::duration<double, std::micro>(SteadyClock::now() - since).count();
}

std::string Script(const char* name) {
  return std::string("bash ") + MPAY_SOURCE_PATH + "/scripts/" + name;
}

// The cluster's folder, next to the SQLite benchmark databases.
std::filesystem::path ClusterDir() {
  std::error_code ec;
  std::filesystem::path dir =
      std::filesystem::read_symlink("/proc/self/exe", ec).parent_path().parent_path();
  return (dir.empty() ? std::filesystem::path(".") : dir) / "pg-cluster";
}

// A libpq connection for the bare side: prepared statements, binary
// parameters and results, every column read.
class Bare {
 public:
  explicit Bare(const std::string& uri)
      : pConn(PQconnectdb((uri + "?client_encoding=GBK").c_str())) {
    if (PQstatus(pConn) != CONNECTION_OK) throw DbError(PQerrorMessage(pConn));
  }
  ~Bare() { PQfinish(pConn); }

  void Prepare(const char* name, const std::string& sql, std::vector<Oid> types) {
    PGresult* r = PQprepare(pConn, name, sql.c_str(), static_cast<int>(types.size()), types.data());
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
    PQclear(r);
    if (!ok) throw DbError(PQerrorMessage(pConn));
  }

  // Runs `name` with `params` (nullptr: null) and reads every column.
  int64_t Run(const char* name, const std::vector<const std::string*>& params) {
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
    for (const std::string* p : params) {
      values.push_back(p ? p->data() : nullptr);
      lengths.push_back(p ? static_cast<int>(p->size()) : 0);
      formats.push_back(1);
    }
    PGresult* r = PQexecPrepared(pConn, name, static_cast<int>(params.size()), values.data(),
                                 lengths.data(), formats.data(), 1);
    int64_t n = -1;
    if (PQresultStatus(r) == PGRES_TUPLES_OK) {
      n = PQntuples(r);
      std::size_t bytes = 0;
      const int columns = PQnfields(r);
      for (int i = 0; i < n; ++i) {
        for (int k = 0; k < columns; ++k)
          bytes += static_cast<std::size_t>(PQgetlength(r, i, k)) +
                   static_cast<unsigned char>(*PQgetvalue(r, i, k));
      }
      benchmark::DoNotOptimize(bytes);
    }
    PQclear(r);
    return n;
  }

  std::string One(const std::string& sql) {
    PGresult* r = PQexec(pConn, sql.c_str());
    std::string v = PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) > 0 ? PQgetvalue(r, 0, 0)
                                                                             : std::string();
    PQclear(r);
    return v;
  }

 private:
  PGconn* pConn;
};

std::string Int8(int64_t v) {
  std::string b(8, '\0');
  for (int i = 0; i < 8; ++i)
    b[static_cast<std::size_t>(i)] = static_cast<char>(static_cast<uint64_t>(v) >> (56 - 8 * i));
  return b;
}

// The bare side's parameters of one log query, as the store binds them.
struct LogParams {
  explicit LogParams(const LogConditions& c)
      : so(Int8(c.SO_NBR)),
        busi(Int8(c.BUSI_CODE)),
        phone(c.PHONE_ID),
        begin(Int8(c.BEGIN_SO_DATE)),
        end(Int8(c.END_SO_DATE)),
        limit(Int8(200001)) {
    const unsigned m = ConditionMask(c);
    list = {m & kCondSoNbr ? &so : nullptr,    m & kCondBusiCode ? &busi : nullptr,
            m & kCondPhone ? &phone : nullptr, m & kCondBegin ? &begin : nullptr,
            m & kCondEnd ? &end : nullptr,     &limit};
  }
  std::string so, busi, phone, begin, end, limit;
  std::vector<const std::string*> list;
};

struct Query {
  std::string name;
  const char* interface;
  const char* serviceCode;
  std::string statement;  // the bare side's
  std::vector<std::string> requests;
  std::vector<std::vector<const std::string*>> params;
  std::vector<double> serverUs, sqlUs;
};

struct Env {
  std::string uri;
  std::unique_ptr<Bare> bare;
  std::unique_ptr<AuditWriter> audit;
  std::unique_ptr<Service> service;
  std::vector<LogParams> logParams;
  std::vector<std::string> userParams;
  std::string userLimit = Int8(200001);
  std::vector<Query> queries;
  // The big reply.
  LogConditions bigCond;
  std::unique_ptr<LogParams> bigParams;
  std::unique_ptr<Endpoint> tcp;
  MCustQryAccept::IBusiOrdmgnt proxy;
  std::vector<double> bigSqlMs, bigTcpMs;
};
Env* env = nullptr;

// Starts the cluster and loads the demo database into it once.
std::string LargePgDatabase() {
  const std::filesystem::path dir = ClusterDir();
  setenv("MPAY_PG_DIR", dir.c_str(), 1);
  setenv("PGPASSFILE", (dir / "pgpass").c_str(), 1);
  if (std::system((Script("pg-start") + " >/dev/null").c_str()) != 0) {
    throw DbError("no PostgreSQL server could start in " + dir.string() +
                  " (MPAY_BENCH_PG=0 skips this benchmark)");
  }
  std::string uri;
  std::getline(std::ifstream(dir / "uri"), uri);
  const std::string server = uri.substr(0, uri.rfind('/'));
  const std::filesystem::path done = dir / "demo-10m.done";
  if (!std::filesystem::exists(done)) {
    std::fprintf(stderr, "loading the %lld-row demo database into PostgreSQL (once)\n",
                 static_cast<long long>(bench::kLargeDbRows));
    const auto start = SteadyClock::now();
    Bare admin(server + "/postgres");
    admin.One("DROP DATABASE IF EXISTS demo10m");
    admin.One("CREATE DATABASE demo10m");
    DemoOptions o;
    o.rows = bench::kLargeDbRows;
    o.endStamp = bench::kLargeDbEnd;
    GenerateDemo(server + "/demo10m", o);
    std::ofstream(done) << "ok\n";
    std::fprintf(stderr, "loaded in %.0f s\n",
                 std::chrono::duration<double>(SteadyClock::now() - start).count());
  }
  return server + "/demo10m";
}

bool Setup() {
  env->uri = LargePgDatabase();
  env->bare = std::make_unique<Bare>(env->uri);
  Bare& b = *env->bare;

  // Phones drawn as bench::RandomPhones draws them from SQLite.
  std::vector<std::string> phones;
  {
    std::mt19937_64 rng(42);
    const int64_t lo = std::stoll(b.One("SELECT min(serv_id) FROM mp_user"));
    const int64_t hi = std::stoll(b.One("SELECT max(serv_id) FROM mp_user"));
    while (phones.size() < static_cast<size_t>(kSamples)) {
      const int64_t id = lo + static_cast<int64_t>(rng() % static_cast<uint64_t>(hi - lo + 1));
      std::string p = b.One("SELECT phone_id FROM mp_user WHERE serv_id = " + std::to_string(id));
      if (!p.empty()) phones.push_back(p);
    }
  }
  const std::vector<bench::QuerySample> samples = bench::QuerySamples(phones, kSamples, 42);
  const std::vector<Oid> logTypes{20, 20, 25, 20, 20, 20};
  env->logParams.reserve(samples.size() * 3);
  auto logQuery = [&](const char* name, const LogConditions bench::QuerySample::*which) {
    Query q{name, kLogInterface, kLogServiceCode, name, {}, {}, {}, {}};
    b.Prepare(name, ForDialect(LogQuerySql(ConditionMask(samples[0].*which)), Dialect::kPostgres),
              logTypes);
    for (const auto& s : samples) {
      q.requests.push_back(
          wire::Request(kLogRequestStream,
                        wire::LogIn((s.*which).SO_NBR, (s.*which).BUSI_CODE, (s.*which).PHONE_ID,
                                    (s.*which).BEGIN_SO_DATE, (s.*which).END_SO_DATE)));
      q.params.push_back(env->logParams.emplace_back(s.*which).list);
    }
    return q;
  };
  env->queries.push_back(logQuery("phone_month", &bench::QuerySample::byPhone));
  env->queries.push_back(logQuery("busi_hour", &bench::QuerySample::byBusi));
  env->queries.push_back(logQuery("so_nbr", &bench::QuerySample::bySoNbr));
  Query user{"user", kUserInterface, kUserServiceCode, "user", {}, {}, {}, {}};
  b.Prepare("user",
            "SELECT serv_id, phone_id, mp_pwd <> '', reg_type, reg_nbr, fee_limit, mp_sts, "
            "mp_create_date, mpp_trans_id, so_nbr, remark FROM mp_user WHERE phone_id = $1 "
            "ORDER BY mp_create_date, serv_id LIMIT $2",
            {25, 20});
  env->userParams.reserve(samples.size());
  for (const auto& s : samples) {
    user.requests.push_back(wire::Request(kUserRequestStream, wire::UserIn(s.userPhone)));
    user.params.push_back({&env->userParams.emplace_back(s.userPhone), &env->userLimit});
  }
  env->queries.push_back(std::move(user));

  env->audit = std::make_unique<AuditWriter>(env->uri);
  ServiceConfig config;
  config.dbPath = env->uri;
  config.connections = 4;
  env->service = std::make_unique<Service>(config, env->audit.get());

  // The big reply: the time range of kBigRows rows in the middle of the year.
  const std::string from = "SELECT so_date FROM mp_so_log ORDER BY so_date, so_nbr LIMIT 1 OFFSET ";
  env->bigCond.BEGIN_SO_DATE = std::stoll(b.One(from + std::to_string(bench::kLargeDbRows / 2)));
  env->bigCond.END_SO_DATE =
      std::stoll(b.One(from + std::to_string(bench::kLargeDbRows / 2 + kBigRows - 1)));
  env->bigParams = std::make_unique<LogParams>(env->bigCond);
  b.Prepare("big", ForDialect(LogQuerySql(ConditionMask(env->bigCond)), Dialect::kPostgres),
            logTypes);
  std::string error;
  env->tcp = MakeTcpEndpoint("tcp://127.0.0.1:0", 4, *env->service);
  if (!env->tcp->Start(error)) {
    std::fprintf(stderr, "bench_pg: %s\n", error.c_str());
    return false;
  }
  setenv(tmclient::BrokerEnvironmentVariable(kBroker).c_str(), env->tcp->Describe().c_str(), 1);
  if (env->proxy.bind_openBroker(kBroker) != 0) return false;

  // Warm the caches with every parameter once, both ways.
  std::string reply;
  for (auto& q : env->queries) {
    for (size_t i = 0; i < q.requests.size(); ++i) {
      b.Run(q.statement.c_str(), q.params[i]);
      env->service->Handle(q.interface, q.serviceCode, q.requests[i], reply);
    }
  }
  return true;
}

void Teardown() {
  if (env->tcp) env->tcp->Stop();
  env->service.reset();
  if (env->audit) env->audit->Stop();
  env->bare.reset();
}

// One sample per iteration: the bare statement and the service on the same
// parameters, alternating which goes first.
void BM_PgQuery(benchmark::State& state) {
  Query& q = env->queries[static_cast<size_t>(state.range(0))];
  std::string reply;
  bench::AlternateSamples(
      state, q.requests.size(),
      [&](size_t k) { return env->bare->Run(q.statement.c_str(), q.params[k]) >= 0; }, q.sqlUs,
      [&](size_t k) {
        return env->service->Handle(q.interface, q.serviceCode, q.requests[k], reply) == 0;
      },
      q.serverUs);
  state.SetLabel(q.name);
}
BENCHMARK(BM_PgQuery)->DenseRange(0, 3)->Iterations(kSamples)->Unit(benchmark::kMicrosecond);

// The 100,000-row reply over tcp (request, query, encoding, transport,
// decoding into the caller's list) and the bare fetch of the same rows,
// alternating.
void BM_PgBigReply(benchmark::State& state) {
  int i = 0;
  for (auto _ : state) {
    auto sql = [&] {
      auto t = SteadyClock::now();
      if (env->bare->Run("big", env->bigParams->list) != kBigRows) state.SkipWithError("rows");
      env->bigSqlMs.push_back(Us(t) / 1000);
    };
    auto tcp = [&] {
      MMicroPaymentDef::SMpInfoList rows;
      MMicroPaymentDef::SMpAcctStatInfo stat;
      int ret = 0;
      QRSErrorMsg error;
      auto t = SteadyClock::now();
      const int rc = env->proxy.query_mpSoList(
          wire::LogIn(0, 0, "", env->bigCond.BEGIN_SO_DATE, env->bigCond.END_SO_DATE),
          wire::Operator(), rows, stat, ret, error, nullptr);
      env->bigTcpMs.push_back(Us(t) / 1000);
      if (rc != 0 || static_cast<int64_t>(rows.size()) != kBigRows) state.SkipWithError("call");
    };
    if (i++ % 2) {
      sql();
      tcp();
    } else {
      tcp();
      sql();
    }
  }
}
BENCHMARK(BM_PgBigReply)->Iterations(21)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  const char* pg = std::getenv("MPAY_BENCH_PG");
  if (pg && std::string(pg) == "0") {
    std::printf("bench_pg: skipped: MPAY_BENCH_PG=0 (no PostgreSQL figures)\n");
    return 0;
  }
  Env e;
  env = &e;
  const bool ran = bench::RunBenchmarks("bench_pg", argc, argv, Setup, Teardown);
  if (std::system((Script("pg-stop") + " >/dev/null").c_str()) != 0)
    std::fprintf(stderr, "bench_pg: pg-stop failed; the private server may still run\n");
  if (!ran) return 1;
  for (const Query& q : e.queries) {
    const char* n = q.name.c_str();
    std::printf("backoffice_pg_%s_p99_us: %.1f\n", n, bench::Percentile(q.serverUs, 0.99));
    std::printf("backoffice_pg_%s_sql_p99_us: %.1f\n", n, bench::Percentile(q.sqlUs, 0.99));
    // Five rounds of 400 alternating samples.
    bench::PrintRounds("backoffice_pg_" + q.name + "_vs_sql_p99",
                       bench::SliceRatios(q.serverUs, q.sqlUs, bench::kMinRounds, 0.99));
  }
  std::printf("bigreply_pg_sql_ms: %.2f\nbigreply_pg_tcp_ms: %.2f\n", bench::Median(e.bigSqlMs),
              bench::Median(e.bigTcpMs));
  // Seven rounds of three alternating samples.
  bench::PrintRounds("bigreply_pg_tcp_vs_sql", bench::SliceRatios(e.bigTcpMs, e.bigSqlMs, 7));
  return 0;
}
