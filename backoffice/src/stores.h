#pragma once

// The store implementations behind OpenStore (store.h).

#include <memory>
#include <string>

#include "backoffice/store.h"

namespace backoffice {

class OperatorStore;

// An SQLite file.
std::unique_ptr<Store> MakeSqliteStore(const std::string& path);
// A PostgreSQL database, by a URI without a password.
std::unique_ptr<Store> MakePostgresStore(const std::string& uri);
// The operators of a PostgreSQL database (operator_store.h).
std::unique_ptr<OperatorStore> MakePostgresOperatorStore(const std::string& uri);

}  // namespace backoffice
