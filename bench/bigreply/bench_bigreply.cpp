// A log query that returns 100,000 rows, end to end (request, SQL, reply
// encoding, transport, reply decoding) over tcp:// and through a
// nats-server, next to the in-process time to step the same SQL and read its
// columns. The server runs in this process (its endpoints on loopback, the
// nats-server as a child process); the figures are medians.
//
//   bench_bigreply [--only=sql|tcp|nats] [google benchmark flags]
//
// --only makes every iteration's three steps that one (for profiling it).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "backoffice/audit_writer.h"
#include "backoffice/demo_data.h"
#include "backoffice/protocol.h"
#include "backoffice/server.h"
#include "backoffice/service.h"
#include "backoffice/sqlite_db.h"
#include "backoffice/store.h"
#include "bench_rounds.h"
#include "bench_support.h"
#include "child_process.h"
#include "service/busi_ordmgnt.h"
#include "tmclient/broker_resolver.h"
#include "wire_helpers.h"

using namespace backoffice;
using SteadyClock = std::chrono::steady_clock;

namespace {

constexpr int64_t kRows = 100000;
constexpr int64_t kDbRows = 300000;
constexpr char kBroker[] = "TALMIRON";

struct Env {
  std::string db;
  LogConditions cond;
  std::unique_ptr<AuditWriter> audit;
  std::unique_ptr<Service> service;
  std::unique_ptr<Endpoint> tcp;
  ChildProcess natsServer;
  std::unique_ptr<Endpoint> nats;
  MCustQryAccept::IBusiOrdmgnt tcpProxy, natsProxy;
  std::vector<double> sqlMs, tcpMs, natsMs, handleMs, decodeMs;
  size_t replyBytes = 0;
  bool natsOk = false;
};
Env* env = nullptr;
int gOnly = -1;  // --only: the step every iteration makes (0 SQL, 1 tcp, 2 NATS)

double Ms(SteadyClock::time_point since) {
  return std::chrono::duration<double, std::milli>(SteadyClock::now() - since).count();
}

double Median(const std::vector<double>& v) {
  return bench::Percentile(v, 0.5);
}

bool Setup() {
  env->db = bench::DemoDatabase("bigreply.db", kDbRows, 20261130120000);
  {
    // The time range that holds exactly kRows rows, in the middle of the year.
    Database d(env->db, Database::Mode::kReadOnly);
    Statement s = d.Prepare("SELECT so_date FROM mp_so_log ORDER BY so_date LIMIT 1 OFFSET ?1");
    s.Bind(1, int64_t{100000});
    if (!s.Step()) return false;
    env->cond.BEGIN_SO_DATE = s.Int(0);
    s.Reset();
    s.Bind(1, int64_t{100000} + kRows - 1);
    if (!s.Step()) return false;
    env->cond.END_SO_DATE = s.Int(0);
  }
  env->audit = std::make_unique<AuditWriter>(env->db);
  ServiceConfig config;
  config.dbPath = env->db;
  env->service = std::make_unique<Service>(config, env->audit.get());
  std::string error;
  env->tcp = MakeTcpEndpoint("tcp://127.0.0.1:0", 4, *env->service);
  if (!env->tcp->Start(error)) {
    std::fprintf(stderr, "bench_bigreply: %s\n", error.c_str());
    return false;
  }
  const std::string var = tmclient::BrokerEnvironmentVariable(kBroker);
  setenv(var.c_str(), env->tcp->Describe().c_str(), 1);
  if (env->tcpProxy.bind_openBroker(kBroker) != 0) return false;

  int port = FreePort();
  std::string natsUrl = "nats://127.0.0.1:" + std::to_string(port);
  if (env->natsServer.Start({"nats-server", "-a", "127.0.0.1", "-p", std::to_string(port)}) &&
      !env->natsServer.WaitForLine("Server is ready").empty()) {
    env->nats = MakeNatsEndpoint(natsUrl, kBroker, 4, *env->service);
    setenv(var.c_str(), natsUrl.c_str(), 1);
    env->natsOk = env->nats->Start(error) && env->natsProxy.bind_openBroker(kBroker) == 0;
  }
  if (!env->natsOk) std::fprintf(stderr, "bench_bigreply: no NATS: %s\n", error.c_str());
  return true;
}

void Teardown() {
  if (env->nats) env->nats->Stop();
  env->tcp->Stop();
  env->audit->Stop();
}

int64_t StepSql(StoreReader& q) {
  bench::ReadRows sink;
  int64_t n = q.QueryLog(env->cond, kRows + 1, sink);
  return n;
}

// The caller keeps the rows, as the query window does: releasing them is not
// part of the call.
bool CallOnce(MCustQryAccept::IBusiOrdmgnt& proxy, MMicroPaymentDef::SMpInfoList& rows) {
  auto in = wire::LogIn(0, 0, "", env->cond.BEGIN_SO_DATE, env->cond.END_SO_DATE);
  MMicroPaymentDef::SMpAcctStatInfo stat;
  int ret = 0;
  QRSErrorMsg error;
  int rc = proxy.query_mpSoList(in, wire::Operator(), rows, stat, ret, error, nullptr);
  return rc == 0 && static_cast<int64_t>(rows.size()) == kRows;
}

// Each iteration steps the SQL in-process and makes the call over tcp and
// over NATS, in an order that rotates, so that all three see the same
// machine. The ratio is taken in each of seven rounds of three iterations.
void BM_BigReply(benchmark::State& state) {
  auto reader = OpenStore(env->db)->OpenReader();
  StoreReader& q = *reader;
  int i = 0;
  for (auto _ : state) {
    for (int k = 0; k < 3; ++k) {
      MMicroPaymentDef::SMpInfoList rows;
      auto start = SteadyClock::now();
      switch (gOnly >= 0 ? gOnly : (i + k) % 3) {
        case 0:
          if (StepSql(q) != kRows) state.SkipWithError("wrong row count");
          env->sqlMs.push_back(Ms(start));
          break;
        case 1:
          if (!CallOnce(env->tcpProxy, rows)) state.SkipWithError("tcp call failed");
          env->tcpMs.push_back(Ms(start));
          break;
        case 2:
          if (env->natsOk) {
            if (!CallOnce(env->natsProxy, rows)) state.SkipWithError("nats call failed");
            env->natsMs.push_back(Ms(start));
          }
          break;
      }
    }
    ++i;
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

// The server's share: decode the request, SQL, build and encode the reply.
void BM_ServerHandle(benchmark::State& state) {
  const std::string request = wire::Request(
      kLogRequestStream, wire::LogIn(0, 0, "", env->cond.BEGIN_SO_DATE, env->cond.END_SO_DATE));
  std::string reply;
  for (auto _ : state) {
    auto start = SteadyClock::now();
    int rc = env->service->Handle(kLogInterface, kLogServiceCode, request, reply);
    env->handleMs.push_back(Ms(start));
    if (rc != 0) state.SkipWithError("handler failed");
  }
  env->replyBytes = reply.size();
  state.SetItemsProcessed(state.iterations() * kRows);
}

// The client's share: read the reply stream into the lists.
void BM_ClientDecode(benchmark::State& state) {
  const std::string request = wire::Request(
      kLogRequestStream, wire::LogIn(0, 0, "", env->cond.BEGIN_SO_DATE, env->cond.END_SO_DATE));
  std::string reply;
  env->service->Handle(kLogInterface, kLogServiceCode, request, reply);
  for (auto _ : state) {
    auto start = SteadyClock::now();
    wire::LogReply r = wire::ReadLogReply(reply);
    env->decodeMs.push_back(Ms(start));
    if (!r.ok || static_cast<int64_t>(r.list.size()) != kRows) state.SkipWithError("bad reply");
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

BENCHMARK(BM_BigReply)->Unit(benchmark::kMillisecond)->Iterations(21);
BENCHMARK(BM_ServerHandle)->Unit(benchmark::kMillisecond)->Iterations(15);
BENCHMARK(BM_ClientDecode)->Unit(benchmark::kMillisecond)->Iterations(15);

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--only=", 7) != 0) continue;
    const std::string step = argv[i] + 7;
    gOnly = step == "sql" ? 0 : step == "tcp" ? 1 : step == "nats" ? 2 : -1;
    if (gOnly < 0) {
      std::fprintf(stderr, "bench_bigreply: --only=sql, tcp or nats\n");
      return 2;
    }
    std::memmove(argv + i, argv + i + 1, static_cast<std::size_t>(argc - i) * sizeof *argv);
    --argc;
    --i;
  }
  Env e;
  env = &e;
  if (!bench::RunBenchmarks("bench_bigreply", argc, argv, Setup, Teardown)) return 1;
  double sql = Median(e.sqlMs), tcp = Median(e.tcpMs), nats = Median(e.natsMs);
  auto perSecond = [](double ms) { return ms > 0 ? kRows * 1000.0 / ms : 0.0; };
  std::printf("bigreply_sql_ms: %.2f\n", sql);
  std::printf("bigreply_server_handle_ms: %.2f\n", Median(e.handleMs));
  std::printf("bigreply_client_decode_ms: %.2f\n", Median(e.decodeMs));
  std::printf("bigreply_reply_bytes: %zu\n", e.replyBytes);
  std::printf("bigreply_tcp_ms: %.2f\n", tcp);
  std::printf("bigreply_nats_ms: %.2f\n", nats);
  std::printf("bigreply_rows_per_s_sql: %.0f\n", perSecond(sql));
  std::printf("bigreply_rows_per_s_tcp: %.0f\n", perSecond(tcp));
  std::printf("bigreply_rows_per_s_nats: %.0f\n", perSecond(nats));
  bench::PrintRounds("bigreply_tcp_vs_sql", bench::SliceRatios(e.tcpMs, e.sqlMs, 7));
  return 0;
}
