// Sign-in, sessions and rights: the authenticator on a real SQLite operator
// store, and the service that checks every call before its SQL.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "backoffice/audit_writer.h"
#include "backoffice/authenticator.h"
#include "backoffice/demo_data.h"
#include "backoffice/demo_operators.h"
#include "backoffice/directory.h"
#include "backoffice/messages.h"
#include "backoffice/operator_admin.h"
#include "backoffice/protocol.h"
#include "backoffice/service.h"
#include "backoffice/sqlite_db.h"
#include "backoffice/sqlite_operator_store.h"
#include "test_db.h"
#include "tmclient/service_handler.h"
#include "tmclient/tmb_stream.h"
#include "wire_helpers.h"

using namespace backoffice;

namespace {

constexpr int64_t kStart = 1780000000;  // the tests' clock starts here

// One demo database with its operators, made once; each test has its own
// store, clock and authenticator on it.
class AuthTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pDir = new TempDir;
    for (const char* name : {"demo.db", "other.db"}) {
      DemoOptions o;
      o.rows = 200;
      GenerateDemo(pDir->File(name), o);
      SqliteOperatorStore store(pDir->File(name));
      AddDemoOperators(store);
    }
  }
  static void TearDownTestSuite() { delete pDir; }

  void SetUp() override {
    pStore = std::make_unique<SqliteOperatorStore>(Path());
    AuthPolicy policy;
    policy.maxFailedSignIns = 3;
    policy.lockoutS = 600;
    policy.idleTimeoutS = 300;
    policy.maxAgeS = 3600;
    policy.recheckMs = 0;  // every change below is seen at once
    pAuth = std::make_unique<Authenticator>(*pStore, policy, cClock);
  }
  void TearDown() override {
    // Each test leaves the demo operators as it found them.
    for (const char* login : {kDemoLogin, kDemoLogOnlyLogin}) pStore->SetLocked(login, false);
  }

  static std::string Path() { return pDir->File("demo.db"); }

  std::string SignedIn(const char* login = kDemoLogin, const char* password = kDemoPassword) {
    Authenticator::SignedIn out;
    EXPECT_EQ(pAuth->SignIn(login, password, out), 0) << login;
    return out.token;
  }
  int Verify(const std::string& token, std::string_view code = kLogServiceCode) {
    Caller caller;
    return pAuth->Verify(token, code, caller);
  }

  static TempDir* pDir;
  std::unique_ptr<SqliteOperatorStore> pStore;
  std::unique_ptr<Authenticator> pAuth;
  ManualClock cClock{kStart};
};
TempDir* AuthTest::pDir = nullptr;

TEST_F(AuthTest, SignInAnswers) {
  struct Case {
    const char* login;
    const char* password;
    int expected;
  };
  for (const Case& c : std::initializer_list<Case>{
           {kDemoLogin, kDemoPassword, 0},
           {kDemoLogin, "demo12345", kRcSignInFailed},
           {kDemoLogin, "", kRcSignInFailed},
           {"nobody", kDemoPassword, kRcSignInFailed},  // the same answer as a wrong password
           {"", "", kRcSignInFailed},
           {kDemoExpiredLogin, kDemoExpiredPassword, kRcOperatorInactive},
           {kDemoExpiredLogin, "wrong", kRcSignInFailed},  // says nothing without the password
       }) {
    Authenticator::SignedIn out;
    EXPECT_EQ(pAuth->SignIn(c.login, c.password, out), c.expected) << c.login << "/" << c.password;
    if (c.expected == 0) {
      EXPECT_EQ(out.token.size(), 64u);
      EXPECT_EQ(out.account.passwordHash, "");
      EXPECT_EQ(out.account.record.OP_ID, 1001);
    }
  }
  // Each sign-in has a session of its own; the store keeps only hashes.
  const std::string a = SignedIn(), b = SignedIn();
  EXPECT_NE(a, b);
  Database db(Path(), Database::Mode::kReadOnly);
  Statement s = db.Prepare("SELECT count(*) FROM mp_session WHERE token_hash IN (?1, ?2)");
  s.Bind(1, a);
  s.Bind(2, b);
  ASSERT_TRUE(s.Step());
  EXPECT_EQ(s.Int(0), 0);
}

