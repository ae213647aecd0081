// The PostgreSQL store: the same tables and queries as the SQLite one, for
// back-office instances on several machines sharing one database.

#include <array>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <span>
#include <type_traits>

#include "backoffice/audit_writer.h"
#include "backoffice/schema.h"
#include "pg_db.h"
#include "stores.h"

namespace backoffice {
namespace {

// Read connections: every statement is a read-only transaction of its own
// on one snapshot, so that a reply's rows, their count and their totals
// agree even while the audit and the loaders write.
constexpr char kReaderSetup[] =
    "SET SESSION CHARACTERISTICS AS TRANSACTION ISOLATION LEVEL REPEATABLE READ READ ONLY";

// Held while the schema is upgraded, so that instances starting together
// upgrade once: the others wait, then find it done.
constexpr char kSchemaLock[] = "SELECT pg_advisory_xact_lock(7275687100)";

class PgSchemaConnection : public SchemaConnection {
 public:
  explicit PgSchemaConnection(PgConnection& conn) : cConn(conn) {}
  Dialect dialect() const override { return Dialect::kPostgres; }
  void Exec(const std::string& sql) override {
    Connected();
    cConn.Exec(sql);
  }
  int64_t Number(const std::string& sql) override {
    Connected();
    const PgResult r = cConn.Query(sql, PgParams());
    return r.rows() > 0 ? r.Int(0, 0) : 0;
  }

 private:
  // A new connection would run the rest outside the transaction and the lock.
  void Connected() {
    if (cConn.broken()) throw DbError("the connection was lost during the schema upgrade");
  }

  PgConnection& cConn;
};

// Opens a transaction holding the schema lock and upgrades the schema in
// it; returns the version found. The caller commits (a connection dropped
// before that rolls it all back).
int BeginUpgraded(PgConnection& conn, const std::string& where) {
  std::string begin = "BEGIN; ";
  begin += kSchemaLock;
  conn.Exec(begin);
  PgSchemaConnection schema(conn);
  return UpgradeSchema(schema, where);
}

// The types of the parameters that `put` hands over (through PgParams' Add
// and AddNull): the statements are prepared with them.
template <class Put>
std::vector<unsigned> ParameterTypes(Put&& put) {
  struct Types {
    std::vector<unsigned> v;
    void Add(int64_t) { v.push_back(kPgInt8); }
    void Add(std::string_view) { v.push_back(kPgText); }
    void AddNull() { v.push_back(0); }
  } types;
  put(types);
  return types.v;
}

// Every parameter of the log query, present, to learn their types.
const std::vector<unsigned>& LogParameterTypes() {
  static const std::vector<unsigned> types = ParameterTypes([](auto& params) {
    LogConditions all;
    all.SO_NBR = all.BUSI_CODE = all.BEGIN_SO_DATE = all.END_SO_DATE = 1;
    all.PHONE_ID = "1";
    PutLogParameters(all, 0, params);
  });
  return types;
}

// The statement of each combination of conditions, made once.
std::string_view LogSql(unsigned mask) {
  static const auto statements = [] {
    std::array<std::string, kConditionCombinations> all;
    for (unsigned m = 0; m < kConditionCombinations; ++m)
      all[m] = ForDialect(LogQuerySql(m), Dialect::kPostgres);
    return all;
  }();
  return statements[mask];
}

const std::vector<unsigned>& UserParameterTypes() {
  static const std::vector<unsigned> types =
      ParameterTypes([](auto& params) { PutUserParameters("", 0, params); });
  return types;
}

// Row `iRow` of a result, as RowBlock::Add reads it.
class ResultRow {
 public:
  ResultRow(const PgResult& r, int row) : cResult(r), iRow(row) {}
  bool Null(int k) const { return cResult.null(iRow, k); }
  int64_t Int(int k) const { return cResult.Int(iRow, k); }
  std::string_view Text(int k) const { return cResult.Text(iRow, k); }

 private:
  const PgResult& cResult;
  int iRow;
};

// Cancels the running statement on every way out before its last row (the
// sink wanted no more, or threw), so that the server stops working for a
// reply nobody reads and the connection is ready for the next one.
class RowsGuard {
 public:
  explicit RowsGuard(PgConnection& c) : cConn(c) {}
  ~RowsGuard() { cConn.CancelRows(); }

