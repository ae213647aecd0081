// Whole headless sessions of mpay-host against the test modules: the
// script language through real input events, the printed boxes, script
// errors and the exit status.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "host_process.h"

namespace {

std::string TestModule(const char* name) {
  return std::string(HOST_TEST_MODULES_DIR) + "/libhostmod_" + name + ".so";
}

CHostRun Host(const std::string& script, std::vector<std::string> args = {}) {
  std::vector<std::string> argv = {MPAY_HOST_EXE, "--headless"};
  if (args.empty()) args = {"--module", TestModule("good")};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(argv, script);
}

using Lines = std::vector<std::string>;

TEST(HeadlessHost, DrivesTheWindowThroughRealInput) {
  const std::string shot =
      (std::filesystem::temp_directory_path() / ("host-shot-" + std::to_string(getpid()) + ".png"))
          .string();
  const CHostRun run = Host(
      "# a whole session\n"
      "open 90001\n"
      "state edtName\n"
      "click chkFlag\n"
      "state chkFlag\n"
      "click btnFill\n"
      "focus\n"
      "type edtNumber 4a2\n"
      "type edtName 张三\n"
      "state edtNumber\n"
      "click btnFill\n"
      "dump lvstRows\n"
      "header lvstRows 0\n"
      "header lvstRows 0\n"
      "dump lvstRows\n"
      "rclick lvstRows 1 1\n"
      "menu 复制单元格\n"
      "clipboard\n"
      "select cmbKind 2\n"
      "state cmbKind\n"
      "set edtNumber 77\n"
      "date dtpDate 2024-02-29\n"
      "time dtpTime 23:59:58\n"
      "state dtpDate\n"
      "state dtpTime\n"
      "key edtNumber Enter\n"
      "focus\n"
      "shot " +
      shot +
      "\n"
      "click BtnExit\n"
      "focus\n");
  // The one error is the last line's: the window closed itself.
  EXPECT_EQ(run.iExitStatus, 1) << run.strErr;
  // Where the calls go, and who decided it, before any is made.
  EXPECT_NE(run.strErr.find("mpay-host: broker TALMIRON is "), std::string::npos) << run.strErr;
  const Lines expected = {
      "state\tedtName\tchecked=0\tenabled=1\ttext=演示操作员",
      "message\t提示\t64\t已勾选",
      "state\tchkFlag\tchecked=1\tenabled=1\ttext=标记",
      "message\t提示\t64\t请输入编号！",
      "focus\tedtNumber",
      "state\tedtNumber\tchecked=0\tenabled=1\ttext=42",
      "wait\tshow\t正在查询，请稍候...",
      "wait\tclose\t正在查询，请稍候...",
      "columns\t编号:60\t名称:120",
      "row\t2\t乙方",
      "row\t10\t甲方\\t制表",
      "row\t1\t42",
      "rows\t3",
      // The first click sorts descending, the second ascending, by value.
      "columns\t编号:60\t名称:120",
      "row\t1\t42",
      "row\t2\t乙方",
      "row\t10\t甲方\\t制表",
      "rows\t3",
      "clipboard\t乙方",
      "state\tcmbKind\tchecked=0\tenabled=1\ttext=丙\tindex=2",
      "state\tdtpDate\tchecked=0\tenabled=1\ttext=2024-02-29",
      "state\tdtpTime\tchecked=0\tenabled=1\ttext=23:59:58",
      "focus\tedtName",
      "error\t30\tno current window",
  };
  EXPECT_EQ(run.Lines(), expected) << run.strOut;
  EXPECT_EQ(std::filesystem::status(shot).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  std::ifstream png(shot, std::ios::binary);
  char magic[4] = {};
  png.read(magic, 4);
  EXPECT_EQ(std::string(magic + 1, 3), "PNG");
  std::remove(shot.c_str());
}

TEST(HeadlessHost, ScriptErrorsAreReportedAndTheSessionGoesOn) {
  // A picture is never written over a file or through a link.
  const std::string taken =
      (std::filesystem::temp_directory_path() / ("host-taken-" + std::to_string(getpid())))
          .string();
  std::ofstream(taken) << "kept";
  const std::string link = taken + ".link";
  std::filesystem::create_symlink(taken + ".target", link);
  const CHostRun run = Host(
      "focus\n"
      "open\n"
      "open x\n"
      "open 4242\n"
      "open 90002\n"
      "frobnicate edtName\n"
      "click\n"
      "click nothing\n"
      "select edtName 0\n"
      "select cmbKind 3\n"
      "key edtName F1\n"
      "date dtpDate 2023-02-30\n"
      "time dtpTime 24:00:00\n"
      "rclick lvstRows 0 0\n"
      "header lvstRows 5\n"
      "menu 复制单元格\n"
      "dump chkFlag\n"
      "clipboard now\n"
      "shot /nonexistent/folder/x.png\n"
      "shot " +
      taken +
      "\n"
      "shot " +
      link +
      "\n"
      "state edtName\n");
  EXPECT_EQ(run.iExitStatus, 1);
  const Lines expected = {
      "error\t1\tno current window",
      "error\t2\tusage: open ID",
      "error\t3\tnot a business id: x",
      "error\t4\t没有业务 4242",
      "error\t6\tunknown command frobnicate",
      "error\t7\tusage: click NAME",
      "error\t8\tno control nothing",
      "error\t9\tedtName is not a combo box",
      "error\t10\tno item 3 in cmbKind",
      "error\t11\tunknown key F1",
      "error\t12\tnot a date: 2023-02-30",
      "error\t13\tnot a time: 24:00:00",
      "error\t14\tno row 0 in lvstRows",
      "error\t15\tno column 5 in lvstRows",
      "error\t16\tno popup menu is open",
      "error\t17\tchkFlag is not a list view",
      "error\t18\tusage: clipboard",
      "error\t19\tcannot create /nonexistent/folder/x.png: No such file or directory",
      "error\t20\tcannot create " + taken + ": File exists",
      "error\t21\tcannot create " + link + ": File exists",
      "state\tedtName\tchecked=0\tenabled=1\ttext=演示操作员",
  };
  EXPECT_EQ(run.Lines(), expected) << run.strOut;
  std::ifstream kept(taken);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "kept");
  EXPECT_FALSE(std::filesystem::exists(taken + ".target"));
  std::filesystem::remove(taken);
  std::filesystem::remove(link);
}

TEST(HeadlessHost, ModuleFailuresAreBoxesAndTheExitStatus) {
  const CHostRun run = Host(
      "open 90101\nopen 90001\nstate chkFlag\nopen 90401\nstate chkFlag\nquit\nstate chkFlag\n",
      {"--module", TestModule("nogetid"), "--module", TestModule("badcount"), "--module",
       TestModule("nullform"), "--module", TestModule("good"), "--module", TestModule("throws")});
  EXPECT_EQ(run.iExitStatus, 1);
  const Lines lines = run.Lines();
  ASSERT_EQ(lines.size(), 8u) << run.strOut;
  EXPECT_EQ(lines[0],
            "message\tmpay-host\t16\t模块 libhostmod_nogetid.so 缺少入口函数 GetModuleId");
  EXPECT_EQ(lines[1].rfind("message\tmpay-host\t16\t模块 libhostmod_badcount.so 已损坏", 0), 0u);
  EXPECT_EQ(lines[2],
            "message\tmpay-host\t16\t模块 libhostmod_nullform.so 没有创建业务 90101 的窗口");
  EXPECT_EQ(lines[3], "error\t1\t模块 libhostmod_nullform.so 没有创建业务 90101 的窗口");
  EXPECT_EQ(lines[4], "state\tchkFlag\tchecked=0\tenabled=1\ttext=标记");
  // An exception out of CreateBusinessForm is a box with its text; the
  // window opened before stays the current one.
  EXPECT_EQ(
      lines[5],
      "message\tmpay-host\t16\t模块 libhostmod_throws.so 创建业务 90401 的窗口时出错：初始化异常");
  EXPECT_EQ(lines[6].rfind("error\t4\t", 0), 0u);
  EXPECT_EQ(lines[7], "state\tchkFlag\tchecked=0\tenabled=1\ttext=标记") << "quit ends the session";
}

TEST(HeadlessHost, KeysReachTheFocusedControl) {
  const CHostRun run = Host(
      "open 90001\n"
      // Control characters that no key types arrive as an input method's
      // text, which the edit refuses.
      "type edtNumber 1\x01"
      "2\x7f"
      "3\n"
      "key edtNumber Backspace\n"
      "state edtNumber\n"
      "key edtNumber Tab\n"
      "focus\n"
      "key edtName Backtab\n"
      "focus\n"
      "key edtNumber Ctrl+A\n"
      "key edtNumber Ctrl+C\n"
      "clipboard\n"
      "set edtName \n"
      "key edtName Ctrl+V\n"
      "key edtName Ctrl+V\n"
      "state edtName\n"
      "key edtName Ctrl+Z\n"
      "state edtName\n"
      "key cmbKind Down\n"
      "state cmbKind\n"
      "key edtNumber Escape\n"
      "key edtNumber Enter\n"
      "focus\n");
  EXPECT_EQ(run.iExitStatus, 0) << run.strOut << run.strErr;
  const Lines expected = {
      "state\tedtNumber\tchecked=0\tenabled=1\ttext=12",
      "focus\tedtName",
      "focus\tedtNumber",
      "clipboard\t12",
      "state\tedtName\tchecked=0\tenabled=1\ttext=1212",
      // The edit's undo takes back both pastes.
      "state\tedtName\tchecked=0\tenabled=1\ttext=",
      // The combo box starts with no item; Down selects the first.
      "state\tcmbKind\tchecked=0\tenabled=1\ttext=甲\tindex=0",
      // Enter moves to the next field, as the base window's posted focus
      // move does once every pending message was handled.
      "focus\tedtName",
  };
  EXPECT_EQ(run.Lines(), expected) << run.strOut;
}

TEST(HeadlessHost, OperatorFileAndOpenAtStart) {
  char path[] = "/tmp/host-operator-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::string text = "OP_ID = 7\nOP_NAME = 李四\nOP_PASSWD = s3cr3t-pw\n";
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);
  const CHostRun run = Host(
      "state edtName\n", {"--module", TestModule("good"), "--operator", path, "--open", "90002"});
  EXPECT_EQ(run.iExitStatus, 0) << run.strErr;
  EXPECT_EQ(run.Lines(), Lines{"state\tedtName\tchecked=0\tenabled=1\ttext=李四"});
  EXPECT_EQ((run.strOut + run.strErr).find("s3cr3t"), std::string::npos);

