#include "pg_db.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "backoffice/db_error.h"

namespace backoffice {
namespace {

// A server message on one line: libpq ends it in a newline and may add hint
// lines.
std::string OneLine(const char* text) {
  std::string s = text ? text : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  std::replace(s.begin(), s.end(), '\n', ' ');
  std::replace(s.begin(), s.end(), '\t', ' ');
  return s.empty() ? "unknown error" : s;
}

uint64_t BigEndian(const char* p, int n) {
  uint64_t v = 0;
  for (int i = 0; i < n; ++i) v = v << 8 | static_cast<unsigned char>(p[i]);
  return v;
}

}  // namespace

std::string CheckPostgresUri(std::string_view uri) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(std::string(uri).c_str(), &error);
  if (!options) {
    std::string reason = "not a usable PostgreSQL URI: " + OneLine(error);
    PQfreemem(error);
    return reason;
  }
  bool password = false;
  for (PQconninfoOption* o = options; o->keyword; ++o) {
    if (std::strcmp(o->keyword, "password") == 0 && o->val && *o->val) password = true;
  }
  PQconninfoFree(options);
  if (password) {
    return "a password in the --db URI would show in the process list: give it in PGPASSWORD "
           "or the password file (~/.pgpass, PGPASSFILE) instead";
  }
  return "";
}

void PgResult::Free::operator()(pg_result* r) const {
  PQclear(r);
}

int PgResult::rows() const {
  return PQntuples(get());
}

int64_t PgResult::Affected() const {
  return std::strtoll(PQcmdTuples(get()), nullptr, 10);
}

bool PgResult::null(int row, int column) const {
  return PQgetisnull(get(), row, column) != 0;
}

std::string_view PgResult::Text(int row, int column) const {
  return std::string_view(PQgetvalue(get(), row, column),
                          static_cast<std::size_t>(PQgetlength(get(), row, column)));
}

int64_t PgResult::Int(int row, int column) const {
  const char* p = PQgetvalue(get(), row, column);
  switch (PQgetlength(get(), row, column)) {
    case 1:
      return static_cast<int8_t>(p[0]);
    case 2:
      return static_cast<int16_t>(BigEndian(p, 2));
    case 4:
      return static_cast<int32_t>(BigEndian(p, 4));
    case 8:
      return static_cast<int64_t>(BigEndian(p, 8));
    default:
      return 0;  // null
  }
}

void PgParams::Clear() {
  qInts.clear();
  vValues.clear();
  vLengths.clear();
  vFormats.clear();
  vTypes.clear();
}

void PgParams::Add(int64_t value) {
  std::array<char, 8>& bytes = qInts.emplace_back();
  const auto u = static_cast<uint64_t>(value);
  for (int i = 0; i < 8; ++i)
    bytes[static_cast<std::size_t>(i)] = static_cast<char>(u >> (56 - 8 * i));
  vValues.push_back(bytes.data());
  vLengths.push_back(8);
  vFormats.push_back(1);
  vTypes.push_back(kPgInt8);
}

void PgParams::Add(std::string_view text) {
  // A zero-length value still needs a non-null pointer: null means NULL.
  vValues.push_back(text.empty() ? "" : text.data());
  vLengths.push_back(static_cast<int>(text.size()));
  vFormats.push_back(1);
  vTypes.push_back(kPgText);
}

void PgParams::AddNull() {
  vValues.push_back(nullptr);
  vLengths.push_back(0);
  vFormats.push_back(1);
  vTypes.push_back(0);
}

PgConnection::PgConnection(std::string uri, std::string setup)
    : strUri(std::move(uri)), strSetup(std::move(setup)) {
  Connect();
}

PgConnection::~PgConnection() {
  Drop();
}

void PgConnection::Connect() {
  // The URI's own settings override the first two; the texts are GBK both ways.
  const char* keys[] = {"connect_timeout", "application_name", "dbname", "client_encoding",
                        nullptr};
  const char* values[] = {"5", "mpay-backoffice", strUri.c_str(), "GBK", nullptr};
  pConn = PQconnectdbParams(keys, values, 1);
  if (!pConn || PQstatus(pConn) != CONNECTION_OK) {
    std::string reason = pConn ? OneLine(PQerrorMessage(pConn)) : "out of memory";
    Drop();
    strState.clear();
    throw DbError("cannot connect to PostgreSQL: " + reason);
  }
  // The server's notices ("already exists, skipping") are not errors.
  PQsetNoticeProcessor(
      pConn, [](void*, const char*) {}, nullptr);
  pCancel = PQgetCancel(pConn);
  if (!strSetup.empty()) Exec(strSetup);
}

