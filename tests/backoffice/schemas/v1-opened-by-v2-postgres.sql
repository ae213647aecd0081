-- Turns a database of version 2 (schema and rows) into what a PostgreSQL
-- database of version 1 became when a back office of version 2 opened it
-- before versions were recorded: that back office made the sign-in tables,
-- but never added the audit's sign-in columns.
ALTER TABLE mp_audit DROP COLUMN op_login;
ALTER TABLE mp_audit DROP COLUMN declared_op_id;
ALTER TABLE mp_audit DROP COLUMN peer_address;
