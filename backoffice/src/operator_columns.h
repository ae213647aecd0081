#pragma once

// The operator record's fields as mp_operator's columns, for every store:
// field OP_NAME is column op_name, date-times are yyyymmddhhmmss integers,
// and the password field has no column. Driven by the record's field table,
// so that a field added to the record needs no edit here.

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "backoffice/authenticator.h"
#include "backoffice/operator_store.h"
#include "backoffice/protocol.h"
#include "backoffice/reply_rows.h"
#include "backoffice/sql_dialect.h"
#include "records/msysmgntdef.h"

namespace backoffice::operator_columns {

using MSysmgntDef::SOperator;

constexpr int kPasswordField = 9;
static_assert(std::string_view(SOperator::kFieldNames[kPasswordField]) == "OP_PASSWD");

// The mask bits of every field with a column.
constexpr uint64_t kStoredFields =
    ((uint64_t{1} << SOperator::kFieldCount) - 1) & ~(uint64_t{1} << kPasswordField);

// Field `field`'s column name.
std::string ColumnOf(int field);
// "op_id, op_name, ...": every column, in field order.
std::string Columns();

// Hands each stored field to `put`, in column order, as int64_t or
// std::string_view.
template <class Sink>
void Put(const SOperator& r, Sink&& put) {
  PutFields(r, put, uint64_t{1} << kPasswordField);
}

// Hands the values of an account's new row (kInsert's parameters) to `put`.
template <class Sink>
void PutAccount(const SOperator& record, const OperatorAccount& account, Sink&& put) {
  Put(record, put);
  put(std::string_view(account.passwordHash));
  put(int64_t{account.failedSignIns});
  put(account.lockedUntil);
  put(std::string_view(account.failedNonce));
  put(account.lastSignInAt);
  put(std::string_view(account.directoryDn));
}

// Reads each stored field from `row` (Int(column) and Text(column)) from
// column `first` on; returns the next column. Every stored field's mask bit
// is set.
template <class Row>
int Get(const Row& row, int first, SOperator& r) {
  int c = first;
  SOperator::ForEachField(r, [&](int k, auto& field) {
    using T = std::decay_t<decltype(field)>;
    if (k == kPasswordField) return true;
    if constexpr (std::is_same_v<T, std::string>) {
      field.assign(row.Text(c++));
    } else if constexpr (std::is_same_v<T, QRSDateTime>) {
      field = FromStamp(row.Int(c++));
    } else {
      field = static_cast<T>(row.Int(c++));
    }
    return true;
  });
  r.Marker = r.UsedMarker = kStoredFields;
  return c;
}

}  // namespace backoffice::operator_columns

namespace backoffice::operator_columns {

// The statements of both operator stores, each written once the SQLite way
// (sql_dialect.h gives PostgreSQL's). Their parameters, ?1 ...:
enum class Sql {
  kByLogin,          // login          -> an account (ReadAccount)
  kById,             // op_id          -> an account
  kAll,              //                -> every account, by op_id
  kNextId,           //                -> the next free op_id
  kInsert,           // PutAccount's values
  kInsertRight,      // op_id, service_code (one already there is kept)
  kSetHash,          // login, pwd_hash
  kEndAll,           // login: ends the operator's sessions
  kLock,             // login
  kUnlock,           // login: also forgets the failed sign-ins
  kFailed,           // op_id, failed_signins, locked_until, failed_nonce
  kSignedIn,         // op_id, last_signin_at: forgets the failed sign-ins
  kStartCounting,    // now: last_signin_at of the accounts that have none
  kLockUnused,       // last_signin_at: locks the local accounts unused since
  kUpdateDirectory,  // login, op_name, org_id, op_status, directory_dn (a directory operator's)
  kDeleteRights,     // op_id
  kNewSession,       // token_hash, op_id, created_at, last_used_at, ended (one there is kept)
  kSession,          // token_hash     -> a session (ReadSession)
  kSessionAccount,   // token_hash     -> a session with its account (ReadSessionAccount)
  kTouch,            // token_hash, last_used_at (moved forward only)
  kEnd,              // token_hash
};
inline constexpr int kSqlCount = static_cast<int>(Sql::kEnd) + 1;

// Statement `which` in `dialect`; its name, for prepared statements.
const std::string& Text(Sql which, Dialect dialect);
const char* Name(Sql which);

// The rows those statements answer with, read from `row` (Int(column) and
// Text(column)), whatever the store.
template <class Row>
void ReadAccount(const Row& row, OperatorAccount& out) {
  out = OperatorAccount();
  int c = Get(row, 0, out.record);
  out.passwordHash.assign(row.Text(c++));
  out.failedSignIns = static_cast<int>(row.Int(c++));
  out.lockedUntil = row.Int(c++);
  out.failedNonce.assign(row.Text(c++));
  out.lastSignInAt = row.Int(c++);
  out.directoryDn.assign(row.Text(c++));
  out.rights = SplitRights(row.Text(c));
}

template <class Row>
void ReadSession(const Row& row, int first, std::string_view tokenHash, SessionRecord& out) {
  out.tokenHash.assign(tokenHash);
  out.opId = static_cast<int32_t>(row.Int(first));
  out.createdAt = row.Int(first + 1);
  out.lastUsedAt = row.Int(first + 2);
  out.ended = row.Int(first + 3) != 0;
}

// The account comes without its password hash.
template <class Row>
void ReadSessionAccount(const Row& row, std::string_view tokenHash, SessionRecord& session,
                        OperatorAccount& account) {
  account = OperatorAccount();
  int c = Get(row, 0, account.record);
  account.failedSignIns = static_cast<int>(row.Int(c++));
  account.lockedUntil = row.Int(c++);
  account.rights = SplitRights(row.Text(c++));
  ReadSession(row, c, tokenHash, session);
}

}  // namespace backoffice::operator_columns
