#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <limits>

#include "audit_rows.h"
#include "backoffice/audit_writer.h"
#include "backoffice/schema.h"
#include "backoffice/sqlite_db.h"
#include "stores.h"

namespace backoffice {
namespace {

// Resets the statement on every way out, so that a read transaction never
// outlives its query (a reader left open would pin the WAL).
class ResetGuard {
 public:
  explicit ResetGuard(Statement& s) : cStmt(s) {}
  ~ResetGuard() { cStmt.Reset(); }

 private:
  Statement& cStmt;
};

// Steps `s` to its end, each row into `sink`'s block, until the sink wants
// no more; the rows stepped.
template <class R>
int64_t Rows(Statement& s, RowSink<R>& sink) {
  int64_t n = 0;
  while (s.Step()) {
    sink.Block().Add(s);
    ++n;
    if (!sink.Added()) break;
  }
  return n;
}

// A read-only connection; statements are prepared on first use and kept.
class SqliteReader : public StoreReader {
 public:
  explicit SqliteReader(const std::string& path) : cDb(path, Database::Mode::kReadOnly) {}

  int64_t QueryLog(const LogConditions& c, int64_t limit, LogRowSink& sink) override {
    unsigned mask = ConditionMask(c);
    Statement& s = aLog[mask];
    if (!s.valid()) s = cDb.Prepare(LogQuerySql(mask));
    ResetGuard guard(s);
    BindInOrder params(s);
    PutLogParameters(c, limit, params);
    return Rows(s, sink);
  }

  int64_t QueryUsers(std::string_view phoneId, int64_t limit, UserRowSink& sink) override {
    if (!cUsers.valid()) cUsers = cDb.Prepare(UserQuerySql());
    ResetGuard guard(cUsers);
    BindInOrder params(cUsers);
    PutUserParameters(phoneId, limit, params);
    return Rows(cUsers, sink);
  }

 private:
  Database cDb;
  std::array<Statement, kConditionCombinations> aLog;
  Statement cUsers;
};

class SqliteAudit : public AuditStore {
 public:
  explicit SqliteAudit(const std::string& path) : cDb(path, Database::Mode::kReadWrite) {
    UpgradeSchema(cDb);
    cInsert = cDb.Prepare(
        "INSERT INTO mp_audit (id, at, op_id, op_address, so_org_id, service_code, conditions, "
        "row_count, result, op_login, declared_op_id, peer_address, subscriber, prev_hash, "
        "row_hash) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15)");
    cLast = cDb.Prepare("SELECT id, row_hash FROM mp_audit ORDER BY id DESC LIMIT 1");
    cLastCheckpoint = cDb.Prepare(
        "SELECT last_id, last_hash FROM mp_audit_checkpoint ORDER BY last_id DESC LIMIT 1");
    cLastChained = cDb.Prepare(
        "SELECT row_hash FROM mp_audit WHERE row_hash IS NOT NULL ORDER BY id DESC LIMIT 1");
    cCheckpoint = cDb.Prepare(
        "INSERT INTO mp_audit_checkpoint (last_id, last_hash, at, signer, signature) "
        "VALUES (?1, ?2, ?3, ?4, ?5)");
    // The newest checkpoint whose row is older than the cut: rows up to it may go.
    cAnchor = cDb.Prepare(
        "SELECT c.last_id FROM mp_audit_checkpoint c JOIN mp_audit a ON a.id = c.last_id "
        "WHERE a.at < ?1 ORDER BY c.last_id DESC LIMIT 1");
    cDelete = cDb.Prepare(
        "DELETE FROM mp_audit WHERE rowid IN "
        "(SELECT rowid FROM mp_audit WHERE id <= ?1 ORDER BY rowid LIMIT ?2)");
    cDeleteCheckpoints = cDb.Prepare("DELETE FROM mp_audit_checkpoint WHERE last_id < ?1");
    cJournalMark = cDb.Prepare(
        "INSERT INTO mp_audit_journal (journal, seq) VALUES (?1, ?2) "
        "ON CONFLICT (journal) DO UPDATE SET seq = excluded.seq");
    // Rows written before chaining: no chain depends on them.
    cDeleteUnchained = cDb.Prepare(
        "DELETE FROM mp_audit WHERE rowid IN (SELECT rowid FROM mp_audit "
        "WHERE at < ?1 AND row_hash IS NULL ORDER BY rowid LIMIT ?2)");
  }

