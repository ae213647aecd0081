// The log's line format and its masking of personal numbers.
#include "backoffice/log.h"

#include <gtest/gtest.h>

namespace log = backoffice::log;

TEST(Log, MasksEveryRunThatMayBeAPhoneOrCertificateNumber) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"PHONE_ID=13812345678", "PHONE_ID=138****5678"},
      {"13812345678,13987654321", "138****5678,139****4321"},
      {"id 11010519491231002X end", "id 110****002X end"},
      {"phone 8765432", "phone ****5432"},  // too short to keep a head as well
      {"port 47100 rows 123456", "port 47100 rows 123456"},
      {"", ""},
      {"a1234567b", "a****4567b"},
  };
  for (const auto& c : cases) EXPECT_EQ(log::Masked(c.in), c.out) << c.in;
}

TEST(Log, FormatsOneLogfmtLineWithQuotingWhereNeeded) {
  const int64_t at = 1796657240123;  // 2026-12-07T15:27:20.123Z
  EXPECT_EQ(log::Format(at, log::Level::kWarn, "audit_batch_lost",
                        {{"entries", 12}, {"reason", "disk I/O error"}, {"ok", "yes"}}),
            "ts=2026-12-07T15:27:20.123Z level=warn event=audit_batch_lost entries=12 "
            "reason=\"disk I/O error\" ok=yes");
  EXPECT_EQ(log::Format(at, log::Level::kDebug, "x", {{"v", "a\"b\\c\nd=e"}, {"empty", ""}}),
            "ts=2026-12-07T15:27:20.123Z level=debug event=x v=\"a\\\"b\\\\c\\nd=e\" empty=\"\"");
  EXPECT_EQ(log::Format(at, log::Level::kError, "q", {{"conditions", "PHONE_ID=13812345678"}}),
            "ts=2026-12-07T15:27:20.123Z level=error event=q conditions=\"PHONE_ID=138****5678\"");
}

TEST(Log, LevelsParseAndFilter) {
  log::Level level;
  EXPECT_FALSE(log::ParseLevel("verbose", level));
  ASSERT_TRUE(log::ParseLevel("warn", level));
  log::SetLevel(level);
  EXPECT_FALSE(log::Enabled(log::Level::kInfo));
  EXPECT_TRUE(log::Enabled(log::Level::kError));
  log::SetLevel(log::Level::kInfo);
}
