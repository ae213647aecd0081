// Databases of every schema version that shipped (tests/backoffice/schemas:
// each version's DDL as it was, and rows), upgraded in place on both stores.

#include <gtest/gtest.h>
#include <iconv.h>

#include <atomic>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "backoffice/audit_chain.h"
#include "backoffice/audit_writer.h"
#include "backoffice/operator_store.h"
#include "backoffice/schema.h"
#include "backoffice/store.h"
#include "test_stores.h"

using namespace backoffice;

namespace {

using Rows = std::vector<std::vector<std::string>>;

// A fixture file; its texts (UTF-8 here) as GBK, the way the back office
// stores them.
std::string Fixture(const std::string& name) {
  std::ifstream in(std::string(MPAY_SOURCE_PATH) + "/tests/backoffice/schemas/" + name);
  std::stringstream text;
  text << in.rdbuf();
  std::string utf8 = text.str();
  EXPECT_FALSE(utf8.empty()) << name;
  std::string gbk(utf8.size(), '\0');
  iconv_t cd = iconv_open("GBK", "UTF-8");
  char* from = utf8.data();
  char* to = gbk.data();
  std::size_t left = utf8.size(), room = gbk.size();
  EXPECT_NE(iconv(cd, &from, &left, &to, &room), static_cast<std::size_t>(-1)) << name;
  iconv_close(cd);
  gbk.resize(gbk.size() - room);
  return gbk;
}

// A database of the store under test, made by `files` run in turn.
std::string MakeDatabase(StoreKind kind, const TempDir& dir, const std::string& name,
                         const std::vector<std::string>& files) {
  std::string db;
  if (kind == StoreKind::kSqlite) {
    db = dir.File(name);
    Database created(db, Database::Mode::kCreate);
  } else {
    db = PgCluster::Get().NewDatabase();
  }
  for (const std::string& file : files) {
    const std::string sql = Fixture(file);
    if (kind == StoreKind::kSqlite) {
      Database(db, Database::Mode::kReadWrite).Exec(sql);
    } else {
      PgCluster::Exec(db, sql);
    }
  }
  return db;
}

bool IsPostgres(const std::string& db) {
  return IsPostgresUri(db);
}

std::vector<std::string> Tables(const std::string& db) {
  std::vector<std::string> names;
  for (const auto& row :
       SqlRows(db, IsPostgres(db) ? "SELECT table_name FROM information_schema.tables WHERE "
                                    "table_schema = current_schema() ORDER BY 1"
                                  : "SELECT name FROM sqlite_master WHERE type = 'table' "
                                    "ORDER BY 1")) {
    names.push_back(row[0]);
  }
  return names;
}

// Each column of `table`: name, type, nullability, default.
Rows Columns(const std::string& db, const std::string& table) {
  return SqlRows(db, IsPostgres(db)
                         ? "SELECT column_name, data_type, is_nullable, "
                           "coalesce(column_default, ''), is_identity FROM "
                           "information_schema.columns WHERE table_schema = current_schema() "
                           "AND table_name = '" +
                               table + "' ORDER BY ordinal_position"
                         : "SELECT name, type, \"notnull\", coalesce(dflt_value, ''), pk FROM "
                           "pragma_table_info('" +
                               table + "') ORDER BY cid");
}

// Every table with its columns, and every index with its definition.
std::map<std::string, Rows> Schema(const std::string& db) {
  std::map<std::string, Rows> schema;
  for (const std::string& table : Tables(db)) schema[table] = Columns(db, table);
  schema["(indexes)"] =
      SqlRows(db, IsPostgres(db) ? "SELECT indexname, indexdef FROM pg_indexes WHERE schemaname = "
                                   "current_schema() ORDER BY 1"
                                 : "SELECT name, coalesce(sql, '') FROM sqlite_master WHERE type "
                                   "= 'index' ORDER BY 1");
  return schema;
}

// Every row of every table, in the columns the table has now.
std::map<std::string, std::pair<std::string, Rows>> Contents(const std::string& db) {
  std::map<std::string, std::pair<std::string, Rows>> contents;
  for (const std::string& table : Tables(db)) {
    std::string list, order;
    int n = 0;
    for (const auto& column : Columns(db, table)) {
      list += (n ? ", " : "") + column[0];
      order += (n ? ", " : "") + std::to_string(n + 1);
      ++n;
    }
    const std::string select = "SELECT " + list + " FROM " + table + " ORDER BY " + order;
    contents[table] = {select, SqlRows(db, select)};
  }
  return contents;
}

struct ShippedSchema {
  const char* name;
  int version;  // the version it is found at
  std::vector<std::string> files;
  bool operators;   // holds the demo operator
  int loginAudits;  // audit rows of the demo operator's login
};

std::vector<ShippedSchema> Shipped(StoreKind kind) {
  const std::string ddl = kind == StoreKind::kSqlite ? "-sqlite.sql" : "-postgres.sql";
  return {
      {"v1", 1, {"v1" + ddl, "v1-rows.sql"}, false, 0},
      {"v2", 2, {"v2" + ddl, "v1-rows.sql", "v2-rows.sql"}, true, 2},
      {"v1-opened-by-v2",
       1,
       {"v2" + ddl, "v1-rows.sql", "v2-rows.sql", "v1-opened-by-v2-postgres.sql"},
       true,
       0},
  };
}

class SchemaUpgrade : public ::testing::TestWithParam<StoreKind> {
 protected:
  void SetUp() override {
    if (GetParam() == StoreKind::kPostgres) {
      ASSERT_EQ(PgCluster::Get().error(), "");
    }
  }
  std::string Make(const std::string& name, const std::vector<std::string>& files) {
    return MakeDatabase(GetParam(), cDir, name, files);
  }
  static std::vector<int64_t> Versions(const std::string& db) {
    std::vector<int64_t> versions;
    for (const auto& row : SqlRows(db, "SELECT version FROM mp_schema_version ORDER BY 1"))
      versions.push_back(std::stoll(row[0]));
    return versions;
  }

