#include "backoffice/store.h"

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

}  // namespace backoffice
