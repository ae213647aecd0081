#include "records/operations.h"

namespace operations {

namespace {

template <class Keep>
std::string JoinRights(Keep keep) {
  std::string rights;
  for (const Descriptor& d : kAll) {
    if (d.access != Access::kRight || !keep(d)) continue;
    if (!rights.empty()) rights += ',';
    rights += d.right;
  }
  return rights;
}

}  // namespace

std::string DefaultRights() {
  return JoinRights([](const Descriptor& d) { return d.grant == Grant::kByDefault; });
}

std::string KnownRights() {
  return JoinRights([](const Descriptor&) { return true; });
}

}  // namespace operations
