// The operator's road end to end: mpay-host --headless with the real module
// (found in the modules folder, no option) against a real mpay-backoffice
// on a temporary database over tcp.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>

#include "../backoffice/child_process.h"
#include "../backoffice/demo_db.h"
#include "../backoffice/test_db.h"
#include "backoffice/sqlite_db.h"
#include "host_process.h"
#include "script_text.h"
#include "tmclient/tcp_server.h"
#include "tmclient/tmd_error.h"

namespace {

using Lines = std::vector<std::string>;

// The `row` lines of the dump that starts at line `from`.
std::vector<std::vector<std::string>> DumpRows(const Lines& lines, size_t from) {
  std::vector<std::vector<std::string>> rows;
  for (size_t i = from + 1; i < lines.size() && lines[i].rfind("row\t", 0) == 0; ++i) {
    rows.push_back(SplitOutputLine(lines[i]));
  }
  return rows;
}

class HostRoad : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pDir = new TempDir;
    strDb = pDir->File("demo.db");
    MakeDemoDatabase(strDb, 3000);
    for (const auto& [phone, rows] : PhonesWithLogRows(strDb, 3, 1)) strPhone = phone;
    backoffice::Database db(strDb, backoffice::Database::Mode::kReadOnly);
    backoffice::Statement logs =
        db.Prepare("SELECT so_nbr FROM mp_so_log WHERE phone_id = ?1 ORDER BY so_date, so_nbr");
    logs.Bind(1, strPhone);
    while (logs.Step()) soNumbers.push_back(std::to_string(logs.Int(0)));

    pBackoffice = new ChildProcess;
    const std::string url = "tcp://127.0.0.1:" + std::to_string(FreePort());
    bReady = pBackoffice->Start({BACKOFFICE_EXE, "--db", strDb, "--listen", url}) &&
             !pBackoffice->WaitForLine("serving tcp://").empty();
    setenv("TMCLIENT_BROKER_TALMIRON", url.c_str(), 1);
    setenv("MPAY_PASSWORD", backoffice::kDemoPassword, 1);
  }
  static void TearDownTestSuite() {
    delete pBackoffice;
    delete pDir;
    unsetenv("TMCLIENT_BROKER_TALMIRON");
    unsetenv("MPAY_PASSWORD");
  }
  void SetUp() override {
    ASSERT_TRUE(bReady) << pBackoffice->output();
    ASSERT_FALSE(strPhone.empty());
  }

  static inline TempDir* pDir = nullptr;
  static inline ChildProcess* pBackoffice = nullptr;
  static inline std::string strDb, strPhone;
  static inline std::vector<std::string> soNumbers;  // of strPhone, in time order
  static inline bool bReady = false;
};