TEST_F(AuthTest, UnknownLoginTakesAsLongAsAWrongPassword) {
  // The hash check is what takes the time: an unknown login that skipped it
  // would answer a thousand times sooner. Best of three against noise, and a
  // factor of ten either way, so that a loaded machine cannot fail it while
  // a skipped hash still does.
  auto fastest = [&](const char* login) {
    auto best = std::chrono::steady_clock::duration::max();
    for (int i = 0; i < 3; ++i) {
      Authenticator::SignedIn out;
      const auto t0 = std::chrono::steady_clock::now();
      pAuth->SignIn(login, "not the password", out);
      best = std::min(best, std::chrono::steady_clock::now() - t0);
    }
    return best;
  };
  const auto unknown = fastest("nobody");
  const auto wrong = fastest(kDemoLogOnlyLogin);
  EXPECT_GT(unknown * 10, wrong);
  EXPECT_GT(wrong * 10, unknown);
  pStore->SetLocked(kDemoLogOnlyLogin, false);  // forgets the failures
}

TEST_F(AuthTest, FailedSignInsLockForAWhile) {
  Authenticator::SignedIn out;
  // Every wrong password is answered alike, the one that locks included: the
  // lock is told only to whoever knows the password.
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(pAuth->SignIn(kDemoLogOnlyLogin, "x", out), kRcSignInFailed);
  // Locked: the right password does not open it, and more tries do not extend it.
  EXPECT_EQ(pAuth->SignIn(kDemoLogOnlyLogin, kDemoLogOnlyPassword, out), kRcOperatorLocked);
  cClock.AdvanceSeconds(300);
  EXPECT_EQ(pAuth->SignIn(kDemoLogOnlyLogin, "x", out), kRcSignInFailed);
  cClock.AdvanceSeconds(300);
  EXPECT_EQ(pAuth->SignIn(kDemoLogOnlyLogin, kDemoLogOnlyPassword, out), 0);
  OperatorAccount a;
  ASSERT_TRUE(pStore->FindOperator(kDemoLogOnlyLogin, a));
  EXPECT_EQ(a.failedSignIns, 0);

  // An administrator's lock holds whatever the password, and ends the
  // operator's sessions; unlocking opens both again.
  const std::string token = SignedIn(kDemoLogOnlyLogin, kDemoLogOnlyPassword);
  ASSERT_TRUE(pStore->SetLocked(kDemoLogOnlyLogin, true));
  EXPECT_EQ(pAuth->SignIn(kDemoLogOnlyLogin, kDemoLogOnlyPassword, out), kRcOperatorLocked);
  EXPECT_EQ(Verify(token), kRcNoSession);
  ASSERT_TRUE(pStore->SetLocked(kDemoLogOnlyLogin, false));
  EXPECT_EQ(Verify(token), 0);
}

// Every attempt of one sign-in carries its nonce: a repeat, here or at
// another back office of the database, gets the same session, and a
// repeated wrong password counts once.
TEST_F(AuthTest, ASignInRepeatedWithItsNonceGetsTheSameSessionAndCountsOnce) {
  const std::string nonce(64, 'a');
  Authenticator::SignedIn first, again;
  ASSERT_EQ(pAuth->SignIn(kDemoLogin, kDemoPassword, nonce, first), 0);
  SqliteOperatorStore otherStore(Path());
  Authenticator other(otherStore, pAuth->policy(), cClock);
  ASSERT_EQ(other.SignIn(kDemoLogin, kDemoPassword, nonce, again), 0);
  EXPECT_EQ(again.token, first.token);
  EXPECT_EQ(Verify(first.token), 0);
  EXPECT_NE(SignedIn(), first.token);  // without a nonce, a session of its own

  Authenticator::SignedIn out;
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(pAuth->SignIn(kDemoLogOnlyLogin, "x", std::string(64, 'b'), out), kRcSignInFailed);
  OperatorAccount account;
  ASSERT_TRUE(pStore->FindOperator(kDemoLogOnlyLogin, account));
  EXPECT_EQ(account.failedSignIns, 1);

  // Signed out, the session is not opened again by a late repeat.
  Caller caller;
  ASSERT_EQ(pAuth->SignOut(first.token, caller), 0);
  EXPECT_EQ(pAuth->SignIn(kDemoLogin, kDemoPassword, nonce, again), kRcNoSession);
}

