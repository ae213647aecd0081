// Server-side time of the back office's queries on a 10,000,000-row demo
// database, next to the bare SQL of each: the log query by phone number and
// one month, by business code and one hour, by service-order number, and the
// user query. The database is generated once, in the build's bench folder.
// And the service counting for its metrics (with the metrics endpoint
// scraped meanwhile) against the same service not counting.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "backoffice/audit_writer.h"
#include "backoffice/demo_data.h"
#include "backoffice/metrics_server.h"
#include "backoffice/metrics_text.h"
#include "backoffice/protocol.h"
#include "backoffice/service.h"
#include "backoffice/service_metrics.h"
#include "backoffice/sqlite_db.h"
#include "bench_rounds.h"
#include "bench_support.h"
#include "wire_helpers.h"

using namespace backoffice;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kSamples = 2000;

// One kind of query: its requests, and the bare SQL that answers each.
struct Query {
  std::string name;
  const char* interface;
  const char* serviceCode;
  std::vector<std::string> requests;
  std::function<int64_t(size_t)> bareSql;  // returns the rows stepped
  std::vector<double> serverUs, sqlUs;
};

struct Env {
  std::string db;
  std::unique_ptr<Database> bare;
  std::unique_ptr<AuditWriter> audit;
  std::unique_ptr<Service> service;
  // The same service counting for the metrics, and its endpoint.
  ServiceMetrics metrics;
  std::unique_ptr<Service> metered;
  std::unique_ptr<MetricsServer> http;
  std::vector<double> onUs, offUs;
  // The same service with its audit entries journaled before each reply.
  std::unique_ptr<AuditWriter> durableAudit;
  std::unique_ptr<Service> durable;
  std::vector<double> durableUs, plainUs;
  std::vector<Query> queries;
  // Statements and parameters of the bare side.
  Statement byPhone, byBusi, bySoNbr, users;
  std::vector<LogConditions> phoneConds, busiConds, soNbrConds;
  std::vector<std::string> userPhones;
};
Env* env = nullptr;

double Us(Clock::time_point since) {
  return std::chrono::duration<double, std::micro>(Clock::now() - since).count();
}

std::string LogRequest(const LogConditions& c) {
  return wire::Request(kLogRequestStream, wire::LogIn(c.SO_NBR, c.BUSI_CODE, c.PHONE_ID,
                                                      c.BEGIN_SO_DATE, c.END_SO_DATE));
}

