#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <thread>
#include <tuple>

#include "backoffice/audit_writer.h"
#include "backoffice/demo_data.h"
#include "backoffice/demo_operators.h"
#include "backoffice/messages.h"
#include "backoffice/operator_store.h"
#include "backoffice/protocol.h"
#include "backoffice/service.h"
#include "backoffice/sqlite_db.h"
#include "log_rows.h"
#include "test_db.h"
#include "test_stores.h"
#include "tmclient/service_handler.h"
#include "wire_helpers.h"

using namespace backoffice;

namespace {

constexpr int64_t kEnd = 20261130120000;

// Runs against both stores, with the same rows: Path() is the SQLite file
// the expected rows come from, Db() the store being served.
class ServiceTest : public ::testing::TestWithParam<StoreKind> {
 protected:
  static void SetUpTestSuite() { pDir = new TempDir; }
  static void TearDownTestSuite() { delete pDir; }

  void SetUp() override {
    static std::string stores[2];
    std::string& db = stores[static_cast<int>(GetParam())];
    DemoOptions o;
    o.rows = 5000;
    o.endStamp = kEnd;
    if (db.empty()) db = DemoStore(GetParam(), Path(), o);
    ASSERT_FALSE(db.empty()) << PgCluster::Get().error();
    strDb = db;
    pAudit = std::make_unique<AuditWriter>(Db());
    ServiceConfig config;
    config.dbPath = Db();
    config.connections = 2;
    config.maxRows = 100;
    pService = std::make_unique<Service>(config, pAudit.get());
  }

  static std::string Path() { return pDir->File("demo.db"); }
  const std::string& Db() const { return strDb; }

  int Log(const MCustQryAccept::SQuerySoInfoListIn& in, wire::LogReply& out) {
    std::string reply;
    int rc = pService->Handle(kLogInterface, kLogServiceCode, wire::Request(kLogRequestStream, in),
                              reply);
    out = wire::ReadLogReply(reply);
    return rc;
  }

  // A phone number with a few log rows, and its rows as SQL holds them.
  static std::string BusyPhone(int64_t& rows) {
    Database db(Path(), Database::Mode::kReadOnly);
    Statement s = db.Prepare(
        "SELECT phone_id, count(*) c FROM mp_so_log GROUP BY phone_id HAVING c BETWEEN 3 AND 50 "
        "ORDER BY c DESC LIMIT 1");
    EXPECT_TRUE(s.Step());
    rows = s.Int(1);
    return std::string(s.Text(0));
  }

  static TempDir* pDir;
  std::string strDb;
  std::unique_ptr<AuditWriter> pAudit;
  std::unique_ptr<Service> pService;
};
TempDir* ServiceTest::pDir = nullptr;

}  // namespace

TEST(Protocol, DateTimesConvertBothWaysAndNullIsNoCondition) {
  EXPECT_EQ(ToStamp(QRSDateTime()), 0);
  EXPECT_EQ(ToStamp(QRSDateTime("20240229235958")), 20240229235958);
  EXPECT_EQ(ToStamp(FromStamp(20261130120000)), 20261130120000);
  EXPECT_TRUE(FromStamp(0).isNull());
  LogConditions c = ToConditions(wire::LogIn(0, 0, "", 0, 0));
  EXPECT_EQ(ConditionMask(c), 0u);
  c = ToConditions(wire::LogIn(5, 1336, "13800000000", 20260101000000, 20260102000000));
  EXPECT_EQ(c.SO_NBR, 5);
  EXPECT_EQ(c.BUSI_CODE, 1336);
  EXPECT_EQ(c.PHONE_ID, "13800000000");
  EXPECT_EQ(c.BEGIN_SO_DATE, 20260101000000);
  EXPECT_EQ(c.END_SO_DATE, 20260102000000);
}

