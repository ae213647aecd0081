// mpay-backoffice: answers the micro-payment log and user queries from an
// SQLite file or a PostgreSQL database, over direct tcp:// connections and/or through a NATS
// queue group. SIGTERM or SIGINT stops it cleanly: running requests finish,
// the audit entries are written, then it exits 0. With --metrics it serves
// its counters and health to its operators over HTTP; its events go to
// standard error as logfmt lines, its start-up lines to standard output.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "backoffice/audit_chain.h"
#include "backoffice/audit_journal.h"
#include "backoffice/audit_writer.h"
#include "backoffice/authenticator.h"
#include "backoffice/demo_data.h"
#include "backoffice/demo_operators.h"
#include "backoffice/directory.h"
#include "backoffice/log.h"
#include "backoffice/metrics_server.h"
#include "backoffice/metrics_text.h"
#include "backoffice/operator_admin.h"
#include "backoffice/operator_store.h"
#include "backoffice/options.h"
#include "backoffice/periodic.h"
#include "backoffice/server.h"
#include "backoffice/service.h"
#include "backoffice/service_manager.h"
#include "backoffice/service_metrics.h"
#include "backoffice/store.h"
#include "tmclient/tcp_server.h"
#include "tmclient/tls_server.h"

namespace {

int InitDemo(const backoffice::Options& options) {
  backoffice::DemoOptions demo;
  demo.rows = options.demoRows;
  auto s = backoffice::GenerateDemo(options.initDemo, demo);
  const auto operators = backoffice::OpenOperatorStore(options.initDemo);
  const int added = operators ? backoffice::AddDemoOperators(*operators) : 0;
  std::printf("demo database %s: %lld log rows (%lld .. %lld), %lld users, %d operators\n",
              options.initDemo.c_str(), static_cast<long long>(s.logRows),
              static_cast<long long>(s.firstStamp), static_cast<long long>(s.lastStamp),
              static_cast<long long>(s.users), added);
  return 0;
}

std::string AuditKeyPath(const backoffice::Options& options) {
  return options.auditKey.empty() ? backoffice::DefaultAuditKeyPath(options.db) : options.auditKey;
}

// --make-audit-key and --verify-audit. Verification prints what it walked and
// the first problem of each kind; exit status 1 when there is one.
int RunAuditCommand(const backoffice::Options& options) {
  const std::string keyPath = AuditKeyPath(options);
  if (options.auditCommand == backoffice::Options::AuditCommand::kMakeKey) {
    struct stat st {};
    if (::lstat(keyPath.c_str(), &st) == 0) {
      // Its public key all the same: what a rotation lists as trusted.
      std::fprintf(
          stderr, "mpay-backoffice: %s exists already: public key %s\n", keyPath.c_str(),
          backoffice::ToHex(backoffice::AuditSigner::Open(keyPath, false).publicKey()).c_str());
      return 1;
    }
    const auto signer = backoffice::AuditSigner::Open(keyPath, true);
    std::printf("audit key %s: public key %s\n", keyPath.c_str(),
                backoffice::ToHex(signer.publicKey()).c_str());
    return 0;
  }
  const auto trusted = backoffice::TrustedAuditKeys(keyPath);
  const auto store = backoffice::OpenStore(options.db)->OpenAudit();
  const auto v = backoffice::VerifyAudit(*store, trusted, options.verifyFrom);
  std::printf("audit: %lld rows from id %lld, %lld checkpoints, signed up to id %lld",
              static_cast<long long>(v.rows), static_cast<long long>(v.firstId),
              static_cast<long long>(v.checkpoints), static_cast<long long>(v.lastCoveredId));
  if (v.unchained > 0)
    std::printf(", %lld rows without hashes", static_cast<long long>(v.unchained));
  std::printf("\n");
  if (v.firstBadRow != 0)
    std::printf("audit: row %lld %s\n", static_cast<long long>(v.firstBadRow),
                v.rowProblem.c_str());
  if (v.firstBadCheckpoint != 0)
    std::printf("audit: checkpoint %lld: %s\n", static_cast<long long>(v.firstBadCheckpoint),
                v.checkpointProblem.c_str());
  std::printf("audit: %s\n", v.ok() ? "verified" : "NOT verified");
  return v.ok() ? 0 : 1;
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
  // Each thread that reads the database (a tcp endpoint's workers and the
  // threads standing in for its replies waiting for their clients, the NATS
  // endpoint's workers, the audit writer and the operator store) has three
  // files open.
  constexpr int kFilesPerReader = 3;
  tmclient::TcpServerOptions endpoint;
  endpoint.workers = options.workers;
  endpoint.maxConnections = 0;  // counted below, as the limit allows
  const rlim_t readers = (options.nats.empty() ? 0 : options.workers) + 2;
  // Standard streams, nats and the like.
  const rlim_t others = 60 + listeners * tmclient::TcpServerOpenFiles(endpoint, kFilesPerReader) +
                        kFilesPerReader * readers;
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
  backoffice::log::Write(backoffice::log::Level::kWarn, "open_files_limit",
                         {{"limit", static_cast<uint64_t>(files.rlim_cur)},
                          {"connections_per_listen", allowed},
                          {"max_connections", options.maxConnections}});
  return allowed;
}

// What the process shows its operators while it serves.
struct Observed {
  backoffice::ServiceMetrics metrics;
  std::atomic<bool> bReady{false};  // every endpoint started, not stopping
  std::mutex mVerify;
  backoffice::AuditVerifyStatus cVerify;  // the last verification, under mVerify
  double startTime =
      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
};

std::string RenderAll(Observed& seen, backoffice::AuditWriter& audit,
                      const std::vector<std::unique_ptr<backoffice::Endpoint>>& running) {
  backoffice::MetricsInputs in;
  in.service = seen.metrics.Read();
  for (const auto& e : running) in.endpoints.emplace_back(e->Describe(), e->Stats());
  in.audit = audit.counts();
  {
    std::lock_guard lock(seen.mVerify);
    in.auditVerify = seen.cVerify;
  }
  in.startTime = seen.startTime;
  in.version = MPAY_VERSION;
  return backoffice::RenderMetrics(in);
}

bool Ready(Observed& seen, backoffice::Service& service, const backoffice::AuditWriter& audit,
           const std::vector<std::unique_ptr<backoffice::Endpoint>>& running) {
  // Queries are refused while the audit cannot be written.
  if (!seen.bReady.load() || !audit.accepting()) return false;
  for (const auto& e : running) {
    if (!e->Stats().serving) return false;
  }
  return service.StoreAnswers();
}

// The database holds subscribers' personal data: a file that other users
// may read is said at start-up (files this process creates are its own).
void WarnIfOthersMayRead(const std::string& db) {
  struct stat st {};
  if (::stat(db.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & 077) == 0) return;
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
  backoffice::log::Write(
      backoffice::log::Level::kWarn, "database_readable_by_others",
      {{"file", db}, {"mode", mode}, {"fix", "chmod 600 the file and its -wal and -shm files"}});
}

// The directory of --ldap, its mapping file read and its service account's
// password taken from --ldap-password-file or MPAY_LDAP_PASSWORD (which is
// then removed from the environment); null with the reason in `why`.
std::unique_ptr<backoffice::Directory> OpenDirectory(const backoffice::Options& options,
                                                     std::string& why) {
  backoffice::DirectoryConfig config;
  config.uri = options.ldap;
  config.caFile = options.ldapCa;
  config.bindDn = options.ldapBindDn;
  std::ifstream mapFile(options.ldapMap);
  const std::string text((std::istreambuf_iterator<char>(mapFile)),
                         std::istreambuf_iterator<char>());
  if (!mapFile) {
    why = options.ldapMap + ": cannot be read";
    return nullptr;
  }
  why = backoffice::ParseDirectoryMap(text, options.ldapMap, config.map);
  if (!why.empty()) return nullptr;
  if (!options.ldapPasswordFile.empty()) {
    if (!backoffice::ReadSecretFile(options.ldapPasswordFile, config.bindPassword, why))
      return nullptr;
  } else if (const char* env = std::getenv("MPAY_LDAP_PASSWORD"); env && *env) {
    config.bindPassword = env;
    ::unsetenv("MPAY_LDAP_PASSWORD");
  } else {
    why =
        "--ldap needs the service account's password: --ldap-password-file FILE or "
        "MPAY_LDAP_PASSWORD";
    return nullptr;
  }
  return backoffice::MakeLdapDirectory(std::move(config));
}

int Serve(const backoffice::Options& options) {
  namespace log = backoffice::log;
  // Signals are taken by sigwait below; every thread started from here on
  // inherits the blocked mask.
  sigset_t stop;
  sigemptyset(&stop);
  // A hang-up (the terminal or the session went away) and a quit stop it as
  // a termination does, with every audit entry written.
  for (int s : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) sigaddset(&stop, s);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  signal(SIGPIPE, SIG_IGN);

  backoffice::OpenStore(options.db)->EnsureSchema();
  WarnIfOthersMayRead(options.db);
  const int maxConnections = ConnectionsTheFilesAllow(options);
  Observed seen;
  if (!options.auditFailClosed) {
    log::Write(log::Level::kWarn, "audit_may_be_lost",
               {{"reason",
                 "--on-audit-failure continue: queries are answered while the audit cannot be "
                 "written, and what it could not write is lost"}});
  }
  // The checkpoints' key: made at first start when there is none yet.
  const auto signer = backoffice::AuditSigner::Open(AuditKeyPath(options), true);
  backoffice::AuditPolicy auditPolicy;
  auditPolicy.bFailClosed = options.auditFailClosed;
  auditPolicy.iKeepDays = options.auditKeepDays;
  auditPolicy.pSigner = &signer;
  auditPolicy.strJournalDir = options.auditJournal.empty()
                                  ? backoffice::DefaultAuditJournalDir(options.db)
                                  : options.auditJournal;
  backoffice::AuditWriter audit(options.db, 65536, auditPolicy);
  // The chain verified on a thread of its own, at start and then every
  // --audit-verify-hours, for the metrics and the log.
  std::unique_ptr<backoffice::Periodic> verifier;
  if (options.auditVerifyHours > 0) {
    verifier = std::make_unique<backoffice::Periodic>(
        std::chrono::hours(options.auditVerifyHours),
        [&seen, &options, trusted = backoffice::TrustedAuditKeys(AuditKeyPath(options))] {
          try {
            const auto v = backoffice::VerifyAudit(*backoffice::OpenStore(options.db)->OpenAudit(),
                                                   trusted, 0);
            log::Write(v.ok() ? log::Level::kInfo : log::Level::kError, "audit_verified",
                       {{"ok", v.ok() ? "yes" : "no"},
                        {"rows", v.rows},
                        {"signed_up_to", v.lastCoveredId},
                        {"first_bad_row", v.firstBadRow},
                        {"row_problem", v.rowProblem},
                        {"first_bad_checkpoint", v.firstBadCheckpoint},
                        {"checkpoint_problem", v.checkpointProblem}});
            std::lock_guard lock(seen.mVerify);
            seen.cVerify = {
                std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
                    .count(),
                v.ok(), v.rows, v.lastCoveredId};
          } catch (const std::exception& e) {
            log::Write(log::Level::kWarn, "audit_verify_failed", {{"reason", e.what()}});
          }
        });
  }
  backoffice::ServiceConfig config;
  config.dbPath = options.db;
  config.dbRead = options.dbRead;
  config.dbReadMaxLagMs = int64_t{options.dbReadMaxLagS} * 1000;
  // Every endpoint runs its own worker threads; each needs a connection.
  const int endpoints = static_cast<int>(options.listen.size()) + (options.nats.empty() ? 0 : 1);
  config.connections = options.workers * endpoints;
  config.maxRows = options.maxRows;
  if (!options.metrics.empty()) config.metrics = &seen.metrics;
  std::unique_ptr<backoffice::OperatorStore> operators;
  std::unique_ptr<backoffice::Directory> directory;
  std::unique_ptr<backoffice::Authenticator> auth;
  std::unique_ptr<backoffice::Periodic> lockUnused, recheckDirectory;
  if (options.authRequired) {
    operators = backoffice::OpenOperatorStore(options.db);
    if (!operators) {
      log::Write(log::Level::kError, "start_failed",
                 {{"reason", "sign-in needs operators, which this database cannot hold"}});
      return 1;
    }
    backoffice::AuthPolicy policy;
    policy.maxFailedSignIns = options.maxFailedSignIns;
    policy.lockoutS = options.lockoutS;
    policy.idleTimeoutS = options.sessionIdleS;
    policy.maxAgeS = options.sessionMaxAgeS;
    policy.directoryFirst = options.ldapFirst;
    if (!options.ldap.empty()) {
      std::string why;
      directory = OpenDirectory(options, why);
      if (!directory) {
        log::Write(log::Level::kError, "start_failed", {{"reason", why}});
        return 1;
      }
    }
    auth = std::make_unique<backoffice::Authenticator>(*operators, policy,
                                                       backoffice::SystemClock(), directory.get());
    if (directory) {
      // Accounts removed or disabled in the directory end here within the
      // recheck time (and their sessions within a second more).
      recheckDirectory = std::make_unique<backoffice::Periodic>(
          std::chrono::seconds(options.ldapRecheckS), [&auth] {
            try {
              auth->RecheckDirectory();
            } catch (const backoffice::DbError& e) {
              log::Write(log::Level::kError, "directory_recheck_failed", {{"reason", e.what()}});
            }
          });
    }
    if (options.lockUnusedDays > 0) {
      // At start-up and every hour: an account left unused is one nobody
      // watches.
      lockUnused = std::make_unique<backoffice::Periodic>(
          std::chrono::hours(1), [&operators, days = options.lockUnusedDays] {
            const int64_t now = static_cast<int64_t>(std::time(nullptr));
            try {
              if (const int n = operators->LockUnused(now, now - int64_t{days} * 86400); n > 0)
                log::Write(log::Level::kWarn, "operators_locked_unused",
                           {{"operators", n}, {"days", days}});
            } catch (const backoffice::DbError& e) {
              log::Write(log::Level::kError, "lock_unused_failed", {{"reason", e.what()}});
            }
          });
    }
  } else {
    log::Write(
        log::Level::kWarn, "auth_off",
        {{"reason", "no sign-in: every local process may query as whoever it claims to be"}});
  }
  backoffice::Service service(config, &audit, auth.get());

  std::shared_ptr<const tmclient::ChannelLayer> tls;
  if (!options.tlsCert.empty()) {
    std::string error;
    tls = tmclient::MakeTlsServerLayer(options.tlsCert, options.tlsKey, error);
    if (!tls) {
      log::Write(log::Level::kError, "start_failed", {{"reason", "TLS: " + error}});
      return 1;
    }
  }
  std::vector<std::unique_ptr<backoffice::Endpoint>> running;
  for (const std::string& url : options.listen) {
    if (url.starts_with("tcp://") && !backoffice::IsLoopbackUrl(url)) {
      log::Write(log::Level::kWarn, "listen_public",
                 {{"address", url},
                  {"reason",
                   "open to other machines, and nothing encrypts the connection: passwords, "
                   "sessions and replies cross the network in clear (tls:// encrypts)"}});
    }
    running.push_back(
        backoffice::MakeTcpEndpoint(url, options.workers, service,
                                    {maxConnections, options.idleTimeoutS, options.writeTimeoutS,
                                     std::size_t(options.maxBufferedMb) << 20},
                                    tls));
  }
  if (!options.nats.empty()) {
    running.push_back(
        backoffice::MakeNatsEndpoint(options.nats, options.broker, options.workers, service));
  }

  // First up and last down, so that probes see the start and the stop.
  std::unique_ptr<backoffice::MetricsServer> http;
  if (!options.metrics.empty()) {
    if (!backoffice::IsLoopbackUrl(options.metrics)) {
      log::Write(log::Level::kWarn, "metrics_public",
                 {{"address", options.metrics},
                  {"reason", "the metrics and health endpoints are open to other machines"}});
    }
    http = std::make_unique<backoffice::MetricsServer>(
        [&] { return RenderAll(seen, audit, running); },
        [&] { return Ready(seen, service, audit, running); });
    std::string error;
    if (!http->Start(options.metrics, error)) {
      log::Write(log::Level::kError, "start_failed", {{"reason", error}});
      return 1;
    }
    std::printf("mpay-backoffice: metrics on %s\n", http->Describe().c_str());
    std::fflush(stdout);
  }

  for (auto& e : running) {
    std::string error;
    if (!e->Start(error)) {
      log::Write(log::Level::kError, "start_failed", {{"reason", error}});
      return 1;
    }
    // Tests and scripts wait for this line (and read the port from it).
    std::printf("mpay-backoffice: serving %s%s\n", e->Describe().c_str(), e->Limits().c_str());
    std::fflush(stdout);
  }
  seen.bReady = true;
  backoffice::NotifyServiceManager("READY=1");
  log::Write(log::Level::kInfo, "started", {{"endpoints", static_cast<int>(running.size())}});

  int sig = 0;
  sigwait(&stop, &sig);
  seen.bReady = false;
  backoffice::NotifyServiceManager("STOPPING=1");
  std::printf("mpay-backoffice: stopping (signal %d)\n", sig);
  std::fflush(stdout);
  for (auto& e : running) e->Stop();
  verifier.reset();
  audit.Stop();
  if (audit.failures() != 0) {
    log::Write(log::Level::kError, "audit_entries_lost", {{"entries", audit.failures()}});
  }
  if (http) http->Stop();
  log::Write(log::Level::kInfo, "stopped", {{"signal", sig}});
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  backoffice::Options options;
  // The configuration file first, the command line over it. A file that
  // cannot be trusted or read is an error of the installation (1), a wrong
  // command line one of usage (2).
  const std::string config = backoffice::ConfigFileOf(argc, argv);
  std::string error = config.empty() ? "" : backoffice::ApplyConfigFile(config, options);
  if (!error.empty()) {
    std::fprintf(stderr, "mpay-backoffice: %s\n", error.c_str());
    return 1;
  }
  error = backoffice::ParseOptions(argc, argv, options);
  if (!error.empty() || options.help) {
    if (!error.empty()) std::fprintf(stderr, "mpay-backoffice: %s\n", error.c_str());
    std::fputs(backoffice::Usage(), error.empty() ? stdout : stderr);
    return error.empty() ? 0 : 2;
  }
  backoffice::log::Level level = backoffice::log::Level::kInfo;
  backoffice::log::ParseLevel(options.logLevel, level);
  backoffice::log::SetLevel(level);
  // Whatever it creates (a demo database, the WAL and shared-memory files
  // beside a database, their journals) is its own user's only.
  ::umask(077);
  try {
    if (options.operatorCommand != backoffice::Options::OperatorCommand::kNone)
      return backoffice::RunOperatorCommand(options);
    if (options.auditCommand != backoffice::Options::AuditCommand::kNone)
      return RunAuditCommand(options);
    return options.initDemo.empty() ? Serve(options) : InitDemo(options);
  } catch (const std::exception& e) {
    backoffice::log::Write(backoffice::log::Level::kError, "start_failed", {{"reason", e.what()}});
    return 1;
  }
}
