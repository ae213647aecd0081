#pragma once

// The store implementations behind OpenStore (store.h).

#include <memory>
#include <string>

#include "backoffice/store.h"

namespace backoffice {

// An SQLite file.
std::unique_ptr<Store> MakeSqliteStore(const std::string& path);

}  // namespace backoffice