  int64_t DeleteBefore(int64_t stamp, int64_t limit) override {
    Transaction tx(cDb);
    int64_t deleted = 0;
    {
      ResetGuard guard(cAnchor);
      cAnchor.Bind(1, stamp);
      if (cAnchor.Step()) {
        const int64_t anchor = cAnchor.Int(0);
        cDelete.Bind(1, anchor);
        cDelete.Bind(2, limit);
        cDelete.Run();
        deleted = sqlite3_changes64(cDb.handle());
        if (deleted < limit) {
          cDeleteCheckpoints.Bind(1, anchor);
          cDeleteCheckpoints.Run();
        }
      }
    }
    if (deleted < limit) {
      cDeleteUnchained.Bind(1, stamp);
      cDeleteUnchained.Bind(2, limit - deleted);
      cDeleteUnchained.Run();
      deleted += sqlite3_changes64(cDb.handle());
    }
    tx.Commit();
    return deleted;
  }

  AuditHead Append(std::span<const AuditEntry> entries, const AuditSigner* signer, int64_t at,
                   AuditCheckpoint* checkpoint, const JournalMark* mark) override {
    ResetGuard guard(cInsert);
    Transaction tx(cDb);  // BEGIN IMMEDIATE: the chain's lock
    AuditHead head = Head();
    for (const AuditEntry& e : entries) {
      const ChainHash prev = head.hash;
      ++head.id;
      head.hash = ChainHashOf(prev, head.id, e);
      cInsert.Bind(1, head.id);
      cInsert.Bind(2, e.at);
      cInsert.Bind(3, static_cast<int64_t>(e.OP_ID));
      cInsert.Bind(4, e.OP_ADDRESS);
      cInsert.Bind(5, static_cast<int64_t>(e.SO_ORG_ID));
      cInsert.Bind(6, e.serviceCode);
      cInsert.Bind(7, e.conditions);
      cInsert.Bind(8, e.rowCount);
      cInsert.Bind(9, static_cast<int64_t>(e.result));
      cInsert.Bind(10, e.login);
      cInsert.Bind(11, static_cast<int64_t>(e.declaredOpId));
      cInsert.Bind(12, e.peer);
      cInsert.Bind(13, e.subscriber);
      cInsert.Bind(14, ToHex(prev));
      cInsert.Bind(15, ToHex(head.hash));
      cInsert.Run();
    }
    if (signer && checkpoint) {
      *checkpoint = signer->Sign(head, at);
      cCheckpoint.Bind(1, checkpoint->lastId);
      cCheckpoint.Bind(2, ToHex(checkpoint->lastHash));
      cCheckpoint.Bind(3, checkpoint->at);
      cCheckpoint.Bind(4, ToHex(checkpoint->key));
      cCheckpoint.Bind(5, ToHex(checkpoint->signature));
      cCheckpoint.Run();
      checkpoint->seq = sqlite3_last_insert_rowid(cDb.handle());
    }
    if (mark) {
      cJournalMark.Bind(1, mark->journal);
      cJournalMark.Bind(2, mark->seq);
      cJournalMark.Run();
    }
    tx.Commit();
    return head;
  }

  int64_t JournalSeq(const std::string& journal) override {
    Statement s = cDb.Prepare("SELECT seq FROM mp_audit_journal WHERE journal = ?1");
    s.Bind(1, journal);
    return s.Step() ? s.Int(0) : 0;
  }

  void ForgetJournal(const std::string& journal) override {
    Statement s = cDb.Prepare("DELETE FROM mp_audit_journal WHERE journal = ?1");
    s.Bind(1, journal);
    s.Run();
  }

  void ReadChain(int64_t fromId,
                 const std::function<bool(const ChainedRow&, const AuditEntry&)>& row) override {
    Statement s = cDb.Prepare(audit_rows::kChainSql);
    s.Bind(1, fromId);
    s.Bind(2, std::numeric_limits<int64_t>::max());
    ChainedRow r;
    AuditEntry e;
    while (s.Step()) {
      audit_rows::ReadChained(s, r, e);
      if (!row(r, e)) break;
    }
  }

