#include "backoffice/sql_dialect.h"

#include <algorithm>

namespace backoffice {
namespace {

struct Spelling {
  std::string_view sPlaceholder;
  std::string_view sSqlite;
  std::string_view sPostgres;
};

constexpr Spelling kSpellings[] = {
    {"{int64}", "INTEGER", "BIGINT"},
    {"{int16}", "INTEGER", "SMALLINT"},
    {"{serial_key}", "INTEGER PRIMARY KEY", "BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY"},
    {"{no_rowid}", " WITHOUT ROWID", ""},
    {"{string_agg}", "group_concat", "string_agg"},
    // What follows PHONE_ID= in an audit row's conditions, up to the next blank.
    {"{phone_condition}",
     "substr(substr(conditions, instr(conditions, 'PHONE_ID=') + 9), 1, "
     "instr(substr(conditions, instr(conditions, 'PHONE_ID=') + 9) || ' ', ' ') - 1)",
     "substring(conditions from 'PHONE_ID=([^ ]*)')"},
};

}  // namespace

std::string ForDialect(std::string_view sql, Dialect dialect) {
  std::string out(sql);
  for (const Spelling& s : kSpellings) {
    const std::string_view to = dialect == Dialect::kSqlite ? s.sSqlite : s.sPostgres;
    for (std::size_t at = out.find(s.sPlaceholder); at != std::string::npos;
         at = out.find(s.sPlaceholder, at + to.size())) {
      out.replace(at, s.sPlaceholder.size(), to);
    }
  }
  // No statement of ours has a question mark in a string.
  if (dialect == Dialect::kPostgres) std::replace(out.begin(), out.end(), '?', '$');
  return out;
}

}  // namespace backoffice
