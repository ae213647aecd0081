#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

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
        "INSERT INTO mp_audit (at, op_id, op_address, so_org_id, service_code, conditions, "
        "row_count, result, op_login, declared_op_id, peer_address) "
        "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)");
    // Rows are appended in time order: the oldest are found first.
    cDelete = cDb.Prepare(
        "DELETE FROM mp_audit WHERE rowid IN "
        "(SELECT rowid FROM mp_audit WHERE at < ?1 ORDER BY rowid LIMIT ?2)");
  }

  int64_t DeleteBefore(int64_t stamp, int64_t limit) override {
    ResetGuard guard(cDelete);
    cDelete.Bind(1, stamp);
    cDelete.Bind(2, limit);
    cDelete.Run();
    return sqlite3_changes64(cDb.handle());
  }

  void Append(std::span<const AuditEntry> entries) override {
    ResetGuard guard(cInsert);
    Transaction tx(cDb);
    for (const AuditEntry& e : entries) {
      cInsert.Bind(1, e.at);
      cInsert.Bind(2, static_cast<int64_t>(e.OP_ID));
      cInsert.Bind(3, e.OP_ADDRESS);
      cInsert.Bind(4, static_cast<int64_t>(e.SO_ORG_ID));
      cInsert.Bind(5, e.serviceCode);
      cInsert.Bind(6, e.conditions);
      cInsert.Bind(7, e.rowCount);
      cInsert.Bind(8, static_cast<int64_t>(e.result));
      cInsert.Bind(9, e.login);
      cInsert.Bind(10, static_cast<int64_t>(e.declaredOpId));
      cInsert.Bind(11, e.peer);
      cInsert.Run();
    }
    tx.Commit();
  }

 private:
  Database cDb;
  Statement cInsert;
  Statement cDelete;
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