TEST(Protocol, DecodesOnlyAWholeWellFormedRequest) {
  const std::string good =
      wire::Request(kLogRequestStream, wire::LogIn(1, 1332, "13912345678", 0, 0));
  LogRequest r;
  ASSERT_TRUE(DecodeLogRequest(good, r));
  EXPECT_EQ(r.sIn.PHONE_ID, "13912345678");
  EXPECT_EQ(r.sSoInfo.OP_ADDRESS, "10.1.2.3");
  for (size_t n = 0; n < good.size(); ++n) {
    LogRequest partial;
    EXPECT_FALSE(DecodeLogRequest(std::string_view(good).substr(0, n), partial)) << n;
  }
  EXPECT_FALSE(DecodeLogRequest(good + "x", r));
  // The user request is not a log request, and the other way round.
  UserRequest u;
  EXPECT_FALSE(DecodeUserRequest(good, u));
  EXPECT_TRUE(DecodeUserRequest(wire::Request(kUserRequestStream, wire::UserIn("1")), u));
  std::string huge(kMaxRequestBytes + 1, '\0');
  EXPECT_FALSE(DecodeLogRequest(huge, r));
}

TEST_P(ServiceTest, LogRowsMatchTheDatabaseByteForByteWithTotals) {
  int64_t expected = 0;
  std::string phone = BusyPhone(expected);
  wire::LogReply reply;
  ASSERT_EQ(Log(wire::LogIn(0, 0, phone, 0, 0), reply), 0);
  ASSERT_TRUE(reply.ok);
  EXPECT_EQ(reply.iReturnInfo, 0);
  EXPECT_EQ(reply.error.get_code(), 0);
  ASSERT_EQ(static_cast<int64_t>(reply.list.size()), expected);
  ExpectLogRowsOfPhone(Path(), phone, reply.list);

  int64_t depositCount = 0, depositSum = 0, withdrawCount = 0, withdrawSum = 0;
  for (const auto& row : reply.list) {
    if (row.BUSI_CODE == kDepositBusiCode) {
      ++depositCount;
      depositSum += row.AMOUNT;
    }
    if (row.BUSI_CODE == kWithdrawBusiCode) {
      ++withdrawCount;
      withdrawSum -= row.AMOUNT;
    }
  }
  EXPECT_EQ(reply.stat.Marker, 0xFu);
  EXPECT_EQ(reply.stat.DEPOSIT_COUNT, depositCount);
  EXPECT_EQ(reply.stat.DEPOSIT_SUM, depositSum);
  EXPECT_EQ(reply.stat.WITHDRAW_COUNT, withdrawCount);
  EXPECT_EQ(reply.stat.WITHDRAW_SUM, withdrawSum);
}

TEST_P(ServiceTest, RefusalsCarryTheirCodeAndChineseText) {
  wire::LogReply reply;
  EXPECT_EQ(Log(wire::LogIn(0, 0, "", 0, 0), reply), kRcNoCondition);
  ASSERT_TRUE(reply.ok);
  EXPECT_EQ(reply.iReturnInfo, kRcNoCondition);
  EXPECT_EQ(reply.error.get_code(), kRcNoCondition);
  EXPECT_EQ(reply.error.get_msg(), messages::kNoCondition);
  EXPECT_TRUE(reply.list.empty());

  // Every log of a year is more than the 100 rows this service may send.
  EXPECT_EQ(Log(wire::LogIn(0, 0, "", 20000101000000, 0), reply), kRcTooManyRows);
  ASSERT_TRUE(reply.ok);
  EXPECT_TRUE(reply.list.empty());
  EXPECT_NE(reply.error.get_msg().find("100"), std::string::npos);

  EXPECT_EQ(Log(wire::LogIn(0, 0, "", 20260102000000, 20260101000000), reply), kRcBadCondition);
  EXPECT_EQ(reply.error.get_msg(), messages::kBadRange);
  EXPECT_EQ(Log(wire::LogIn(0, 0, std::string(5000, '9'), 0, 0), reply), kRcBadCondition);
  EXPECT_EQ(reply.error.get_msg(), messages::kBadPhone);

  // Conditions that are merely unusual run and match nothing.
  EXPECT_EQ(Log(wire::LogIn(-1, 0, "", 0, 0), reply), 0);
  EXPECT_TRUE(reply.list.empty());
  EXPECT_EQ(Log(wire::LogIn(0, 999999, "", 0, 0), reply), 0);
  EXPECT_EQ(Log(wire::LogIn(0, 0, std::string("\xff\x00\x01", 3), 0, 0), reply), 0);
}