TEST(PasswordFault, RefusesShortLoginAndCommonPasswords) {
  const std::string tooLong(129, 'x');
  struct Case {
    const char* password;
    const char* login;
    bool accepted;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"Tr0ub4dor&3", "ops1", true},
           {"short1", "ops1", false},
           {tooLong.c_str(), "ops1", false},
           {"zhangsan-2026", "ZhangSan", false},  // holds the login, case aside
           {"Password1", "ops1", false},
           {"12345678", "ops1", false},
           {"woaini1314", "ops1", false},
       }) {
    EXPECT_EQ(PasswordFault(c.password, c.login).empty(), c.accepted) << c.password;
  }
}

// Local operators unused for the given time are locked; directory operators
// are the directory's to end; an account never counted starts counting now.
TEST(SqliteOperatorStore, UnusedLocalAccountsAreLocked) {
  TempDir dir;
  const std::string db = dir.File("unused.db");
  GenerateDemo(db, DemoOptions{.rows = 1});
  SqliteOperatorStore store(db);
  AddDemoOperators(store);
  OperatorAccount directory;
  directory.record.set_LOGIN_NAME("dir1");
  directory.directoryDn = "uid=dir1,ou=people,dc=example";
  store.AddOperator(directory);
  EXPECT_EQ(store.LockUnused(kStart, kStart - 86400), 0);  // counting starts
  store.RecordSignIn(1001, kStart + 10 * 86400);
  EXPECT_GE(store.LockUnused(kStart + 20 * 86400, kStart + 5 * 86400), 1);
  OperatorAccount a;
  for (const char* login : {kDemoLogin, kDemoLogOnlyLogin, "dir1"}) {
    ASSERT_TRUE(store.FindOperator(login, a));
    EXPECT_EQ(a.record.LOCK_STATUS, std::string_view(login) == kDemoLogOnlyLogin) << login;
  }
}

TEST_F(AuthTest, SessionsEndIdleOldOrSignedOut) {
  const std::string token = SignedIn();
  EXPECT_EQ(Verify(token), 0);
  EXPECT_EQ(Verify(token, kUserServiceCode), 0);
  // Used within the idle time, it lives on up to its maximum age.
  for (int i = 0; i < 12; ++i) {
    cClock.AdvanceSeconds(290);
    EXPECT_EQ(Verify(token), 0) << i;
  }
  cClock.AdvanceSeconds(240);
  EXPECT_EQ(Verify(token), kRcNoSession);  // 3600 s old

  const std::string idle = SignedIn();
  cClock.AdvanceSeconds(300);
  EXPECT_EQ(Verify(idle), kRcNoSession);

  const std::string out = SignedIn();
  Caller caller;
  EXPECT_EQ(pAuth->SignOut(out, caller), 0);
  EXPECT_EQ(caller.opId, 1001);
  EXPECT_EQ(Verify(out), kRcNoSession);
  EXPECT_EQ(pAuth->SignOut(out, caller), 0);  // a repeat whose first answer was lost
  EXPECT_EQ(pAuth->SignOut(std::string(64, '0'), caller), kRcNoSession);

  // Forged, empty, and another database's tokens name no session here.
  SqliteOperatorStore otherStore(pDir->File("other.db"));
  Authenticator other(otherStore, AuthPolicy(), cClock);
  Authenticator::SignedIn elsewhere;
  ASSERT_EQ(other.SignIn(kDemoLogin, kDemoPassword, elsewhere), 0);
  const std::string live = SignedIn();
  std::string forged = live;
  forged[10] = forged[10] == 'a' ? 'b' : 'a';
  for (const std::string& t : {forged, std::string(), elsewhere.token, live.substr(0, 63)})
    EXPECT_EQ(Verify(t), kRcNoSession) << t;
  EXPECT_EQ(Verify(live), 0);

  // A new password (here the same hash again) ends the operator's sessions.
  OperatorAccount account;
  ASSERT_TRUE(pStore->FindOperator(kDemoLogin, account));
  ASSERT_TRUE(pStore->SetPasswordHash(kDemoLogin, account.passwordHash));
  EXPECT_EQ(Verify(live), kRcNoSession);
  EXPECT_EQ(Verify(SignedIn()), 0);
}

