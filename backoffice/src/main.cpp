// mpay-backoffice: answers the micro-payment log and user queries from an
// SQLite file or a PostgreSQL database, over direct tcp:// connections and/or through a NATS
// queue group. SIGTERM or SIGINT stops it cleanly: running requests finish,
// the audit entries are written, then it exits 0.
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "backoffice/audit_writer.h"
#include "backoffice/demo_data.h"
#include "backoffice/options.h"
#include "backoffice/server.h"
#include "backoffice/service.h"
#include "backoffice/store.h"
#include "tmclient/tcp_server.h"

namespace {

int InitDemo(const backoffice::Options& options) {
  backoffice::DemoOptions demo;
  demo.rows = options.demoRows;
  auto s = backoffice::GenerateDemo(options.initDemo, demo);
  std::printf("demo database %s: %lld log rows (%lld .. %lld), %lld users\n",
              options.initDemo.c_str(), static_cast<long long>(s.logRows),
              static_cast<long long>(s.firstStamp), static_cast<long long>(s.lastStamp),
              static_cast<long long>(s.users));
  return 0;
}

// True when `url` (tcp://HOST:PORT) listens on a loopback address only.
bool IsLoopbackListen(const std::string& url) {
  const std::string_view rest = std::string_view(url).substr(std::string_view("tcp://").size());
  const std::string_view host = rest.substr(0, rest.rfind(':'));
  return host == "localhost" || host == "[::1]" || host == "::1" || host.starts_with("127.");
}

// Every tcp connection is an open file, and so are each read connection's
// database, journal and shared-memory files. The soft limit on open files is
// raised as far as they all need (and the hard limit lets it). When that is
// short, each --listen endpoint takes fewer connections than --max-connections,
// with a warning, so that the database can always open its files. Returns the
// connections one endpoint may hold.
int ConnectionsTheFilesAllow(const backoffice::Options& options) {
  const rlim_t listeners = options.listen.size();
  if (listeners == 0) return options.maxConnections;
  const rlim_t endpoints = listeners + (options.nats.empty() ? 0 : 1);
  // Each endpoint's workers, the threads standing in for tcp replies waiting
  // for their clients, and the audit writer; three files each.
  const rlim_t readConnections =
      endpoints * options.workers + listeners * tmclient::TcpServerOptions{}.maxStandIns + 1;
  // Standard streams, listeners, epoll, nats and the like.
  const rlim_t others = 64 + 3 * readConnections;
  const rlim_t needed = static_cast<rlim_t>(options.maxConnections) * listeners + others;
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) != 0) return options.maxConnections;
  if (files.rlim_cur != RLIM_INFINITY && files.rlim_cur < needed) {
    files.rlim_cur = files.rlim_max == RLIM_INFINITY ? needed : std::min(needed, files.rlim_max);
    setrlimit(RLIMIT_NOFILE, &files);
    getrlimit(RLIMIT_NOFILE, &files);
  }
  if (files.rlim_cur == RLIM_INFINITY || files.rlim_cur >= needed) return options.maxConnections;
  const rlim_t spare = files.rlim_cur > others ? files.rlim_cur - others : 0;
  const int allowed = static_cast<int>(std::max<rlim_t>(1, spare / listeners));
  std::fprintf(stderr,
               "mpay-backoffice: warning: the limit on open files is %llu: at most %d "
               "connections per --listen address, not %d\n",
               static_cast<unsigned long long>(files.rlim_cur), allowed, options.maxConnections);
  return allowed;
}

int Serve(const backoffice::Options& options) {
  // Signals are taken by sigwait below; every thread started from here on
  // inherits the blocked mask.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  signal(SIGPIPE, SIG_IGN);

  backoffice::OpenStore(options.db)->EnsureSchema();
  const int maxConnections = ConnectionsTheFilesAllow(options);
  backoffice::AuditWriter audit(options.db);
  backoffice::ServiceConfig config;
  config.dbPath = options.db;
  // Every endpoint runs its own worker threads; each needs a connection.
  const int endpoints = static_cast<int>(options.listen.size()) + (options.nats.empty() ? 0 : 1);
  config.connections = options.workers * endpoints;
  config.maxRows = options.maxRows;
  backoffice::Service service(config, &audit);

  std::vector<std::unique_ptr<backoffice::Endpoint>> running;
  for (const std::string& url : options.listen) {
    if (!IsLoopbackListen(url)) {
      std::fprintf(stderr,
                   "mpay-backoffice: warning: %s is open to other machines, and nothing "
                   "authenticates the clients or encrypts the connection yet: anyone who "
                   "reaches it can query every log and user\n",
                   url.c_str());
    }
    running.push_back(
        backoffice::MakeTcpEndpoint(url, options.workers, service,
                                    {maxConnections, options.idleTimeoutS, options.writeTimeoutS}));
  }
  if (!options.nats.empty()) {
    running.push_back(
        backoffice::MakeNatsEndpoint(options.nats, options.broker, options.workers, service));
  }
  for (auto& e : running) {
    std::string error;
    if (!e->Start(error)) {
      std::fprintf(stderr, "mpay-backoffice: %s\n", error.c_str());
      return 1;
    }
    // Tests and scripts wait for this line (and read the port from it).
    std::printf("mpay-backoffice: serving %s%s\n", e->Describe().c_str(), e->Limits().c_str());
    std::fflush(stdout);
  }

  int sig = 0;
  sigwait(&stop, &sig);
  std::printf("mpay-backoffice: stopping (signal %d)\n", sig);
  std::fflush(stdout);
  for (auto& e : running) e->Stop();
  audit.Stop();
  if (audit.failures() != 0) {
    std::fprintf(stderr, "mpay-backoffice: %llu audit entries could not be written\n",
                 static_cast<unsigned long long>(audit.failures()));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  backoffice::Options options;
  std::string error = backoffice::ParseOptions(argc, argv, options);
  if (!error.empty() || options.help) {
    if (!error.empty()) std::fprintf(stderr, "mpay-backoffice: %s\n", error.c_str());
    std::fputs(backoffice::Usage(), error.empty() ? stdout : stderr);
    return error.empty() ? 0 : 2;
  }
  try {
    return options.initDemo.empty() ? Serve(options) : InitDemo(options);
  } catch (const backoffice::DbError& e) {
    std::fprintf(stderr, "mpay-backoffice: %s\n", e.what());
    return 1;
  }
}
