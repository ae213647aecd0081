#include "backoffice/schema.h"

#include <sqlite3.h>

#include <string_view>

#include "backoffice/log.h"
#include "backoffice/stamp.h"

namespace backoffice {
namespace {

// The schema's history: step k makes version k from version k - 1, and a
// new database is made by all of them in turn. A step that shipped never
// changes (databases out there went through it as it was): a change to a
// table is a new step at the end. The column types that differ between the
// stores are placeholders (sql_dialect.h).
constexpr SchemaStep kSteps[] = {
    {1, "service-order log, users and audit",
     // IF NOT EXISTS: the log and user tables may have been loaded before
     // the back office first ran.
     R"sql(
CREATE TABLE IF NOT EXISTS mp_so_log (
  so_nbr             {int64} PRIMARY KEY,
  busi_code          INTEGER NOT NULL,
  phone_id           TEXT    NOT NULL,
  amount             INTEGER NOT NULL,
  mpp_transaction_id TEXT    NOT NULL,
  so_date            {int64} NOT NULL,
  remark             TEXT    NOT NULL DEFAULT ''
);
CREATE TABLE IF NOT EXISTS mp_user (
  serv_id        {int64} PRIMARY KEY,
  phone_id       TEXT    NOT NULL,
  mp_pwd         TEXT    NOT NULL DEFAULT '',
  reg_type       INTEGER NOT NULL,
  reg_nbr        TEXT    NOT NULL,
  fee_limit      INTEGER NOT NULL,
  mp_sts         INTEGER NOT NULL,
  mp_create_date {int64} NOT NULL,
  mpp_trans_id   TEXT    NOT NULL,
  so_nbr         {int64} NOT NULL,
  remark         TEXT    NOT NULL DEFAULT ''
);
CREATE TABLE IF NOT EXISTS mp_audit (
  id           {serial_key},
  at           {int64} NOT NULL,
  op_id        INTEGER NOT NULL,
  op_address   TEXT    NOT NULL,
  so_org_id    INTEGER NOT NULL,
  service_code TEXT    NOT NULL,
  conditions   TEXT    NOT NULL,
  row_count    {int64} NOT NULL,
  result       INTEGER NOT NULL
);
)sql"},
    {2, "sign-in: operators, rights, sessions; the audit names the verified operator and peer",
     // IF NOT EXISTS: a PostgreSQL database of version 1 that a back office
     // with sign-in opened before versions were recorded has these tables
     // already, but not the audit's columns.
     R"sql(
ALTER TABLE mp_audit ADD COLUMN op_login       TEXT    NOT NULL DEFAULT '';
ALTER TABLE mp_audit ADD COLUMN declared_op_id INTEGER NOT NULL DEFAULT 0;
ALTER TABLE mp_audit ADD COLUMN peer_address   TEXT    NOT NULL DEFAULT '';
CREATE TABLE IF NOT EXISTS mp_operator (
  op_id          INTEGER PRIMARY KEY,
  op_name        TEXT    NOT NULL DEFAULT '',
  login_name     TEXT    NOT NULL UNIQUE,
  reg_type       {int16} NOT NULL DEFAULT 0,
  reg_nbr        TEXT    NOT NULL DEFAULT '',
  phone          TEXT    NOT NULL DEFAULT '',
  address        TEXT    NOT NULL DEFAULT '',
  post_code      INTEGER NOT NULL DEFAULT 0,
  type           {int16} NOT NULL DEFAULT 0,
  op_status      {int16} NOT NULL DEFAULT 1,
  lock_status    {int16} NOT NULL DEFAULT 0,
  create_date    {int64} NOT NULL DEFAULT 0,
  valid_date     {int64} NOT NULL DEFAULT 0,
  expire_date    {int64} NOT NULL DEFAULT 0,
  security_id    INTEGER NOT NULL DEFAULT 0,
  org_id         INTEGER NOT NULL DEFAULT 0,
  county_code    INTEGER NOT NULL DEFAULT 0,
  region_code    INTEGER NOT NULL DEFAULT 0,
  memo           TEXT    NOT NULL DEFAULT '',
  pwd_hash       TEXT    NOT NULL,
  failed_signins INTEGER NOT NULL DEFAULT 0,
  locked_until   {int64} NOT NULL DEFAULT 0
);
CREATE TABLE IF NOT EXISTS mp_operator_right (
  op_id        INTEGER NOT NULL,
  service_code TEXT    NOT NULL,
  PRIMARY KEY (op_id, service_code)
){no_rowid};
CREATE TABLE IF NOT EXISTS mp_session (
  token_hash   TEXT    PRIMARY KEY,
  op_id        INTEGER NOT NULL,
  created_at   {int64} NOT NULL,
  last_used_at {int64} NOT NULL,
  ended        {int16} NOT NULL DEFAULT 0
){no_rowid};
)sql"},
    {3, "searchable, tamper-evident audit: the subscriber in a column, the chain, checkpoints",
     // The subscriber of the rows written before: the PHONE_ID=... of their
     // conditions. Their hashes stay NULL: they were never chained.
     R"sql(
ALTER TABLE mp_audit ADD COLUMN subscriber TEXT NOT NULL DEFAULT '';
ALTER TABLE mp_audit ADD COLUMN prev_hash  TEXT;
ALTER TABLE mp_audit ADD COLUMN row_hash   TEXT;
UPDATE mp_audit SET subscriber = {phone_condition} WHERE conditions LIKE '%PHONE_ID=%';
CREATE TABLE mp_audit_checkpoint (
  seq       {serial_key},
  last_id   {int64} NOT NULL,
  last_hash TEXT    NOT NULL,
  at        {int64} NOT NULL,
  signer    TEXT    NOT NULL,
  signature TEXT    NOT NULL
);
)sql"},
    {4, "sign-in: the nonce of the last wrong password, the last sign-in, directory operators",
     R"sql(
ALTER TABLE mp_operator ADD COLUMN failed_nonce   TEXT    NOT NULL DEFAULT '';
ALTER TABLE mp_operator ADD COLUMN last_signin_at {int64} NOT NULL DEFAULT 0;
ALTER TABLE mp_operator ADD COLUMN directory_dn   TEXT    NOT NULL DEFAULT '';
)sql"},
    {5, "audit journals: how far the database holds each back office journal",
     R"sql(
CREATE TABLE mp_audit_journal (
  journal TEXT    PRIMARY KEY,
  seq     {int64} NOT NULL
){no_rowid};
)sql"},
};

// Each summary is written into an SQL string literal as it is.
constexpr bool WellFormed() {
  int expected = 1;
  for (const SchemaStep& step : kSteps) {
    if (step.version != expected++ || step.summary.find('\'') != std::string_view::npos)
      return false;
  }
  return true;
}
static_assert(WellFormed(), "schema steps are numbered 1, 2, 3 ... in order, summaries unquoted");

// The versions a database went through, one row per step (and one for the
// version a database made before they were recorded was found at).
constexpr char kVersionTable[] = R"sql(
CREATE TABLE mp_schema_version (
  version    INTEGER PRIMARY KEY,
  applied_at {int64} NOT NULL,
  summary    TEXT    NOT NULL
))sql";

// Each index ends in the rowid, so "ORDER BY so_date, so_nbr" needs no sort.
constexpr char kSqliteIndexes[] = R"sql(
CREATE INDEX IF NOT EXISTS mp_so_log_busi_date  ON mp_so_log (busi_code, so_date);
CREATE INDEX IF NOT EXISTS mp_so_log_phone_date ON mp_so_log (phone_id, so_date);
CREATE INDEX IF NOT EXISTS mp_so_log_date       ON mp_so_log (so_date);
CREATE INDEX IF NOT EXISTS mp_user_phone        ON mp_user (phone_id, mp_create_date);
CREATE INDEX IF NOT EXISTS mp_audit_op          ON mp_audit (op_id, at);
CREATE INDEX IF NOT EXISTS mp_audit_at          ON mp_audit (at);
CREATE INDEX IF NOT EXISTS mp_audit_subscriber  ON mp_audit (subscriber, at);
CREATE INDEX IF NOT EXISTS mp_audit_login       ON mp_audit (op_login, at);
)sql";