  TempDir cDir;
};

TEST_P(SchemaUpgrade, EveryShippedSchemaKeepsEveryRowAndEndsAsANewDatabase) {
  const std::string fresh = Make("fresh.db", {});
  OpenStore(fresh)->EnsureSchema();
  const auto want = Schema(fresh);
  EXPECT_EQ(Versions(fresh).size(), static_cast<std::size_t>(LatestSchemaVersion()));

  for (const ShippedSchema& shipped : Shipped(GetParam())) {
    SCOPED_TRACE(shipped.name);
    const std::string db = Make(std::string(shipped.name) + ".db", shipped.files);
    const auto before = Contents(db);
    OpenStore(db)->EnsureSchema();
    EXPECT_EQ(Schema(db), want);
    for (const auto& [table, rows] : before) {
      EXPECT_EQ(SqlRows(db, rows.first), rows.second) << table;
    }
    std::vector<int64_t> versions;
    for (int v = shipped.version; v <= LatestSchemaVersion(); ++v) versions.push_back(v);
    EXPECT_EQ(Versions(db), versions);

    // The back office reads and writes it as it does a new one.
    const auto store = OpenStore(db);
    LogConditions phone;
    phone.PHONE_ID = "13800138000";
    CollectRows<MMicroPaymentDef::SMpInfo> logs;
    EXPECT_EQ(store->OpenReader()->QueryLog(phone, 100, logs), 3);
    CollectRows<MMicroPaymentDef::SMpUserInfo> users;
    EXPECT_EQ(store->OpenReader()->QueryUsers(phone.PHONE_ID, 100, users), 2);
    OperatorAccount demo;
    EXPECT_EQ(OpenOperatorStore(db)->FindOperator("demo", demo), shipped.operators);
    if (shipped.operators) {
      EXPECT_EQ(demo.rights, (std::vector<std::string>{"BABOMOMP", "BACUQQMP"}));
    }
    // The subscriber of the older rows comes from their conditions; new
    // rows are chained after them.
    EXPECT_EQ(SqlRows(db, "SELECT count(*) FROM mp_audit WHERE subscriber = '13800138000'"),
              SqlRows(db,
                      "SELECT count(*) FROM mp_audit WHERE conditions LIKE "
                      "'%PHONE_ID=13800138000%'"));
    AuditEntry entry;
    entry.login = "demo";
    const auto audit = store->OpenAudit();
    audit->Append({&entry, 1}, nullptr, 0, nullptr);
    EXPECT_EQ(SqlRows(db, "SELECT count(*) FROM mp_audit WHERE op_login = 'demo'")[0][0],
              std::to_string(shipped.loginAudits + 1));
    EXPECT_TRUE(VerifyAudit(*audit, {}, 0).ok());
  }
}

TEST_P(SchemaUpgrade, AFailingStepLeavesTheDatabaseAsItWas) {
  // A column the second step adds, already there: the step fails half-way.
  const std::string db =
      Make("half.db", {GetParam() == StoreKind::kSqlite ? "v1-sqlite.sql" : "v1-postgres.sql"});
  SqlRows(db, "ALTER TABLE mp_audit ADD COLUMN declared_op_id INTEGER");
  const auto before = Schema(db);
  EXPECT_THROW(OpenStore(db)->EnsureSchema(), DbError);
  EXPECT_EQ(Schema(db), before);
}

TEST_P(SchemaUpgrade, ANewerDatabaseIsRefusedAndLeftAsItIs) {
  const std::string db = Make("newer.db", {});
  OpenStore(db)->EnsureSchema();
  const int newer = LatestSchemaVersion() + 1;
  SqlRows(db, "INSERT INTO mp_schema_version VALUES (" + std::to_string(newer) + ", 0, 'later')");
  try {
    OpenStore(db)->EnsureSchema();
    ADD_FAILURE() << "a newer database was opened";
  } catch (const DbError& e) {
    EXPECT_NE(std::string(e.what()).find("has schema version " + std::to_string(newer) +
                                         ", newer than this mpay-backoffice knows"),
              std::string::npos)
        << e.what();
  }
  EXPECT_EQ(Versions(db).back(), newer);
}

TEST_P(SchemaUpgrade, InstancesStartingTogetherUpgradeOnce) {
  const std::string db =
      Make("together.db", {GetParam() == StoreKind::kSqlite ? "v1-sqlite.sql" : "v1-postgres.sql"});
  std::vector<std::thread> instances;
  std::atomic<int> failures{0};
  for (int i = 0; i < 4; ++i) {
    instances.emplace_back([&] {
      try {
        OpenStore(db)->EnsureSchema();
      } catch (const DbError&) {
        ++failures;
      }
    });
  }
  for (auto& t : instances) t.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(SqlRows(db, "SELECT version, summary FROM mp_schema_version ORDER BY 1")[0][1],
            "found without a recorded version");
  EXPECT_EQ(Versions(db).size(), static_cast<std::size_t>(LatestSchemaVersion()));
}

INSTANTIATE_TEST_SUITE_P(Stores, SchemaUpgrade,
                         ::testing::Values(StoreKind::kSqlite, StoreKind::kPostgres), StoreName);

}  // namespace
