#pragma once

// The two SQL dialects the stores speak. Every statement is written once,
// the SQLite way, with what differs as placeholders:
//   ?1, ?2 ...    parameters (PostgreSQL: $1, $2 ...)
//   {int64}       SQLite's integer, PostgreSQL's bigint
//   {int16}       integer, smallint
//   {serial_key}  a generated key: SQLite's rowid, PostgreSQL's identity
//   {no_rowid}    SQLite keeps the table in its primary key's tree
//   {string_agg}  group_concat, string_agg (texts joined with a separator)
//   {phone_condition}  the phone number of an audit row's conditions text
// ForDialect writes them out for one of the two.

#include <string>
#include <string_view>

namespace backoffice {

enum class Dialect { kSqlite, kPostgres };

std::string ForDialect(std::string_view sql, Dialect dialect);

}  // namespace backoffice
