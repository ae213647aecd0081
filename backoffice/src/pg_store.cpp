// The PostgreSQL store: the same tables and queries as the SQLite one, for
// back-office instances on several machines sharing one database.

#include <array>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <span>
#include <type_traits>

#include "audit_rows.h"
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

// The types of the log query's parameters, learnt from a run with every
// condition present: the statements are prepared with them.
const std::vector<unsigned>& LogParameterTypes() {
  static const std::vector<unsigned> types = [] {
    LogConditions all;
    all.SO_NBR = all.BUSI_CODE = all.BEGIN_SO_DATE = all.END_SO_DATE = 1;
    all.PHONE_ID = "1";
    PgParams params;
    PutLogParameters(all, 0, params);
    return params.types();
  }();
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
  static const std::vector<unsigned> types = [] {
    PgParams params;
    PutUserParameters("", 0, params);
    return params.types();
  }();
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

// COPY writes the ids it is given, past the identity's own.
constexpr char kAuditCopy[] =
    "COPY mp_audit (id, at, op_id, op_address, so_org_id, service_code, conditions, row_count, "
    "result, op_login, declared_op_id, peer_address, subscriber, prev_hash, row_hash) "
    "FROM STDIN (FORMAT binary)";
// Every writer of the audit takes it first, for its transaction: one chain
// however many back offices write.
constexpr char kChainLock[] = "SELECT pg_advisory_xact_lock(7275687101)";
// Rows per query when the chain is read for verification.
constexpr int64_t kChainChunk = 20000;

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

  // A batch refused for its bytes (texts that are not GBK) is written again
  // with those bytes replaced, rather than lost; the chain covers what is stored.
  AuditHead Append(std::span<const AuditEntry> entries, const AuditSigner* signer, int64_t at,
                   AuditCheckpoint* checkpoint, const JournalMark* mark) override {
    try {
      return Write(entries, signer, at, checkpoint, mark);
    } catch (const DbError&) {
      if (!cConn.failedOnText()) throw;
    }
    std::vector<AuditEntry> cleaned(entries.begin(), entries.end());
    for (AuditEntry& e : cleaned) {
      for (std::string* t :
           {&e.OP_ADDRESS, &e.serviceCode, &e.conditions, &e.login, &e.peer, &e.subscriber})
        *t = AsciiOnly(*t);
    }
    return Write(cleaned, signer, at, checkpoint, mark);
  }

  int64_t JournalSeq(const std::string& journal) override {
    return WithReconnect(cConn, [&](int64_t&) {
      PgParams params;
      params.Add(std::string_view(journal));
      PgResult r = cConn.Query("SELECT seq FROM mp_audit_journal WHERE journal = $1", params);
      return r.rows() == 1 ? r.Int(0, 0) : int64_t{0};
    });
  }

  void ForgetJournal(const std::string& journal) override {
    WithReconnect(cConn, [&](int64_t&) {
      PgParams params;
      params.Add(std::string_view(journal));
      cConn.Query("DELETE FROM mp_audit_journal WHERE journal = $1", params);
      return int64_t{0};
    });
  }

  int64_t DeleteBefore(int64_t stamp, int64_t limit) override {
    return WithReconnect(cConn, [&](int64_t&) {
      Transaction tx(cConn);
      PgParams params;
      params.Add(stamp);
      PgResult anchor = cConn.Query(
          "SELECT c.last_id FROM mp_audit_checkpoint c JOIN mp_audit a ON a.id = c.last_id "
          "WHERE a.at < $1 ORDER BY c.last_id DESC LIMIT 1",
          params);
      int64_t deleted = 0;
      if (anchor.rows() == 1) {
        params.Clear();
        params.Add(anchor.Int(0, 0));
        params.Add(limit);
        deleted = cConn
                      .Query(
                          "DELETE FROM mp_audit WHERE id IN "
                          "(SELECT id FROM mp_audit WHERE id <= $1 ORDER BY id LIMIT $2)",
                          params)
                      .Affected();
        if (deleted < limit) {
          params.Clear();
          params.Add(anchor.Int(0, 0));
          cConn.Query("DELETE FROM mp_audit_checkpoint WHERE last_id < $1", params);
        }
      }
      if (deleted < limit) {
        // Rows written before chaining: no chain depends on them.
        params.Clear();
        params.Add(stamp);
        params.Add(limit - deleted);
        deleted += cConn
                       .Query(
                           "DELETE FROM mp_audit WHERE id IN (SELECT id FROM mp_audit "
                           "WHERE at < $1 AND row_hash IS NULL ORDER BY id LIMIT $2)",
                           params)
                       .Affected();
      }
      tx.Commit();
      return deleted;
    });
  }

  void ReadChain(int64_t fromId,
                 const std::function<bool(const ChainedRow&, const AuditEntry&)>& row) override {
    ChainedRow r;
    AuditEntry e;
    for (int64_t next = fromId;;) {
      PgParams params;
      params.Add(next);
      params.Add(kChainChunk);
      PgResult rows;
      WithReconnect(cConn, [&](int64_t&) {
        static const std::string sql = ForDialect(audit_rows::kChainSql, Dialect::kPostgres);
        rows = cConn.Query(sql, params);
        return int64_t{0};
      });
      const int n = rows.rows();
      for (int i = 0; i < n; ++i) {
        audit_rows::ReadChained(ResultRow(rows, i), r, e);
        if (!row(r, e)) return;
      }
      if (n < kChainChunk) return;
      next = r.id + 1;
    }
  }

  std::vector<AuditCheckpoint> ReadCheckpoints() override {
    std::vector<AuditCheckpoint> out;
    PgResult rows;
    WithReconnect(cConn, [&](int64_t&) {
      rows = cConn.Query(audit_rows::kCheckpointsSql, PgParams());
      return int64_t{0};
    });
    for (int i = 0; i < rows.rows(); ++i)
      out.push_back(audit_rows::ReadCheckpoint(ResultRow(rows, i)));
    return out;
  }

 private:
  // Rolls back unless committed; a lost connection has nothing to roll back.
  class Transaction {
   public:
    explicit Transaction(PgConnection& conn) : cConn(conn) { cConn.Exec("BEGIN"); }
    ~Transaction() {
      if (bDone || cConn.broken()) return;
      try {
        cConn.Exec("ROLLBACK");
      } catch (const DbError&) {
        // the connection is dropped at the next EnsureConnected
      }
    }
    void Commit() {
      cConn.Exec("COMMIT");
      bDone = true;
    }

   private:
    PgConnection& cConn;
    bool bDone = false;
  };

  AuditHead Write(std::span<const AuditEntry> entries, const AuditSigner* signer, int64_t at,
                  AuditCheckpoint* checkpoint, const JournalMark* mark) {
    AuditHead head;
    WithReconnect(cConn, [&](int64_t&) {
      Transaction tx(cConn);
      cConn.Query(kChainLock, PgParams());
      head = Head();
      cRows.Reset();
      for (const AuditEntry& e : entries) {
        const ChainHash prev = head.hash;
        ++head.id;
        head.hash = ChainHashOf(prev, head.id, e);
        cRows.Row(15);
        cRows.Int8(head.id);
        cRows.Int8(e.at);
        cRows.Int4(e.OP_ID);
        cRows.Text(e.OP_ADDRESS);
        cRows.Int4(e.SO_ORG_ID);
        cRows.Text(e.serviceCode);
        cRows.Text(e.conditions);
        cRows.Int8(e.rowCount);
        cRows.Int4(e.result);
        cRows.Text(e.login);
        cRows.Int4(e.declaredOpId);
        cRows.Text(e.peer);
        cRows.Text(e.subscriber);
        cRows.Text(ToHex(prev));
        cRows.Text(ToHex(head.hash));
      }
      if (!entries.empty()) {
        cConn.CopyBegin(kAuditCopy);
        cConn.CopyPut(cRows.data(true));
        cConn.CopyEnd();
        // The identity follows, so that an INSERT without an id (by hand,
        // by an older back office) takes a free one.
        PgParams params;
        params.Add(head.id);
        cConn.Query("SELECT setval(pg_get_serial_sequence('mp_audit', 'id'), $1)", params);
      }
      if (signer && checkpoint) {
        *checkpoint = signer->Sign(head, at);
        const std::string hash = ToHex(checkpoint->lastHash), key = ToHex(checkpoint->key),
                          signature = ToHex(checkpoint->signature);
        PgParams params;
        params.Add(checkpoint->lastId);
        params.Add(hash);
        params.Add(checkpoint->at);
        params.Add(key);
        params.Add(signature);
        checkpoint->seq =
            cConn
                .Query(
                    "INSERT INTO mp_audit_checkpoint (last_id, last_hash, at, signer, "
                    "signature) VALUES ($1, $2, $3, $4, $5) RETURNING seq",
                    params)
                .Int(0, 0);
      }
      if (mark) {
        PgParams params;
        params.Add(std::string_view(mark->journal));
        params.Add(mark->seq);
        cConn.Query(
            "INSERT INTO mp_audit_journal (journal, seq) VALUES ($1, $2) "
            "ON CONFLICT (journal) DO UPDATE SET seq = excluded.seq",
            params);
      }
      tx.Commit();
      return int64_t{0};
    });
    return head;
  }

  // The last row, and the hash the next row follows: the last chained
  // row's (rows written before chaining have none).
  AuditHead Head() {
    AuditHead head;
    PgResult last =
        cConn.Query("SELECT id, row_hash FROM mp_audit ORDER BY id DESC LIMIT 1", PgParams());
    if (last.rows() != 1) {
      // Pruned to nothing: the chain goes on from its last checkpoint.
      PgResult anchor = cConn.Query(
          "SELECT last_id, last_hash FROM mp_audit_checkpoint ORDER BY last_id DESC LIMIT 1",
          PgParams());
      if (anchor.rows() == 1 && FromHex(anchor.Text(0, 1), head.hash)) head.id = anchor.Int(0, 0);
      return head;
    }
    head.id = last.Int(0, 0);
    if (!last.null(0, 1) && FromHex(last.Text(0, 1), head.hash)) return head;
    PgResult chained = cConn.Query(
        "SELECT row_hash FROM mp_audit WHERE row_hash IS NOT NULL ORDER BY id DESC LIMIT 1",
        PgParams());
    if (chained.rows() == 1) FromHex(chained.Text(0, 0), head.hash);
    return head;
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