bool Setup() {
  env->db = bench::LargeDemoDatabase();
  env->bare = std::make_unique<Database>(env->db, Database::Mode::kReadOnly);
  Database& d = *env->bare;

  const std::vector<std::string> phones = bench::RandomPhones(d, kSamples, 42);
  for (const bench::QuerySample& q : bench::QuerySamples(phones, kSamples, 42)) {
    env->phoneConds.push_back(q.byPhone);
    env->busiConds.push_back(q.byBusi);
    env->soNbrConds.push_back(q.bySoNbr);
    env->userPhones.push_back(q.userPhone);
  }
  env->byPhone = d.Prepare(LogQuerySql(ConditionMask(env->phoneConds[0])));
  env->byBusi = d.Prepare(LogQuerySql(ConditionMask(env->busiConds[0])));
  env->bySoNbr = d.Prepare(LogQuerySql(ConditionMask(env->soNbrConds[0])));
  env->users = d.Prepare(
      "SELECT serv_id, phone_id, mp_pwd <> '', reg_type, reg_nbr, fee_limit, mp_sts, "
      "mp_create_date, mpp_trans_id, so_nbr, remark FROM mp_user WHERE phone_id = ?1 "
      "ORDER BY mp_create_date, serv_id LIMIT 200001");

  auto logQuery = [](const char* name, std::vector<LogConditions>& conds, Statement& stmt) {
    Query q{name, kLogInterface, kLogServiceCode, {}, {}, {}, {}};
    for (const auto& c : conds) q.requests.push_back(LogRequest(c));
    q.bareSql = [&conds, &stmt](size_t i) { return bench::RunLog(stmt, conds[i]); };
    return q;
  };
  env->queries.push_back(logQuery("phone_month", env->phoneConds, env->byPhone));
  env->queries.push_back(logQuery("busi_hour", env->busiConds, env->byBusi));
  env->queries.push_back(logQuery("so_nbr", env->soNbrConds, env->bySoNbr));
  Query user{"user", kUserInterface, kUserServiceCode, {}, {}, {}, {}};
  for (const auto& p : env->userPhones) {
    user.requests.push_back(wire::Request(kUserRequestStream, wire::UserIn(p)));
  }
  user.bareSql = [](size_t i) {
    env->users.Bind(1, env->userPhones[i]);
    int64_t n = 0;
    while (env->users.Step()) {
      benchmark::DoNotOptimize(env->users.Int(0) + env->users.Int(9));
      benchmark::DoNotOptimize(env->users.Text(4).size() + env->users.Text(8).size() +
                               env->users.Text(10).size() + env->users.Text(1).size());
      ++n;
    }
    env->users.Reset();
    return n;
  };
  env->queries.push_back(std::move(user));

  env->audit = std::make_unique<AuditWriter>(env->db);
  ServiceConfig config;
  config.dbPath = env->db;
  config.connections = 2;
  env->service = std::make_unique<Service>(config, env->audit.get());
  config.metrics = &env->metrics;
  env->metered = std::make_unique<Service>(config, env->audit.get());
  env->http = std::make_unique<MetricsServer>(
      [] {
        MetricsInputs in;
        in.service = env->metrics.Read();
        in.audit = env->audit->counts();
        return RenderMetrics(in);
      },
      [] { return true; });
  AuditPolicy journaled;
  journaled.strJournalDir = env->db + ".audit-journal";
  env->durableAudit = std::make_unique<AuditWriter>(env->db, 65536, journaled);
  config.metrics = nullptr;
  env->durable = std::make_unique<Service>(config, env->durableAudit.get());
  std::string error;
  if (!env->http->Start("tcp://127.0.0.1:0", error)) {
    std::fprintf(stderr, "bench_backoffice: %s\n", error.c_str());
    return false;
  }

  // Warm the caches with every parameter once, both ways.
  std::string reply;
  for (auto& q : env->queries) {
    for (size_t i = 0; i < q.requests.size(); ++i) {
      q.bareSql(i);
      env->service->Handle(q.interface, q.serviceCode, q.requests[i], reply);
      env->metered->Handle(q.interface, q.serviceCode, q.requests[i], reply);
    }
  }
  return true;
}

// One sample per iteration: the bare SQL and the service on the same
// parameters, alternating which goes first.
void BM_Query(benchmark::State& state) {
  Query& q = env->queries[static_cast<size_t>(state.range(0))];
  std::string reply;
  bench::AlternateSamples(
      state, q.requests.size(),
      [&](size_t k) {
        q.bareSql(k);
        return true;
      },
      q.sqlUs,
      [&](size_t k) {
        return env->service->Handle(q.interface, q.serviceCode, q.requests[k], reply) == 0;
      },
      q.serverUs);
  state.SetLabel(q.name);
}
BENCHMARK(BM_Query)->DenseRange(0, 3)->Iterations(kSamples)->Unit(benchmark::kMicrosecond);

