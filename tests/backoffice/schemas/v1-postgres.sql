-- Version 1 as the PostgreSQL store created it, from its first commit (5a396a9) up to sign-in (c6f856f).
CREATE TABLE IF NOT EXISTS mp_so_log (
  so_nbr             BIGINT  PRIMARY KEY,
  busi_code          INTEGER NOT NULL,
  phone_id           TEXT    NOT NULL,
  amount             INTEGER NOT NULL,
  mpp_transaction_id TEXT    NOT NULL,
  so_date            BIGINT  NOT NULL,
  remark             TEXT    NOT NULL DEFAULT ''
);
CREATE TABLE IF NOT EXISTS mp_user (
  serv_id        BIGINT  PRIMARY KEY,
  phone_id       TEXT    NOT NULL,
  mp_pwd         TEXT    NOT NULL DEFAULT '',
  reg_type       INTEGER NOT NULL,
  reg_nbr        TEXT    NOT NULL,
  fee_limit      INTEGER NOT NULL,
  mp_sts         INTEGER NOT NULL,
  mp_create_date BIGINT  NOT NULL,
  mpp_trans_id   TEXT    NOT NULL,
  so_nbr         BIGINT  NOT NULL,
  remark         TEXT    NOT NULL DEFAULT ''
);
CREATE TABLE IF NOT EXISTS mp_audit (
  id           BIGINT  GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  at           BIGINT  NOT NULL,
  op_id        INTEGER NOT NULL,
  op_address   TEXT    NOT NULL,
  so_org_id    INTEGER NOT NULL,
  service_code TEXT    NOT NULL,
  conditions   TEXT    NOT NULL,
  row_count    BIGINT  NOT NULL,
  result       INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS mp_so_log_busi_date  ON mp_so_log (busi_code, so_date, so_nbr);
CREATE INDEX IF NOT EXISTS mp_so_log_phone_date ON mp_so_log (phone_id, so_date, so_nbr);
CREATE INDEX IF NOT EXISTS mp_so_log_date       ON mp_so_log (so_date, so_nbr);
CREATE INDEX IF NOT EXISTS mp_user_phone        ON mp_user (phone_id, mp_create_date, serv_id);
CREATE INDEX IF NOT EXISTS mp_audit_op          ON mp_audit (op_id, at);
