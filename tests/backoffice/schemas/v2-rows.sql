-- Rows for the tables and columns that version 2 added (load v1-rows.sql
-- first, the same way).
INSERT INTO mp_audit (at, op_id, op_address, so_org_id, service_code, conditions, row_count, result, op_login, declared_op_id, peer_address) VALUES
  (20261130120000, 7, '10.1.2.4', 11, 'BABOMOMP', 'SO_NBR=310000000001', 1, 0, 'demo', 0, 'tcp:127.0.0.1:51000'),
  (20261130120001, 7, '10.1.2.4', 11, 'BABOMOMP', 'BUSI_CODE=1336', 0, 1010, 'demo', 1001, 'nats:_INBOX.x');
INSERT INTO mp_operator (op_id, op_name, login_name, reg_type, reg_nbr, phone, address, post_code, type, op_status, lock_status, create_date, valid_date, expire_date, security_id, org_id, county_code, region_code, memo, pwd_hash, failed_signins, locked_until) VALUES
  (7, '演示操作员', 'demo', 1, '110101199003071234', '13800138000', '北京市', 100000, 1, 1, 0, 20260101000000, 20260101000000, 20301231235959, 3, 11, 110101, 110000, '', '$argon2id$v=19$m=65536,t=2,p=1$c2FsdHNhbHQ$aGFzaGhhc2hoYXNo', 0, 0),
  (8, '', 'locked', 0, '', '', '', 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 'left', 'x', 3, 1780000600);
INSERT INTO mp_operator_right (op_id, service_code) VALUES (7, 'BABOMOMP'), (7, 'BACUQQMP'), (8, 'BABOMOMP');
INSERT INTO mp_session (token_hash, op_id, created_at, last_used_at, ended) VALUES
  ('0000000000000000000000000000000000000000000000000000000000000000', 7, 1780000000, 1780000300, 0),
  ('ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff', 8, 1780000000, 1780000000, 1);