// Reads /metrics every 100 ms until `stop`, as a scraper would (ten times
// more often than a usual one).
void Scrape(int port, const std::atomic<bool>& stop) {
  const std::string request = "GET /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
  while (!stop) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        send(fd, request.data(), request.size(), MSG_NOSIGNAL) > 0) {
      char buf[8192];
      while (recv(fd, buf, sizeof buf, 0) > 0) {
      }
    }
    close(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

// The phone-and-month log query through the service with and without its
// counters, alternating which goes first, on the same parameters.
void BM_MetricsOnOff(benchmark::State& state) {
  Query& q = env->queries[0];
  const std::string port = env->http->Describe().substr(env->http->Describe().rfind(':') + 1);
  std::atomic<bool> stop{false};
  std::thread scraper(Scrape, std::stoi(port), std::cref(stop));
  std::string reply;
  size_t i = 0;
  for (auto _ : state) {
    const size_t k = i % q.requests.size();
    auto run = [&](Service& service, std::vector<double>& us) {
      const auto t = Clock::now();
      if (service.Handle(q.interface, q.serviceCode, q.requests[k], reply) != 0)
        state.SkipWithError("service refused a query");
      us.push_back(Us(t));
    };
    if (i % 2) {
      run(*env->service, env->offUs);
      run(*env->metered, env->onUs);
    } else {
      run(*env->metered, env->onUs);
      run(*env->service, env->offUs);
    }
    ++i;
  }
  stop = true;
  scraper.join();
  state.SetLabel(q.name);
}
BENCHMARK(BM_MetricsOnOff)->Iterations(kSamples)->Unit(benchmark::kMicrosecond);

// The small order-number query with its entry journaled before the reply
// against kept in memory only, alternating which goes first.
void BM_AuditDurable(benchmark::State& state) {
  Query& q = env->queries[2];
  std::string reply;
  size_t i = 0;
  for (auto _ : state) {
    const size_t k = i % q.requests.size();
    auto run = [&](Service& service, std::vector<double>& us) {
      const auto t = Clock::now();
      if (service.Handle(q.interface, q.serviceCode, q.requests[k], reply) != 0)
        state.SkipWithError("service refused a query");
      us.push_back(Us(t));
    };
    if (i % 2) {
      run(*env->service, env->plainUs);
      run(*env->durable, env->durableUs);
    } else {
      run(*env->durable, env->durableUs);
      run(*env->service, env->plainUs);
    }
    ++i;
  }
  state.SetLabel(q.name);
}
BENCHMARK(BM_AuditDurable)->Iterations(kSamples)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  Env e;
  env = &e;
  const auto teardown = [] {
    env->http.reset();
    env->metered.reset();
    env->service.reset();
    env->durable.reset();
    env->durableAudit->Stop();
    env->audit->Stop();
  };
  if (!bench::RunBenchmarks("bench_backoffice", argc, argv, Setup, teardown)) return 1;
  for (const Query& q : e.queries) {
    double p50 = bench::Percentile(q.serverUs, 0.5), p99 = bench::Percentile(q.serverUs, 0.99);
    double s50 = bench::Percentile(q.sqlUs, 0.5), s99 = bench::Percentile(q.sqlUs, 0.99);
    const char* n = q.name.c_str();
    std::printf("backoffice_%s_p50_us: %.1f\n", n, p50);
    std::printf("backoffice_%s_p99_us: %.1f\n", n, p99);
    std::printf("backoffice_%s_sql_p50_us: %.1f\n", n, s50);
    std::printf("backoffice_%s_sql_p99_us: %.1f\n", n, s99);
    // Five rounds of 400 alternating samples.
    bench::PrintRounds("backoffice_" + q.name + "_vs_sql_p99",
                       bench::SliceRatios(q.serverUs, q.sqlUs, bench::kMinRounds, 0.99));
  }
  std::printf("metrics_on_p50_us: %.1f\nmetrics_off_p50_us: %.1f\n", bench::Percentile(e.onUs, 0.5),
              bench::Percentile(e.offUs, 0.5));
  // Five rounds of 400 alternating samples.
  bench::PrintRounds("metrics_on_vs_off_p50",
                     bench::SliceRatios(e.onUs, e.offUs, bench::kMinRounds, 0.5));
  std::printf("audit_durable_p50_us: %.1f\naudit_plain_p50_us: %.1f\n",
              bench::Percentile(e.durableUs, 0.5), bench::Percentile(e.plainUs, 0.5));
  bench::PrintRounds("audit_durable_vs_plain_p50",
                     bench::SliceRatios(e.durableUs, e.plainUs, bench::kMinRounds, 0.5));
  return 0;
}
