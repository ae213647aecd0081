#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "backoffice/db_error.h"

struct sqlite3;
struct sqlite3_stmt;

namespace backoffice {

// A prepared statement. Owns the sqlite3_stmt; finalizes it on destruction.
// Column and bind indexes follow SQLite: columns from 0, parameters from 1.
class Statement {
 public:
  Statement() = default;
  Statement(sqlite3* db, std::string_view sql);  // throws DbError when it cannot prepare
  ~Statement();
  Statement(Statement&& other) noexcept;
  Statement& operator=(Statement&& other) noexcept;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool valid() const { return pStmt != nullptr; }

  // Clears the bindings and rewinds, ready for the next run.
  void Reset();
  void Bind(int index, int64_t value);
  void Bind(int index, std::string_view text);  // bytes are copied by SQLite
  // true: a row is ready; false: done. Throws DbError on an SQLite error.
  bool Step();
  // Runs a statement that returns no rows, then resets it.
  void Run();

  int Columns() const;
  bool Null(int column) const;
  int64_t Int(int column) const;
  // The bytes of a text column; valid until the next Step or Reset.
  std::string_view Text(int column) const;

 private:
  sqlite3_stmt* pStmt = nullptr;
};

// Binds a statement's parameters in order, ?1, ?2 ...: the parameter
// protocol of conditions.h. An absent one stays unbound (null).
class BindInOrder {
 public:
  explicit BindInOrder(Statement& s) : cStmt(s) {}
  void Add(int64_t value) { cStmt.Bind(++iLast, value); }
  void Add(std::string_view text) { cStmt.Bind(++iLast, text); }
  void AddNull() { ++iLast; }

 private:
  Statement& cStmt;
  int iLast = 0;
};

// One SQLite connection. Opening sets WAL mode (when writable), a busy
// timeout, and foreign-key checks off. Throws DbError when it cannot open.
class Database {
 public:
  enum class Mode { kReadOnly, kReadWrite, kCreate };
  Database(const std::string& path, Mode mode);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Runs one or more statements that return no rows. Throws DbError.
  void Exec(std::string_view sql);
  Statement Prepare(std::string_view sql) { return Statement(pDb, sql); }
  sqlite3* handle() const { return pDb; }

 private:
  sqlite3* pDb = nullptr;
};

// Commits on Commit(), rolls back when left without it.
class Transaction {
 public:
  explicit Transaction(Database& db);
  ~Transaction();
  void Commit();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

 private:
  Database& cDb;
  bool bDone = false;
};

}  // namespace backoffice
