#include "operator_columns.h"

#include <cctype>

namespace backoffice::operator_columns {

std::string ColumnOf(int field) {
  std::string name = SOperator::kFieldNames[field];
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

std::string Columns() {
  std::string list;
  for (int k = 0; k < SOperator::kFieldCount; ++k) {
    if (k == kPasswordField) continue;
    if (!list.empty()) list += ", ";
    list += ColumnOf(k);
  }
  return list;
}

std::string AccountColumns(bool withHash) {
  return std::string(withHash ? "pwd_hash" : "'' AS pwd_hash") +
         ", failed_signins, locked_until, failed_nonce, last_signin_at, directory_dn";
}

}  // namespace backoffice::operator_columns