TEST_P(ServiceTest, ExactlyTheRowLimitIsAllowed) {
  // The first 100 rows in time order end at a known time: asking up to that
  // time gives exactly the limit.
  Database db(Path(), Database::Mode::kReadOnly);
  Statement s =
      db.Prepare("SELECT so_date FROM mp_so_log ORDER BY so_date, so_nbr LIMIT 1 OFFSET 99");
  ASSERT_TRUE(s.Step());
  wire::LogReply reply;
  ASSERT_EQ(Log(wire::LogIn(0, 0, "", 0, s.Int(0)), reply), 0);
  EXPECT_EQ(reply.list.size(), 100u);
}

TEST_P(ServiceTest, UserRowsHideTheStoredPassword) {
  Database db(Path(), Database::Mode::kReadOnly);
  Statement s = db.Prepare(
      "SELECT phone_id, mp_pwd, count(*) c FROM mp_user GROUP BY phone_id "
      "ORDER BY c DESC LIMIT 1");
  ASSERT_TRUE(s.Step());
  std::string phone(s.Text(0)), stored(s.Text(1));
  std::string bytes;
  ASSERT_EQ(pService->Handle(kUserInterface, kUserServiceCode,
                             wire::Request(kUserRequestStream, wire::UserIn(phone)), bytes),
            0);
  EXPECT_EQ(bytes.find(stored), std::string::npos);
  wire::UserReply reply = wire::ReadUserReply(bytes);
  ASSERT_TRUE(reply.ok);
  ASSERT_EQ(static_cast<int64_t>(reply.list.size()), s.Int(2));
  for (const auto& u : reply.list) {
    EXPECT_EQ(u.PHONE_ID, phone);
    EXPECT_EQ(u.MP_PWD, "******");
    EXPECT_EQ(u.Marker, 0x7FFu);
  }
  EXPECT_EQ(pService->Handle(kUserInterface, kUserServiceCode,
                             wire::Request(kUserRequestStream, wire::UserIn("")), bytes),
            kRcNoCondition);
  EXPECT_EQ(wire::ReadUserReply(bytes).error.get_msg(), messages::kNoCondition);
}

TEST_P(ServiceTest, BadRequestsGetAnErrorReplyNeverACrash) {
  const std::string good = wire::Request(kLogRequestStream, wire::LogIn(0, 0, "13800000000", 0, 0));
  std::string reply;
  for (size_t n = 0; n < good.size(); n += 3) {
    ASSERT_EQ(pService->Handle(kLogInterface, kLogServiceCode, good.substr(0, n), reply),
              kRcBadRequest);
    wire::LogReply r = wire::ReadLogReply(reply);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.error.get_msg(), messages::kBadRequest);
  }
  std::string flipped = good;
  for (size_t i = 0; i < flipped.size(); ++i) {
    flipped[i] = static_cast<char>(flipped[i] ^ 0x5A);
    int rc = pService->Handle(kLogInterface, kLogServiceCode, flipped, reply);
    EXPECT_TRUE(rc == 0 || rc == kRcBadRequest || rc == kRcNoCondition || rc == kRcBadCondition)
        << rc;
    flipped[i] = good[i];
  }
  EXPECT_EQ(pService->Handle(kLogInterface, kLogServiceCode,
                             std::string(kMaxRequestBytes + 1, '\x01'), reply),
            kRcBadRequest);
  // A user request sent to the log service is malformed for it.
  EXPECT_EQ(pService->Handle(kLogInterface, kLogServiceCode,
                             wire::Request(kUserRequestStream, wire::UserIn("13800000000")), reply),
            kRcBadRequest);
  EXPECT_EQ(pService->Handle(kLogInterface, "NOSUCHSV", good, reply), kRcUnknownService);
  EXPECT_TRUE(reply.empty());
  EXPECT_EQ(pService->Handle(kUserInterface, kLogServiceCode, good, reply), kRcUnknownService);
}