  std::vector<AuditCheckpoint> ReadCheckpoints() override {
    std::vector<AuditCheckpoint> out;
    Statement s = cDb.Prepare(audit_rows::kCheckpointsSql);
    while (s.Step()) out.push_back(audit_rows::ReadCheckpoint(s));
    return out;
  }

 private:
  // The last row, and the hash the next row follows: the last chained
  // row's (rows written before chaining have none).
  AuditHead Head() {
    AuditHead head;
    {
      ResetGuard guard(cLast);
      if (!cLast.Step()) {
        // Pruned to nothing: the chain goes on from its last checkpoint.
        ResetGuard anchor(cLastCheckpoint);
        if (cLastCheckpoint.Step() && FromHex(cLastCheckpoint.Text(1), head.hash))
          head.id = cLastCheckpoint.Int(0);
        return head;
      }
      head.id = cLast.Int(0);
      if (!cLast.Null(1) && FromHex(cLast.Text(1), head.hash)) return head;
    }
    ResetGuard guard(cLastChained);
    if (cLastChained.Step()) FromHex(cLastChained.Text(0), head.hash);
    return head;
  }

  Database cDb;
  Statement cInsert;
  Statement cLast;
  Statement cLastChained;
  Statement cLastCheckpoint;
  Statement cCheckpoint;
  Statement cAnchor;
  Statement cDelete;
  Statement cDeleteCheckpoints;
  Statement cDeleteUnchained;
  Statement cJournalMark;
};

// Inserts the demo rows through one prepared INSERT per table, from the
// column maps.
class SqliteDemoLoader : public DemoLoader {
 public:
  explicit SqliteDemoLoader(Database& db)
      : cUser(Prepare<MMicroPaymentDef::SMpUserInfo>(db)),
        cLog(Prepare<MMicroPaymentDef::SMpInfo>(db)) {}

  void Add(const MMicroPaymentDef::SMpUserInfo& user) override { Insert(cUser, user); }
  void Add(const MMicroPaymentDef::SMpInfo& log) override { Insert(cLog, log); }

 private:
  template <class R>
  static Statement Prepare(Database& db) {
    return db.Prepare(InsertSql(ColumnMap<R>::kTable, ColumnMap<R>::kColumns));
  }
  template <class R>
  static void Insert(Statement& s, const R& row) {
    BindInOrder params(s);
    PutFields(row, [&](auto value) { params.Add(value); });
    s.Run();
  }

  Statement cUser;
  Statement cLog;
};

class SqliteStore : public Store {
 public:
  explicit SqliteStore(std::string path) : strPath(std::move(path)) {}

  void EnsureSchema() override {
    Database db(strPath, Database::Mode::kReadWrite);
    UpgradeSchema(db);
    CreateIndexes(db);
  }

  std::unique_ptr<StoreReader> OpenReader() override {
    return std::make_unique<SqliteReader>(strPath);
  }

  std::unique_ptr<AuditStore> OpenAudit() override {
    return std::make_unique<SqliteAudit>(strPath);
  }

  // One transaction, indexes built after the load.
  DemoSummary CreateDemo(const DemoOptions& options) override {
    // Created here, new, and its owner's only, before SQLite opens it: never
    // through a link, never over a file that appeared since a check.
    const int fd =
        ::open(strPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      throw DbError("refusing to create " + strPath + ": " +
                    (errno == EEXIST ? std::string("the file exists") : std::strerror(errno)));
    }
    ::close(fd);
    Database db(strPath, Database::Mode::kCreate);
    db.Exec("PRAGMA cache_size=-262144; PRAGMA temp_store=MEMORY;");
    UpgradeSchema(db);
    DemoSummary summary;
    {
      Transaction tx(db);
      SqliteDemoLoader loader(db);
      summary = GenerateDemoRows(options, loader);
      tx.Commit();
    }
    CreateIndexes(db);
    db.Exec("PRAGMA analysis_limit=1000; ANALYZE;");
    return summary;
  }

  std::string Describe() const override { return strPath; }

 private:
  std::string strPath;
};

}  // namespace

std::unique_ptr<Store> MakeSqliteStore(const std::string& path) {
  return std::make_unique<SqliteStore>(path);
}

}  // namespace backoffice