// With reads kept for a while, a change made by another process arrives
// only when the session is read again; the clock, and a sign-out through
// the same authenticator, count at once.
TEST_F(AuthTest, ReadsAreKeptForTheRecheckTime) {
  AuthPolicy policy;
  policy.recheckMs = 3600 * 1000;
  Authenticator keeping(*pStore, policy, cClock);
  Authenticator::SignedIn a, b;
  ASSERT_EQ(keeping.SignIn(kDemoLogOnlyLogin, kDemoLogOnlyPassword, a), 0);
  ASSERT_EQ(keeping.SignIn(kDemoLogOnlyLogin, kDemoLogOnlyPassword, b), 0);
  Caller caller;
  EXPECT_EQ(keeping.Verify(a.token, kLogServiceCode, caller), 0);
  EXPECT_EQ(keeping.Verify(b.token, kUserServiceCode, caller), kRcNoRight);
  ASSERT_TRUE(pStore->SetLocked(kDemoLogOnlyLogin, true));
  EXPECT_EQ(keeping.Verify(a.token, kLogServiceCode, caller), 0);  // not read again yet
  EXPECT_EQ(Verify(a.token), kRcNoSession);                        // read on every call
  ASSERT_TRUE(pStore->SetLocked(kDemoLogOnlyLogin, false));
  EXPECT_EQ(keeping.SignOut(a.token, caller), 0);
  EXPECT_EQ(keeping.Verify(a.token, kLogServiceCode, caller), kRcNoSession);
  cClock.AdvanceSeconds(policy.maxAgeS);
  EXPECT_EQ(keeping.Verify(b.token, kLogServiceCode, caller), kRcNoSession);
}

TEST_F(AuthTest, RightsPerServiceCode) {
  const std::string token = SignedIn(kDemoLogOnlyLogin, kDemoLogOnlyPassword);
  Caller caller;
  EXPECT_EQ(pAuth->Verify(token, kLogServiceCode, caller), 0);
  EXPECT_EQ(pAuth->Verify(token, kUserServiceCode, caller), kRcNoRight);
  EXPECT_EQ(caller.opId, 1002);  // known, for the audit
  EXPECT_EQ(pAuth->Verify(token, "NOSUCHSV", caller), kRcNoRight);
}

// The service with sign-in required, called as a server calls it.
class VerifiedService : public AuthTest {
 protected:
  void SetUp() override {
    AuthTest::SetUp();
    pAudit = std::make_unique<AuditWriter>(Path());
    ServiceConfig config;
    config.dbPath = Path();
    config.connections = 1;
    pService = std::make_unique<Service>(config, pAudit.get(), pAuth.get());
  }

  int Call(const std::string& session, const char* iface, const char* code,
           const std::string& request, std::string& reply) {
    return pService->Handle({session, "tcp:192.0.2.7:40000"}, iface, code, request, reply);
  }
  int UserQuery(const std::string& session, int opId = 4711) {
    std::string reply;
    return Call(
        session, kUserInterface, kUserServiceCode,
        wire::Request(kUserRequestStream, wire::UserIn("13900000000"), wire::Operator(opId)),
        reply);
  }
  // The newest audit row: op_id, declared_op_id, op_login, peer_address, result.
  std::string LastAudit() {
    pAudit->Flush();
    Database db(Path(), Database::Mode::kReadOnly);
    Statement s = db.Prepare(
        "SELECT op_id || ' ' || declared_op_id || ' ' || op_login || ' ' || peer_address || ' ' "
        "|| service_code || ' ' || result FROM mp_audit ORDER BY id DESC LIMIT 1");
    return s.Step() ? std::string(s.Text(0)) : "";
  }

  std::unique_ptr<AuditWriter> pAudit;
  std::unique_ptr<Service> pService;
};