TEST_F(HostRoad, LogAndUserQueriesFromClicksToRows) {
  const CHostRun run = RunProgram({MPAY_HOST_EXE, "--headless", "--login", "demo"},
                                  "open 10001\n"
                                  "click btnQuery\n"
                                  "focus\n"
                                  "click chkMobilno\n"
                                  "type edtMobilno 12345\n"
                                  "click btnQuery\n"
                                  "focus\n"
                                  "key edtMobilno Ctrl+A\n"
                                  "set edtMobilno \n"
                                  "type edtMobilno " +
                                      strPhone +
                                      "\n"
                                      "click btnQuery\n"
                                      "dump lvstShow\n"
                                      "header lvstShow 0\n"
                                      "dump lvstShow\n"
                                      "rclick lvstShow 0 3\n"
                                      "menu 复制单元格\n"
                                      "clipboard\n"
                                      "click chkQryUser\n"
                                      "state chkMobilno\n"
                                      "click btnQuery\n"
                                      "dump lvstShow\n"
                                      "close\n");
  ASSERT_EQ(run.iExitStatus, 0) << run.strOut << run.strErr;
  const Lines lines = run.Lines();
  EXPECT_EQ(lines.at(0), "mpay-host: signed in as demo (OP_ID 1001)");
  auto find = [&](const std::string& prefix, size_t from = 0) {
    for (size_t i = from; i < lines.size(); ++i) {
      if (lines[i].rfind(prefix, 0) == 0) return i;
    }
    ADD_FAILURE() << "no line " << prefix << " in\n" << run.strOut;
    return lines.size();
  };

  // The checks: no condition, then a malformed number; each moves the focus.
  size_t at = find("message\t提示\t64\t必须选择至少一项查询条件！");
  EXPECT_EQ(lines.at(at + 1), "focus\tchkSono");
  at = find("message\t提示\t64\t手机号码格式不正确！", at);
  EXPECT_EQ(lines.at(at + 1), "focus\tedtMobilno");

  // The log rows are the database's rows of the phone, in time order.
  at = find("wait\tshow\t正在查询小额支付日志", at);
  const size_t firstDump = find("columns\t工单编号:", at);
  const auto logRows = DumpRows(lines, firstDump);
  ASSERT_EQ(logRows.size(), soNumbers.size()) << run.strOut;
  for (size_t i = 0; i < logRows.size(); ++i) {
    EXPECT_EQ(logRows[i].at(1), soNumbers[i]);
    EXPECT_EQ(logRows[i].at(2), strPhone);
  }
  EXPECT_EQ(lines.at(firstDump + 1 + logRows.size()), "rows\t" + std::to_string(soNumbers.size()));

  // A header click sorts by the service-order number, largest first.
  const size_t secondDump = find("columns\t工单编号:", firstDump + 1);
  const auto sorted = DumpRows(lines, secondDump);
  std::vector<std::string> expected = soNumbers;
  std::sort(expected.rbegin(), expected.rend(), [](const std::string& a, const std::string& b) {
    return std::stoll(a) < std::stoll(b);
  });
  ASSERT_EQ(sorted.size(), expected.size());
  for (size_t i = 0; i < sorted.size(); ++i) EXPECT_EQ(sorted[i].at(1), expected[i]);

  // A right-click copy puts the cell under the click on the clipboard.
  EXPECT_EQ(lines.at(find("clipboard\t", secondDump)), "clipboard\t" + sorted[0].at(4));

  // User mode: only the mobile number, ticked and disabled; one user row
  // whose password is never shown.
  EXPECT_EQ(lines.at(find("state\tchkMobilno", secondDump)),
            "state\tchkMobilno\tchecked=1\tenabled=0\ttext=手机号码：");
  const size_t userDump = find("columns\t用户编号:", secondDump);
  const auto userRows = DumpRows(lines, userDump);
  ASSERT_EQ(userRows.size(), 1u) << run.strOut;
  EXPECT_EQ(userRows[0].at(2), strPhone);
  EXPECT_EQ(userRows[0].at(3), "******");
  EXPECT_EQ(lines.back(), "rows\t1");
}

