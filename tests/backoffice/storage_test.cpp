#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include "backoffice/audit_writer.h"
#include "backoffice/conditions.h"
#include "backoffice/demo_data.h"
#include "backoffice/protocol.h"
#include "backoffice/schema.h"
#include "backoffice/sqlite_db.h"
#include "backoffice/store.h"
#include "test_db.h"

using namespace backoffice;

namespace {

struct StoredLog {
  int64_t so_nbr;
  int32_t busi;
  std::string phone;
  int32_t amount;
  std::string serial;
  int64_t date;
  std::string remark;
  bool operator==(const StoredLog&) const = default;
};

class Collect : public LogRowSink {
 public:
  explicit Collect(size_t wanted = SIZE_MAX) : iWanted(wanted) {}
  LogRows& Block() override { return cBlock; }
  bool Added() override {
    MMicroPaymentDef::SMpInfo r;
    cBlock.Get(cBlock.size() - 1, r);
    EXPECT_EQ(r.Marker, 0x7Fu);
    rows.push_back({r.SO_NBR, r.BUSI_CODE, r.PHONE_ID, r.AMOUNT, r.MPP_TRANSACTION_ID,
                    ToStamp(r.MPP_TIME), r.REMARK});
    return rows.size() < iWanted;
  }
  std::vector<StoredLog> rows;

 private:
  LogRows cBlock;
  size_t iWanted;
};

std::vector<StoredLog> AllLogs(Database& db) {
  std::vector<StoredLog> all;
  Statement s = db.Prepare(
      "SELECT so_nbr, busi_code, phone_id, amount, mpp_transaction_id, so_date, remark "
      "FROM mp_so_log");
  while (s.Step()) {
    all.push_back({s.Int(0), static_cast<int32_t>(s.Int(1)), std::string(s.Text(2)),
                   static_cast<int32_t>(s.Int(3)), std::string(s.Text(4)), s.Int(5),
                   std::string(s.Text(6))});
  }
  return all;
}

bool Matches(const StoredLog& r, const LogConditions& c) {
  unsigned m = ConditionMask(c);
  return (!(m & kCondSoNbr) || r.so_nbr == c.SO_NBR) &&
         (!(m & kCondBusiCode) || r.busi == c.BUSI_CODE) &&
         (!(m & kCondPhone) || r.phone == c.PHONE_ID) &&
         (!(m & kCondBegin) || r.date >= c.BEGIN_SO_DATE) &&
         (!(m & kCondEnd) || r.date <= c.END_SO_DATE);
}

class DemoDatabase : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pDir = new TempDir;
    DemoOptions o;
    o.rows = 3000;
    o.endStamp = 20261130120000;
    sSummary = GenerateDemo(pDir->File("demo.db"), o);
  }
  static void TearDownTestSuite() { delete pDir; }
  static std::string Path() { return pDir->File("demo.db"); }

  static TempDir* pDir;
  static DemoSummary sSummary;
};
TempDir* DemoDatabase::pDir = nullptr;
DemoSummary DemoDatabase::sSummary;

}  // namespace

TEST(Conditions, NothingSetIsNoCondition) {
  LogConditions c;
  EXPECT_EQ(ConditionMask(c), 0u);
  EXPECT_EQ(CheckLogConditions(c), ConditionFault::kNoCondition);
  c.BEGIN_SO_DATE = 20260101000000;
  EXPECT_EQ(CheckLogConditions(c), ConditionFault::kNone);  // an open-ended range is a condition
}

TEST(Conditions, RefusesAbsurdValues) {
  LogConditions c;
  c.PHONE_ID = std::string(kMaxPhoneLength + 1, '1');
  EXPECT_EQ(CheckLogConditions(c), ConditionFault::kBadPhone);
  c.PHONE_ID = "13800000000";
  c.BEGIN_SO_DATE = 20260101100001;
  c.END_SO_DATE = 20260101100000;
  EXPECT_EQ(CheckLogConditions(c), ConditionFault::kBadRange);
  c.END_SO_DATE = c.BEGIN_SO_DATE;
  EXPECT_EQ(CheckLogConditions(c), ConditionFault::kNone);
}