 private:
  PgConnection& cConn;
};

// Runs `query` (which counts in `delivered` the rows it handed on). A
// connection that was idle across a server restart fails on first use: the
// query then runs once more on a new connection, unless rows had gone out.
template <class Query>
int64_t WithReconnect(PgConnection& conn, Query&& query) {
  const bool fresh = conn.EnsureConnected();
  int64_t delivered = 0;
  try {
    return query(delivered);
  } catch (const DbError&) {
    if (fresh || delivered > 0 || !conn.broken()) throw;
  }
  conn.EnsureConnected();
  delivered = 0;
  return query(delivered);
}

class PgReader : public StoreReader {
 public:
  explicit PgReader(const std::string& uri) : cConn(uri, kReaderSetup) {}

  int64_t QueryLog(const LogConditions& c, int64_t limit, LogRowSink& sink) override {
    const unsigned mask = ConditionMask(c);
    const std::string name = "log" + std::to_string(mask);
    cParams.Clear();
    PutLogParameters(c, limit, cParams);
    return Matching([&](int64_t& n) {
      cConn.Prepare(name, LogSql(mask), LogParameterTypes());
      RowsGuard guard(cConn);
      cConn.StartRows(name, cParams);
      while (PgResult r = cConn.NextRow()) {
        sink.Block().Add(ResultRow(r, 0));
        ++n;
        if (!sink.Added()) break;
      }
      return n;
    });
  }

  int64_t QueryUsers(std::string_view phoneId, int64_t limit, UserRowSink& sink) override {
    cParams.Clear();
    PutUserParameters(phoneId, limit, cParams);
    return Matching([&](int64_t& n) {
      static const std::string sql = ForDialect(UserQuerySql(), Dialect::kPostgres);
      cConn.Prepare("users", sql, UserParameterTypes());
      PgResult r = cConn.RunPrepared("users", cParams);
      for (int i = 0; i < r.rows(); ++i) {
        sink.Block().Add(ResultRow(r, i));
        ++n;
        sink.Added();
      }
      return n;
    });
  }

 private:
  // Runs a query; a condition whose text no stored row can hold (bytes the
  // server refuses as GBK) matches nothing, as it does in SQLite.
  template <class Query>
  int64_t Matching(Query&& query) {
    try {
      return WithReconnect(cConn, query);
    } catch (const DbError&) {
      if (cConn.failedOnText()) return 0;
      throw;
    }
  }

  PgConnection cConn;
  PgParams cParams;
};

// Rows for COPY ... FROM STDIN (FORMAT binary): no escaping, and the texts
// are taken as GBK and converted by the server like every other parameter.
class CopyRows {
 public:
  CopyRows() { Reset(); }

  void Reset() {
    static constexpr char kHeader[] = "PGCOPY\n\377\r\n";
    strData.assign(kHeader, sizeof kHeader);  // the signature ends in a zero byte
    Put32(0);                                 // flags
    Put32(0);                                 // header extension
  }
  void Row(int16_t fields) { Put16(static_cast<uint16_t>(fields)); }
  void Int4(int32_t v) {
    Put32(4);
    Put32(static_cast<uint32_t>(v));
  }
  void Int8(int64_t v) {
    Put32(8);
    Put32(static_cast<uint32_t>(static_cast<uint64_t>(v) >> 32));
    Put32(static_cast<uint32_t>(v));
  }
  void Text(std::string_view s) {
    Put32(static_cast<uint32_t>(s.size()));
    strData.append(s);
  }
  // An integer in its column's width (2, 4 or 8 bytes); one that does not
  // fit is refused rather than cut.
  void Int(int64_t v, int width) {
    if (width == 8) return Int8(v);
    const int64_t limit = width == 4 ? INT32_MAX : width == 2 ? INT16_MAX : -1;
    if (v > limit || v < -limit - 1) {
      throw DbError("copy: " + std::to_string(v) + " does not fit a column of " +
                    std::to_string(width) + " bytes");
    }
    if (width == 4) return Int4(static_cast<int32_t>(v));
    Put32(2);
    Put16(static_cast<uint16_t>(v));
  }
  // The data so far, the trailer included when `last`.
  std::string& data(bool last) {
    if (last) Put16(0xFFFF);
    return strData;
  }
  std::size_t size() const { return strData.size(); }
  void Clear() { strData.clear(); }

