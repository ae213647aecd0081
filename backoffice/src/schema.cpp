#include "backoffice/schema.h"

#include <string_view>

namespace backoffice {
namespace {

// The tables of both stores, with the column types that differ written as
// {int64} (SQLite's integer, PostgreSQL's bigint), {int16} (integer,
// smallint), {serial_key} (the audit's generated key: SQLite's rowid,
// PostgreSQL's identity) and {no_rowid} (SQLite keeps these tables in their
// primary key's tree).
constexpr char kTables[] = R"sql(
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
  result       INTEGER NOT NULL,
  op_login       TEXT    NOT NULL DEFAULT '',
  declared_op_id INTEGER NOT NULL DEFAULT 0,
  peer_address   TEXT    NOT NULL DEFAULT '',
  subscriber     TEXT    NOT NULL DEFAULT '',
  prev_hash      TEXT,
  row_hash       TEXT
);
CREATE TABLE IF NOT EXISTS mp_audit_checkpoint (
  seq       {serial_key},
  last_id   {int64} NOT NULL,
  last_hash TEXT    NOT NULL,
  at        {int64} NOT NULL,
  signer    TEXT    NOT NULL,
  signature TEXT    NOT NULL
);
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
)sql";

struct TypeName {
  std::string_view sPlaceholder;
  std::string_view sSqlite;
  std::string_view sPostgres;
};

constexpr TypeName kTypeNames[] = {
    {"{int64}", "INTEGER", "BIGINT"},
    {"{int16}", "INTEGER", "SMALLINT"},
    {"{serial_key}", "INTEGER PRIMARY KEY", "BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY"},
    {"{no_rowid}", " WITHOUT ROWID", ""},
};

std::string ExpandTables(Dialect dialect) {
  std::string sql = kTables;
  for (const TypeName& type : kTypeNames) {
    const std::string_view to = dialect == Dialect::kSqlite ? type.sSqlite : type.sPostgres;
    for (std::size_t at = sql.find(type.sPlaceholder); at != std::string::npos;
         at = sql.find(type.sPlaceholder, at + to.size())) {
      sql.replace(at, type.sPlaceholder.size(), to);
    }
  }
  return sql;
}

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
CREATE INDEX IF NOT EXISTS mp_audit_op          ON mp_audit (op_id, at, id);
CREATE INDEX IF NOT EXISTS mp_audit_at          ON mp_audit (at, id);
CREATE INDEX IF NOT EXISTS mp_audit_subscriber  ON mp_audit (subscriber, at, id);
CREATE INDEX IF NOT EXISTS mp_audit_login       ON mp_audit (op_login, at, id);
)sql";

}  // namespace

const std::string& TablesSql(Dialect dialect) {
  static const std::string sqlite = ExpandTables(Dialect::kSqlite);
  static const std::string postgres = ExpandTables(Dialect::kPostgres);
  return dialect == Dialect::kSqlite ? sqlite : postgres;
}

const char* IndexesSql(Dialect dialect) {
  return dialect == Dialect::kSqlite ? kSqliteIndexes : kPostgresIndexes;
}

const char* AuditUpgradeSql(Dialect dialect) {
  // The subscriber of the rows written before it had a column: the
  // PHONE_ID=... of the conditions text. The hashes stay NULL: those rows
  // were never chained.
  return dialect == Dialect::kSqlite ? R"sql(
ALTER TABLE mp_audit ADD COLUMN subscriber TEXT NOT NULL DEFAULT '';
ALTER TABLE mp_audit ADD COLUMN prev_hash  TEXT;
ALTER TABLE mp_audit ADD COLUMN row_hash   TEXT;
UPDATE mp_audit SET subscriber =
  substr(substr(conditions, instr(conditions, 'PHONE_ID=') + 9), 1,
         instr(substr(conditions, instr(conditions, 'PHONE_ID=') + 9) || ' ', ' ') - 1)
  WHERE instr(conditions, 'PHONE_ID=') > 0;
)sql"
                                     : R"sql(
DO $$ BEGIN
IF NOT EXISTS (SELECT 1 FROM information_schema.columns
               WHERE table_schema = current_schema() AND table_name = 'mp_audit'
                 AND column_name = 'row_hash') THEN
  ALTER TABLE mp_audit ADD COLUMN subscriber TEXT NOT NULL DEFAULT '';
  ALTER TABLE mp_audit ADD COLUMN prev_hash  TEXT;
  ALTER TABLE mp_audit ADD COLUMN row_hash   TEXT;
  UPDATE mp_audit SET subscriber = substring(conditions from 'PHONE_ID=([^ ]*)')
    WHERE conditions LIKE '%PHONE_ID=%';
END IF;
END $$;
)sql";
}

void CreateTables(Database& db) {
  db.Exec(TablesSql(Dialect::kSqlite));
  bool hasLogin = false, hasChain = false;
  Statement s = db.Prepare("SELECT name FROM pragma_table_info('mp_audit')");
  while (s.Step()) {
    hasLogin = hasLogin || s.Text(0) == "op_login";
    hasChain = hasChain || s.Text(0) == "row_hash";
  }
  s.Reset();
  // Databases made before sign-in have an audit table without these.
  if (!hasLogin) {
    db.Exec(R"sql(
ALTER TABLE mp_audit ADD COLUMN op_login       TEXT    NOT NULL DEFAULT '';
ALTER TABLE mp_audit ADD COLUMN declared_op_id INTEGER NOT NULL DEFAULT 0;
ALTER TABLE mp_audit ADD COLUMN peer_address   TEXT    NOT NULL DEFAULT '';
)sql");
  }
  if (!hasChain) {
    Transaction tx(db);
    db.Exec(AuditUpgradeSql(Dialect::kSqlite));
    tx.Commit();
  }
}

void CreateIndexes(Database& db) {
  db.Exec(IndexesSql(Dialect::kSqlite));
}

}  // namespace backoffice
