#include "backoffice/store.h"

#include "backoffice/replica_store.h"
#include "pg_db.h"
#include "stores.h"

namespace backoffice {

bool IsPostgresUri(std::string_view db) {
  return db.starts_with("postgresql://") || db.starts_with("postgres://");
}

std::unique_ptr<Store> OpenStore(const std::string& db) {
  if (db.empty()) throw DbError("no database given");
  if (IsPostgresUri(db)) {
    const std::string fault = CheckPostgresUri(db);
    if (!fault.empty()) throw DbError(fault);
    return MakePostgresStore(db);
  }
  return MakeSqliteStore(db);
}

std::unique_ptr<Store> OpenStore(const std::string& db, const std::vector<std::string>& replicas,
                                 int64_t maxLagMs) {
  if (replicas.empty()) return OpenStore(db);
  if (!IsPostgresUri(db)) throw DbError("read replicas need a PostgreSQL database");
  for (const std::string& uri : replicas) {
    const std::string fault = IsPostgresUri(uri) ? CheckPostgresUri(uri) : "not a PostgreSQL URI";
    if (!fault.empty()) throw DbError("read replica " + uri + ": " + fault);
  }
  ReplicaPolicy policy;
  policy.maxLagMs = maxLagMs;
  return std::make_unique<ReplicatedStore>(OpenStore(db), replicas, policy);
}

}  // namespace backoffice