TEST_P(ServiceTest, EveryRequestIsAudited) {
  wire::LogReply reply;
  int64_t n = 0;
  std::string phone = BusyPhone(n);
  Log(wire::LogIn(0, 0, phone, 0, 0), reply);
  Log(wire::LogIn(0, 0, "", 0, 0), reply);
  std::string bytes;
  pService->Handle(kLogInterface, kLogServiceCode, "garbage", bytes);
  pAudit->Flush();
  auto rows = SqlRows(Db(),
                      "SELECT op_id, op_address, so_org_id, service_code, conditions, row_count, "
                      "result FROM mp_audit ORDER BY id DESC LIMIT 3");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][6], std::to_string(kRcBadRequest));
  EXPECT_EQ(rows[1][0], "4711");
  EXPECT_EQ(rows[1][6], std::to_string(kRcNoCondition));
  EXPECT_EQ(rows[2], (std::vector<std::string>{"4711", "10.1.2.3", "3301", "BABOMOMP",
                                               "PHONE_ID=" + phone, std::to_string(n), "0"}));
}

namespace {

bool Eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 1000 && !done(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}

}  // namespace

// No query is answered that the audit cannot record: while the database
// refuses the audit, both queries are refused with their own code and text;
// once it takes it again, they are answered and the kept entries written.
TEST_P(ServiceTest, QueriesAreRefusedWhileTheAuditCannotBeWritten) {
  const bool sqlite = GetParam() == StoreKind::kSqlite;
  SqlRows(Db(),
          sqlite ? "CREATE TRIGGER refuse BEFORE INSERT ON mp_audit BEGIN SELECT RAISE(ABORT, "
                   "'no'); END"
                 : "CREATE FUNCTION refuse() RETURNS trigger AS $$ BEGIN RAISE EXCEPTION 'no'; END "
                   "$$ LANGUAGE plpgsql; CREATE TRIGGER refuse BEFORE INSERT ON mp_audit FOR EACH "
                   "ROW EXECUTE FUNCTION refuse()");
  int64_t n = 0;
  const std::string phone = BusyPhone(n);
  const std::string answered =
      "SELECT count(*) FROM mp_audit WHERE conditions = 'PHONE_ID=" + phone + "' AND result = 0";
  const int64_t before = std::stoll(SqlRows(Db(), answered)[0][0]);
  wire::LogReply reply;
  EXPECT_EQ(Log(wire::LogIn(0, 0, phone, 0, 0), reply), 0);  // before the audit failed
  ASSERT_TRUE(Eventually([&] { return !pAudit->accepting(); }));
  EXPECT_TRUE(pAudit->counts().refusing);
  EXPECT_EQ(Log(wire::LogIn(0, 0, phone, 0, 0), reply), kRcAuditUnavailable);
  EXPECT_EQ(reply.error.get_code(), kRcAuditUnavailable);
  EXPECT_EQ(reply.error.get_msg(), messages::kAuditUnavailable);
  EXPECT_TRUE(reply.list.empty());
  std::string bytes;
  EXPECT_EQ(pService->Handle(kUserInterface, kUserServiceCode,
                             wire::Request(kUserRequestStream, wire::UserIn(phone)), bytes),
            kRcAuditUnavailable);
  SqlRows(Db(), sqlite ? "DROP TRIGGER refuse"
                       : "DROP TRIGGER refuse ON mp_audit; DROP FUNCTION refuse()");
  ASSERT_TRUE(Eventually([&] { return pAudit->accepting(); }));
  EXPECT_EQ(Log(wire::LogIn(0, 0, phone, 0, 0), reply), 0);
  pAudit->Flush();
  EXPECT_EQ(pAudit->failures(), 0u);
  // The entry kept while refused, and the one after; for the refusals one
  // row per peer and operation, written once the audit could be again.
  EXPECT_EQ(std::stoll(SqlRows(Db(), answered)[0][0]), before + 2);
  EXPECT_EQ(SqlRows(Db(), "SELECT count(*) FROM mp_audit WHERE result = 1020")[0][0], "2");
}

