// Narrow literals of GBK targets must reach the program as GBK bytes.
#include <gtest/gtest.h>

#include <string>

TEST(GbkLiterals, ChineseTextCompilesToGbkBytes) {
  const std::string text = "小额支付冻结";
  const std::string expected = "\xD0\xA1\xB6\xEE\xD6\xA7\xB8\xB6\xB6\xB3\xBD\xE1";
  ASSERT_EQ(text.size(), 12u);
  EXPECT_EQ(text, expected);
}

TEST(GbkLiterals, AsciiIsUnchanged) {
  EXPECT_EQ(std::string("[%d] %s"), std::string("\x5B\x25\x64\x5D\x20\x25\x73"));
}