TEST(Conditions, SqlUsesOnlyThePresentParameters) {
  EXPECT_EQ(LogQuerySql(kCondSoNbr),
            "SELECT so_nbr, busi_code, phone_id, amount, mpp_transaction_id, so_date, remark "
            "FROM mp_so_log WHERE so_nbr = ?1 ORDER BY so_date, so_nbr LIMIT ?6");
  std::string both = LogQuerySql(kCondPhone | kCondEnd);
  EXPECT_NE(both.find("WHERE phone_id = ?3 AND so_date <= ?5 ORDER"), std::string::npos);
  EXPECT_EQ(both.find("?4"), std::string::npos);
}

TEST(StampCalendar, RoundTripsAcrossLeapDaysAndYears) {
  for (int64_t stamp : {19700101000000LL, 20240228235959LL, 20240229000000LL, 20241231235959LL,
                        20250101000000LL, 21000301120000LL}) {
    EXPECT_EQ(SecondsToStamp(StampToSeconds(stamp)), stamp);
    EXPECT_EQ(PackStamp(UnpackStamp(stamp)), stamp);
  }
  EXPECT_EQ(SecondsToStamp(-1), 19691231235959);
  EXPECT_EQ(StampToSeconds(19700101000100), 60);
  EXPECT_EQ(StampToSeconds(20240301000000) - StampToSeconds(20240228000000), 2 * 86400);
  EXPECT_EQ(StampToSeconds(20250301000000) - StampToSeconds(20250228000000), 86400);
}

TEST_F(DemoDatabase, HoldsAYearOfTheSixBusinessesWithGbkRemarks) {
  EXPECT_EQ(sSummary.logRows, 3000);
  EXPECT_EQ(sSummary.lastStamp, 20261130120000);
  EXPECT_EQ(sSummary.firstStamp, 20251130120000);
  Database db(Path(), Database::Mode::kReadOnly);
  auto all = AllLogs(db);
  ASSERT_EQ(all.size(), 3000u);
  std::vector<int32_t> codes;
  for (const auto& r : all) codes.push_back(r.busi);
  std::sort(codes.begin(), codes.end());
  codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
  EXPECT_EQ(codes, (std::vector<int32_t>{1332, 1333, 1334, 1335, 1336, 1337}));
  // "现金存款" in GBK.
  const std::string cash = "\xCF\xD6\xBD\xF0\xB4\xE6\xBF\xEE";
  EXPECT_TRUE(std::any_of(all.begin(), all.end(), [&](auto& r) { return r.remark == cash; }));
  for (const auto& r : all) {
    if (r.busi == kDepositBusiCode) {
      EXPECT_GT(r.amount, 0);
    }
    if (r.busi == kWithdrawBusiCode) {
      EXPECT_LT(r.amount, 0);
    }
  }
  Statement users = db.Prepare("SELECT count(DISTINCT reg_type), count(*) FROM mp_user");
  ASSERT_TRUE(users.Step());
  EXPECT_GE(users.Int(0), 3);
  EXPECT_GE(users.Int(1), 300);
}

TEST_F(DemoDatabase, SameSeedGivesSameDataAndExistingFileIsRefused) {
  TempDir other;
  DemoOptions o;
  o.rows = 3000;
  o.endStamp = 20261130120000;
  GenerateDemo(other.File("again.db"), o);
  Database a(Path(), Database::Mode::kReadOnly);
  Database b(other.File("again.db"), Database::Mode::kReadOnly);
  EXPECT_TRUE(AllLogs(a) == AllLogs(b));
  EXPECT_THROW(GenerateDemo(other.File("again.db"), o), DbError);
}

