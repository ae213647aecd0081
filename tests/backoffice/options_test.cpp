#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <vector>

#include "backoffice/options.h"

using backoffice::Options;
using backoffice::ParseOptions;

namespace {

std::string Parse(std::vector<const char*> args, Options& o) {
  args.insert(args.begin(), "mpay-backoffice");
  return ParseOptions(static_cast<int>(args.size()), args.data(), o);
}

}  // namespace

TEST(Options, ServingNeedsADatabaseAndAnEndpoint) {
  Options o;
  EXPECT_EQ(
      Parse({"--db", "x.db", "--listen", "tcp://127.0.0.1:0", "--listen", "tcp://127.0.0.1:47100",
             "--nats", "nats://127.0.0.1:4222", "--workers", "8", "--max-rows", "50"},
            o),
      "");
  EXPECT_EQ(o.listen.size(), 2u);
  EXPECT_EQ(o.workers, 8);
  EXPECT_EQ(o.maxRows, 50);
  EXPECT_EQ(o.broker, "TALMIRON");
  EXPECT_EQ(o.maxConnections, 4096);
  EXPECT_EQ(o.idleTimeoutS, 120);
  EXPECT_EQ(o.writeTimeoutS, 30);
  EXPECT_EQ(o.maxBufferedMb, 256);
  EXPECT_TRUE(o.auditFailClosed);
  EXPECT_EQ(o.auditKeepDays, 0);
  EXPECT_EQ(Parse({"--on-audit-failure", "continue", "--audit-keep-days", "90"}, o), "");
  EXPECT_FALSE(o.auditFailClosed);
  EXPECT_EQ(o.auditKeepDays, 90);
  EXPECT_EQ(Parse({"--max-connections", "1000", "--idle-timeout", "5", "--write-timeout", "2",
                   "--max-buffered-mb", "64"},
                  o),
            "");
  EXPECT_EQ(o.maxBufferedMb, 64);
  EXPECT_EQ(o.maxConnections, 1000);
  EXPECT_EQ(o.idleTimeoutS, 5);
  EXPECT_EQ(o.writeTimeoutS, 2);
  Options noDb, noEndpoint;
  EXPECT_NE(Parse({"--listen", "tcp://127.0.0.1:0"}, noDb), "");
  EXPECT_NE(Parse({"--db", "x.db"}, noEndpoint), "");
}

TEST(Options, RefusesValuesOutOfRangeOrMissing) {
  for (auto args : std::vector<std::vector<const char*>>{
           {"--db", "x.db", "--listen", "127.0.0.1:1"},
           {"--db", "x.db", "--nats", "tcp://x:1"},
           {"--db", "x.db", "--listen", "tcp://h:1", "--workers", "0"},
           {"--db", "x.db", "--listen", "tcp://h:1", "--workers", "12x"},
           {"--db", "x.db", "--listen", "tcp://h:1", "--max-rows", "-1"},
           {"--db", "x.db", "--listen", "tcp://h:1", "--broker", ""},
           {"--db", "x.db", "--listen", "tcp://h:1", "--bogus", "1"},
           {"--db", "x.db", "--listen", "tcp://h:1", "--max-connections", "0"},
           {"--db", "x.db", "--listen", "tcp://h:1", "--idle-timeout", "0"},
           {"--db", "x.db", "--listen", "tcp://h:1", "--write-timeout", "3601"},
           {"--db", "x.db", "--listen", "tcp://h:1", "--metrics", "http://127.0.0.1:9"},
           {"--db", "x.db", "--listen", "tcp://h:1", "--metrics", "tcp://0.0.0.0:9"},
           {"--db", "x.db", "--listen", "tcp://h:1", "--log-level", "verbose"},
           {"--db", "x.db", "--listen", "tcp://h:1", "--max-buffered-mb", "0"},
           {"--db", "x.db", "--listen", "tcp://h:1", "--on-audit-failure", "ignore"},
           {"--db", "x.db", "--listen", "tcp://h:1", "--db-read", "postgresql://h/d"},
           {"--db", "postgresql://h/d", "--listen", "tcp://h:1", "--db-read", "r.db"},
           {"--db", "x.db", "--listen", "tcp://h:1", "--audit-keep-days", "-1"},
           {"--db", "x.db", "--listen", "tls://h:1"},
           {"--db", "x.db", "--listen", "tls://h:1", "--tls-cert", "c.pem"},
           {"--db", "x.db", "--listen", "tcp://h:1", "--tls-cert", "c.pem", "--tls-key", "k.pem"},
           {"--db", "x.db", "--listen", "udp://h:1"},
           {"--db", "x.db", "--listen", "tcp://h:1", "--auth", "maybe"},
           // Without sign-in, only loopback and direct connections.
           {"--db", "x.db", "--listen", "tcp://0.0.0.0:1", "--auth", "off"},
           {"--db", "x.db", "--listen", "tcp://127.0.0.1:1", "--listen", "tcp://10.0.0.1:1",
            "--auth", "off"},
           {"--db", "x.db", "--nats", "nats://127.0.0.1:4222", "--auth", "off"},
           {"--add-operator", "ops1"},
           {"--db", "x.db", "--add-operator", ""},
           {"--db", "x.db", "--lock-operator"},
           {"--db"},
       }) {
    Options o;
    EXPECT_NE(Parse(args, o), "") << args[0] << " " << args.back();
  }
}

