#pragma once

#include <span>
#include <string>
#include <string_view>

#include "backoffice/sql_dialect.h"
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
// mp_audit    who queried what and when, and about which subscriber (the
//             phone number condition); written by the audit writer only,
//             each row chained to the one before (audit_chain.h).
// mp_audit_checkpoint  signed checkpoints of that chain.
// mp_audit_journal  how far the audit holds each back office's journal
//             (audit_journal.h).
// mp_operator the operators who may sign in: the operator record's fields
//             (columns named after them, date-times as yyyymmddhhmmss), the
//             password only as its Argon2id hash, failed sign-ins (and the
//             nonce hash of the last, so that its repeat counts once), the
//             last sign-in (Unix seconds) and, for an operator of the
//             directory, its entry's name (directory_dn; no local password).
// mp_operator_right  the service codes each operator may call.
// mp_session  open and ended sessions, keyed by a hash of the token.
// mp_schema_version  the schema versions the database went through, one row
//             each (version, applied_at yyyymmddhhmmss, summary); the
//             highest is the database's version.
//
// The schema is versioned: a database records its version, and a back
// office brings an older one to its own version step by step (all steps in
// one transaction), and refuses a newer one.
namespace backoffice {

// One step of the schema: the statements that turn version `version - 1`
// into `version`, with the placeholders of sql_dialect.h.
struct SchemaStep {
  int version;
  std::string_view summary;  // one line, for the logs and mp_schema_version
  std::string_view sql;
};

// Every step, in order: version k is made by step k.
std::span<const SchemaStep> SchemaSteps();
// The version this program makes and reads.
int LatestSchemaVersion();

// What an upgrade needs of a store's connection.
class SchemaConnection {
 public:
  virtual ~SchemaConnection() = default;
  virtual Dialect dialect() const = 0;
  // Runs statements that return no rows. Throws DbError.
  virtual void Exec(const std::string& sql) = 0;
  // The integer in the first column of the first row of `sql`; 0 when
  // there is no row or it is null. Throws DbError.
  virtual int64_t Number(const std::string& sql) = 0;
};

// Brings the database of `db` to LatestSchemaVersion(), step by step, each
// step logged with `where` (the database's name, no password). The caller
// holds the transaction, so that all the steps happen or none (and, on
// PostgreSQL, the schema lock, so that instances starting together upgrade
// once). Returns the version found (0: a database with none of the tables).
// Throws DbError when a step fails, and for a database newer than this
// program, which it leaves as it is.
int UpgradeSchema(SchemaConnection& db, const std::string& where);
// After the commit: logs the upgrade from `found`, if there was one.
void LogUpgraded(const std::string& where, int found);

// The CREATE statements for the indexes that are missing: one for every
// condition the query window can send (service-order number, business code
// and time, phone number and time, time alone) and users by phone number.
// They are not versioned: an index added here is made at the next start.
// Separate from the tables, so that a bulk load builds them once, after the
// rows.
const char* IndexesSql(Dialect dialect);

// SQLite: UpgradeSchema in one immediate transaction (an instance starting
// at the same time waits for it, then finds the database upgraded).
void UpgradeSchema(Database& db);
void CreateIndexes(Database& db);

}  // namespace backoffice
