#include "tmclient/qrs_datetime.h"

#include <gtest/gtest.h>

#include <string>

#include "tmclient/qrs_errormsg.h"

TEST(QRSDateTime, TextRoundTrips) {
  for (const char* text : {"20240102030405", "00010101000000", "99991231235959", "20240229120000",
                           "20000229000000", "19700101000000"}) {
    const QRSDateTime t(text);
    EXPECT_FALSE(t.isNull()) << text;
    EXPECT_EQ(t.toString("%Y%M%D%H%N%S"), text);
  }
  const QRSDateTime t("20240102030405");
  EXPECT_EQ(t.year(), 2024);
  EXPECT_EQ(t.month(), 1);
  EXPECT_EQ(t.day(), 2);
  EXPECT_EQ(t.hour(), 3);
  EXPECT_EQ(t.minute(), 4);
  EXPECT_EQ(t.second(), 5);
  QRSDateTime copy;
  copy = t;
  EXPECT_EQ(copy, t);
}

TEST(QRSDateTime, InvalidTextGivesTheNullValue) {
  for (const char* text :
       {"", "2024010203040", "202401020304050", "2024010203040x", " 2024010203040",
        "-2024010203040", "20241302030405", "20240002030405", "20240100030405", "20230229000000",
        "19000229000000", "20240431000000", "20240102240000", "20240102236000", "20240102235960",
        "00000101000000", "00000000000001", "２０２４０１０２０３０４"}) {
    EXPECT_TRUE(QRSDateTime(text).isNull()) << text;
  }
  EXPECT_TRUE(QRSDateTime("00000000000000").isNull());
  EXPECT_TRUE(QRSDateTime(std::string("2024010\0"
                                      "230405",
                                      14))
                  .isNull());
  EXPECT_TRUE(QRSDateTime(2024, 2, 30, 0, 0, 0).isNull());
  EXPECT_TRUE(QRSDateTime(10000, 1, 1, 0, 0, 0).isNull());
  EXPECT_TRUE(QRSDateTime(2024, 1, 1, -1, 0, 0).isNull());
}

TEST(QRSDateTime, ToStringPatterns) {
  const QRSDateTime t("20240709081502");
  EXPECT_EQ(t.toString("%Y/%M/%D %H:%N:%S"), "2024/07/09 08:15:02");
  EXPECT_EQ(t.toString("%%Y=%Y %x %"), "%Y=2024 %x %");
  EXPECT_EQ(t.toString(""), "");
  EXPECT_EQ(t.toString("时间%H点"), "时间08点");
  EXPECT_EQ(QRSDateTime().toString("%Y/%M/%D %H:%N:%S"), "0000/00/00 00:00:00");
  EXPECT_EQ(QRSDateTime("00050101000000").toString("%Y"), "0005");
  // Into a reused string: the same text, the old contents gone, also when the
  // string is the pattern itself.
  std::string out = "an old, longer text that was there before";
  t.toString("%Y/%M/%D %H:%N:%S", out);
  EXPECT_EQ(out, "2024/07/09 08:15:02");
  std::string pattern = "%H:%N";
  t.toString(pattern, pattern);
  EXPECT_EQ(pattern, "08:15");
}

TEST(QRSDateTime, OrderIsChronologicalWithNullFirst) {
  const QRSDateTime null;
  const QRSDateTime a("20231231235959");
  const QRSDateTime b("20240101000000");
  EXPECT_LT(null, a);
  EXPECT_LT(a, b);
  EXPECT_GT(b, a);
  EXPECT_LT(QRSDateTime("20240101000000"), QRSDateTime("20240101000001"));
  EXPECT_LT(QRSDateTime("20240131000000"), QRSDateTime("20240201000000"));
  EXPECT_NE(a, b);
  EXPECT_EQ(b, QRSDateTime(2024, 1, 1, 0, 0, 0));
}

TEST(QRSDateTime, CurrentDateTimeIsReal) {
  const QRSDateTime now = QRSDateTime::currentDateTime();
  EXPECT_FALSE(now.isNull());
  EXPECT_GE(now.year(), 2024);
}

TEST(QRSErrorMsg, StartsAsNoErrorAndKeepsBothPairs) {
  QRSErrorMsg e;
  EXPECT_EQ(e.get_code(), 0);
  EXPECT_EQ(e.get_msg(), "no error");
  EXPECT_EQ(e.get_sub_code(), 0);
  EXPECT_EQ(e.get_sub_msg(), "no error");
  e.set_code(-9985);
  e.set_msg("失败");
  e.set_sub_code(3);
  e.set_sub_msg("detail");
  const QRSErrorMsg copy = e;
  EXPECT_EQ(copy.get_code(), -9985);
  EXPECT_EQ(copy.get_msg(), "失败");
  EXPECT_EQ(copy.get_sub_code(), 3);
  EXPECT_EQ(copy.get_sub_msg(), "detail");
}