// --audit-keep-days: rows older than kept go, in batches, when the writer
// starts; the others stay.
TEST_P(ServiceTest, AuditRowsOlderThanKeptAreDeleted) {
  const std::string columns =
      "INSERT INTO mp_audit (at, op_id, op_address, so_org_id, service_code, conditions, "
      "row_count, result) ";
  SqlRows(Db(), GetParam() == StoreKind::kSqlite
                    ? "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < "
                      "25000) " +
                          columns + "SELECT 20000101000000 + i, 0, 'old', 0, 'X', '', 0, 0 FROM n"
                    : columns +
                          "SELECT 20000101000000 + i, 0, 'old', 0, 'X', '', 0, 0 FROM "
                          "generate_series(1, 25000) i");
  const std::string count = "SELECT count(*) FROM mp_audit WHERE op_address = 'old'";
  ASSERT_EQ(SqlRows(Db(), count)[0][0], "25000");
  const auto before = SqlRows(Db(), "SELECT count(*) FROM mp_audit")[0][0];
  pService.reset();
  pAudit.reset();
  AuditPolicy keep;
  keep.iKeepDays = 30;
  AuditWriter writer(Db(), 64, keep);  // deletes before it is ready
  EXPECT_EQ(SqlRows(Db(), count)[0][0], "0");
  EXPECT_EQ(std::stoll(SqlRows(Db(), "SELECT count(*) FROM mp_audit")[0][0]),
            std::stoll(before) - 25000);
}

class ServiceFailures : public ::testing::TestWithParam<StoreKind> {};

TEST_P(ServiceFailures, ADatabaseFailureIsReportedAndOtherQueriesGoOn) {
  TempDir dir;
  DemoOptions o;
  o.rows = 200;
  o.endStamp = kEnd;
  const std::string db = DemoStore(GetParam(), dir.File("broken.db"), o);
  ASSERT_FALSE(db.empty()) << PgCluster::Get().error();
  ServiceConfig config;
  config.dbPath = db;
  config.connections = 1;
  Service service(config, nullptr);
  SqlRows(db, "DROP TABLE mp_so_log");
  std::string bytes;
  EXPECT_EQ(service.Handle(kLogInterface, kLogServiceCode,
                           wire::Request(kLogRequestStream, wire::LogIn(1, 0, "", 0, 0)), bytes),
            kRcDatabase);
  wire::LogReply log = wire::ReadLogReply(bytes);
  ASSERT_TRUE(log.ok);
  EXPECT_EQ(log.error.get_msg(), messages::kDatabase);
  // The connection was given back: the next request gets it.
  EXPECT_EQ(service.Handle(kUserInterface, kUserServiceCode,
                           wire::Request(kUserRequestStream, wire::UserIn("13800000000")), bytes),
            0);
}

// Workers keep their buffers from one reply to the next: a small reply after
// a large one must carry nothing of it.
TEST_P(ServiceTest, ReusedBuffersGiveTheSameBytes) {
  int64_t n = 0;
  const std::string small = wire::Request(kLogRequestStream, wire::LogIn(0, 0, BusyPhone(n), 0, 0));
  std::string first, large, again;
  ASSERT_EQ(pService->Handle(kLogInterface, kLogServiceCode, small, first), 0);
  for (int i = 0; i < 4; ++i) {  // every worker serves a large reply
    ASSERT_EQ(pService->Handle(kLogInterface, kLogServiceCode,
                               wire::Request(kLogRequestStream, wire::LogIn(0, kDepositBusiCode, "",
                                                                            0, 20251215000000)),
                               large),
              0);
    EXPECT_GT(large.size(), first.size());
    ASSERT_EQ(pService->Handle(kLogInterface, kLogServiceCode, small, again), 0);
    EXPECT_EQ(again, first);
  }
}

namespace {

// What a streaming transport would deliver, put together, with its calls
// counted; its Append may be made to fail, as when the client has gone.
class RecordingWriter : public tmclient::ReplyWriter {
 public:
  explicit RecordingWriter(int failingAppend = -1) : iFailingAppend(failingAppend) {}
  bool Begin(std::size_t headSize) override {
    ++iBegins;
    return cBuffer.Begin(headSize);
  }
  bool Append(std::string_view bytes) override {
    return iAppends++ != iFailingAppend && cBuffer.Append(bytes);
  }
  bool Finish(std::string_view head) override { return cBuffer.Finish(head); }

