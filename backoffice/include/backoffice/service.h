#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "backoffice/audit_writer.h"
#include "backoffice/clock.h"
#include "backoffice/status.h"
#include "records/operations.h"
#include "tmclient/service_handler.h"

namespace backoffice {

class Authenticator;
class ServiceMetrics;
class Store;

// The service's own result codes, returned to the caller of call_server and
// carried in the reply's error record with a Chinese message. Operators
// quote them: never change a value. kRcNoSession is the code the broker
// client library recognises as "sign in again" (tmclient/session.h).
#define MPAY_RESULT_CODES(F)                                                            \
  F(kRcNoCondition, 1001)          /* the request selects nothing */                    \
  F(kRcTooManyRows, 1002)          /* more rows match than one reply may carry */       \
  F(kRcBadCondition, 1003)         /* a condition no real query has */                  \
  F(kRcBadRequest, 1004)           /* the request stream cannot be decoded */           \
  F(kRcUnknownService, 1005)       /* interface or service code not served here */      \
  F(kRcDatabase, 1006)             /* the database failed */                            \
  F(kRcInternal, 1007)             /* anything else went wrong */                       \
  F(kRcNoSession, 1008)            /* no session, or one ended, expired or unknown */   \
  F(kRcNoRight, 1009)              /* the operator may not call this operation */       \
  F(kRcSignInFailed, 1010)         /* unknown login or wrong password: one answer */    \
  F(kRcOperatorLocked, 1011)       /* locked, by failed sign-ins or an administrator */ \
  F(kRcOperatorInactive, 1012)     /* out of service, not yet valid or expired */       \
  F(kRcDirectoryUnavailable, 1013) /* the directory cannot check the password */        \
  /* The audit cannot be written: queries are refused until it can */                   \
  /* (--on-audit-failure refuse). */                                                    \
  F(kRcAuditUnavailable, 1020)

#define MPAY_RESULT_CODE_(NAME, VALUE) inline constexpr int NAME = VALUE;
MPAY_RESULT_CODES(MPAY_RESULT_CODE_)
#undef MPAY_RESULT_CODE_

struct ServiceConfig {
  std::string dbPath;        // an SQLite file or a postgresql:// URI (store.h)
  int connections = 4;       // read connections opened at once (more open when all are busy)
  int64_t maxRows = 200000;  // rows one reply may carry
  // Where each request is counted (may be null: nothing is); must outlive
  // the service.
  ServiceMetrics* metrics = nullptr;
  std::vector<std::string> dbRead{};  // read replicas of a PostgreSQL dbPath (store.h)
  int64_t dbReadMaxLagMs = 5000;      // a replica further behind is left out
  // The time the audit's stamps are taken from (may be null: the system's);
  // must outlive the service.
  const Clock* clock = nullptr;
};

// What the pipeline knows of one request, handed to each of its steps: the
// operation, what the transport says of the caller, the verified operator
// once admitted, and the audit entry being filled in.
struct RequestContext {
  const operations::Descriptor* op;  // null: none served here
  std::string_view session;          // the envelope's; "" for none
  std::string_view peer;             // the transport's own view of the caller
  bool debug = false;                // whether the request is logged
  AuditEntry audit;                  // serviceCode, peer, time, the caller, conditions
  int64_t rows = 0;                  // rows the reply carries, for the metrics
  std::string conditions;            // as audited, kept for the debug log
};

// Answers the operations of the catalogue (records/operations.h) from the
// database: one pipeline (decode, admit, run, encode or stream, audit) and
// a small handler per operation (service_handlers.cpp). Handle() may be
// called from many threads at once; each call leases one of the read
// connections for its query, and opens one more when all are busy (they are
// kept for later requests).
class Service {
 public:
  // Opens the read connections; throws DbError when the database cannot be
  // opened. `audit` (may be null) receives one entry per request and must
  // outlive the service. With `auth` (which must outlive it too) every
  // operation that needs a right must carry the session of a signed-in
  // operator who holds it, checked before anything else; without it there
  // is no sign-in and queries are answered for whoever asks (--auth off).
  Service(const ServiceConfig& config, AuditWriter* audit, Authenticator* auth = nullptr);
  ~Service();
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  // The handler the servers run, with what the transport says of the call.
  // Fills `reply` with the reply stream and returns 0, or one of the kRc
  // codes above. For a known operation the reply always carries the error
  // record; for an unknown service code the reply is empty. A successful
  // log reply may be streamed through `writer` as its rows come from the
  // database (and `reply` left empty then); any failure, before or after
  // streaming started, is answered with a whole reply in `reply`, which
  // replaces what was streamed. Never throws, and never returns a broker
  // library code.
  int Handle(const tmclient::CallContext& call, const std::string& interfaceName,
             const std::string& serviceCode, std::string_view request, std::string& reply,
             tmclient::ReplyWriter& writer) noexcept;
  // The same, the reply always whole.
  int Handle(const tmclient::CallContext& call, const std::string& interfaceName,
             const std::string& serviceCode, std::string_view request, std::string& reply) noexcept;
  // A call from within the process, with no session and no peer.
  int Handle(const std::string& interfaceName, const std::string& serviceCode,
             std::string_view request, std::string& reply) noexcept {
    return Handle({}, interfaceName, serviceCode, request, reply);
  }

  // Whether the database answers a query on a connection of its own, opened
  // for the check (the leased ones keep a file that has since gone). For the
  // readiness probe; never throws.
  bool StoreAnswers() noexcept;

 private:
  class Lease;
  int Dispatch(RequestContext& context, std::string_view request, std::string& reply,
               tmclient::ReplyWriter& writer) noexcept;
  // The pipeline, and the handler it runs, of operation kId.
  template <operations::Id kId>
  int Serve(RequestContext& context, std::string_view request, std::string& reply,
            tmclient::ReplyWriter& writer);
  // Runs the operation once its request is decoded and its caller admitted:
  // fills `out` (the reply's items), or writes the reply itself and says so
  // in `replied`.
  template <operations::Id kId>
  Status Run(RequestContext& context, operations::Inputs<kId>& in, operations::Outputs<kId>& out,
             std::string& reply, tmclient::ReplyWriter& writer, bool& replied);
  // Fills in who calls: the verified operator over what the audit entry holds
  // of the request's own claims, once that operator holds `right`.
  Status Admit(RequestContext& context, const char* right);
  // Hands the entry to the audit.
  void Audit(RequestContext& context, int result);
  // The text of a refusal the authenticator returned.
  Status AuthFailure(int code);
  // Counts a failed query and logs it; the refusal that answers it.
  Status DatabaseFailure(const RequestContext& context, const std::exception& e);

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
