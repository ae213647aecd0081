#pragma once

// The two stores the back-office tests run against: an SQLite file, and a
// database in a private PostgreSQL cluster that this test process starts on
// first use (scripts/pg-start, in a folder of its own under the build tree)
// and removes when it ends. The same demo options give the same rows in both,
// so the SQLite file of a test is also the reference for its PostgreSQL
// database.

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "backoffice/demo_data.h"
#include "backoffice/demo_operators.h"
#include "backoffice/operator_store.h"
#include "backoffice/sqlite_db.h"
#include "test_db.h"

enum class StoreKind { kSqlite, kPostgres };

inline std::string StoreName(const testing::TestParamInfo<StoreKind>& info) {
  return info.param == StoreKind::kSqlite ? "Sqlite" : "Postgres";
}

// Runs `command` through the shell; its exit status, its output in `output`.
inline int RunCommand(const std::string& command, std::string& output) {
  output.clear();
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return -1;
  char buffer[4096];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) output.append(buffer, n);
  const int status = pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class PgCluster {
 public:
  // The cluster of this process, started on the first call; error() says
  // why when it could not start.
  static PgCluster& Get() {
    static PgCluster cluster;
    return cluster;
  }
  ~PgCluster() {
    std::string out;
    RunCommand(Script("pg-stop") + " --remove", out);
  }

  const std::string& error() const { return strError; }

  // A new empty database of the cluster.
  std::string NewDatabase() {
    const std::string name = "t" + std::to_string(getpid()) + "_" + std::to_string(++iDatabases);
    Exec(Uri("postgres"), "CREATE DATABASE " + name);
    return Uri(name);
  }
  std::string Uri(const std::string& database) const {
    return "postgresql://mpay@127.0.0.1:" + strPort + "/" + database;
  }

  // Stops and starts the server (on the same port), as an operator would.
  bool Stop() { return Run("pg-stop"); }
  bool Start() { return Run("pg-start"); }

  // What the server logged so far.
  std::string ServerLog() const {
    std::string out;
    RunCommand("cat " + cDir.File("pg/srv/server.log") + " " + cDir.File("pg/server.log"), out);
    return out;
  }

  // Runs SQL on `uri` and returns its rows as text (texts as GBK bytes).
  static std::vector<std::vector<std::string>> Exec(const std::string& uri,
                                                    const std::string& sql) {
    std::vector<std::vector<std::string>> rows;
    PGconn* c = PQconnectdb((uri + "?client_encoding=GBK").c_str());
    PGresult* r = PQstatus(c) == CONNECTION_OK ? PQexec(c, sql.c_str()) : nullptr;
    const bool ok =
        r && (PQresultStatus(r) == PGRES_TUPLES_OK || PQresultStatus(r) == PGRES_COMMAND_OK);
    if (!ok) ADD_FAILURE() << sql << ": " << PQerrorMessage(c);
    for (int i = 0; ok && i < PQntuples(r); ++i) {
      auto& row = rows.emplace_back();
      for (int k = 0; k < PQnfields(r); ++k) {
        row.emplace_back(PQgetvalue(r, i, k), static_cast<std::size_t>(PQgetlength(r, i, k)));
      }
    }
    PQclear(r);
    PQfinish(c);
    return rows;
  }

 private:
  PgCluster() : cDir() {
    setenv("MPAY_PG_DIR", cDir.File("pg").c_str(), 1);
    setenv("PGPASSFILE", cDir.File("pg/pgpass").c_str(), 1);
    unsetenv("MPAY_PG_PORT");
    if (!Start()) return;
    FILE* f = fopen(cDir.File("pg/port").c_str(), "r");
    char port[16] = {};
    if (f && fgets(port, sizeof port, f)) strPort.assign(port, strcspn(port, "\n"));
    if (f) fclose(f);
    if (strPort.empty()) strError = "pg-start wrote no port";
  }
  static std::string Script(const char* name) {
    const char* source = std::getenv("MPAY_SOURCE_DIR");
    return std::string("bash ") + (source ? source : MPAY_SOURCE_PATH) + "/scripts/" + name;
  }
  bool Run(const char* script) {
    std::string out;
    if (RunCommand(Script(script), out) == 0) return true;
    strError = out;
    return false;
  }

  TempDir cDir;
  std::string strPort;
  std::string strError;
  int iDatabases = 0;
};

// The --db of a store of `kind` holding the demo rows of `options`, with the
// same rows as the SQLite file `sqlitePath` (made first when missing).
inline std::string DemoStore(StoreKind kind, const std::string& sqlitePath,
                             const backoffice::DemoOptions& options) {
  auto generate = [&](const std::string& db) {
    backoffice::GenerateDemo(db, options);
    backoffice::AddDemoOperators(*backoffice::OpenOperatorStore(db));
  };
  if (access(sqlitePath.c_str(), F_OK) != 0) generate(sqlitePath);
  if (kind == StoreKind::kSqlite) return sqlitePath;
  PgCluster& pg = PgCluster::Get();
  if (!pg.error().empty()) return "";
  const std::string uri = pg.NewDatabase();
  generate(uri);
  return uri;
}

// Runs SQL on either store; rows as text.
inline std::vector<std::vector<std::string>> SqlRows(const std::string& db,
                                                     const std::string& sql) {
  if (db.starts_with("postgresql://")) return PgCluster::Exec(db, sql);
  std::vector<std::vector<std::string>> rows;
  backoffice::Database d(db, backoffice::Database::Mode::kReadWrite);
  backoffice::Statement s = d.Prepare(sql);
  int columns = 0;
  while (s.Step()) {
    auto& row = rows.emplace_back();
    if (columns == 0) columns = s.Columns();
    for (int k = 0; k < columns; ++k) row.emplace_back(s.Text(k));
  }
  return rows;
}