  tmclient::BufferedReplyWriter cBuffer{tmb_stream::kMaxFrameSize};
  int iBegins = 0, iAppends = 0;

 private:
  const int iFailingAppend;
};

// Every row of the demo database (5000) in one log reply.
int LogEveryRow(Service& service, std::string& reply, tmclient::ReplyWriter& writer) {
  return service.Handle({}, kLogInterface, kLogServiceCode,
                        wire::Request(kLogRequestStream, wire::LogIn(0, 0, "", 20000101000000, 0)),
                        reply, writer);
}

}  // namespace

TEST_P(ServiceTest, LargeLogRepliesAreStreamedWithTheBytesOfTheWholeReply) {
  Service service({Db(), 1, 5000}, nullptr);
  RecordingWriter writer;
  std::string reply;
  ASSERT_EQ(LogEveryRow(service, reply, writer), 0);
  EXPECT_TRUE(reply.empty());
  EXPECT_EQ(writer.iBegins, 1);
  EXPECT_EQ(writer.iAppends, 3);  // parts of 2000, 2000 and 1000 rows
  std::string streamed;
  ASSERT_TRUE(writer.cBuffer.Take(streamed));
  wire::LogReply decoded = wire::ReadLogReply(streamed);
  ASSERT_TRUE(decoded.ok);
  ASSERT_EQ(decoded.list.size(), 5000u);
  EXPECT_GT(decoded.stat.DEPOSIT_COUNT + decoded.stat.WITHDRAW_COUNT, 0);
  std::string whole;
  EncodeLogReply(decoded.list, decoded.stat, 0, QRSErrorMsg(), whole);
  EXPECT_TRUE(streamed == whole);
}

TEST_P(ServiceTest, FailuresAfterStreamingStartedAnswerWithAWholeErrorReply) {
  {
    // The row limit is passed after two full parts; whether they went out
    // before the limit was seen or not, nothing of them counts.
    Service service({Db(), 1, 4500}, nullptr);
    RecordingWriter writer;
    std::string reply;
    EXPECT_EQ(LogEveryRow(service, reply, writer), kRcTooManyRows);
    EXPECT_LE(writer.iAppends, 2);
    EXPECT_FALSE(writer.cBuffer.finished());
    wire::LogReply decoded = wire::ReadLogReply(reply);
    ASSERT_TRUE(decoded.ok);
    EXPECT_TRUE(decoded.list.empty());
    EXPECT_EQ(decoded.iReturnInfo, kRcTooManyRows);
    EXPECT_NE(decoded.error.get_msg().find("4500"), std::string::npos);
  }
  {
    // The client went away during the second part: the service stops, and
    // its one connection serves the next request.
    Service service({Db(), 1, 5000}, nullptr);
    RecordingWriter gone(1);
    std::string reply;
    EXPECT_EQ(LogEveryRow(service, reply, gone), kRcInternal);
    EXPECT_EQ(gone.iAppends, 2);
    EXPECT_EQ(wire::ReadLogReply(reply).error.get_code(), kRcInternal);
    RecordingWriter next;
    EXPECT_EQ(LogEveryRow(service, reply, next), 0);
    EXPECT_TRUE(next.cBuffer.finished());
  }
  {
    // Out of memory on the encoding thread: an error reply, as on the
    // request's own thread, not the end of the process.
    struct Throwing : RecordingWriter {
      bool Append(std::string_view) override { throw std::bad_alloc(); }
    } throwing;
    Service service({Db(), 1, 5000}, nullptr);
    std::string reply;
    EXPECT_EQ(LogEveryRow(service, reply, throwing), kRcInternal);
    EXPECT_EQ(wire::ReadLogReply(reply).error.get_code(), kRcInternal);
  }
}

