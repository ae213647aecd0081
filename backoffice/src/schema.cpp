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
  peer_address   TEXT    NOT NULL DEFAULT ''
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
)sql";

// The same, with the order number spelled out: "ORDER BY so_date, so_nbr"
// needs no sort here either.
constexpr char kPostgresIndexes[] = R"sql(
CREATE INDEX IF NOT EXISTS mp_so_log_busi_date  ON mp_so_log (busi_code, so_date, so_nbr);
CREATE INDEX IF NOT EXISTS mp_so_log_phone_date ON mp_so_log (phone_id, so_date, so_nbr);
CREATE INDEX IF NOT EXISTS mp_so_log_date       ON mp_so_log (so_date, so_nbr);
CREATE INDEX IF NOT EXISTS mp_user_phone        ON mp_user (phone_id, mp_create_date, serv_id);
CREATE INDEX IF NOT EXISTS mp_audit_op          ON mp_audit (op_id, at);
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

void CreateTables(Database& db) {
  db.Exec(TablesSql(Dialect::kSqlite));
  // Databases made before sign-in have an audit table without these.
  bool hasLogin = false;
  Statement s = db.Prepare("SELECT name FROM pragma_table_info('mp_audit')");
  while (s.Step()) hasLogin = hasLogin || s.Text(0) == "op_login";
  if (hasLogin) return;
  db.Exec(R"sql(
ALTER TABLE mp_audit ADD COLUMN op_login       TEXT    NOT NULL DEFAULT '';
ALTER TABLE mp_audit ADD COLUMN declared_op_id INTEGER NOT NULL DEFAULT 0;
ALTER TABLE mp_audit ADD COLUMN peer_address   TEXT    NOT NULL DEFAULT '';
)sql");
}

void CreateIndexes(Database& db) {
  db.Exec(IndexesSql(Dialect::kSqlite));
}

}  // namespace backoffice
