#include "records/operations.h"

namespace operations {

std::string DefaultRights() {
  std::string rights;
  for (const Descriptor& d : kAll) {
    if (d.grant != Grant::kByDefault) continue;
    if (!rights.empty()) rights += ',';
    rights += d.right;
  }
  return rights;
}

}  // namespace operations
