#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "records/operations.h"

namespace backoffice {

// The command line of mpay-backoffice, and its configuration file. Every
// option is one entry of the table in options.cpp, which both read: an option
// added there may be given as --NAME VALUE and as the line `NAME = VALUE`, but
// for the commands (the operator commands, --init-demo, --rows, --help and
// --config), which the table marks as command-line only.
struct Options {
  std::string db;                   // --db FILE
  std::vector<std::string> dbRead;  // --db-read URI: a read replica of --db (repeatable)
  int dbReadMaxLagS = 5;            // --db-read-max-lag S: a replica further behind is left out
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
  int auditVerifyHours = 24;        // --audit-verify-hours N: 0 never
  std::string auditKey;             // --audit-key FILE: "" for DefaultAuditKeyPath(db)
  std::string auditJournal;         // --audit-journal DIR: "" for DefaultAuditJournalDir(db)
  std::string initDemo;             // --init-demo FILE
  int64_t demoRows = 100000;        // --rows N
  bool help = false;

  // Sign-in.
  bool authRequired = true;    // --auth required|off (off: every endpoint tcp:// on loopback)
  int maxFailedSignIns = 5;    // --max-failed-signins N
  int lockoutS = 900;          // --lockout S
  int sessionIdleS = 1800;     // --session-idle S
  int sessionMaxAgeS = 43200;  // --session-max-age S
  int lockUnusedDays = 0;      // --lock-unused-days N: 0 locks none

  // Directory sign-in (docs/operations.md, "Directory sign-in").
  std::string ldap;              // --ldap ldaps://HOST[:PORT] | ldap://HOST[:PORT]
  std::string ldapCa;            // --ldap-ca FILE: the directory's certificate authority
  std::string ldapBindDn;        // --ldap-bind-dn DN: the service account that searches
  std::string ldapPasswordFile;  // --ldap-password-file FILE (owner-only); else MPAY_LDAP_PASSWORD
  std::string ldapMap;           // --ldap-map FILE: where operators are and how they map
  bool ldapFirst = false;        // --ldap-order directory-first|local-first
  int ldapRecheckS = 300;        // --ldap-recheck S: removed or disabled accounts end within it

  // Operator administration instead of serving: --add-operator LOGIN,
  // --passwd-operator LOGIN, --lock-operator LOGIN, --unlock-operator LOGIN,
  // --list-operators. The password comes from the terminal or standard input.
  enum class OperatorCommand { kNone, kAdd, kPasswd, kLock, kUnlock, kList };
  OperatorCommand operatorCommand = OperatorCommand::kNone;
  std::string operatorLogin;
  std::string operatorName;  // --op-name TEXT (add)
  int operatorOrg = 0;       // --org-id N (add)
  // --rights RIGHT[,RIGHT] (add); by default those the catalogue grants.
  std::string operatorRights = operations::DefaultRights();

  // The audit's tamper evidence instead of serving: --verify-audit [--from
  // ID] walks the chain (exit 1 when it fails), --make-audit-key makes the
  // checkpoint key.
  enum class AuditCommand { kNone, kVerify, kMakeKey };
  AuditCommand auditCommand = AuditCommand::kNone;
  int64_t verifyFrom = 0;
};

// Parses argv on top of what `options` holds (the configuration file's
// settings): an option given here replaces the file's, a repeatable one
// (--listen) all of the file's lines. Returns "" and fills `options`, or the
// reason the command line is wrong.
std::string ParseOptions(int argc, const char* const* argv, Options& options);

// The configuration file to read before the command line: the one --config
// names ("" for none), else the built-in default (MPAY_BACKOFFICE_CONFIG at
// build time) when that file exists, else "".
std::string ConfigFileOf(int argc, const char* const* argv);

// Reads FILE and applies its settings to `options`. Refused, with the file's
// name and the line where there is one: a file that is not regular, that
// another user may change (group or world writable, or owned by someone other
// than root and this user), larger than 1 MiB, a line that is not
// `KEY = VALUE`, an unknown or command-line-only key, a key given twice (but a
// repeatable one), a value the option refuses. Returns "" or the reason.
std::string ApplyConfigFile(const std::string& file, Options& options);

// The same for text already read; `name` is the file's name for the messages.
std::string ApplyConfigText(std::string_view text, const std::string& name, Options& options);

const char* Usage();

// Whether tcp://HOST:PORT names a loopback address (and so cannot be reached
// from other machines).
bool IsLoopbackUrl(const std::string& url);

}  // namespace backoffice
