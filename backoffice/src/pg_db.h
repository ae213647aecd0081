#pragma once

// A thin layer over libpq for the PostgreSQL store: one connection that
// reconnects when the server went away, statements prepared once per session,
// results that free themselves. Every failure throws DbError with the
// server's message; no text here ever holds the password.

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct pg_conn;
struct pg_result;
struct pg_cancel;

namespace backoffice {

// The URI's password, when it carries one, would show in the process list:
// PostgreSQL URIs are refused with one (the password comes from PGPASSWORD or
// the password file). Returns the reason, or "" when `uri` may be used.
std::string CheckPostgresUri(std::string_view uri);

// A result; frees itself.
class PgResult {
 public:
  PgResult() = default;
  explicit PgResult(pg_result* r) : pResult(r) {}
  pg_result* get() const { return pResult.get(); }
  explicit operator bool() const { return pResult != nullptr; }

  int rows() const;
  // Rows an INSERT, UPDATE or DELETE changed.
  int64_t Affected() const;
  bool null(int row, int column) const;
  std::string_view Text(int row, int column) const;
  // A binary-format integer column of 1, 2, 4 or 8 bytes (boolean, smallint,
  // integer, bigint).
  int64_t Int(int row, int column) const;

 private:
  struct Free {
    void operator()(pg_result* r) const;
  };
  std::unique_ptr<pg_result, Free> pResult;
};

// Binary parameters of one statement run, kept in place until the run ends.
class PgParams {
 public:
  void Clear();
  void Add(int64_t value);  // as bigint
  void Add(std::string_view text);
  void AddNull();

  int count() const { return static_cast<int>(vLengths.size()); }
  // The type of each parameter (kPgInt8, kPgText; 0 for a null), to
  // prepare a statement with.
  const std::vector<unsigned>& types() const { return vTypes; }
  const char* const* values() const { return vValues.data(); }
  const int* lengths() const { return vLengths.data(); }
  const int* formats() const { return vFormats.data(); }

 private:
  std::deque<std::array<char, 8>> qInts;  // the bigints' bytes; texts stay the caller's
  std::vector<const char*> vValues;
  std::vector<int> vLengths;
  std::vector<int> vFormats;
  std::vector<unsigned> vTypes;
};

class PgConnection {
 public:
  // Connects to `uri`, then runs `setup` (session settings) on every
  // connection made. Throws DbError when it cannot connect.
  PgConnection(std::string uri, std::string setup);
  ~PgConnection();
  PgConnection(const PgConnection&) = delete;
  PgConnection& operator=(const PgConnection&) = delete;

  // Connects again when the connection was lost (the server restarted).
  // True when a new session was started: the prepared statements are gone.
  bool EnsureConnected();
  // True when the connection was lost since the last call.
  bool broken() const;
  // Drops the connection: the next EnsureConnected makes a new one.
  void Drop();

  // Runs statements that return no rows (several, ';'-separated).
  void Exec(std::string_view sql);
  // Runs a statement with binary parameters and binary results.
  PgResult Query(std::string_view sql, const PgParams& params);
  // Prepares `sql` as statement `name` in this session once (again after a
  // reconnection); parameters are typed by `types` (type oids).
  void Prepare(const std::string& name, std::string_view sql, std::span<const unsigned> types);
  PgResult RunPrepared(const std::string& name, const PgParams& params);
  // Starts a prepared statement whose rows come one by one through NextRow.
  void StartRows(const std::string& name, const PgParams& params);
  // The next row (a result of one row), or an empty result at the end.
  PgResult NextRow();
  // Ends a statement started with StartRows before its last row: the server
  // is asked to cancel it, and what it still sends is discarded.
  void CancelRows();

  // COPY ... FROM STDIN: Begin, Put the data in pieces, End.
  void CopyBegin(std::string_view sql);
  void CopyPut(std::string_view data);
  void CopyEnd();

  // True when the last failure was a text the server cannot take as GBK
  // (a byte sequence that is not GBK, a zero byte, a character the
  // database's encoding lacks): no stored row can hold it.
  bool failedOnText() const;
  pg_conn* handle() const { return pConn; }

 private:
  void Connect();
  [[noreturn]] void Fail(std::string_view what, pg_result* r = nullptr);

  std::string strUri;
  std::string strSetup;
  pg_conn* pConn = nullptr;
  pg_cancel* pCancel = nullptr;
  std::vector<std::string> vPrepared;  // names prepared in this session
  bool bRowsPending = false;           // StartRows ran and its end was not read
  std::string strState;
};

// Type oids of the parameters we send.
inline constexpr unsigned kPgInt8 = 20;
inline constexpr unsigned kPgText = 25;

}  // namespace backoffice
