-- Version 2 as the SQLite store created it, from sign-in (c6f856f) until versions were recorded.
CREATE TABLE IF NOT EXISTS mp_so_log (
  so_nbr             INTEGER PRIMARY KEY,
  busi_code          INTEGER NOT NULL,
  phone_id           TEXT    NOT NULL,
  amount             INTEGER NOT NULL,
  mpp_transaction_id TEXT    NOT NULL,
  so_date            INTEGER NOT NULL,
  remark             TEXT    NOT NULL DEFAULT ''
);
CREATE TABLE IF NOT EXISTS mp_user (
  serv_id        INTEGER PRIMARY KEY,
  phone_id       TEXT    NOT NULL,
  mp_pwd         TEXT    NOT NULL DEFAULT '',
  reg_type       INTEGER NOT NULL,
  reg_nbr        TEXT    NOT NULL,
  fee_limit      INTEGER NOT NULL,
  mp_sts         INTEGER NOT NULL,
  mp_create_date INTEGER NOT NULL,
  mpp_trans_id   TEXT    NOT NULL,
  so_nbr         INTEGER NOT NULL,
  remark         TEXT    NOT NULL DEFAULT ''
);
CREATE TABLE IF NOT EXISTS mp_audit (
  id           INTEGER PRIMARY KEY,
  at           INTEGER NOT NULL,
  op_id        INTEGER NOT NULL,
  op_address   TEXT    NOT NULL,
  so_org_id    INTEGER NOT NULL,
  service_code TEXT    NOT NULL,
  conditions   TEXT    NOT NULL,
  row_count    INTEGER NOT NULL,
  result       INTEGER NOT NULL,
  op_login       TEXT    NOT NULL DEFAULT '',
  declared_op_id INTEGER NOT NULL DEFAULT 0,
  peer_address   TEXT    NOT NULL DEFAULT ''
);
CREATE TABLE IF NOT EXISTS mp_operator (
  op_id          INTEGER PRIMARY KEY,
  op_name        TEXT    NOT NULL DEFAULT '',
  login_name     TEXT    NOT NULL UNIQUE,
  reg_type       INTEGER NOT NULL DEFAULT 0,
  reg_nbr        TEXT    NOT NULL DEFAULT '',
  phone          TEXT    NOT NULL DEFAULT '',
  address        TEXT    NOT NULL DEFAULT '',
  post_code      INTEGER NOT NULL DEFAULT 0,
  type           INTEGER NOT NULL DEFAULT 0,
  op_status      INTEGER NOT NULL DEFAULT 1,
  lock_status    INTEGER NOT NULL DEFAULT 0,
  create_date    INTEGER NOT NULL DEFAULT 0,
  valid_date     INTEGER NOT NULL DEFAULT 0,
  expire_date    INTEGER NOT NULL DEFAULT 0,
  security_id    INTEGER NOT NULL DEFAULT 0,
  org_id         INTEGER NOT NULL DEFAULT 0,
  county_code    INTEGER NOT NULL DEFAULT 0,
  region_code    INTEGER NOT NULL DEFAULT 0,
  memo           TEXT    NOT NULL DEFAULT '',
  pwd_hash       TEXT    NOT NULL,
  failed_signins INTEGER NOT NULL DEFAULT 0,
  locked_until   INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE IF NOT EXISTS mp_operator_right (
  op_id        INTEGER NOT NULL,
  service_code TEXT    NOT NULL,
  PRIMARY KEY (op_id, service_code)
) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS mp_session (
  token_hash   TEXT    PRIMARY KEY,
  op_id        INTEGER NOT NULL,
  created_at   INTEGER NOT NULL,
  last_used_at INTEGER NOT NULL,
  ended        INTEGER NOT NULL DEFAULT 0
) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS mp_so_log_busi_date  ON mp_so_log (busi_code, so_date);
CREATE INDEX IF NOT EXISTS mp_so_log_phone_date ON mp_so_log (phone_id, so_date);
CREATE INDEX IF NOT EXISTS mp_so_log_date       ON mp_so_log (so_date);
CREATE INDEX IF NOT EXISTS mp_user_phone        ON mp_user (phone_id, mp_create_date);
CREATE INDEX IF NOT EXISTS mp_audit_op          ON mp_audit (op_id, at);
