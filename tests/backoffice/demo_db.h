#pragma once

// Demo databases for the tests that run the real back office, and the phone
// numbers in them worth querying.

#include <cstdint>
#include <map>
#include <string>

#include "backoffice/demo_data.h"
#include "backoffice/demo_operators.h"
#include "backoffice/sqlite_db.h"
#include "backoffice/sqlite_operator_store.h"

// The moment the demo data ends at: fixed, so that every run makes the same rows.
constexpr int64_t kDemoEnd = 20261130120000;

// Creates a demo database of `rows` log rows at `path`, the last at kDemoEnd,
// with the demo operators.
inline void MakeDemoDatabase(const std::string& path, int64_t rows) {
  backoffice::DemoOptions options;
  options.rows = rows;
  options.endStamp = kDemoEnd;
  backoffice::GenerateDemo(path, options);
  backoffice::SqliteOperatorStore operators(path);
  backoffice::AddDemoOperators(operators);
}

// The phone numbers of `db` with at least `minRows` log rows, the lowest
// first, at most `limit` of them, each with its number of log rows.
inline std::map<std::string, int64_t> PhonesWithLogRows(const std::string& db, int minRows,
                                                        int limit) {
  backoffice::Database d(db, backoffice::Database::Mode::kReadOnly);
  backoffice::Statement s = d.Prepare(
      "SELECT phone_id, count(*) c FROM mp_so_log GROUP BY phone_id HAVING c >= ?1 "
      "ORDER BY phone_id LIMIT ?2");
  s.Bind(1, int64_t{minRows});
  s.Bind(2, int64_t{limit});
  std::map<std::string, int64_t> phones;
  while (s.Step()) phones[std::string(s.Text(0))] = s.Int(1);
  return phones;
}
