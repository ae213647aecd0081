-- Version 1 as the SQLite store created it, from the first back office (113a98a) up to sign-in (c6f856f).
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
  result       INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS mp_so_log_busi_date  ON mp_so_log (busi_code, so_date);
CREATE INDEX IF NOT EXISTS mp_so_log_phone_date ON mp_so_log (phone_id, so_date);
CREATE INDEX IF NOT EXISTS mp_so_log_date       ON mp_so_log (so_date);
CREATE INDEX IF NOT EXISTS mp_user_phone        ON mp_user (phone_id, mp_create_date);
CREATE INDEX IF NOT EXISTS mp_audit_op          ON mp_audit (op_id, at);