// Every field of each reply record through the store, the reply and the
// reader, with values that differ from field to field: a field mapped to
// the wrong column, or left out of the reply, shows here (one not mapped at
// all does not build).
template <class R>
std::vector<std::string> FieldTexts(const R& r) {
  std::vector<std::string> texts;
  R::ForEachField(r, [&](int, const auto& field) {
    using T = std::decay_t<decltype(field)>;
    if constexpr (std::is_same_v<T, std::string>) {
      texts.push_back(field);
    } else if constexpr (std::is_same_v<T, QRSDateTime>) {
      texts.push_back(std::to_string(ToStamp(field)));
    } else {
      texts.push_back(std::to_string(field));
    }
    return true;
  });
  EXPECT_EQ(r.Marker, (uint64_t{1} << R::kFieldCount) - 1);
  EXPECT_EQ(r.UsedMarker, r.Marker);
  return texts;
}

TEST_P(ServiceFailures, EveryFieldOfEachReplyRecordArrivesFromItsColumn) {
  TempDir dir;
  DemoOptions o;
  o.rows = 0;
  o.endStamp = kEnd;
  const std::string db = DemoStore(GetParam(), dir.File("guard.db"), o);
  ASSERT_FALSE(db.empty()) << PgCluster::Get().error();
  SqlRows(db,
          "INSERT INTO mp_so_log (so_nbr, busi_code, phone_id, amount, mpp_transaction_id, "
          "so_date, remark) VALUES (310000000777, 1336, '10000000001', 4321, 'MPGUARD', "
          "20260102030405, 'log-remark')");
  SqlRows(db,
          "INSERT INTO mp_user (serv_id, phone_id, mp_pwd, reg_type, reg_nbr, fee_limit, mp_sts, "
          "mp_create_date, mpp_trans_id, so_nbr, remark) VALUES (8699999999, '10000000001', "
          "'secret', 5, 'G1234', 7000, 2, 20250102030405, 'MPPGUARD', 310000000778, "
          "'user-remark')");
  Service service({db, 1, 100}, nullptr);
  std::string bytes;
  ASSERT_EQ(service.Handle(kLogInterface, kLogServiceCode,
                           wire::Request(kLogRequestStream, wire::LogIn(310000000777, 0, "", 0, 0)),
                           bytes),
            0);
  wire::LogReply log = wire::ReadLogReply(bytes);
  ASSERT_TRUE(log.ok);
  ASSERT_EQ(log.list.size(), 1u);
  EXPECT_EQ(FieldTexts(log.list[0]),
            (std::vector<std::string>{"310000000777", "1336", "10000000001", "4321", "MPGUARD",
                                      "20260102030405", "log-remark"}));
  EXPECT_EQ(log.stat.DEPOSIT_COUNT, 1);
  EXPECT_EQ(log.stat.DEPOSIT_SUM, 4321);
  ASSERT_EQ(service.Handle(kUserInterface, kUserServiceCode,
                           wire::Request(kUserRequestStream, wire::UserIn("10000000001")), bytes),
            0);
  EXPECT_EQ(bytes.find("secret"), std::string::npos);
  wire::UserReply user = wire::ReadUserReply(bytes);
  ASSERT_TRUE(user.ok);
  ASSERT_EQ(user.list.size(), 1u);
  EXPECT_EQ(
      FieldTexts(user.list[0]),
      (std::vector<std::string>{"8699999999", "10000000001", "******", "5", "G1234", "7000", "2",
                                "20250102030405", "MPPGUARD", "310000000778", "user-remark"}));
}

// PostgreSQL only: the server restarting under the service, and a client
// that goes away in the middle of a large reply.
TEST(PostgresStore, CallsDuringAnOutageFailAndLaterOnesSucceedWithoutARestart) {
  TempDir dir;
  DemoOptions o;
  o.rows = 200;
  o.endStamp = kEnd;
  const std::string db = DemoStore(StoreKind::kPostgres, dir.File("demo.db"), o);
  ASSERT_FALSE(db.empty()) << PgCluster::Get().error();
  Service service({db, 2, 1000}, nullptr);
  const std::string request =
      wire::Request(kLogRequestStream, wire::LogIn(0, 0, "", 20000101000000, 0));
  std::string bytes;
  ASSERT_EQ(service.Handle(kLogInterface, kLogServiceCode, request, bytes), 0);
  ASSERT_TRUE(PgCluster::Get().Stop()) << PgCluster::Get().error();
  EXPECT_EQ(service.Handle(kLogInterface, kLogServiceCode, request, bytes), kRcDatabase);
  EXPECT_EQ(wire::ReadLogReply(bytes).error.get_msg(), messages::kDatabase);
  ASSERT_TRUE(PgCluster::Get().Start()) << PgCluster::Get().error();
  // Both connections were lost; each call finds one, and reconnects.
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(service.Handle(kLogInterface, kLogServiceCode, request, bytes), 0) << i;
    EXPECT_EQ(wire::ReadLogReply(bytes).list.size(), 200u);
  }
}