TEST_F(VerifiedService, SignInAndOutOverTheOperations) {
  MSysmgntDef::SSignInIn in;
  in.set_LOGIN_NAME(kDemoLogin);
  in.set_OP_PASSWD(kDemoPassword);
  in.set_OP_ADDRESS("10.1.2.3");
  std::string reply;
  ASSERT_EQ(
      Call("", kAuthInterface, kSignInServiceCode, wire::Stream(kSignInRequestStream, in), reply),
      0);
  tmb_stream out;
  out.load(reply);
  MSysmgntDef::SOperator op;
  MSysmgntDef::SSessionInfo session;
  QRSErrorMsg error;
  ASSERT_TRUE(out.begin_stream(kSignInReplyStream));
  out >> op >> session >> error;
  ASSERT_TRUE(out.end_stream());
  EXPECT_EQ(op.LOGIN_NAME, kDemoLogin);
  EXPECT_EQ(op.Marker & (uint64_t{1} << 9), 0u);  // no password field at all
  EXPECT_EQ(session.RIGHTS, "BABOMOMP,BACUQQMP,EXPORT");
  EXPECT_EQ(session.IDLE_TIMEOUT, 300);
  EXPECT_EQ(LastAudit(), "1001 0 demo tcp:192.0.2.7:40000 BASMLGIN 0");
  EXPECT_EQ(reply.find(kDemoPassword), std::string::npos);

  EXPECT_EQ(UserQuery(session.SESSION_TOKEN, 1001), 0);
  const std::string signOut = wire::Stream(kSignOutRequestStream);
  ASSERT_EQ(Call(session.SESSION_TOKEN, kAuthInterface, kSignOutServiceCode, signOut, reply), 0);
  EXPECT_EQ(UserQuery(session.SESSION_TOKEN, 1001), kRcNoSession);

  // A wrong password: the refusal's text, audited without the password.
  in.set_OP_PASSWD("wrong");
  ASSERT_EQ(
      Call("", kAuthInterface, kSignInServiceCode, wire::Stream(kSignInRequestStream, in), reply),
      kRcSignInFailed);
  out.load(reply);
  out.begin_stream(kSignInReplyStream);
  out >> op >> session >> error;
  EXPECT_EQ(error.get_msg(), messages::kSignInFailed);
  EXPECT_EQ(LastAudit(), "0 0  tcp:192.0.2.7:40000 BASMLGIN 1010");
}

// Calls refused before an operator is known, with no session or an unknown
// one, make one row per peer and minute and then a count: a stranger cannot
// grow the audit without bound.
TEST_F(VerifiedService, RefusalsWithoutAnOperatorAreMergedPerPeer) {
  const std::string request = wire::Request(kUserRequestStream, wire::UserIn("13900000000"));
  for (int i = 0; i < 200; ++i) {
    std::string reply;
    EXPECT_EQ(pService->Handle({i % 2 ? "" : std::string(64, 'f'),
                                "tcp:198.51.100.9:" + std::to_string(1000 + i)},
                               kUserInterface, kUserServiceCode, request, reply),
              kRcNoSession);
  }
  pAudit->Stop();  // the interval's count is written as it stops
  Database db(Path(), Database::Mode::kReadOnly);
  Statement s = db.Prepare(
      "SELECT conditions FROM mp_audit WHERE peer_address LIKE 'tcp:198.51.100.9:%' ORDER BY id");
  std::vector<std::string> rows;
  while (s.Step()) rows.emplace_back(s.Text(0));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].substr(0, 26), "no session, 199 more since");
}

TEST_F(VerifiedService, RefusesBeforeAnySql) {
  // Without its log table the database fails any query: a refusal that came
  // after the SQL would be a database error instead.
  TempDir dir;
  const std::string broken = dir.File("broken.db");
  {
    DemoOptions o;
    o.rows = 50;
    GenerateDemo(broken, o);
    SqliteOperatorStore store(broken);
    AddDemoOperators(store);
  }
  SqliteOperatorStore store(broken);
  Authenticator auth(store, AuthPolicy(), cClock);
  AuditWriter audit(broken);
  ServiceConfig config;
  config.dbPath = broken;
  config.connections = 1;
  Service service(config, &audit, &auth);
  Database(broken, Database::Mode::kReadWrite).Exec("DROP TABLE mp_so_log; DROP TABLE mp_user;");
  Authenticator::SignedIn logOnly;
  ASSERT_EQ(auth.SignIn(kDemoLogOnlyLogin, kDemoLogOnlyPassword, logOnly), 0);

  struct Case {
    std::string session;
    const char* code;
    int expected;
    const char* text;
  };
  const std::string request = wire::Request(kLogRequestStream, wire::LogIn(0, 0, "139", 0, 0));
  const std::string userRequest = wire::Request(kUserRequestStream, wire::UserIn("139"));
  for (const Case& c : std::initializer_list<Case>{
           {"", kLogServiceCode, kRcNoSession, messages::kNoSession},
           {std::string(64, '0'), kLogServiceCode, kRcNoSession, messages::kNoSession},
           {logOnly.token, kUserServiceCode, kRcNoRight, messages::kNoRight},
           {logOnly.token, kLogServiceCode, kRcDatabase, messages::kDatabase},  // the SQL ran
       }) {
    std::string reply;
    const bool log = std::string_view(c.code) == kLogServiceCode;
    EXPECT_EQ(service.Handle({c.session, "tcp:127.0.0.1:1"}, log ? kLogInterface : kUserInterface,
                             c.code, log ? request : userRequest, reply),
              c.expected);
    QRSErrorMsg error;
    if (log) {
      error = wire::ReadLogReply(reply).error;
    } else {
      error = wire::ReadUserReply(reply).error;
    }
    EXPECT_EQ(error.get_code(), c.expected);
    EXPECT_EQ(error.get_msg(), c.text);
  }
  audit.Flush();
  Database db(broken, Database::Mode::kReadOnly);
  Statement s = db.Prepare("SELECT group_concat(result) FROM mp_audit");
  ASSERT_TRUE(s.Step());
  // The second refusal without a session, from the same peer, is counted
  // in the first one's row (written as the writer stops).
  EXPECT_EQ(s.Text(0), "1008,1009,1006");
}

