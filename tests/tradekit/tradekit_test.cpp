#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "tradekit/tradekit.h"

namespace {

TEST(ExtractItemCode, ReadsTheBracketedCodeOfEachBusinessType) {
  struct Case {
    const char* text;
    int code;
  };
  const Case cases[] = {
      {"[1332] 小额支付冻结", 1332},         {"[1333] 小额支付解冻", 1333},
      {"[1334] 小额支付帐户信息修改", 1334}, {"[1335] 小额支付帐户改号", 1335},
      {"[1336] 小额支付帐户存款", 1336},     {"[1337] 小额支付帐户取款(转预存)", 1337},
  };
  for (const Case& c : cases) EXPECT_EQ(ExtractItemCode(c.text), c.code) << c.text;
}

TEST(ExtractItemCode, HandlesOtherShapesOfText) {
  EXPECT_EQ(ExtractItemCode(" [ 7 ]x"), 7);
  EXPECT_EQ(ExtractItemCode("[-5] minus"), -5);
  EXPECT_EQ(ExtractItemCode("[2147483647]"), INT_MAX);
  EXPECT_EQ(ExtractItemCode("[-2147483648]"), INT_MIN);
  // Without brackets: a bare number is read, anything else gives 0.
  EXPECT_EQ(ExtractItemCode("1336"), 1336);
  EXPECT_EQ(ExtractItemCode("1336 小额支付帐户存款"), 1336);
  EXPECT_EQ(ExtractItemCode("小额支付冻结"), 0);
  EXPECT_EQ(ExtractItemCode(""), 0);
  EXPECT_EQ(ExtractItemCode(nullptr), 0);
  // Broken brackets and numbers that do not fit.
  EXPECT_EQ(ExtractItemCode("[1332 小额支付冻结"), 0);
  EXPECT_EQ(ExtractItemCode("[] 小额支付冻结"), 0);
  EXPECT_EQ(ExtractItemCode("[2147483648] x"), 0);
  EXPECT_EQ(ExtractItemCode("[99999999999999999999999] x"), 0);
}

TEST(GetItemName, GivesCertificateNames) {
  char name[kItemNameSize];
  EXPECT_EQ(GetItemName(kItemCertificate, 1, name), 0);
  EXPECT_STREQ(name, "居民身份证");
  EXPECT_STREQ(name, "\xBE\xD3\xC3\xF1\xC9\xED\xB7\xDD\xD6\xA4");  // GBK bytes
  GetItemName(kItemCertificate, 2, name);
  EXPECT_STREQ(name, "护照");
  GetItemName(kItemCertificate, 5, name);
  EXPECT_STREQ(name, "港澳居民来往内地通行证");
  GetItemName(kItemMicroPayBusi, 1337, name);
  EXPECT_STREQ(name, "小额支付帐户取款(转预存)");
}

TEST(GetItemName, UnknownCategoryOrCodeGivesAnEmptyName) {
  char name[kItemNameSize];
  std::memset(name, 'x', sizeof name);
  EXPECT_EQ(GetItemName(kItemCertificate, 0, name), -1);
  EXPECT_STREQ(name, "");
  std::memset(name, 'x', sizeof name);
  EXPECT_EQ(GetItemName(42, 1, name), -1);
  EXPECT_STREQ(name, "");
  EXPECT_EQ(GetItemName(kItemCertificate, 1, nullptr), -1);
}

// Every name of every table, and every miss, stays within the 32-byte buffer
// the windows pass, terminated, and never cuts a double-byte character.
TEST(GetItemName, NeverWritesMoreThan31Bytes) {
  for (int category = -1; category <= 8; ++category) {
    for (int code = -2; code <= 1400; ++code) {
      char buffer[kItemNameSize + 8];
      std::memset(buffer, '\xFF', sizeof buffer);
      GetItemName(category, code, buffer);
      const void* nul = std::memchr(buffer, '\0', kItemNameSize);
      ASSERT_NE(nul, nullptr) << category << "/" << code;
      for (std::size_t i = kItemNameSize; i < sizeof buffer; ++i)
        ASSERT_EQ(buffer[i], '\xFF') << category << "/" << code;
      const std::size_t length = std::strlen(buffer);
      ASSERT_LE(length, 31u);
      for (std::size_t i = 0; i < length; ++i) {
        if (static_cast<unsigned char>(buffer[i]) >= 0x81) {
          ASSERT_LT(i + 1, length) << "cut character in " << category << "/" << code;
          ++i;
        }
      }
    }
  }
}

}  // namespace