// Every combination of conditions selects exactly the rows a plain filter
// selects, in time order.
TEST_F(DemoDatabase, EveryConditionCombinationMatchesAPlainFilter) {
  Database db(Path(), Database::Mode::kReadOnly);
  auto all = AllLogs(db);
  std::sort(all.begin(), all.end(), [](auto& x, auto& y) {
    return std::tie(x.date, x.so_nbr) < std::tie(y.date, y.so_nbr);
  });
  auto reader = OpenStore(Path())->OpenReader();
  StoreReader& q = *reader;
  std::mt19937 rng(7);
  for (unsigned mask = 1; mask < kConditionCombinations; ++mask) {
    for (int round = 0; round < 3; ++round) {
      const StoredLog& pick = all[rng() % all.size()];
      LogConditions c;
      if (mask & kCondSoNbr) c.SO_NBR = pick.so_nbr;
      if (mask & kCondBusiCode) c.BUSI_CODE = pick.busi;
      if (mask & kCondPhone) c.PHONE_ID = pick.phone;
      if (mask & kCondBegin)
        c.BEGIN_SO_DATE = SecondsToStamp(StampToSeconds(pick.date) - 86400 * 40);
      if (mask & kCondEnd) c.END_SO_DATE = SecondsToStamp(StampToSeconds(pick.date) + 3600);
      std::vector<StoredLog> expected;
      for (const auto& r : all) {
        if (Matches(r, c)) expected.push_back(r);
      }
      Collect got;
      EXPECT_EQ(q.QueryLog(c, 1000000, got), static_cast<int64_t>(expected.size()));
      EXPECT_TRUE(got.rows == expected) << "mask " << mask << ": " << DescribeConditions(c);
      EXPECT_FALSE(expected.empty());
    }
  }
}

TEST_F(DemoDatabase, LimitStopsTheQuery) {
  auto reader = OpenStore(Path())->OpenReader();
  StoreReader& q = *reader;
  LogConditions c;
  c.BEGIN_SO_DATE = 20000101000000;
  Collect got;
  EXPECT_EQ(q.QueryLog(c, 11, got), 11);
  EXPECT_EQ(got.rows.size(), 11u);
  // A sink that wants no more stops it too (a reply that can no longer go out).
  Collect enough(3);
  EXPECT_EQ(q.QueryLog(c, 11, enough), 3);
  EXPECT_EQ(enough.rows.size(), 3u);
}

TEST_F(DemoDatabase, UserRowsCarryNoPassword) {
  Database db(Path(), Database::Mode::kReadOnly);
  Statement s = db.Prepare(
      "SELECT phone_id, count(*) FROM mp_user GROUP BY phone_id HAVING count(*) > 1 LIMIT 1");
  ASSERT_TRUE(s.Step());
  std::string phone(s.Text(0));
  int64_t n = s.Int(1);
  CollectRows<MMicroPaymentDef::SMpUserInfo> users;
  auto reader = OpenStore(Path())->OpenReader();
  StoreReader& q = *reader;
  EXPECT_EQ(q.QueryUsers(phone, 100, users), n);
  std::vector<int64_t> dates;
  for (std::size_t i = 0; i < users.rows().size(); ++i) {
    MMicroPaymentDef::SMpUserInfo u;
    users.rows().Get(i, u);
    EXPECT_EQ(u.PHONE_ID, phone);
    EXPECT_TRUE(u.MP_PWD == "******" || u.MP_PWD.empty()) << u.MP_PWD;
    dates.push_back(ToStamp(u.MP_CREATE_DATE));
  }
  EXPECT_TRUE(std::is_sorted(dates.begin(), dates.end()));
  EXPECT_EQ(q.QueryUsers("10000000000", 100, users), 0);
}