void PgConnection::Drop() {
  if (pCancel) PQfreeCancel(pCancel);
  pCancel = nullptr;
  if (pConn) PQfinish(pConn);
  pConn = nullptr;
  vPrepared.clear();
  bRowsPending = false;
}

bool PgConnection::failedOnText() const {
  return strState == "22021" || strState == "22P05";
}

bool PgConnection::broken() const {
  return !pConn || PQstatus(pConn) != CONNECTION_OK;
}

bool PgConnection::EnsureConnected() {
  if (!broken()) return false;
  Drop();
  Connect();
  return true;
}

void PgConnection::Fail(std::string_view what, pg_result* r) {
  const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
  strState = state ? state : "";
  std::string message =
      std::string(what) + ": " + OneLine(r ? PQresultErrorMessage(r) : PQerrorMessage(pConn));
  PQclear(r);
  throw DbError(std::move(message));
}

void PgConnection::Exec(std::string_view sql) {
  EnsureConnected();
  pg_result* r = PQexec(pConn, std::string(sql).c_str());
  const int status = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) Fail("exec", r);
  PQclear(r);
}

PgResult PgConnection::Query(std::string_view sql, const PgParams& params) {
  EnsureConnected();
  pg_result* r = PQexecParams(pConn, std::string(sql).c_str(), params.count(), nullptr,
                              params.values(), params.lengths(), params.formats(), 1);
  const int status = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) Fail("query", r);
  return PgResult(r);
}

void PgConnection::Prepare(const std::string& name, std::string_view sql,
                           std::span<const unsigned> types) {
  EnsureConnected();
  if (std::find(vPrepared.begin(), vPrepared.end(), name) != vPrepared.end()) return;
  pg_result* r = PQprepare(pConn, name.c_str(), std::string(sql).c_str(),
                           static_cast<int>(types.size()), types.data());
  if (!r || PQresultStatus(r) != PGRES_COMMAND_OK) Fail("prepare", r);
  PQclear(r);
  vPrepared.push_back(name);
}

PgResult PgConnection::RunPrepared(const std::string& name, const PgParams& params) {
  pg_result* r = PQexecPrepared(pConn, name.c_str(), params.count(), params.values(),
                                params.lengths(), params.formats(), 1);
  const int status = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) Fail("query", r);
  return PgResult(r);
}

void PgConnection::StartRows(const std::string& name, const PgParams& params) {
  if (!PQsendQueryPrepared(pConn, name.c_str(), params.count(), params.values(), params.lengths(),
                           params.formats(), 1)) {
    Fail("query");
  }
  bRowsPending = true;
  // One row per result as it arrives, never the whole reply in memory.
  PQsetSingleRowMode(pConn);
}

PgResult PgConnection::NextRow() {
  if (!bRowsPending) return PgResult();
  pg_result* r = PQgetResult(pConn);
  if (r && PQresultStatus(r) == PGRES_SINGLE_TUPLE) return PgResult(r);
  // The end, or a failure: read up to the end of the statement.
  bRowsPending = false;
  while (pg_result* more = PQgetResult(pConn)) PQclear(more);
  if (!r) Fail("query");
  if (PQresultStatus(r) != PGRES_TUPLES_OK) Fail("query", r);
  PQclear(r);
  return PgResult();
}

void PgConnection::CancelRows() {
  if (!bRowsPending) return;
  bRowsPending = false;
  char error[256];
  if (pCancel) PQcancel(pCancel, error, sizeof error);
  while (pg_result* r = PQgetResult(pConn)) PQclear(r);
}

void PgConnection::CopyBegin(std::string_view sql) {
  EnsureConnected();
  pg_result* r = PQexec(pConn, std::string(sql).c_str());
  if (!r || PQresultStatus(r) != PGRES_COPY_IN) Fail("copy", r);
  PQclear(r);
}

void PgConnection::CopyPut(std::string_view data) {
  if (PQputCopyData(pConn, data.data(), static_cast<int>(data.size())) != 1) Fail("copy");
}

void PgConnection::CopyEnd() {
  if (PQputCopyEnd(pConn, nullptr) != 1) Fail("copy");
  pg_result* r = PQgetResult(pConn);
  pg_result* failed = nullptr;
  if (!r || PQresultStatus(r) != PGRES_COMMAND_OK) {
    failed = r;
  } else {
    PQclear(r);
  }
  while (pg_result* more = PQgetResult(pConn)) PQclear(more);
  if (failed || !r) Fail("copy", failed);
}

}  // namespace backoffice
