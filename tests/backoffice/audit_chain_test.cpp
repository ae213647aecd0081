#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "backoffice/audit_chain.h"
#include "backoffice/audit_journal.h"
#include "backoffice/audit_writer.h"
#include "backoffice/store.h"
#include "test_db.h"
#include "test_stores.h"

using namespace backoffice;

namespace {

constexpr int64_t kRows = 30;

// A store whose audit holds kRows chained rows (ids 1 .. 30) with a signed
// checkpoint after every tenth, written by the audit writer.
class AuditChainTest : public ::testing::TestWithParam<StoreKind> {
 protected:
  void SetUp() override {
    strKey = cDir.File("audit.key");
    pSigner = std::make_unique<AuditSigner>(AuditSigner::Open(strKey, true));
    Fresh();
    Write(20261201000000, kRows);
  }

  // A new database with an empty audit.
  void Fresh() {
    if (Pg()) {
      ASSERT_EQ(PgCluster::Get().error(), "");
      strDb = PgCluster::Get().NewDatabase();
    } else {
      strDb = cDir.File("chain" + std::to_string(++iDbs) + ".db");
      std::ofstream{strDb};
    }
  }

  void Write(int64_t firstAt, int64_t n, int keepDays = 0) {
    AuditPolicy policy;
    policy.pSigner = pSigner.get();
    policy.iCheckpointRows = 10;
    policy.iKeepDays = keepDays;
    AuditWriter writer(strDb, 64, policy);
    for (int64_t i = 0; i < n; ++i) {
      AuditEntry e;
      e.at = firstAt + i;
      e.OP_ID = 7;
      e.login = "demo";
      e.serviceCode = "BABOMOMP";
      e.conditions = "PHONE_ID=1380000" + std::to_string(1000 + i) + " BEGIN=1";
      e.rowCount = i;
      writer.Submit(e);
      if (i % 10 == 9) writer.Flush();  // one batch, one checkpoint
    }
  }

  AuditVerification Verify(int64_t from = 0) {
    return VerifyAudit(*OpenStore(strDb)->OpenAudit(), TrustedAuditKeys(strKey), from);
  }
  bool Pg() const { return GetParam() == StoreKind::kPostgres; }
  std::string Sql(const std::string& sql) {
    const auto rows = SqlRows(strDb, sql);
    return rows.empty() || rows[0].empty() ? "" : rows[0][0];
  }

