#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tmclient {
class ReplyWriter;
}

namespace backoffice {

class AuditWriter;
class Authenticator;
struct AuditEntry;
class ServiceMetrics;
class Store;

// The service's own result codes, returned to the caller of call_server and
// carried in the reply's error record with a Chinese message. Operators
// quote them: never change a value.
inline constexpr int kRcNoCondition = 1001;     // the request selects nothing
inline constexpr int kRcTooManyRows = 1002;     // more rows match than one reply may carry
inline constexpr int kRcBadCondition = 1003;    // a condition no real query has
inline constexpr int kRcBadRequest = 1004;      // the request stream cannot be decoded
inline constexpr int kRcUnknownService = 1005;  // interface or service code not served here
inline constexpr int kRcDatabase = 1006;        // the database failed
inline constexpr int kRcInternal = 1007;        // anything else went wrong
// Sign-in and verification. kRcNoSession is the code the broker client
// library recognises as "sign in again" (tmclient/session.h).
inline constexpr int kRcNoSession = 1008;         // no session, or one ended, expired or unknown
inline constexpr int kRcNoRight = 1009;           // the operator may not call this service
inline constexpr int kRcSignInFailed = 1010;      // unknown login or wrong password: one answer
inline constexpr int kRcOperatorLocked = 1011;    // locked, by failed sign-ins or an administrator
inline constexpr int kRcOperatorInactive = 1012;  // out of service, not yet valid or expired
// The audit cannot be written: queries are refused until it can
// (--on-audit-failure refuse).
inline constexpr int kRcAuditUnavailable = 1020;

struct ServiceConfig {
  std::string dbPath;               // an SQLite file or a postgresql:// URI (store.h)
  int connections = 4;              // read connections opened at once (more open when all are busy)
  int64_t maxRows = 200000;         // rows one reply may carry
  // Where each request is counted (may be null: nothing is); must outlive
  // the service.
  ServiceMetrics* metrics = nullptr;
  std::vector<std::string> dbRead;  // read replicas of a PostgreSQL dbPath (store.h)
  int64_t dbReadMaxLagMs = 5000;    // a replica further behind is left out
};

// Answers query_mpSoList and query_mppUser from the database, and the
// operators' sign-in and sign-out. Handle() may
// be called from many threads at once; each call leases one of the read
// connections for its query, and opens one more when all are busy (they are
// kept for later requests).
class Service {
 public:
  // Opens the read connections; throws DbError when the database cannot be
  // opened. `audit` (may be null) receives one entry per request and must
  // outlive the service. With `auth` (which must outlive it too) every query
  // must carry the session of a signed-in operator who holds the right to
  // its service code (tmclient::CurrentCall() gives the session), checked
  // before anything else; without it there is no sign-in and queries are
  // answered for whoever asks (--auth off).
  Service(const ServiceConfig& config, AuditWriter* audit, Authenticator* auth = nullptr);
  ~Service();
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  // The handler the servers run. Fills `reply` with the reply stream and
  // returns 0, or one of the kRc codes above. For a known operation the reply
  // always carries the error record; for an unknown service code the reply is
  // empty. Never throws, and never returns a broker library code.
  int Handle(const std::string& interfaceName, const std::string& serviceCode,
             std::string_view request, std::string& reply) noexcept;
  // The same, streaming a successful log reply through `writer` as its rows
  // come from the database (and leaving `reply` empty then). Any failure,
  // before or after streaming started, is answered with a whole reply in
  // `reply`, which replaces what was streamed.
  int Handle(const std::string& interfaceName, const std::string& serviceCode,
             std::string_view request, std::string& reply, tmclient::ReplyWriter& writer) noexcept;

  // Whether the database answers a query on a connection of its own, opened
  // for the check (the leased ones keep a file that has since gone). For the
  // readiness probe; never throws.
  bool StoreAnswers() noexcept;

 private:
  class Lease;
  // What a request leaves for its counters and its log line.
  struct Trace {
    int64_t rows = 0;
    std::string conditions;  // as audited
  };
  int Dispatch(const std::string& interfaceName, const std::string& serviceCode,
               std::string_view request, std::string& reply, tmclient::ReplyWriter& writer,
               Trace& trace) noexcept;
  int HandleLog(std::string_view request, std::string& reply, tmclient::ReplyWriter& writer,
                Trace& trace);
  int HandleUser(std::string_view request, std::string& reply, Trace& trace);
  int HandleSignIn(std::string_view request, std::string& reply, Trace& trace);
  int HandleSignOut(std::string_view request, std::string& reply, Trace& trace);
  // Fills in who calls: the verified operator over what `entry` holds of the
  // request's own claims. 0 when the call may go on, else the refusal.
  int Admit(const char* serviceCode, AuditEntry& entry);
  // Hands the entry to the audit, keeping what the trace needs.
  void Audit(AuditEntry&& entry, Trace& trace);

  ServiceConfig cConfig;
  AuditWriter* pAudit;
  Authenticator* pAuth;
  std::unique_ptr<Store> pStore;
  std::mutex mLock;
  struct Worker;
  std::vector<std::unique_ptr<Worker>> vWorkers;
  std::vector<Worker*> vFree;
};

}  // namespace backoffice
