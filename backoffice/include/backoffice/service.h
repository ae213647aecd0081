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

struct ServiceConfig {
  std::string dbPath;        // an SQLite file or a postgresql:// URI (store.h)
  int connections = 4;       // read connections opened at once (more open when all are busy)
  int64_t maxRows = 200000;  // rows one reply may carry
  // Where each request is counted (may be null: nothing is); must outlive
  // the service.
  ServiceMetrics* metrics = nullptr;
};

// Answers query_mpSoList and query_mppUser from the database. Handle() may
// be called from many threads at once; each call leases one of the read
// connections for its query, and opens one more when all are busy (they are
// kept for later requests).
class Service {
 public:
  // Opens the read connections; throws DbError when the database cannot be
  // opened. `audit` (may be null) receives one entry per request and must
  // outlive the service.
  Service(const ServiceConfig& config, AuditWriter* audit);
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
  // Hands the entry to the audit, keeping what the trace needs.
  void Audit(AuditEntry&& entry, Trace& trace);

  ServiceConfig cConfig;
  AuditWriter* pAudit;
  std::unique_ptr<Store> pStore;
  std::mutex mLock;
  struct Worker;
  std::vector<std::unique_ptr<Worker>> vWorkers;
  std::vector<Worker*> vFree;
};

}  // namespace backoffice