  std::ofstream(path, std::ios::app) << "OP_PASSWD = s3cr3t-pw\n";
  const CHostRun refused = Host("", {"--module", TestModule("good"), "--operator", path});
  EXPECT_EQ(refused.iExitStatus, 1);
  EXPECT_NE(refused.strErr.find("line 4: OP_PASSWD is given twice"), std::string::npos)
      << refused.strErr;
  EXPECT_EQ((refused.strOut + refused.strErr).find("s3cr3t"), std::string::npos);
  std::remove(path);
}

// Files the host reads whole: small regular files only, the operator file
// its owner's only. None blocks it, none is read for ever, each refusal says
// why and ends the run with status 1.
TEST(HeadlessHost, RefusesInputFilesThatAreNotSmallRegularFiles) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("host-inputs-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  auto file = [&](const std::string& name, const std::string& text, mode_t mode) {
    const std::string path = (dir / name).string();
    std::ofstream(path, std::ios::binary) << text;
    ::chmod(path.c_str(), mode);
    return path;
  };
  const std::string fifo = (dir / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    std::vector<std::string> args;
    std::string reason;
  } cases[] = {
      {{"--operator", "/dev/zero"}, "not a regular file"},
      {{"--operator", fifo}, "not a regular file"},
      {{"--operator", file("open", "OP_ID = 1\n", 0644)}, "other users may read or write it"},
      {{"--operator", file("big", std::string(64 * 1024 + 1, '#'), 0600)},
       "larger than 65536 bytes"},
      {{"--operator", file("long", "OP_NAME = " + std::string(5000, 'x') + "\n", 0600)},
       "line 1: longer than 4096 bytes"},
      {{"--operator", (dir / "missing").string()}, "cannot be read: No such file or directory"},
      {{"--script", "/dev/zero"}, "not a regular file"},
      {{"--script", fifo}, "not a regular file"},
      {{"--script", dir.string()}, "not a regular file"},
      {{"--script", file("huge", std::string((1u << 20) + 1, '#'), 0644)},
       "larger than 1048576 bytes"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> argv = {MPAY_HOST_EXE, "--headless", "--module", TestModule("good")};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const CHostRun run = RunProgram(argv, "", std::chrono::seconds(30));
    EXPECT_EQ(run.iExitStatus, 1) << c.args[1] << ": " << run.strErr;
    EXPECT_NE(run.strErr.find(c.args[1] + ": " + c.reason), std::string::npos)
        << c.args[1] << ": " << run.strErr;
  }
  // A line too long ends the script where it is.
  const CHostRun longLine = RunProgram(
      {MPAY_HOST_EXE, "--headless", "--module", TestModule("good"), "--script",
       file("long-line", "open 90002\n" + std::string(70000, 'x') + "\nstate edtName\n", 0644)},
      "");
  EXPECT_EQ(longLine.iExitStatus, 1);
  EXPECT_EQ(longLine.Lines(), Lines{"error\t2\ta line longer than 65536 bytes"});
  std::filesystem::remove_all(dir);
}

TEST(HeadlessHost, CommandLineErrorsAndHelp) {
  const CHostRun help = RunProgram({MPAY_HOST_EXE, "--help"}, "");
  EXPECT_EQ(help.iExitStatus, 0);
  for (const char* option : {"--module", "--operator", "--open", "--headless", "--script"}) {
    EXPECT_NE(help.strOut.find(option), std::string::npos) << option;
  }
  EXPECT_EQ(help.strOut.find("<executable_name>"), std::string::npos);
  const std::vector<std::vector<std::string>> wrong = {
      {MPAY_HOST_EXE, "--bogus"},
      {MPAY_HOST_EXE, "--open", "abc"},
      {MPAY_HOST_EXE, "--script", "x.txt"},
      {MPAY_HOST_EXE, "--headless", "stray"},
  };
  for (const auto& argv : wrong) {
    const CHostRun run = RunProgram(argv, "");
    EXPECT_EQ(run.iExitStatus, 2) << argv[1];
    EXPECT_NE(run.strErr.find("mpay-host: "), std::string::npos) << run.strErr;
  }
}

}  // namespace