 private:
  void Put16(uint16_t v) {
    strData.push_back(static_cast<char>(v >> 8));
    strData.push_back(static_cast<char>(v));
  }
  void Put32(uint32_t v) {
    Put16(static_cast<uint16_t>(v >> 16));
    Put16(static_cast<uint16_t>(v));
  }
  std::string strData;
};

constexpr char kAuditCopy[] =
    "COPY mp_audit (at, op_id, op_address, so_org_id, service_code, conditions, row_count, "
    "result, op_login, declared_op_id, peer_address) FROM STDIN (FORMAT binary)";

// A text the server cannot take as GBK (bytes from a client) keeps its ASCII
// characters; the others become '?'.
std::string AsciiOnly(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) >= 0x80) c = '?';
  }
  return out;
}

class PgAudit : public AuditStore {
 public:
  explicit PgAudit(const std::string& uri) : cConn(uri, "") {}

  // One COPY: all the entries or none. A batch refused for its bytes (texts
  // that are not GBK) is written again with those bytes replaced, rather
  // than lost.
  void Append(std::span<const AuditEntry> entries) override {
    try {
      WithReconnect(cConn, [&](int64_t&) {
        Copy(entries, false);
        return int64_t{0};
      });
    } catch (const DbError&) {
      if (!cConn.failedOnText()) throw;
      Copy(entries, true);
    }
  }

  int64_t DeleteBefore(int64_t stamp, int64_t limit) override {
    return WithReconnect(cConn, [&](int64_t&) {
      PgParams params;
      params.Add(stamp);
      params.Add(limit);
      // Rows are appended in time order: the oldest are found first.
      return cConn
          .Query(
              "DELETE FROM mp_audit WHERE id IN "
              "(SELECT id FROM mp_audit WHERE at < $1 ORDER BY id LIMIT $2)",
              params)
          .Affected();
    });
  }

 private:
  void Copy(std::span<const AuditEntry> entries, bool asciiOnly) {
    cRows.Reset();
    auto text = [&](const std::string& s) {
      if (asciiOnly) {
        cRows.Text(AsciiOnly(s));
      } else {
        cRows.Text(s);
      }
    };
    for (const AuditEntry& e : entries) {
      cRows.Row(11);
      cRows.Int8(e.at);
      cRows.Int4(e.OP_ID);
      text(e.OP_ADDRESS);
      cRows.Int4(e.SO_ORG_ID);
      text(e.serviceCode);
      text(e.conditions);
      cRows.Int8(e.rowCount);
      cRows.Int4(e.result);
      text(e.login);
      cRows.Int4(e.declaredOpId);
      text(e.peer);
    }
    cConn.CopyBegin(kAuditCopy);
    cConn.CopyPut(cRows.data(true));
    cConn.CopyEnd();
  }

  PgConnection cConn;
  CopyRows cRows;
};

// The byte widths of `columns` of `table` as the database has them: 2, 4
// or 8 for the integers, -1 for texts. Binary COPY must send each integer
// in its column's width.
std::vector<int> ColumnWidths(PgConnection& conn, std::string_view table,
                              std::span<const char* const> columns) {
  PgParams params;
  params.Add(table);
  const PgResult r = conn.Query(
      "SELECT attname::text, attlen::bigint FROM pg_attribute WHERE attrelid = $1::text::regclass "
      "AND attnum > 0 AND NOT attisdropped",
      params);
  std::vector<int> widths;
  for (const char* column : columns) {
    int width = 0;
    for (int i = 0; i < r.rows(); ++i) {
      if (r.Text(i, 0) == column) width = static_cast<int>(r.Int(i, 1));
    }
    if (width == 0) throw DbError(std::string(table) + " has no column " + column);
    widths.push_back(width);
  }
  return widths;
}

// Rows of record R into its table (its column map) by binary COPY.
template <class R>
class PgCopyTable {
 public:
  explicit PgCopyTable(PgConnection& conn)
      : vWidths(ColumnWidths(conn, ColumnMap<R>::kTable, ColumnMap<R>::kColumns)),
        strCopy("COPY " + std::string(ColumnMap<R>::kTable) + " (" +
                CommaList(ColumnMap<R>::kColumns) + ") FROM STDIN (FORMAT binary)") {}

