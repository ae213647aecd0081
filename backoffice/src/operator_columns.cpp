#include "operator_columns.h"

#include <array>
#include <cctype>
#include <cstdlib>

namespace backoffice::operator_columns {

std::string ColumnOf(int field) {
  std::string name = SOperator::kFieldNames[field];
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

std::string Columns() {
  std::string list;
  for (int k = 0; k < SOperator::kFieldCount; ++k) {
    if (k == kPasswordField) continue;
    if (!list.empty()) list += ", ";
    list += ColumnOf(k);
  }
  return list;
}

}  // namespace backoffice::operator_columns

namespace backoffice::operator_columns {
namespace {

// An account's own columns after the record's, as PutAccount and ReadAccount
// take them.
constexpr char kAccountColumns[] =
    "pwd_hash, failed_signins, locked_until, failed_nonce, last_signin_at, directory_dn";
constexpr int kAccountColumnCount = 6;

// The rights of the operator row in scope, "CODE,CODE", as one column.
constexpr char kRights[] =
    "COALESCE((SELECT {string_agg}(service_code, ',') FROM mp_operator_right AS r "
    "WHERE r.op_id = mp_operator.op_id), '')";

std::string SelectAccounts() {
  return "SELECT " + Columns() + ", " + kAccountColumns + ", " + kRights + " FROM mp_operator ";
}

std::string InsertOperator() {
  std::string values;
  for (int k = 1; k <= SOperator::kFieldCount - 1 + kAccountColumnCount; ++k) {
    values += (k > 1 ? ", ?" : "?") + std::to_string(k);
  }
  return "INSERT INTO mp_operator (" + Columns() + ", " + kAccountColumns + ") VALUES (" + values +
         ")";
}

struct Statement {
  Sql which;
  const char* name;
  std::string sql;
};

std::array<Statement, kSqlCount> MakeStatements() {
  return {{
      {Sql::kByLogin, "by_login", SelectAccounts() + "WHERE login_name = ?1"},
      {Sql::kById, "by_id", SelectAccounts() + "WHERE op_id = ?1"},
      {Sql::kAll, "all", SelectAccounts() + "ORDER BY op_id"},
      {Sql::kNextId, "next_id", "SELECT COALESCE(MAX(op_id), 0) + 1 FROM mp_operator"},
      {Sql::kInsert, "insert", InsertOperator()},
      {Sql::kInsertRight, "insert_right",
       "INSERT INTO mp_operator_right (op_id, service_code) VALUES (?1, ?2) "
       "ON CONFLICT DO NOTHING"},
      {Sql::kSetHash, "set_hash", "UPDATE mp_operator SET pwd_hash = ?2 WHERE login_name = ?1"},
      {Sql::kEndAll, "end_all",
       "UPDATE mp_session SET ended = 1 WHERE op_id = "
       "(SELECT op_id FROM mp_operator WHERE login_name = ?1)"},
      {Sql::kLock, "lock", "UPDATE mp_operator SET lock_status = 1 WHERE login_name = ?1"},
      {Sql::kUnlock, "unlock",
       "UPDATE mp_operator SET lock_status = 0, failed_signins = 0, locked_until = 0 "
       "WHERE login_name = ?1"},
      {Sql::kFailed, "failed",
       "UPDATE mp_operator SET failed_signins = ?2, locked_until = ?3, failed_nonce = ?4 "
       "WHERE op_id = ?1"},
      {Sql::kSignedIn, "signed_in",
       "UPDATE mp_operator SET failed_signins = 0, locked_until = 0, failed_nonce = '', "
       "last_signin_at = ?2 WHERE op_id = ?1"},
      {Sql::kStartCounting, "start_counting",
       "UPDATE mp_operator SET last_signin_at = ?1 WHERE last_signin_at = 0"},
      {Sql::kLockUnused, "lock_unused",
       "UPDATE mp_operator SET lock_status = 1 WHERE lock_status = 0 AND directory_dn = '' "
       "AND last_signin_at < ?1"},
      {Sql::kUpdateDirectory, "update_directory",
       "UPDATE mp_operator SET op_name = ?2, org_id = ?3, op_status = ?4, directory_dn = ?5 "
       "WHERE login_name = ?1 AND directory_dn <> ''"},
      {Sql::kDeleteRights, "delete_rights", "DELETE FROM mp_operator_right WHERE op_id = ?1"},
      {Sql::kNewSession, "new_session",
       "INSERT INTO mp_session (token_hash, op_id, created_at, last_used_at, ended) "
       "VALUES (?1, ?2, ?3, ?4, ?5) ON CONFLICT DO NOTHING"},
      {Sql::kSession, "session",
       "SELECT op_id, created_at, last_used_at, ended FROM mp_session WHERE token_hash = ?1"},
      {Sql::kSessionAccount, "session_account",
       "SELECT " + Columns() + ", failed_signins, locked_until, " + kRights +
           ", s_op, s_created, s_last_used, s_ended FROM (SELECT op_id AS s_op, created_at AS "
           "s_created, last_used_at AS s_last_used, ended AS s_ended FROM mp_session WHERE "
           "token_hash = ?1) AS s JOIN mp_operator ON mp_operator.op_id = s_op"},
      {Sql::kTouch, "touch",
       "UPDATE mp_session SET last_used_at = ?2 WHERE token_hash = ?1 AND last_used_at < ?2"},
      {Sql::kEnd, "end", "UPDATE mp_session SET ended = 1 WHERE token_hash = ?1"},
  }};
}

const std::array<Statement, kSqlCount>& Statements() {
  static const std::array<Statement, kSqlCount> statements = [] {
    auto all = MakeStatements();
    for (int k = 0; k < kSqlCount; ++k) {
      if (static_cast<int>(all[static_cast<std::size_t>(k)].which) != k) std::abort();
    }
    return all;
  }();
  return statements;
}

}  // namespace

const std::string& Text(Sql which, Dialect dialect) {
  static const auto texts = [] {
    std::array<std::array<std::string, kSqlCount>, 2> all;
    for (const Statement& s : Statements()) {
      const auto k = static_cast<std::size_t>(s.which);
      all[0][k] = ForDialect(s.sql, Dialect::kSqlite);
      all[1][k] = ForDialect(s.sql, Dialect::kPostgres);
    }
    return all;
  }();
  return texts[dialect == Dialect::kSqlite ? 0 : 1][static_cast<std::size_t>(which)];
}

const char* Name(Sql which) {
  return Statements()[static_cast<std::size_t>(which)].name;
}

}  // namespace backoffice::operator_columns