TEST_F(VerifiedService, ForgedOperatorIsAuditedUnderTheVerifiedOne) {
  const std::string token = SignedIn();
  EXPECT_EQ(UserQuery(token, 1002), 0);
  EXPECT_EQ(LastAudit(), "1001 1002 demo tcp:192.0.2.7:40000 BACUQQMP 0");
  EXPECT_EQ(UserQuery(token, 1001), 0);
  EXPECT_EQ(LastAudit(), "1001 0 demo tcp:192.0.2.7:40000 BACUQQMP 0");
  EXPECT_EQ(UserQuery("", 1001), kRcNoSession);
  EXPECT_EQ(LastAudit(), "0 1001  tcp:192.0.2.7:40000 BACUQQMP 1008");
}

}  // namespace

namespace {

// The directory of scripts/ldap-start (its operators alice, bob, carol and
// dora), started for the suite in a folder of its own and stopped after it;
// local demo operators beside it.
class DirectoryAuth : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pDir = new TempDir;
    setenv("MPAY_LDAP_DIR", pDir->File("ldap").c_str(), 1);
    bStarted = std::system(("bash " + Script("ldap-start") + " >/dev/null").c_str()) == 0;
    DemoOptions o;
    o.rows = 10;
    GenerateDemo(pDir->File("demo.db"), o);
    SqliteOperatorStore store(pDir->File("demo.db"));
    AddDemoOperators(store);
  }
  static void TearDownTestSuite() {
    EXPECT_EQ(std::system(("bash " + Script("ldap-stop") + " --remove >/dev/null").c_str()), 0);
    unsetenv("MPAY_LDAP_DIR");
    delete pDir;
  }
  void SetUp() override {
    ASSERT_TRUE(bStarted);
    pStore = std::make_unique<SqliteOperatorStore>(pDir->File("demo.db"));
    pDirectory = MakeLdapDirectory(Config());
    pAuth = Make(*pDirectory);
  }

  static std::string Script(const char* name) {
    return std::string(MPAY_SOURCE_PATH) + "/scripts/" + name;
  }
  static std::string Read(const std::string& name) {
    std::ifstream in(pDir->File("ldap/" + name));
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return text.substr(0, text.find('\n'));
  }
  static DirectoryConfig Config(const std::string& uriFile = "ldaps-uri") {
    DirectoryConfig c;
    c.uri = Read(uriFile);
    c.caFile = pDir->File("ldap/ca.pem");
    c.bindDn = "cn=reader,dc=mpay,dc=test";
    c.bindPassword = Read("reader.password");
    std::ifstream in(pDir->File("ldap/map.conf"));
    const std::string map((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(ParseDirectoryMap(map, "map.conf", c.map), "");
    return c;
  }
  std::unique_ptr<Authenticator> Make(Directory& directory) {
    AuthPolicy policy;
    policy.maxFailedSignIns = 3;
    policy.recheckMs = 0;
    return std::make_unique<Authenticator>(*pStore, policy, SystemClock(), &directory);
  }
  // Changes alice's entry as the directory's administrator would.
  static bool Modify(const std::string& ldif) {
    FILE* p = popen(("ldapmodify -H " + Read("ldap-uri") + " -x -D cn=admin,dc=mpay,dc=test -y " +
                     pDir->File("ldap/admin.password") + " >/dev/null")
                        .c_str(),
                    "w");
    if (!p) return false;
    std::fputs(ldif.c_str(), p);
    return pclose(p) == 0;
  }

  static TempDir* pDir;
  static bool bStarted;
  std::unique_ptr<SqliteOperatorStore> pStore;
  std::unique_ptr<Directory> pDirectory;
  std::unique_ptr<Authenticator> pAuth;
};
TempDir* DirectoryAuth::pDir = nullptr;
bool DirectoryAuth::bStarted = false;

}  // namespace