TEST(AuditWriter, WritesEverySubmittedEntryBeforeStopping) {
  TempDir dir;
  const std::string path = dir.File("audit.db");
  {
    Database db(path, Database::Mode::kCreate);
    UpgradeSchema(db);
  }
  AuditWriter writer(path, 64);  // a small queue: producers must wait, never drop
  std::vector<std::thread> producers;
  for (int t = 0; t < 4; ++t) {
    producers.emplace_back([&, t] {
      for (int i = 0; i < 500; ++i) {
        AuditEntry e;
        e.at = 20260101000000 + i;
        e.OP_ID = t;
        e.OP_ADDRESS = "10.0.0." + std::to_string(t);
        e.SO_ORG_ID = 7;
        e.serviceCode = "BABOMOMP";
        e.conditions = "PHONE_ID=13800000000";
        e.rowCount = i;
        writer.Submit(std::move(e));
      }
    });
  }
  for (auto& p : producers) p.join();
  writer.Flush();
  Database db(path, Database::Mode::kReadOnly);
  Statement count =
      db.Prepare("SELECT count(*), count(DISTINCT op_id), sum(row_count) FROM mp_audit");
  ASSERT_TRUE(count.Step());
  EXPECT_EQ(count.Int(0), 2000);
  EXPECT_EQ(count.Int(1), 4);
  EXPECT_EQ(count.Int(2), 4 * (499 * 500 / 2));
  count.Reset();
  for (int i = 0; i < 10; ++i) writer.Submit(AuditEntry{});
  writer.Stop();
  ASSERT_TRUE(count.Step());
  EXPECT_EQ(count.Int(0), 2010);
  EXPECT_EQ(writer.failures(), 0u);
}

namespace {

// A fresh audit database, and what its rows say.
struct AuditDb {
  AuditDb() {
    Database db(Path(), Database::Mode::kCreate);
    UpgradeSchema(db);
  }
  std::string Path() const { return dir.File("audit.db"); }
  std::vector<std::string> Rows(const std::string& select) const {
    Database db(Path(), Database::Mode::kReadOnly);
    Statement s = db.Prepare(select);
    std::vector<std::string> rows;
    while (s.Step()) rows.emplace_back(s.Text(0));
    return rows;
  }
  TempDir dir;
};

AuditEntry Malformed(int64_t at, const std::string& peer) {
  AuditEntry e;
  e.at = at;
  e.peer = peer;
  e.serviceCode = "BABOMOMP";
  e.conditions = "malformed request";
  return e;
}

}  // namespace

// A flood of malformed requests from one peer is one row and a count per
// interval, whichever port each came from; other peers and other entries
// keep rows of their own.
TEST(AuditWriter, MergesMalformedRequestsPerPeer) {
  AuditDb db;
  {
    AuditWriter writer(db.Path());
    for (int i = 0; i < 1000; ++i)
      writer.SubmitMalformed(Malformed(20260101000000, "tcp:10.0.0.1:" + std::to_string(5000 + i)));
    for (int i = 0; i < 3; ++i) writer.SubmitMalformed(Malformed(20260101000000, "tcp:10.0.0.2:9"));
    AuditEntry query = Malformed(20260101000000, "tcp:10.0.0.1:5000");
    query.conditions = "PHONE_ID=13800000000";
    writer.Submit(query);
  }
  EXPECT_EQ(db.Rows("SELECT conditions || ' ' || peer_address FROM mp_audit ORDER BY 1"),
            (std::vector<std::string>{
                "PHONE_ID=13800000000 tcp:10.0.0.1:5000",
                "malformed request tcp:10.0.0.1:5000",
                "malformed request tcp:10.0.0.2:9",
                "malformed request, 2 more since 20260101000000 tcp:10.0.0.2:9",
                "malformed request, 999 more since 20260101000000 tcp:10.0.0.1:5000",
            }));

  // A new interval starts with a row of its own.
  ManualClock clock;
  AuditPolicy quick;
  quick.iMergeIntervalMs = 50;
  quick.pClock = &clock;
  AuditWriter writer(db.Path(), 64, quick);
  writer.SubmitMalformed(Malformed(20260102000000, "tcp:10.0.0.3:1"));
  clock.Advance(50);
  writer.SubmitMalformed(Malformed(20260102000001, "tcp:10.0.0.3:2"));
  writer.Flush();
  EXPECT_EQ(db.Rows("SELECT count(*) FROM mp_audit WHERE peer_address LIKE 'tcp:10.0.0.3:%'"),
            std::vector<std::string>{"2"});
}

