#pragma once

#include <string>

#include "backoffice/sqlite_db.h"

// The back office's tables, the same in both stores (schema.cpp writes them
// once, with the column types that differ between the two as placeholders).
//
// mp_so_log   one row per micro-payment service order; so_nbr is the key
//             (SQLite's rowid). so_date is the acceptance time as the integer
//             yyyymmddhhmmss, shown to the operator as the row's time stamp.
//             Texts are GBK (PostgreSQL holds them in the database's encoding
//             and converts: its clients speak GBK).
// mp_user     micro-payment users; several rows per phone_id (history,
//             deleted and current). mp_pwd holds the transaction password and
//             never leaves the service.
// mp_audit    who queried what and when; written by the audit writer only,
//             each row chained to the one before (audit_chain.h).
// mp_audit_checkpoint  signed checkpoints of that chain.
// mp_operator the operators who may sign in: the operator record's fields
//             (columns named after them, date-times as yyyymmddhhmmss), the
//             password only as its Argon2id hash, and failed sign-ins.
// mp_operator_right  the service codes each operator may call.
// mp_session  open and ended sessions, keyed by a hash of the token.
namespace backoffice {

enum class Dialect { kSqlite, kPostgres };

// The CREATE statements for the tables that are missing, and for the indexes
// that are missing: one for every condition the query window can send
// (service-order number, business code and time, phone number and time, time
// alone) and users by phone number. Indexes are separate so that a bulk load
// can build them once, after the rows.
const std::string& TablesSql(Dialect dialect);
const char* IndexesSql(Dialect dialect);

// The audit table of an older database brought to the current columns: the
// subscriber, filled from the conditions text, and the chain's hashes.
// PostgreSQL's may run on any table; SQLite's only on one without them.
const char* AuditUpgradeSql(Dialect dialect);

// SQLite. CreateTables also adds the audit columns of sign-in to a table
// made before them.
void CreateTables(Database& db);
void CreateIndexes(Database& db);

}  // namespace backoffice