// The list saved and printed from a script, read back by other programs.
TEST_F(HostRoad, SavesAndPrintsTheListShown) {
  const std::string csv = pDir->File("list.csv"), xlsx = pDir->File("list.xlsx"),
                    pdf = pDir->File("list.pdf");
  const CHostRun run = RunProgram({MPAY_HOST_EXE, "--headless", "--login", "demo"},
                                  "open 10001\n"
                                  "saveas " +
                                      csv +
                                      "\n"
                                      "click chkMobilno\n"
                                      "type edtMobilno " +
                                      strPhone +
                                      "\n"
                                      "click btnQuery\n"
                                      "key lvstShow Ctrl+S\n"
                                      "saveas " +
                                      csv +
                                      "\n"
                                      "saveas " +
                                      xlsx +
                                      "\n"
                                      "print " +
                                      pdf +
                                      "\n"
                                      "saveas " +
                                      pDir->File("list.txt") +
                                      "\n"
                                      "print " +
                                      csv + "\n");
  const Lines lines = run.Lines();
  const auto count = [&](const std::string& prefix) {
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
  };
  // Before the query the list is empty: the action is off. The shortcut
  // reaches the frame's 文件 menu and asks for a file (none given here).
  EXPECT_EQ(count("error\t2\tactSaveAs of the current window is off"), 1) << run.strOut;
  EXPECT_EQ(count("dialog\t另存为\tcancelled"), 1) << run.strOut;
  EXPECT_EQ(count("dialog\t另存为\t" + csv), 1);
  EXPECT_EQ(count("dialog\t打印\t" + pdf), 1);
  EXPECT_EQ(count("message\t提示\t16\t保存列表失败"), 1);  // .txt: no such format
  EXPECT_EQ(count("error\t10\tnothing was written"), 1);
  EXPECT_EQ(count("error\t11\tprint writes a PDF file"), 1);
  EXPECT_EQ(count("error\t"), 3) << run.strOut;

  const auto read = [&](const std::string& command) {
    const CHostRun r = RunProgram({"/bin/sh", "-c", command}, "");
    EXPECT_EQ(r.iExitStatus, 0) << r.strErr;
    return r.Lines();
  };
  // Every row in the order shown (time order), header first.
  Lines saved = read(
      "/usr/bin/python3 -c \"import csv,sys\nfor r in csv.reader(open(sys.argv[1], "
      "encoding='utf-8-sig')): print(r[0])\" " +
      csv);
  ASSERT_EQ(saved.size(), soNumbers.size() + 1);
  EXPECT_EQ(saved[0], "工单编号");
  EXPECT_EQ(Lines(saved.begin() + 1, saved.end()), soNumbers);
  saved = read(
      "/usr/bin/python3 -c \"import openpyxl,sys\nfor r in openpyxl.load_workbook(sys.argv[1])"
      ".active.iter_rows(min_row=2): print(r[0].value, isinstance(r[5].value, (int, float)))\" " +
      xlsx);
  ASSERT_EQ(saved.size(), soNumbers.size());
  for (size_t i = 0; i < saved.size(); ++i) EXPECT_EQ(saved[i], soNumbers[i] + " True");
  const Lines printed = read("pdftotext " + pdf + " - | tr -d ' '");  // without its blanks
  std::string text;
  for (const std::string& line : printed) text += line + "\n";
  for (const std::string& number : soNumbers) EXPECT_NE(text.find(number), std::string::npos);
  EXPECT_NE(text.find("第1页/共1页"), std::string::npos) << text;
  EXPECT_NE(text.find("手机号码=" + strPhone), std::string::npos) << text;

  // Each file that was written was recorded first, with its rows: the
  // audit's rows for the export operation (written by the back office
  // within its commit interval).
  const std::string rows = std::to_string(soNumbers.size());
  const std::vector<std::string> expected = {"LIST=log OUTPUT=saved FORMAT=csv ROWS=" + rows,
                                             "LIST=log OUTPUT=saved FORMAT=xlsx ROWS=" + rows,
                                             "LIST=log OUTPUT=printed FORMAT=pdf ROWS=" + rows};
  std::vector<std::string> audited;
  for (int i = 0; i < 50 && audited.size() < expected.size(); ++i) {
    audited.clear();
    backoffice::Database db(strDb, backoffice::Database::Mode::kReadOnly);
    backoffice::Statement q = db.Prepare(
        "SELECT conditions, row_count, result FROM mp_audit WHERE service_code = 'BAEXPORT' "
        "AND op_id = 1001 ORDER BY id");
    while (q.Step()) {
      EXPECT_EQ(q.Int(1), static_cast<int64_t>(soNumbers.size()));
      EXPECT_EQ(q.Int(2), 0);
      audited.emplace_back(q.Text(0));
    }
    if (audited.size() < expected.size()) usleep(100 * 1000);
  }
  ASSERT_EQ(audited.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(audited[i].rfind(expected[i], 0), 0u) << audited[i];
}

// An operator without the right: the back office refuses (1009), the window
// shows its failure box, and nothing is written.
TEST_F(HostRoad, ExportWithoutTheRightLeavesNoFile) {
  setenv("MPAY_PASSWORD", backoffice::kDemoLogOnlyPassword, 1);
  const std::string csv = pDir->File("refused.csv");
  const CHostRun run = RunProgram({MPAY_HOST_EXE, "--headless", "--login", "logonly"},
                                  "open 10001\n"
                                  "click chkMobilno\n"
                                  "type edtMobilno " +
                                      strPhone +
                                      "\n"
                                      "click btnQuery\n"
                                      "saveas " +
                                      csv + "\n");
  setenv("MPAY_PASSWORD", backoffice::kDemoPassword, 1);
  EXPECT_NE(run.strOut.find("message\t提示\t16\t导出列表失败\\n当前操作员没有"), std::string::npos)
      << run.strOut;
  EXPECT_NE(run.strOut.find("error\t5\tnothing was written"), std::string::npos) << run.strOut;
  struct stat st {};
  EXPECT_NE(::stat(csv.c_str(), &st), 0);
}

TEST_F(HostRoad, EmptyResultAndDateCheckAreMessages) {
  // Only a date range of a day without rows: an empty result.
  const CHostRun run = RunProgram({MPAY_HOST_EXE, "--headless", "--login", "demo"},
                                  "open 10001\n"
                                  "click chkSoDate\n"
                                  "date dtpBeginDate 2001-01-01\n"
                                  "date dtpEndDate 2001-01-01\n"
                                  "click btnQuery\n"
                                  "dump lvstShow\n"
                                  "date dtpBeginDate 2001-01-02\n"
                                  "click btnQuery\n"
                                  "focus\n");
  ASSERT_EQ(run.iExitStatus, 0) << run.strOut << run.strErr;
  const std::string& out = run.strOut;
  EXPECT_NE(out.find("message\t提示\t64\t没有符合条件的记录！\n"), std::string::npos) << out;
  EXPECT_NE(out.find("rows\t0\n"), std::string::npos) << out;
  EXPECT_NE(out.find("message\t提示\t64\t开始时间不能大于结束时间！\nfocus\tdtpBeginDate\n"),
            std::string::npos)
      << out;
}

TEST_F(HostRoad, UnreachableBackOfficeIsAnErrorMessage) {
  const std::string serving = getenv("TMCLIENT_BROKER_TALMIRON");
  setenv("TMCLIENT_BROKER_TALMIRON", ("tcp://127.0.0.1:" + std::to_string(FreePort())).c_str(), 1);
  const CHostRun run = RunProgram({MPAY_HOST_EXE, "--headless"},
                                  "open 10001\n"
                                  "click chkMobilno\n"
                                  "type edtMobilno " +
                                      strPhone +
                                      "\n"
                                      "click btnQuery\n"
                                      "dump lvstShow\n");
  setenv("TMCLIENT_BROKER_TALMIRON", serving.c_str(), 1);
  ASSERT_EQ(run.iExitStatus, 0) << run.strOut << run.strErr;
  // Both proxies fail to bind when the window is made, and the query fails
  // with the facade's text; the box's line feed is escaped.
  EXPECT_EQ(run.strOut.rfind("message\t提示\t16\t初始化失败\n"
                             "message\t提示\t16\t初始化失败\n",
                             0),
            0u)
      << run.strOut;
  EXPECT_NE(run.strOut.find("message\t提示\t16\t查询小额支付日志失败\\n"), std::string::npos)
      << run.strOut;
  EXPECT_NE(run.strOut.find("rows\t0\n"), std::string::npos);
}

TEST_F(HostRoad, TimeoutGivesUpACallTheFarEndHolds) {
  // A far end that takes each request and answers nothing until the test
  // ends.
  std::mutex lock;
  std::condition_variable released;
  bool ending = false;
  std::atomic<int> requests{0};
  tmclient::TcpServer held(
      [&](const std::string&, const std::string&, std::string_view, std::string&) {
        ++requests;
        std::unique_lock l(lock);
        released.wait(l, [&] { return ending; });
        return tmclient::kErrServiceFailed;
      });
  ASSERT_TRUE(held.Start());
  const std::string serving = getenv("TMCLIENT_BROKER_TALMIRON");
  setenv("TMCLIENT_BROKER_TALMIRON", ("tcp://127.0.0.1:" + std::to_string(held.port())).c_str(), 1);
  const CHostRun run = RunProgram({MPAY_HOST_EXE, "--headless"},
                                  "open 10001\n"
                                  "click chkQryUser\n"
                                  "set edtMobilno " +
                                      strPhone +
                                      "\n"
                                      "timeout 200 click btnQuery\n"
                                      "dump lvstShow\n");
  setenv("TMCLIENT_BROKER_TALMIRON", serving.c_str(), 1);
  {
    std::lock_guard l(lock);
    ending = true;
  }
  released.notify_all();
  ASSERT_EQ(run.iExitStatus, 0) << run.strOut << run.strErr;
  EXPECT_NE(run.strOut.find("wait\tshow\t正在查询小额支付用户信息，请稍后...\n"
                            "message\t提示\t16\t查询小额支付用户信息失败\\n"
                            "操作员已取消本次调用，不再等待服务端应答\n"
                            "wait\tclose\t正在查询小额支付用户信息，请稍后...\n"
                            "columns\t"),
            std::string::npos)
      << run.strOut;
  EXPECT_NE(run.strOut.find("rows\t0\n"), std::string::npos);
  EXPECT_EQ(requests, 1);
}

// Headless sign-in that cannot be had, and a host that did not sign in: the
// back office refuses its query, and the window's own box says why.
TEST_F(HostRoad, SignInRefusalsAndCallsWithoutASession) {
  TempDir dir;
  const std::string shared = dir.File("shared-password");
  const std::string own = dir.File("own-password");
  for (const auto& [path, mode] : {std::pair{shared, 0644}, std::pair{own, 0600}}) {
    FILE* f = std::fopen(path.c_str(), "w");
    std::fputs("demo1234\n", f);
    std::fclose(f);
    chmod(path.c_str(), mode);
  }
  struct Case {
    std::vector<std::string> args;
    const char* password;  // MPAY_PASSWORD
    const char* stderrHas;
  };
  for (const Case& c : std::initializer_list<Case>{
           {{"--login", "demo"}, "wrong", "sign-in as demo failed: [1010] 登录名或密码错误！"},
           {{"--login", "nobody"}, "demo1234", "[1010] 登录名或密码错误！"},
           {{"--login", "expired"}, "expired1234", "[1012]"},
           {{"--login", "demo"}, "", "no password"},
           {{"--login", "demo", "--password-file", shared}, "demo1234", "others can read"},
       }) {
    std::vector<std::string> argv{MPAY_HOST_EXE, "--headless"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    setenv("MPAY_PASSWORD", c.password, 1);
    const CHostRun run = RunProgram(argv, "open 10001\n");
    EXPECT_EQ(run.iExitStatus, 1) << c.args[1] << run.strErr;
    EXPECT_NE(run.strErr.find(c.stderrHas), std::string::npos) << run.strErr;
    EXPECT_EQ(run.strOut.find("open"), std::string::npos) << run.strOut;
  }
  unsetenv("MPAY_PASSWORD");
  const CHostRun signedIn =
      RunProgram({MPAY_HOST_EXE, "--headless", "--login", "demo", "--password-file", own}, "");
  EXPECT_EQ(signedIn.iExitStatus, 0) << signedIn.strErr;
  const CHostRun anonymous = RunProgram({MPAY_HOST_EXE, "--headless"},
                                        "open 10001\n"
                                        "click chkQryUser\n"
                                        "set edtMobilno " +
                                            strPhone +
                                            "\n"
                                            "click btnQuery\n");
  setenv("MPAY_PASSWORD", backoffice::kDemoPassword, 1);
  EXPECT_EQ(anonymous.iExitStatus, 0) << anonymous.strErr;
  EXPECT_NE(anonymous.strOut.find("登录已失效或已退出，请重新登录！"), std::string::npos)
      << anonymous.strOut;
}

}  // namespace