// Directory operators sign in with their entry's fields and their groups'
// rights, over ldaps:// and over ldap:// on loopback; every refusal is the
// local accounts' 1010, whatever the directory said; local accounts go on.
TEST_F(DirectoryAuth, OperatorsSignInWithTheirEntryAndGroups) {
  Authenticator::SignedIn out;
  ASSERT_EQ(pAuth->SignIn("alice", "alice-Pass-2026", out), 0);
  EXPECT_EQ(out.account.record.OP_ID, 5001);
  EXPECT_EQ(out.account.record.ORG_ID, 31);
  EXPECT_EQ(out.account.record.OP_NAME, "alice operator");
  EXPECT_EQ(out.account.rights, (std::vector<std::string>{kLogServiceCode, kUserServiceCode}));
  const auto clear = MakeLdapDirectory(Config("ldap-uri"));
  ASSERT_EQ(Make(*clear)->SignIn("bob", "bob-Pass-2026", out), 0);
  Caller caller;
  EXPECT_EQ(pAuth->Verify(out.token, kLogServiceCode, caller), kRcNoRight);
  EXPECT_EQ(pAuth->Verify(out.token, kUserServiceCode, caller), 0);
  EXPECT_EQ(caller.opId, 5002);

  struct Case {
    const char* login;
    const char* password;
    int expected;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"alice", "wrong", kRcSignInFailed},
           {"alice", "", kRcSignInFailed},               // never an anonymous bind
           {"dora", "dora-Pass-2026", kRcSignInFailed},  // disabled in the directory
           {"nobody", "x", kRcSignInFailed},
           {"*", "alice-Pass-2026", kRcSignInFailed},  // a login is no pattern
           {kDemoLogin, kDemoPassword, 0},
       }) {
    EXPECT_EQ(pAuth->SignIn(c.login, c.password, out), c.expected) << c.login;
  }
  // Locked by wrong passwords as a local account is, told only after the
  // right one.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(pAuth->SignIn("carol", "x", out), kRcSignInFailed);
  EXPECT_EQ(pAuth->SignIn("carol", "carol-Pass-2026", out), kRcOperatorLocked);
  pStore->SetLocked("carol", false);

  // A directory that cannot be reached, or whose certificate does not check
  // out, has an answer of its own; the local accounts do not need it.
  DirectoryConfig closed = Config(), untrusted = Config();
  closed.uri = "ldaps://127.0.0.1:1";
  untrusted.caFile = pDir->File("ldap/other-ca.pem");  // of the same name, but not the one
  for (const DirectoryConfig& c : {closed, untrusted}) {
    const auto down = MakeLdapDirectory(c);
    const auto auth = Make(*down);
    EXPECT_EQ(auth->SignIn("alice", "alice-Pass-2026", out), kRcDirectoryUnavailable) << c.uri;
    EXPECT_EQ(auth->SignIn(kDemoLogin, kDemoPassword, out), 0);
  }
}

// Disabled in the directory, an operator's sessions end at the next recheck;
// enabled again, it signs in again.
TEST_F(DirectoryAuth, AnAccountDisabledInTheDirectoryEndsItsSessions) {
  Authenticator::SignedIn out;
  ASSERT_EQ(pAuth->SignIn("alice", "alice-Pass-2026", out), 0);
  Caller caller;
  EXPECT_EQ(pAuth->Verify(out.token, kLogServiceCode, caller), 0);
  const std::string dn = "dn: uid=alice,ou=people,dc=mpay,dc=test\nchangetype: modify\n";
  ASSERT_TRUE(Modify(dn + "add: employeeType\nemployeeType: disabled\n"));
  EXPECT_EQ(pAuth->Verify(out.token, kLogServiceCode, caller), 0);  // until the recheck
  EXPECT_EQ(pAuth->RecheckDirectory(), 1);
  EXPECT_EQ(pAuth->Verify(out.token, kLogServiceCode, caller), kRcNoSession);
  ASSERT_TRUE(Modify(dn + "delete: employeeType\n"));
  EXPECT_EQ(pAuth->SignIn("alice", "alice-Pass-2026", out), 0);
}