  const std::string& copySql() const { return strCopy; }

  void Add(CopyRows& rows, const R& row) const {
    rows.Row(static_cast<int16_t>(vWidths.size()));
    std::size_t k = 0;
    PutFields(row, [&](auto value) {
      if constexpr (std::is_same_v<decltype(value), std::string_view>) {
        rows.Text(value);
      } else {
        rows.Int(value, vWidths[k]);
      }
      ++k;
    });
  }

 private:
  std::vector<int> vWidths;
  std::string strCopy;
};

// Loads the demo rows with COPY, a megabyte at a time: users, then logs.
class PgDemoLoader : public DemoLoader {
 public:
  explicit PgDemoLoader(PgConnection& conn) : cConn(conn), cUsers(conn), cLogs(conn) {}

  void Add(const MMicroPaymentDef::SMpUserInfo& user) override {
    Switch(cUsers.copySql());
    cUsers.Add(cRows, user);
    Spill();
  }

  void Add(const MMicroPaymentDef::SMpInfo& log) override {
    Switch(cLogs.copySql());
    cLogs.Add(cRows, log);
    Spill();
  }

  // Ends the last COPY.
  void Finish() { Switch({}); }

 private:
  // Ends the COPY under way, if it is not `copy`, and begins `copy`.
  void Switch(std::string_view copy) {
    if (copy == strCurrent) return;
    if (!strCurrent.empty()) {
      cConn.CopyPut(cRows.data(true));
      cConn.CopyEnd();
    }
    strCurrent = copy;
    if (copy.empty()) return;
    cConn.CopyBegin(copy);
    cRows.Reset();
  }

  void Spill() {
    if (cRows.size() < (1u << 20)) return;
    cConn.CopyPut(cRows.data(false));
    cRows.Clear();
  }

  PgConnection& cConn;
  PgCopyTable<MMicroPaymentDef::SMpUserInfo> cUsers;
  PgCopyTable<MMicroPaymentDef::SMpInfo> cLogs;
  CopyRows cRows;
  std::string strCurrent;
};

class PgStore : public Store {
 public:
  explicit PgStore(std::string uri) : strUri(std::move(uri)) {}

  void EnsureSchema() override { CreateSchema(true); }

  std::unique_ptr<StoreReader> OpenReader() override { return std::make_unique<PgReader>(strUri); }

  std::unique_ptr<AuditStore> OpenAudit() override {
    CreateSchema(false);
    return std::make_unique<PgAudit>(strUri);
  }

  // One transaction for the rows; the indexes and the planner's statistics
  // after them.
  DemoSummary CreateDemo(const DemoOptions& options) override {
    PgConnection conn(strUri, "");
    BeginUpgraded(conn, Describe());
    PgResult used = conn.Query(
        "SELECT EXISTS (SELECT 1 FROM mp_so_log) OR EXISTS (SELECT 1 FROM mp_user)", PgParams());
    if (used.rows() != 1 || used.Int(0, 0) != 0) {
      conn.Exec("ROLLBACK");
      throw DbError("refusing to overwrite: " + Describe() + " already holds log or user rows");
    }
    PgDemoLoader loader(conn);
    DemoSummary summary = GenerateDemoRows(options, loader);
    loader.Finish();
    conn.Exec("COMMIT");
    conn.Exec(IndexesSql(Dialect::kPostgres));
    conn.Exec("ANALYZE mp_so_log; ANALYZE mp_user");
    return summary;
  }

  std::string Describe() const override { return strUri; }

 private:
  void CreateSchema(bool indexes) {
    PgConnection conn(strUri, "");
    const int found = BeginUpgraded(conn, Describe());
    if (indexes) conn.Exec(IndexesSql(Dialect::kPostgres));
    conn.Exec("COMMIT");
    LogUpgraded(Describe(), found);
  }

  std::string strUri;
};

}  // namespace

std::unique_ptr<Store> MakePostgresStore(const std::string& uri) {
  return std::make_unique<PgStore>(uri);
}

}  // namespace backoffice
