#include "backoffice/sqlite_db.h"

#include <sqlite3.h>

#include <utility>

namespace backoffice {
namespace {

[[noreturn]] void Fail(sqlite3* db, std::string_view what) {
  throw DbError(std::string(what) + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
}

}  // namespace

Statement::Statement(sqlite3* db, std::string_view sql) {
  if (sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                         &stmt_, nullptr) != SQLITE_OK) {
    Fail(db, "prepare");
  }
}

Statement::~Statement() {
  sqlite3_finalize(stmt_);
}

Statement::Statement(Statement&& other) noexcept : stmt_(std::exchange(other.stmt_, nullptr)) {}

Statement& Statement::operator=(Statement&& other) noexcept {
  if (this != &other) {
    sqlite3_finalize(stmt_);
    stmt_ = std::exchange(other.stmt_, nullptr);
  }
  return *this;
}

void Statement::Reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

void Statement::Bind(int index, int64_t value) {
  if (sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK) Fail(sqlite3_db_handle(stmt_), "bind");
}

void Statement::Bind(int index, std::string_view text) {
  if (sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                        SQLITE_TRANSIENT) != SQLITE_OK) {
    Fail(sqlite3_db_handle(stmt_), "bind");
  }
}

bool Statement::Step() {
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  Fail(sqlite3_db_handle(stmt_), "step");
}

void Statement::Run() {
  while (Step()) {
  }
  sqlite3_reset(stmt_);
}

int64_t Statement::Int(int column) const {
  return sqlite3_column_int64(stmt_, column);
}

std::string_view Statement::Text(int column) const {
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
  int n = sqlite3_column_bytes(stmt_, column);
  return p ? std::string_view(p, static_cast<size_t>(n)) : std::string_view();
}

Database::Database(const std::string& path, Mode mode) {
  int flags = SQLITE_OPEN_NOMUTEX;
  switch (mode) {
    case Mode::kReadOnly:
      flags |= SQLITE_OPEN_READONLY;
      break;
    case Mode::kReadWrite:
      flags |= SQLITE_OPEN_READWRITE;
      break;
    case Mode::kCreate:
      flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
      break;
  }
  if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
    std::string msg = "open " + path + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
    sqlite3_close(db_);
    db_ = nullptr;
    throw DbError(msg);
  }
  sqlite3_busy_timeout(db_, 10000);
  if (mode != Mode::kReadOnly) {
    Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
  }
}

Database::~Database() {
  sqlite3_close_v2(db_);
}

void Database::Exec(std::string_view sql) {
  std::string text(sql);
  char* err = nullptr;
  if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::string msg = err ? err : sqlite3_errmsg(db_);
    sqlite3_free(err);
    throw DbError("exec: " + msg);
  }
}

Transaction::Transaction(Database& db) : db_(db) {
  db_.Exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
  if (!done_) {
    try {
      db_.Exec("ROLLBACK");
    } catch (const DbError&) {
      // nothing more to undo
    }
  }
}

void Transaction::Commit() {
  db_.Exec("COMMIT");
  done_ = true;
}

}  // namespace backoffice
