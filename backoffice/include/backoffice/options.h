#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace backoffice {

// The command line of mpay-backoffice.
struct Options {
  std::string db;                   // --db FILE
  std::vector<std::string> listen;  // --listen tcp://HOST:PORT or tls://HOST:PORT (repeatable)
  std::string tlsCert;              // --tls-cert FILE: the tls:// listeners' certificate chain
  std::string tlsKey;               // --tls-key FILE: its private key (owner-only)
  std::string nats;                 // --nats nats://HOST:PORT[,HOST:PORT]
  std::string broker = "TALMIRON";  // --broker NAME: the NATS subject prefix and queue group
  int workers = 4;                  // --workers N
  int64_t maxRows = 200000;         // --max-rows N
  int maxConnections = 4096;        // --max-connections N: per tcp endpoint
  int idleTimeoutS = 120;           // --idle-timeout S
  int writeTimeoutS = 30;           // --write-timeout S
  std::string metrics;              // --metrics tcp://HOST:PORT
  bool metricsPublic = false;       // --metrics-public: a non-loopback --metrics is allowed
  std::string logLevel = "info";    // --log-level debug|info|warn|error
  int maxBufferedMb = 256;          // --max-buffered-mb N: bytes all tcp connections may hold
  bool auditFailClosed = true;      // --on-audit-failure refuse|continue
  int auditKeepDays = 0;            // --audit-keep-days N: 0 keeps every row
  std::string auditKey;             // --audit-key FILE: "" for DefaultAuditKeyPath(db)
  std::string initDemo;             // --init-demo FILE
  int64_t demoRows = 100000;        // --rows N
  bool help = false;

  // Sign-in.
  bool authRequired = true;    // --auth required|off (off: every endpoint tcp:// on loopback)
  int maxFailedSignIns = 5;    // --max-failed-signins N
  int lockoutS = 900;          // --lockout S
  int sessionIdleS = 1800;     // --session-idle S
  int sessionMaxAgeS = 43200;  // --session-max-age S

  // Operator administration instead of serving: --add-operator LOGIN,
  // --passwd-operator LOGIN, --lock-operator LOGIN, --unlock-operator LOGIN,
  // --list-operators. The password comes from the terminal or standard input.
  enum class OperatorCommand { kNone, kAdd, kPasswd, kLock, kUnlock, kList };
  OperatorCommand operatorCommand = OperatorCommand::kNone;
  std::string operatorLogin;
  std::string operatorName;                          // --op-name TEXT (add)
  int operatorOrg = 0;                               // --org-id N (add)
  std::string operatorRights = "BABOMOMP,BACUQQMP";  // --rights CODE[,CODE] (add)

  // The audit's tamper evidence instead of serving: --verify-audit [--from
  // ID] walks the chain (exit 1 when it fails), --make-audit-key makes the
  // checkpoint key.
  enum class AuditCommand { kNone, kVerify, kMakeKey };
  AuditCommand auditCommand = AuditCommand::kNone;
  int64_t verifyFrom = 0;
};

// Parses argv. Returns "" and fills `options`, or the reason the command
// line is wrong.
std::string ParseOptions(int argc, const char* const* argv, Options& options);

const char* Usage();

// Whether tcp://HOST:PORT names a loopback address (and so cannot be reached
// from other machines).
bool IsLoopbackUrl(const std::string& url);

}  // namespace backoffice