TEST(PostgresStore, AQueryIsCancelledOnTheServerWhenItsClientGoesAway) {
  TempDir dir;
  DemoOptions o;
  o.rows = 200000;  // far more than the sockets between the two hold
  o.endStamp = kEnd;
  const std::string db = DemoStore(StoreKind::kPostgres, dir.File("big.db"), o);
  ASSERT_FALSE(db.empty()) << PgCluster::Get().error();
  Service service({db, 1, 300000}, nullptr);
  RecordingWriter gone(1);
  std::string reply;
  EXPECT_EQ(
      service.Handle({}, kLogInterface, kLogServiceCode,
                     wire::Request(kLogRequestStream, wire::LogIn(0, 0, "", 20000101000000, 0)),
                     reply, gone),
      kRcInternal);
  EXPECT_NE(PgCluster::Get().ServerLog().find("canceling statement due to user request"),
            std::string::npos);
  // The connection is ready for the next request.
  EXPECT_EQ(service.Handle(kUserInterface, kUserServiceCode,
                           wire::Request(kUserRequestStream, wire::UserIn("13800000000")), reply),
            0);
}

// The operator store serves other calls while one waits for a row that
// another session holds, and reads a session with its operator and rights
// as the separate reads give them.
TEST(PostgresStore, OperatorCallsGoOnWhileOneWaitsForARowLock) {
  TempDir dir;
  DemoOptions o;
  o.rows = 10;
  const std::string db = DemoStore(StoreKind::kPostgres, dir.File("ops.db"), o);
  ASSERT_FALSE(db.empty()) << PgCluster::Get().error();
  auto store = OpenOperatorStore(db);
  OperatorAccount demo;
  ASSERT_TRUE(store->FindOperator(kDemoLogin, demo));
  SessionRecord made{std::string(64, 'a'), demo.record.OP_ID, 5, 6, false}, read;
  store->CreateSession(made);
  OperatorAccount account;
  ASSERT_TRUE(store->FindSessionAccount(made.tokenHash, read, account));
  EXPECT_EQ(std::tie(read.opId, read.createdAt, read.lastUsedAt, read.ended),
            std::tie(made.opId, made.createdAt, made.lastUsedAt, made.ended));
  EXPECT_EQ(account.rights, demo.rights);
  EXPECT_EQ(account.record.OP_NAME, demo.record.OP_NAME);
  EXPECT_FALSE(account.rights.empty());

  PGconn* holder = PQconnectdb(db.c_str());
  PQclear(PQexec(holder, "BEGIN; UPDATE mp_operator SET failed_signins = 1"));
  auto blocked =
      std::async(std::launch::async, [&] { store->RecordFailedSignIns(demo.record.OP_ID, 2, 0); });
  for (int i = 0; i < 1000 && PgCluster::Exec(db,
                                              "SELECT 1 FROM pg_stat_activity WHERE "
                                              "wait_event_type = 'Lock'")
                                  .empty();
       ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  auto other = std::async(std::launch::async, [&] {
    OperatorAccount a;
    return store->FindOperator(kDemoLogOnlyLogin, a);
  });
  EXPECT_EQ(other.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  PQclear(PQexec(holder, "ROLLBACK"));
  PQfinish(holder);
  blocked.get();
  EXPECT_TRUE(other.get());
}

INSTANTIATE_TEST_SUITE_P(Stores, ServiceTest,
                         ::testing::Values(StoreKind::kSqlite, StoreKind::kPostgres), StoreName);
INSTANTIATE_TEST_SUITE_P(Stores, ServiceFailures,
                         ::testing::Values(StoreKind::kSqlite, StoreKind::kPostgres), StoreName);
