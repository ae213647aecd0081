-- Rows for the schema of version 1 (and later), as the back office and the
-- loaders of the log and user tables wrote them. The texts are written here
-- in UTF-8; the back office stores them as GBK, so load the file converted:
--   iconv -f UTF-8 -t GBK v1-rows.sql | sqlite3 FILE
--   iconv -f UTF-8 -t GBK v1-rows.sql | PGCLIENTENCODING=GBK psql URI
INSERT INTO mp_so_log (so_nbr, busi_code, phone_id, amount, mpp_transaction_id, so_date, remark) VALUES
  (310000000000, 1336, '13800138000', 50000, 'MP20251201080000000000', 20251201080000, '现金存款'),
  (310000000001, 1337, '13800138000', -15000, 'MP20251201093015000001', 20251201093015, '取款转话费'),
  (310000000002, 1332, '15912345678', 0, 'MP20251202235959000002', 20251202235959, '挂失冻结'),
  (310000000003, 1335, '18688886666', 0, 'MP20260229120000000003', 20260229120000, '改号：原号码注销'),
  (310000000004, 1336, '13800138000', 2147483647, 'MP20261130120000000004', 20261130120000, ''),
  (9223372036854775807, 1334, '1', -2147483648, '', 19000101000000, 'x''y"z\');
INSERT INTO mp_user (serv_id, phone_id, mp_pwd, reg_type, reg_nbr, fee_limit, mp_sts, mp_create_date, mpp_trans_id, so_nbr, remark) VALUES
  (8610000000, '13800138000', '$argon2id$v=19$m=65536,t=2,p=1$c2FsdHNhbHQ$aGFzaGhhc2hoYXNo', 1, '11010119900307123X', 100000, 0, 20230105101010, 'MPP202301051010101234', 309999000001, '营业厅开户'),
  (8610000001, '13800138000', '', 2, 'E12345678', 50000, 1, 20240105101010, 'MPP202401051010105678', 309999000002, ''),
  (8610000002, '15912345678', 'hash', 13, '110108000000016', 10000, 2, 20240606060606, 'MPP202406060606060001', 309999000003, '客户经理代办');
INSERT INTO mp_audit (at, op_id, op_address, so_org_id, service_code, conditions, row_count, result) VALUES
  (20251201090000, 1001, '10.1.2.3', 11, 'BABOMOMP', 'PHONE_ID=13800138000 BEGIN=20251201000000', 3, 0),
  (20251201090001, 1001, '10.1.2.3', 11, 'BACUQQMP', 'PHONE_ID=13800138000', 2, 0),
  (20251201090002, 0, '', 0, 'BABOMOMP', '', 0, 1003);
