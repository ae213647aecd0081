// Small queries from 20 working clients over tcp://, alternately with
// nothing else attached and with 8 clients that ask for 100,000 rows and
// never read plus 1,000 idle connections attached, in one run: what the
// hostile clients cost the working ones (hostile_p99_vs_quiet_p99). The
// service runs in this process with its real tcp endpoint on loopback; the
// hostile clients are raw sockets.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "backoffice/audit_writer.h"
#include "backoffice/protocol.h"
#include "backoffice/server.h"
#include "backoffice/service.h"
#include "backoffice/sqlite_db.h"
#include "bench_rounds.h"
#include "bench_support.h"
#include "raw_client.h"
#include "service/busi_ordmgnt.h"
#include "tmclient/broker_resolver.h"
#include "wire_helpers.h"

using namespace backoffice;
using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

namespace {

constexpr int64_t kDbRows = 150000;
constexpr int64_t kEnd = 20261130120000;
constexpr int kClients = 20;
constexpr int kCallsPerPhase = 30;  // per client
constexpr int kRounds = 8;
constexpr int kSlowReaders = 8;
constexpr int kIdle = 1000;
constexpr char kBroker[] = "HOSTILE";

struct Env {
  std::vector<std::string> phones;
  int64_t slowBegin = 0;  // the last 100,000 rows run from here
  std::unique_ptr<AuditWriter> audit;
  std::unique_ptr<Service> service;
  std::unique_ptr<Endpoint> tcp;
  int port = 0;
  std::vector<std::unique_ptr<MCustQryAccept::IBusiOrdmgnt>> proxies;
  std::vector<double> quietUs, hostileUs;  // every call of every round
  std::vector<double> roundRatios;         // each round's hostile p99 / quiet p99
  int failures = 0;
};
Env* env = nullptr;

// The 20 clients make their calls at once; every call's time goes to `out`.
void WorkingClients(std::vector<double>& out) {
  std::vector<std::vector<double>> times(kClients);
  std::vector<int> failed(kClients, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kClients; ++t) {
    threads.emplace_back([t, &times, &failed] {
      for (int i = 0; i < kCallsPerPhase; ++i) {
        const std::string& phone = env->phones[static_cast<size_t>(t * 7 + i) % env->phones.size()];
        MMicroPaymentDef::SMpInfoList rows;
        MMicroPaymentDef::SMpAcctStatInfo stat;
        int ret = 0;
        QRSErrorMsg error;
        auto start = SteadyClock::now();
        int rc = env->proxies[static_cast<size_t>(t)]->query_mpSoList(
            wire::LogIn(0, 0, phone, 0, 0), wire::Operator(), rows, stat, ret, error, nullptr);
        times[static_cast<size_t>(t)].push_back(
            std::chrono::duration<double, std::micro>(SteadyClock::now() - start).count());
        if (rc != 0 || rows.empty()) ++failed[static_cast<size_t>(t)];
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < kClients; ++t) {
    out.insert(out.end(), times[static_cast<size_t>(t)].begin(),
               times[static_cast<size_t>(t)].end());
    env->failures += failed[static_cast<size_t>(t)];
  }
}

bool Setup() {
  // Two ends of a thousand connections in this process.
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  setrlimit(RLIMIT_NOFILE, &files);

  const std::string db = bench::DemoDatabase("hostile.db", kDbRows, kEnd);
  {
    Database d(db, Database::Mode::kReadOnly);
    Statement s = d.Prepare("SELECT DISTINCT phone_id FROM mp_so_log ORDER BY phone_id LIMIT 64");
    while (s.Step()) env->phones.emplace_back(s.Text(0));
    Statement from =
        d.Prepare("SELECT so_date FROM mp_so_log ORDER BY so_date DESC LIMIT 1 OFFSET 99999");
    if (env->phones.empty() || !from.Step()) return false;
    env->slowBegin = from.Int(0);
  }
  env->audit = std::make_unique<AuditWriter>(db);
  ServiceConfig config;
  config.dbPath = db;
  env->service = std::make_unique<Service>(config, env->audit.get());
  env->tcp = MakeTcpEndpoint("tcp://127.0.0.1:0", 4, *env->service);
  std::string error;
  if (!env->tcp->Start(error)) {
    std::fprintf(stderr, "bench_hostile: %s\n", error.c_str());
    return false;
  }
  const std::string url = env->tcp->Describe();
  env->port = std::atoi(url.c_str() + url.rfind(':') + 1);
  setenv(tmclient::BrokerEnvironmentVariable(kBroker).c_str(), url.c_str(), 1);
  for (int i = 0; i < kClients; ++i) {
    env->proxies.push_back(std::make_unique<MCustQryAccept::IBusiOrdmgnt>());
    if (env->proxies.back()->bind_openBroker(kBroker) != 0) return false;
  }
  // Prepared statements and read connections, once, outside the figures.
  std::vector<double> warmUp;
  WorkingClients(warmUp);
  return env->failures == 0;
}

void Teardown() {
  env->proxies.clear();
  env->tcp->Stop();
  env->audit->Stop();
}

// The hostile clients, attached for the lifetime of the object.
class Hostile {
 public:
  Hostile() {
    const std::string request = raw::RequestFrame(
        1, kLogInterface, kLogServiceCode,
        wire::Request(kLogRequestStream, wire::LogIn(0, 0, "", env->slowBegin, 0)));
    for (int i = 0; i < kSlowReaders; ++i) {
      int fd = raw::Connect(env->port, 4096);
      if (fd >= 0) raw::SendAll(fd, request);
      vFds.push_back(fd);
    }
    for (int i = 0; i < kIdle; ++i) vFds.push_back(raw::Connect(env->port));
    // Until the slow readers' replies have filled what the server keeps for
    // them: from then on they only wait.
    std::this_thread::sleep_for(300ms);
  }
  ~Hostile() {
    for (int fd : vFds)
      if (fd >= 0) close(fd);
  }

 private:
  std::vector<int> vFds;
};

// Each round measures a quiet phase and a hostile one, in an order that
// alternates, so that both see the machine in the same state; the ratio is
// the median of the rounds' ratios, which a burst of other work on the
// machine during one phase does not decide.
void BM_Hostile(benchmark::State& state) {
  int i = 0;
  for (auto _ : state) {
    std::vector<double> quiet, hostile;
    for (int k = 0; k < 2; ++k) {
      if ((i + k) % 2 == 0) {
        WorkingClients(quiet);
      } else {
        Hostile attached;
        WorkingClients(hostile);
      }
    }
    env->roundRatios.push_back(bench::Percentile(hostile, 0.99) / bench::Percentile(quiet, 0.99));
    env->quietUs.insert(env->quietUs.end(), quiet.begin(), quiet.end());
    env->hostileUs.insert(env->hostileUs.end(), hostile.begin(), hostile.end());
    ++i;
  }
  if (env->failures != 0) state.SkipWithError("working calls failed");
}

BENCHMARK(BM_Hostile)->Unit(benchmark::kMillisecond)->Iterations(kRounds);

}  // namespace

int main(int argc, char** argv) {
  Env e;
  env = &e;
  if (!bench::RunBenchmarks("bench_hostile", argc, argv, Setup, Teardown)) return 1;
  const double q50 = bench::Percentile(e.quietUs, 0.5), q99 = bench::Percentile(e.quietUs, 0.99);
  const double h50 = bench::Percentile(e.hostileUs, 0.5),
               h99 = bench::Percentile(e.hostileUs, 0.99);
  std::printf("hostile_quiet_p50_us: %.1f\n", q50);
  std::printf("hostile_quiet_p99_us: %.1f\n", q99);
  std::printf("hostile_attached_p50_us: %.1f\n", h50);
  std::printf("hostile_attached_p99_us: %.1f\n", h99);
  std::printf("hostile_failed_calls: %d\n", e.failures);
  bench::PrintRounds("hostile_p99_vs_quiet_p99", e.roundRatios);
  return 0;
}