// Kinds merge apart; an interval's count comes when it ends, by the clock
// the owner passes, or when the same key comes again after it.
TEST(AuditMerge, CountsPerPeerServiceAndKindUntilTheIntervalEnds) {
  AuditMerge merge(1000);
  std::vector<AuditEntry> due;
  auto admit = [&](const char* peer, const char* kind, int64_t ms) {
    return merge.Admit(Malformed(20260101000000, peer), kind, ms, due);
  };
  EXPECT_TRUE(admit("tcp:10.0.0.1:1", "no session", 0));
  EXPECT_FALSE(admit("tcp:10.0.0.1:2", "no session", 10));
  EXPECT_FALSE(admit("tcp:10.0.0.1:3", "no session", 999));
  EXPECT_TRUE(admit("tcp:10.0.0.1:1", "malformed request", 10));
  EXPECT_TRUE(admit("tcp:10.0.0.2:1", "no session", 10));
  EXPECT_EQ(merge.TakeEnded(500, false, due), 1000);
  EXPECT_TRUE(due.empty());
  EXPECT_TRUE(admit("tcp:10.0.0.1:4", "no session", 1000));  // a new interval
  ASSERT_EQ(due.size(), 1u);
  EXPECT_EQ(due[0].conditions, "no session, 2 more since 20260101000000");
  EXPECT_FALSE(admit("tcp:10.0.0.1:5", "no session", 1001));
  due.clear();
  EXPECT_EQ(merge.TakeEnded(1010, false, due), 2000);  // only what had more after it counts
  EXPECT_TRUE(due.empty());
  merge.TakeEnded(0, true, due);
  ASSERT_EQ(due.size(), 1u);
  EXPECT_EQ(due[0].conditions, "no session, 1 more since 20260101000000");
}

// With the choice of availability, a batch the database refuses is counted
// as lost and queries go on.
TEST(AuditWriter, ABatchRefusedWhenAvailabilityWasChosenIsLost) {
  AuditDb db;
  {
    Database d(db.Path(), Database::Mode::kReadWrite);
    d.Exec("CREATE TRIGGER refuse BEFORE INSERT ON mp_audit BEGIN SELECT RAISE(ABORT, 'no'); END");
  }
  AuditPolicy available;
  available.bFailClosed = false;
  AuditWriter writer(db.Path(), 16, available);
  writer.Submit(Malformed(NowStamp(), "tcp:10.0.0.1:1"));
  writer.Flush();
  EXPECT_TRUE(writer.accepting());
  EXPECT_EQ(writer.failures(), 1u);
  EXPECT_FALSE(writer.counts().refusing);
}

// Beside a database others may read, the files SQLite adds are still the
// owner's only, whatever the umask.
TEST(Database, FilesItCreatesAreOwnerOnly) {
  TempDir dir;
  const std::string path = dir.File("shared.db");
  const mode_t before = ::umask(022);
  Database(path, Database::Mode::kCreate).Exec("CREATE TABLE t (x)");
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  {
    Database db(path, Database::Mode::kReadWrite);
    db.Exec("INSERT INTO t VALUES (1)");
    for (const char* suffix : {"-wal", "-shm"}) {
      struct stat st {};
      ASSERT_EQ(::stat((path + suffix).c_str(), &st), 0) << suffix;
      EXPECT_EQ(st.st_mode & 0777, 0600u) << suffix;
    }
  }
  ::umask(before);
}

TEST(AuditWriter, UnopenableDatabaseThrows) {
  EXPECT_THROW(AuditWriter("/nonexistent-dir/x/audit.db"), DbError);
}