// The same, with the order number spelled out: "ORDER BY so_date, so_nbr"
// needs no sort here either.
constexpr char kPostgresIndexes[] = R"sql(
CREATE INDEX IF NOT EXISTS mp_so_log_busi_date  ON mp_so_log (busi_code, so_date, so_nbr);
CREATE INDEX IF NOT EXISTS mp_so_log_phone_date ON mp_so_log (phone_id, so_date, so_nbr);
CREATE INDEX IF NOT EXISTS mp_so_log_date       ON mp_so_log (so_date, so_nbr);
CREATE INDEX IF NOT EXISTS mp_user_phone        ON mp_user (phone_id, mp_create_date, serv_id);
CREATE INDEX IF NOT EXISTS mp_audit_op          ON mp_audit (op_id, at);
CREATE INDEX IF NOT EXISTS mp_audit_at          ON mp_audit (at, id);
CREATE INDEX IF NOT EXISTS mp_audit_subscriber  ON mp_audit (subscriber, at, id);
CREATE INDEX IF NOT EXISTS mp_audit_login       ON mp_audit (op_login, at, id);
)sql";

// How many columns named `column` (any, when empty) table `table` has: 0
// when there is no such table.
int64_t ColumnCount(SchemaConnection& db, std::string_view table, std::string_view column = {}) {
  std::string sql;
  if (db.dialect() == Dialect::kSqlite) {
    sql = "SELECT count(*) FROM pragma_table_info('" + std::string(table) + "')";
    if (!column.empty()) sql += " WHERE name = '" + std::string(column) + "'";
  } else {
    sql =
        "SELECT count(*) FROM information_schema.columns WHERE table_schema = current_schema() "
        "AND table_name = '" +
        std::string(table) + "'";
    if (!column.empty()) sql += " AND column_name = '" + std::string(column) + "'";
  }
  return db.Number(sql);
}

