#include "tmclient/text_compare.h"

#include <gtest/gtest.h>

TEST(CompareIgnoringCase, FoldsAsciiLettersOnly) {
  const struct {
    std::string_view a, b;
    int sign;
  } cases[] = {
      {"btnQuery", "BTNQUERY", 0},
      {"", "", 0},
      {"ab", "abc", -1},
      {"abd", "ABC", 1},
      {"a[", "A{", -1},                     // '[' and '{' are no letters
      {"\xB1\xED\x41", "\xB1\xED\x61", 0},  // a letter after a GBK character
      {"\x81\x41", "\x81\x61", -1},         // the second byte of a GBK character
      {"\x81\x81\x41", "\x81\x81\x61", 0},  // ... and the letter after it
      {"\xC3\xE1", "\xC3\xC1", 1},          // bytes above 0x7F compare unsigned
  };
  for (const auto& c : cases) {
    const int got = tmclient::CompareIgnoringCase(c.a, c.b);
    EXPECT_EQ((got > 0) - (got < 0), c.sign) << c.a << " / " << c.b;
    EXPECT_EQ(tmclient::EqualIgnoringCase(c.a, c.b), c.sign == 0) << c.a << " / " << c.b;
  }
}