  TempDir cDir;
  std::string strDb;
  std::string strKey;
  std::unique_ptr<AuditSigner> pSigner;
  int iDbs = 0;
};

TEST_P(AuditChainTest, WrittenChainVerifiesWithItsCheckpointsAndSubscribers) {
  const AuditVerification v = Verify();
  EXPECT_TRUE(v.ok()) << v.rowProblem << v.checkpointProblem;
  EXPECT_EQ(v.rows, kRows);
  EXPECT_EQ(v.checkpoints, 3);
  EXPECT_EQ(v.lastCoveredId, kRows);
  EXPECT_EQ(Sql("SELECT subscriber FROM mp_audit WHERE id = 3"), "13800001002");
  // From the middle: the rows before are not looked at.
  EXPECT_TRUE(Verify(12).ok());
  EXPECT_EQ(Verify(12).rows, kRows - 11);
}

struct Tampering {
  const char* sName;
  const char* sSql;  // {ident} stands for PostgreSQL's OVERRIDING SYSTEM VALUE
  int64_t iBadRow;   // 0: the rows pass
  const char* sRowProblem;
  const char* sCheckpointProblem;  // "" for none
};

constexpr Tampering kTamperings[] = {
    {"update", "UPDATE mp_audit SET row_count = 0 WHERE id = 5", 5, "changed", ""},
    {"update_subscriber", "UPDATE mp_audit SET subscriber = '' WHERE id = 25", 25, "changed", ""},
    {"delete", "DELETE FROM mp_audit WHERE id = 5", 6, "rows before it were removed", ""},
    {"delete_checkpointed", "DELETE FROM mp_audit WHERE id = 20", 21, "rows before it were removed",
     "its row was removed"},
    {"delete_first", "DELETE FROM mp_audit WHERE id = 1", 2, "rows before it were removed", ""},
    {"delete_last_covered", "DELETE FROM mp_audit WHERE id >= 21", 30, "removed",
     "its row was removed"},
    {"insert_unchained",
     "INSERT INTO mp_audit (id, at, op_id, op_address, so_org_id, service_code, conditions, "
     "row_count, result) {ident} VALUES (31, 20261201000031, 7, '', 0, 'BABOMOMP', '', 0, 0)",
     31, "has no hash: inserted", ""},
    {"insert_copied",
     "INSERT INTO mp_audit (id, at, op_id, op_address, so_org_id, service_code, conditions, "
     "row_count, result, op_login, declared_op_id, peer_address, subscriber, prev_hash, row_hash) "
     "{ident} SELECT 31, at, op_id, op_address, so_org_id, service_code, conditions, row_count, "
     "result, op_login, declared_op_id, peer_address, subscriber, prev_hash, row_hash "
     "FROM mp_audit WHERE id = 30",
     31, "changed", ""},
    {"forged_checkpoint",
     "UPDATE mp_audit_checkpoint SET last_hash = (SELECT row_hash FROM mp_audit WHERE id = 9), "
     "last_id = 9 WHERE last_id = 10",
     0, "", "signature fails"},
};

TEST_P(AuditChainTest, EachTamperingIsFound) {
  // Each case on a fresh copy of the same chain.
  for (const Tampering& t : kTamperings) {
    SCOPED_TRACE(t.sName);
    Fresh();
    Write(20261201000000, kRows);
    std::string sql = t.sSql;
    if (const auto at = sql.find("{ident}"); at != std::string::npos)
      sql.replace(at, 7, Pg() ? "OVERRIDING SYSTEM VALUE" : "");
    SqlRows(strDb, sql);
    const AuditVerification v = Verify();
    EXPECT_FALSE(v.ok());
    EXPECT_EQ(v.firstBadRow, t.iBadRow);
    EXPECT_EQ(v.rowProblem, t.sRowProblem);
    EXPECT_EQ(v.checkpointProblem, t.sCheckpointProblem);
  }
}

// Someone without the key changes a row and computes every hash after it
// again: the rows agree with each other, the signed checkpoints do not.
TEST_P(AuditChainTest, ARechainedTableFailsAtItsCheckpoint) {
  auto store = OpenStore(strDb)->OpenAudit();
  std::vector<std::pair<ChainedRow, AuditEntry>> rows;
  store->ReadChain(0, [&](const ChainedRow& r, const AuditEntry& e) {
    rows.emplace_back(r, e);
    return true;
  });
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(kRows));
  rows[14].second.rowCount = 0;  // id 15
  ChainHash prev = rows[13].first.hash;
  for (std::size_t i = 14; i < rows.size(); ++i) {
    const ChainHash h = ChainHashOf(prev, rows[i].first.id, rows[i].second);
    SqlRows(strDb, "UPDATE mp_audit SET row_count = " + std::to_string(rows[i].second.rowCount) +
                       ", prev_hash = '" + ToHex(prev) + "', row_hash = '" + ToHex(h) +
                       "' WHERE id = " + std::to_string(rows[i].first.id));
    prev = h;
  }
  const AuditVerification v = Verify();
  EXPECT_EQ(v.firstBadRow, 0);
  EXPECT_EQ(v.firstBadCheckpoint, 2);
  EXPECT_EQ(v.checkpointProblem, "its row's hash differs: rows were changed and chained again");
  // Nor does a key of one's own make a checkpoint that counts.
  const AuditSigner other = AuditSigner::Open(cDir.File("other.key"), true);
  EXPECT_FALSE(VerifyAudit(*store, {other.publicKey()}, 0).ok());
}

// Pruning keeps the chain verifiable: the first kept row follows a signed
// checkpoint's hash.
TEST_P(AuditChainTest, PruningLeavesAVerifiableChain) {
  Fresh();
  Write(20000101000000, 25);     // checkpoints at 10, 20 and 25 (the writer's last)
  Write(20991231000000, 5, 30);  // prunes as it opens
  // Every old row went; the new ones go on from the last checkpoint.
  EXPECT_EQ(Sql("SELECT min(id) FROM mp_audit"), "26");
  EXPECT_EQ(Sql("SELECT count(*) FROM mp_audit_checkpoint WHERE last_id < 25"), "0");
  const AuditVerification v = Verify();
  EXPECT_TRUE(v.ok()) << v.rowProblem << v.checkpointProblem;
  EXPECT_EQ(v.firstId, 26);
}

