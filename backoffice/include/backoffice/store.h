#pragma once

// The back office's storage, whatever holds it: an SQLite file on this
// machine, or a PostgreSQL database shared by many back-office instances.
// Both hold the same tables (schema.h) and answer with the same rows in the
// same order. Nothing here names a database library.
//
// A Store is opened from the --db text and makes the connections: one
// StoreReader per worker (used by one thread at a time), one AuditStore for
// the audit writer's thread. Every method reports a failure by throwing
// DbError; a connection that failed may be used again (it reconnects when it
// can).

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "backoffice/audit_chain.h"
#include "backoffice/audit_journal.h"
#include "backoffice/conditions.h"
#include "backoffice/db_error.h"
#include "backoffice/demo_data.h"
#include "backoffice/reply_rows.h"

namespace backoffice {

struct AuditEntry;

// A read connection with its prepared statements.
class StoreReader {
 public:
  virtual ~StoreReader() = default;
  // Adds at most `limit` matching rows to `sink`, in time order (then by
  // order number), until the sink wants no more; returns how many. The
  // conditions must have passed CheckLogConditions.
  virtual int64_t QueryLog(const LogConditions& conditions, int64_t limit, LogRowSink& sink) = 0;
  // The user rows of one phone number, oldest first; at most `limit`.
  virtual int64_t QueryUsers(std::string_view phoneId, int64_t limit, UserRowSink& sink) = 0;
};

// The audit table's writer, and its reader for verification.
class AuditStore {
 public:
  virtual ~AuditStore() = default;
  // Writes the entries in one transaction (all of them or, on DbError,
  // none), chained after the table's last row: every writer of the database
  // takes the chain's lock first, so several back offices keep one chain.
  // With `signer`, the same transaction also stores a checkpoint of the new
  // head, signed at `at`, and returns it in `checkpoint`. Returns the head.
  // With `mark`, the same transaction records that the audit holds that
  // journal up to its position.
  virtual AuditHead Append(std::span<const AuditEntry> entries, const AuditSigner* signer,
                           int64_t at, AuditCheckpoint* checkpoint,
                           const JournalMark* mark = nullptr) = 0;
  // How far the audit holds `journal` (0: not at all), and forgetting it.
  virtual int64_t JournalSeq(const std::string& journal) = 0;
  virtual void ForgetJournal(const std::string& journal) = 0;
  // Deletes, in one transaction, at most `limit` of the rows older than
  // `stamp` (yyyymmddhhmmss) that a checkpoint covers, with the checkpoints
  // before the newest of those: the first kept row stays anchored by a signed
  // checkpoint. Returns how many rows it deleted.
  virtual int64_t DeleteBefore(int64_t stamp, int64_t limit) = 0;
  // Every row from id `fromId` on, in id order, until `row` returns false.
  virtual void ReadChain(int64_t fromId,
                         const std::function<bool(const ChainedRow&, const AuditEntry&)>& row) = 0;
  virtual std::vector<AuditCheckpoint> ReadCheckpoints() = 0;
};

class Store {
 public:
  virtual ~Store() = default;

  // Creates the tables and indexes that are missing. An SQLite file must
  // exist already: a typo must not serve an empty new database.
  virtual void EnsureSchema() = 0;
  virtual std::unique_ptr<StoreReader> OpenReader() = 0;
  // Creates the tables that are missing, then opens the writer.
  virtual std::unique_ptr<AuditStore> OpenAudit() = 0;
  // Fills a new database with the demo rows (demo_data.h). Refuses when the
  // database already holds data, so that real data is never overwritten.
  virtual DemoSummary CreateDemo(const DemoOptions& options) = 0;
  // Where it is, for the logs: never with a password.
  virtual std::string Describe() const = 0;
};

// True when `db` names a PostgreSQL database (postgresql:// or postgres://),
// false for an SQLite file name.
bool IsPostgresUri(std::string_view db);

// The store `db` names. Opens no connection yet; throws DbError when the
// name cannot be used.
std::unique_ptr<Store> OpenStore(const std::string& db);
// The PostgreSQL database `db` with its read replicas `replicas` (URIs of
// the same database on streaming replicas): the readers' queries go to a
// replica no more than `maxLagMs` behind when there is one, else to `db`
// (see replica_store.h). Without replicas, OpenStore(db).
std::unique_ptr<Store> OpenStore(const std::string& db, const std::vector<std::string>& replicas,
                                 int64_t maxLagMs);

}  // namespace backoffice