// The version of a database made before versions were recorded: its audit
// table tells (0: none of the back office's tables yet).
int UnrecordedVersion(SchemaConnection& db) {
  if (ColumnCount(db, "mp_audit") == 0) return 0;
  return ColumnCount(db, "mp_audit", "op_login") == 0 ? 1 : 2;
}

void RecordVersion(SchemaConnection& db, int version, std::string_view summary) {
  db.Exec("INSERT INTO mp_schema_version (version, applied_at, summary) VALUES (" +
          std::to_string(version) + ", " + std::to_string(NowStamp()) + ", '" +
          std::string(summary) + "')");
}

class SqliteSchemaConnection : public SchemaConnection {
 public:
  explicit SqliteSchemaConnection(Database& db) : cDb(db) {}
  Dialect dialect() const override { return Dialect::kSqlite; }
  void Exec(const std::string& sql) override { cDb.Exec(sql); }
  int64_t Number(const std::string& sql) override {
    Statement s = cDb.Prepare(sql);
    return s.Step() ? s.Int(0) : 0;
  }

 private:
  Database& cDb;
};

}  // namespace

std::span<const SchemaStep> SchemaSteps() {
  return kSteps;
}

int LatestSchemaVersion() {
  return std::size(kSteps);
}

const char* IndexesSql(Dialect dialect) {
  return dialect == Dialect::kSqlite ? kSqliteIndexes : kPostgresIndexes;
}

int UpgradeSchema(SchemaConnection& db, const std::string& where) {
  namespace log = backoffice::log;
  const int latest = LatestSchemaVersion();
  int found = 0;
  if (ColumnCount(db, "mp_schema_version") != 0) {
    found = static_cast<int>(db.Number("SELECT max(version) FROM mp_schema_version"));
  } else {
    found = UnrecordedVersion(db);
    db.Exec(ForDialect(kVersionTable, db.dialect()));
    if (found > 0) RecordVersion(db, found, "found without a recorded version");
  }
  if (found > latest) {
    throw DbError("the database " + where + " has schema version " + std::to_string(found) +
                  ", newer than this mpay-backoffice knows (" + std::to_string(latest) +
                  "): run the mpay-backoffice that upgraded it, or a newer one");
  }
  for (const SchemaStep& step : kSteps) {
    if (step.version <= found) continue;
    db.Exec(ForDialect(step.sql, db.dialect()));
    RecordVersion(db, step.version, step.summary);
    // A new database is not news: only the steps of an existing one are told.
    if (found > 0) {
      log::Write(log::Level::kInfo, "schema_upgrade_step",
                 {{"db", where},
                  {"from", step.version - 1},
                  {"to", step.version},
                  {"step", step.summary}});
    }
  }
  return found;
}

void UpgradeSchema(Database& db) {
  const char* file = sqlite3_db_filename(db.handle(), "main");
  const std::string where = file ? file : "";
  Transaction tx(db);
  SqliteSchemaConnection connection(db);
  const int found = UpgradeSchema(connection, where);
  tx.Commit();
  LogUpgraded(where, found);
}

void LogUpgraded(const std::string& where, int found) {
  namespace log = backoffice::log;
  if (found == 0 || found == LatestSchemaVersion()) return;
  log::Write(log::Level::kInfo, "schema_upgraded",
             {{"db", where}, {"from", found}, {"to", LatestSchemaVersion()}});
}

void CreateIndexes(Database& db) {
  db.Exec(IndexesSql(Dialect::kSqlite));
}

}  // namespace backoffice
