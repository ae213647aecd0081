// The command lines of mpay-query and mpay-backoffice: what they refuse and
// what they warn about, before any call is made.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "backoffice/demo_data.h"
#include "child_process.h"
#include "test_db.h"

namespace {

// Runs `argv` to its end; its exit status, with everything it printed in `output`.
int RunToEnd(const std::vector<std::string>& argv, std::string& output) {
  ChildProcess p;
  if (!p.Start(argv)) return -1;
  p.WaitForLine("\x01 never printed");
  output = p.output();
  const int status = p.Wait();
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(MpayQuery, RefusesValuesItCannotReadInsteadOfDroppingTheCondition) {
  // Nobody serves this broker: a value taken as "no condition" would end in a
  // failed call (status 1), not in a refusal (status 2).
  setenv("TMCLIENT_BROKER_TALMIRON", ("tcp://127.0.0.1:" + std::to_string(FreePort())).c_str(), 1);
  const std::vector<std::vector<std::string>> refused = {
      {"--end", "20261130120000", "--begin", "99999999999999"},  // not a real date
      {"--begin", "20260230000000"},                             // 30 February
      {"--end", "2026113012000"},                                // 13 digits
      {"--end", "2026-11-30 12:00"},
      {"--begin", ""},
      {"--so-nbr", "12x"},
      {"--so-nbr", "9223372036854775808"},  // past the largest order number
      {"--so-nbr", "-5"},
      {"--so-nbr", "0"},
      {"--busi", "2147483648"},
      {"--busi", "abc"},
  };
  for (const auto& args : refused) {
    std::vector<std::string> argv{MPAY_QUERY_EXE, "--phone", "13900000000"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string output;
    EXPECT_EQ(RunToEnd(argv, output), 2) << args[0] << " " << args[1] << "\n" << output;
    EXPECT_NE(
        output.find("mpay-query: " + args[args.size() - 2] + " " + args.back() + ": expected"),
        std::string::npos)
        << output;
  }
  std::string output;
  EXPECT_EQ(
      RunToEnd({MPAY_QUERY_EXE, "--begin", "20240229235959", "--so-nbr", "9223372036854775807"},
               output),
      1)
      << output;  // readable: the call is made, and fails for want of a server
  unsetenv("TMCLIENT_BROKER_TALMIRON");
}

TEST(MpayBackoffice, WarnsWhenItListensBeyondLoopback) {
  TempDir dir;
  backoffice::DemoOptions demo;
  demo.rows = 10;
  backoffice::GenerateDemo(dir.File("demo.db"), demo);

  // A documentation address that no interface has: the warning comes before
  // the listener fails.
  std::string output;
  EXPECT_EQ(
      RunToEnd({BACKOFFICE_EXE, "--db", dir.File("demo.db"), "--listen", "tcp://192.0.2.1:47100"},
               output),
      1);
  EXPECT_NE(output.find("level=warn event=listen_public address=tcp://192.0.2.1:47100"),
            std::string::npos)
      << output;
  EXPECT_NE(output.find("authenticates"), std::string::npos) << output;
  EXPECT_NE(output.find("encrypts"), std::string::npos) << output;

  Backoffice local;
  ASSERT_TRUE(local.Start(dir.File("demo.db"), 0)) << local.proc.output();
  local.proc.Kill(SIGTERM);
  EXPECT_EQ(local.proc.output().find("level=warn"), std::string::npos) << local.proc.output();
}

}  // namespace
