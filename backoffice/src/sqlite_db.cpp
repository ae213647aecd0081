#include "backoffice/sqlite_db.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <utility>

namespace backoffice {
namespace {

[[noreturn]] void Fail(sqlite3* db, std::string_view what) {
  throw DbError(std::string(what) + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
}

// SQLite creates the files beside a database (-wal, -shm, journals) with the
// database's own mode, which it sets with fchmod past the umask: beside a
// database that others may read they would be readable too, WAL pages and
// all. Its unix VFS takes replacements for its system calls: these two drop
// every bit for group and others from the mode it asks for, so that every
// file it creates is its owner's only, whatever the database's mode.
int OwnerOnlyOpen(const char* path, int flags, int mode) {
  return ::open(path, flags, static_cast<mode_t>(mode) & 0700);
}
int OwnerOnlyFchmod(int fd, mode_t mode) {
  return ::fchmod(fd, mode & 0700);
}

void MakeCreatedFilesOwnerOnly() {
  static const bool installed = [] {
    sqlite3_vfs* vfs = sqlite3_vfs_find(nullptr);
    if (!vfs || vfs->iVersion < 3 || !vfs->xSetSystemCall) return false;
    return vfs->xSetSystemCall(
               vfs, "open", reinterpret_cast<sqlite3_syscall_ptr>(&OwnerOnlyOpen)) == SQLITE_OK &&
           vfs->xSetSystemCall(
               vfs, "fchmod", reinterpret_cast<sqlite3_syscall_ptr>(&OwnerOnlyFchmod)) == SQLITE_OK;
  }();
  if (!installed) throw DbError("SQLite's file system layer cannot keep new files owner-only");
}

}  // namespace

Statement::Statement(sqlite3* db, std::string_view sql) {
  if (sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                         &pStmt, nullptr) != SQLITE_OK) {
    Fail(db, "prepare");
  }
}

Statement::~Statement() {
  sqlite3_finalize(pStmt);
}

Statement::Statement(Statement&& other) noexcept : pStmt(std::exchange(other.pStmt, nullptr)) {}

Statement& Statement::operator=(Statement&& other) noexcept {
  if (this != &other) {
    sqlite3_finalize(pStmt);
    pStmt = std::exchange(other.pStmt, nullptr);
  }
  return *this;
}

void Statement::Reset() {
  sqlite3_reset(pStmt);
  sqlite3_clear_bindings(pStmt);
}

void Statement::Bind(int index, int64_t value) {
  if (sqlite3_bind_int64(pStmt, index, value) != SQLITE_OK) Fail(sqlite3_db_handle(pStmt), "bind");
}

void Statement::Bind(int index, std::string_view text) {
  if (sqlite3_bind_text(pStmt, index, text.data(), static_cast<int>(text.size()),
                        SQLITE_TRANSIENT) != SQLITE_OK) {
    Fail(sqlite3_db_handle(pStmt), "bind");
  }
}

bool Statement::Step() {
  int rc = sqlite3_step(pStmt);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  Fail(sqlite3_db_handle(pStmt), "step");
}

void Statement::Run() {
  while (Step()) {
  }
  sqlite3_reset(pStmt);
}

int Statement::Columns() const {
  return sqlite3_column_count(pStmt);
}

bool Statement::Null(int column) const {
  return sqlite3_column_type(pStmt, column) == SQLITE_NULL;
}

int64_t Statement::Int(int column) const {
  return sqlite3_column_int64(pStmt, column);
}

std::string_view Statement::Text(int column) const {
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(pStmt, column));
  int n = sqlite3_column_bytes(pStmt, column);
  return p ? std::string_view(p, static_cast<size_t>(n)) : std::string_view();
}

Database::Database(const std::string& path, Mode mode) {
  MakeCreatedFilesOwnerOnly();
  int flags = SQLITE_OPEN_NOMUTEX;
  switch (mode) {
    case Mode::kReadOnly:
      flags |= SQLITE_OPEN_READONLY;
      break;
    case Mode::kReadWrite:
      flags |= SQLITE_OPEN_READWRITE;
      break;
    case Mode::kCreate:
      flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW;
      break;
  }
  if (sqlite3_open_v2(path.c_str(), &pDb, flags, nullptr) != SQLITE_OK) {
    std::string msg = "open " + path + ": " + (pDb ? sqlite3_errmsg(pDb) : "out of memory");
    sqlite3_close(pDb);
    pDb = nullptr;
    throw DbError(msg);
  }
  sqlite3_busy_timeout(pDb, 10000);
  if (mode != Mode::kReadOnly) {
    Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
  }
}

Database::~Database() {
  sqlite3_close_v2(pDb);
}

void Database::Exec(std::string_view sql) {
  std::string text(sql);
  char* err = nullptr;
  if (sqlite3_exec(pDb, text.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::string msg = err ? err : sqlite3_errmsg(pDb);
    sqlite3_free(err);
    throw DbError("exec: " + msg);
  }
}

Transaction::Transaction(Database& db) : cDb(db) {
  cDb.Exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
  if (!bDone) {
    try {
      cDb.Exec("ROLLBACK");
    } catch (const DbError&) {
      // nothing more to undo
    }
  }
}

void Transaction::Commit() {
  cDb.Exec("COMMIT");
  bDone = true;
}

}  // namespace backoffice
