#include "version_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using micropaylog::CopyVersionText;

// The text the module would hand out if its 2048-byte version buffer held
// `text`.
std::string Shown(const std::string& text) {
  char version[2048] = {};
  std::memcpy(version, text.data(), text.size());
  char buffer[2048];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(CopyVersionText(version, sizeof version, buffer), 0);
  return std::string(buffer);
}

TEST(CopyVersionText, RemovesBlanksOnlyAtBothEnds) {
  EXPECT_EQ(Shown(""), "");
  EXPECT_EQ(Shown("  v1.2 build 7   "), "v1.2 build 7");
  EXPECT_EQ(Shown("      "), "");
  EXPECT_EQ(Shown(" x"), "x");
  // Only 0x20 counts as a blank.
  EXPECT_EQ(Shown("\tv1 \t "), "\tv1 \t");
  EXPECT_EQ(Shown(" \nv1\r "), "\nv1\r");
}

TEST(CopyVersionText, NullBufferWritesNothing) {
  const char version[2048] = " v ";
  EXPECT_EQ(CopyVersionText(version, sizeof version, nullptr), -1);
}

TEST(CopyVersionText, FullBufferKeepsItsLastByteForTheEnd) {
  char version[2048];
  std::memset(version, 'a', sizeof version);  // no NUL at all
  version[0] = ' ';
  char buffer[2048];
  ASSERT_EQ(CopyVersionText(version, sizeof version, buffer), 0);
  EXPECT_EQ(std::strlen(buffer), 2046u);  // 2047 bytes read, the blank skipped
  std::string longest(2047, 'b');
  EXPECT_EQ(Shown(longest), longest);
}

}  // namespace
