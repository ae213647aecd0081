// GBK <-> QString at the toolkit's boundary.

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "toolkit/qtext.h"

namespace {

TEST(GbkText, KnownCharactersBothWays) {
  ASSERT_TRUE(GbkCodecAvailable());
  const std::string gbk = "\xD0\xA1\xB6\xEE\xD6\xA7\xB8\xB6";  // 小额支付
  EXPECT_EQ(GbkToQString(gbk), QStringLiteral("小额支付"));
  EXPECT_EQ(QStringToGbk(QStringLiteral("小额支付")), gbk);
  EXPECT_EQ(QStringToGbk(QStringLiteral("[1332] ")), "[1332] ");
  EXPECT_EQ(GbkToQString(""), QString());
}

TEST(GbkText, EveryTwoByteSequenceComesBackUnchanged) {
  for (int lead = 0x80; lead <= 0xFF; ++lead) {
    for (int trail = 0x00; trail <= 0xFF; ++trail) {
      const std::string bytes{static_cast<char>(lead), static_cast<char>(trail)};
      ASSERT_EQ(QStringToGbk(GbkToQString(bytes)), bytes) << std::hex << lead << " " << trail;
    }
  }
}

TEST(GbkText, RandomBytesComeBackUnchanged) {
  std::mt19937 rng(7);
  for (int i = 0; i < 2000; ++i) {
    std::string bytes(rng() % 24, '\0');
    for (char& c : bytes) c = static_cast<char>(rng() % 256);
    ASSERT_EQ(QStringToGbk(GbkToQString(bytes)), bytes);
  }
}

// The table-driven UTF-8 of a saved list is the codec's, for every
// two-byte sequence alone and inside random text.
TEST(GbkText, AppendedAsUtf8AsTheCodecDecodes) {
  auto expect = [](const std::string& bytes) {
    std::string out = "x";
    AppendGbkAsUtf8(bytes, out);
    return out == "x" + GbkToQString(bytes).toUtf8().toStdString();
  };
  for (int lead = 0x80; lead <= 0xFF; ++lead) {
    for (int trail = 0x00; trail <= 0xFF; ++trail)
      ASSERT_TRUE(expect({'a', static_cast<char>(lead), static_cast<char>(trail), 'b'}))
          << std::hex << lead << " " << trail;
  }
  std::mt19937 rng(11);
  for (int i = 0; i < 2000; ++i) {
    std::string bytes(rng() % 24, '\0');
    for (char& c : bytes) c = static_cast<char>(rng() % 256);
    ASSERT_TRUE(expect(bytes));
  }
}

TEST(GbkText, CutOffLeadByteDoesNotReachTheNextString) {
  const std::string cut = "\xD0";  // first half of 小
  const QString first = GbkToQString(cut);
  EXPECT_EQ(first.size(), 1);
  EXPECT_EQ(GbkToQString("A"), QStringLiteral("A"));
  EXPECT_EQ(QStringToGbk(first), cut);
}

TEST(GbkText, CharactersGbkCannotHoldBecomeQuestionMarks) {
  EXPECT_EQ(QStringToGbk(QString::fromUtf8("a\xF0\x9F\x98\x80"
                                           "b")),
            "a?b");
}

}  // namespace