TEST(AuditSigner, KeyFileIsOwnerOnlyAndRefusedOtherwise) {
  TempDir dir;
  const std::string path = dir.File("k");
  const AuditPublicKey key = AuditSigner::Open(path, true).publicKey();
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(AuditSigner::Open(path, false).publicKey(), key);
  chmod(path.c_str(), 0640);
  EXPECT_THROW(AuditSigner::Open(path, false), std::runtime_error);
  EXPECT_THROW(AuditSigner::Open(dir.File("missing"), false), std::runtime_error);
  std::ofstream(dir.File("bad")) << "not a key\n";
  chmod(dir.File("bad").c_str(), 0600);
  EXPECT_THROW(AuditSigner::Open(dir.File("bad"), false), std::runtime_error);
}

TEST(SubscriberOf, TakesThePhoneCondition) {
  EXPECT_EQ(SubscriberOf("SO_NBR=1 PHONE_ID=13800001111 BEGIN=2"), "13800001111");
  EXPECT_EQ(SubscriberOf("PHONE_ID=13800001111"), "13800001111");
  EXPECT_EQ(SubscriberOf("XPHONE_ID=1 LOGIN_NAME=a"), "");
  EXPECT_EQ(SubscriberOf("LOGIN_NAME=PHONE_ID=1"), "");
}

// A process that died left its journal: the next writer puts into the
// database what it does not hold yet (the database held the first two), in
// the chain, and deletes the journal; a torn last record is dropped.
TEST_P(AuditChainTest, AJournalLeftByADeadProcessIsReplayedOnce) {
  const std::string dir = cDir.File("journal");
  std::string id;
  {
    AuditJournal journal(dir, strDb);
    AuditJournal other(dir, strDb + "x");  // another database's: left alone
    id = journal.id();
    for (int i = 1; i <= 5; ++i) {
      AuditEntry e;
      e.at = 20261202000000 + i;
      e.conditions = "PHONE_ID=1390000000" + std::to_string(i);
      e.result = -i;  // a record that ends in a byte that is not zero
      journal.Append(e);
    }
  }  // its locks go with it, as with a killed process
  const std::string segment = dir + "/" + id + ".1.journal";
  ASSERT_EQ(AuditJournal::Orphans(dir, strDb).size(), 1u);
  AuditJournal::Orphans(dir, strDb);  // looking takes no lock that stays
  {
    // Right after the last record: a length of 64, and less than that.
    std::fstream f(segment, std::ios::in | std::ios::out | std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    f.seekp(static_cast<std::streamoff>(data.find_last_not_of('\0') + 1));
    std::string torn = "@";
    torn.append(3, '\0');
    f << torn << "garbage";
  }
  SqlRows(strDb, "INSERT INTO mp_audit_journal (journal, seq) VALUES ('" + id + "', 2)");
  AuditPolicy policy;
  policy.pSigner = pSigner.get();
  policy.strJournalDir = dir;
  {
    AuditWriter writer(strDb, 64, policy);
    writer.Submit(AuditEntry{});
  }
  EXPECT_EQ(Sql("SELECT count(*) FROM mp_audit WHERE at > 20261202000000"), "3");
  EXPECT_EQ(Sql("SELECT min(subscriber) FROM mp_audit WHERE at > 20261202000000"), "13900000003");
  EXPECT_EQ(Sql("SELECT count(*) FROM mp_audit_journal"), "0");
  EXPECT_TRUE(AuditJournal::Orphans(dir, strDb).empty());
  EXPECT_EQ(AuditJournal::Orphans(dir, strDb + "x").size(), 1u);
  EXPECT_NE(access(segment.c_str(), F_OK), 0);
  const AuditVerification v = Verify();
  EXPECT_TRUE(v.ok()) << v.rowProblem << v.checkpointProblem;
  EXPECT_EQ(v.rows, kRows + 4);
  EXPECT_EQ(v.lastCoveredId, kRows + 4);
}

INSTANTIATE_TEST_SUITE_P(Stores, AuditChainTest,
                         ::testing::Values(StoreKind::kSqlite, StoreKind::kPostgres), StoreName);

}  // namespace