TEST(Options, MetricsBeyondLoopbackOnlyWhenAskedFor) {
  Options o;
  EXPECT_EQ(Parse({"--db", "x.db", "--listen", "tcp://h:1", "--metrics", "tcp://127.0.0.1:9100",
                   "--log-level", "debug"},
                  o),
            "");
  EXPECT_EQ(o.logLevel, "debug");
  EXPECT_FALSE(o.metricsPublic);
  EXPECT_EQ(Parse({"--db", "x.db", "--listen", "tcp://h:1", "--metrics-public", "--metrics",
                   "tcp://0.0.0.0:9100"},
                  o),
            "");
  EXPECT_TRUE(o.metricsPublic);
}

TEST(Options, DemoNeedsNoEndpoint) {
  Options o;
  EXPECT_EQ(Parse({"--init-demo", "demo.db", "--rows", "1000"}, o), "");
  EXPECT_EQ(o.initDemo, "demo.db");
  EXPECT_EQ(o.demoRows, 1000);
}

TEST(Options, SignInAndOperatorCommands) {
  Options o;
  EXPECT_EQ(Parse({"--db", "x.db", "--listen", "tcp://127.0.0.1:0", "--listen", "tcp://[::1]:5",
                   "--auth", "off", "--session-idle", "60", "--max-failed-signins", "3"},
                  o),
            "");
  EXPECT_FALSE(o.authRequired);
  EXPECT_EQ(o.sessionIdleS, 60);
  EXPECT_EQ(o.maxFailedSignIns, 3);
  Options add;
  EXPECT_EQ(
      Parse({"--db", "x.db", "--add-operator", "ops1", "--rights", "BABOMOMP", "--org-id", "7"},
            add),
      "");
  EXPECT_TRUE(add.authRequired);
  EXPECT_EQ(add.operatorCommand, Options::OperatorCommand::kAdd);
  EXPECT_EQ(add.operatorLogin, "ops1");
  EXPECT_EQ(add.operatorOrg, 7);
  Options list;
  EXPECT_EQ(Parse({"--list-operators", "--db", "x.db"}, list), "");
  EXPECT_EQ(list.operatorCommand, Options::OperatorCommand::kList);
}

TEST(Options, ConfigFileUnderTheCommandLine) {
  Options o;
  ASSERT_EQ(backoffice::ApplyConfigText("# the service\n"
                                        "db = /var/lib/mpay/mpay.db\r\n"
                                        "  listen=tcp://127.0.0.1:47100\n"
                                        "\n"
                                        "listen = tcp://127.0.0.1:47101\n"
                                        "workers = 8\n"
                                        "metrics = tcp://0.0.0.0:9464\n"
                                        "metrics-public = true\n"
                                        "auth = required",
                                        "b.conf", o),
            "");
  EXPECT_EQ(o.db, "/var/lib/mpay/mpay.db");
  EXPECT_EQ(o.listen, (std::vector<std::string>{"tcp://127.0.0.1:47100", "tcp://127.0.0.1:47101"}));
  EXPECT_TRUE(o.metricsPublic);
  // A flag replaces its setting, every line of a repeatable one; the rest stays.
  ASSERT_EQ(Parse({"--listen", "tcp://127.0.0.1:1", "--workers", "2", "--config", "b.conf"}, o),
            "");
  EXPECT_EQ(o.listen, (std::vector<std::string>{"tcp://127.0.0.1:1"}));
  EXPECT_EQ(o.workers, 2);
  EXPECT_EQ(o.db, "/var/lib/mpay/mpay.db");
  Options off;
  EXPECT_EQ(backoffice::ApplyConfigText("metrics-public = false\n", "b.conf", off), "");
  EXPECT_FALSE(off.metricsPublic);
}

TEST(Options, ConfigFileRefusalsNameTheLine) {
  for (auto [text, error] : std::vector<std::pair<const char*, const char*>>{
           {"db = a\nbogus = 1\n", "b.conf:2: unknown key bogus"},
           {"\n\nworkers 4\n", "b.conf:3: not KEY = VALUE"},
           {"workers = 0\n", "b.conf:1: workers takes 1 to 256"},
           {"db = a\ndb = b\n", "b.conf:2: db is given twice"},
           {"add-operator = root\n", "b.conf:1: unknown key add-operator"},
           {"config = other.conf\n", "b.conf:1: unknown key config"},
           {"s3cret pass = x\n", "b.conf:1: unknown key (not a key)"},
           {"metrics-public = yes\n", "b.conf:1: metrics-public takes true or false"},
       }) {
    Options o;
    EXPECT_EQ(backoffice::ApplyConfigText(text, "b.conf", o), error);
  }
}

TEST(Options, ConfigFileOthersMayChangeIsRefused) {
  const std::string file = ::testing::TempDir() + "/options_test.conf";
  {
    std::ofstream out(file);
    out << "db = x.db\n";
  }
  const char* args[] = {"mpay-backoffice", "--config", file.c_str()};
  EXPECT_EQ(backoffice::ConfigFileOf(3, args), file);
  for (mode_t mode : {0600, 0644, 0664, 0646}) {
    ASSERT_EQ(::chmod(file.c_str(), mode), 0);
    Options o;
    const std::string error = backoffice::ApplyConfigFile(file, o);
    EXPECT_EQ(error, (mode & 022) == 0 ? "" : file + ": other users may change it (chmod go-w)");
  }
  Options o;
  EXPECT_NE(backoffice::ApplyConfigFile(::testing::TempDir(), o), "");
  std::remove(file.c_str());
}
