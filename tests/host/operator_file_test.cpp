#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "operator_file.h"

using MSysmgntDef::SOperator;

namespace {

constexpr const char* kEveryField =
    "# operator of the tests\n"
    "OP_ID = 4711\n"
    "OP_NAME = 张三\n"
    "LOGIN_NAME = zhangsan\n"
    "REG_TYPE = 1\n"
    "REG_NBR = 110101199001011234\n"
    "PHONE = 13800138000\n"
    "ADDRESS = 北京市 东城区\n"
    "POST_CODE = 100010\n"
    "\n"
    "TYPE = 2\n"
    "OP_PASSWD = s3cr3t-pw\n"
    "OP_STATUS = -1\n"
    "LOCK_STATUS = 32767\n"
    "CREATE_DATE = 20200102030405\r\n"
    "  VALID_DATE   =   2021-02-03  \n"
    "EXPIRE_DATE = 2099-12-31 23:59:58\n"
    "SECURITY_ID = -2147483648\n"
    "ORG_ID = 2147483647\n"
    "COUNTY_CODE = 0\n"
    "REGION_CODE = 10\n"
    "MEMO = a = b";

// The GBK bytes of the texts above.
constexpr const char* kZhangSanGbk = "\xd5\xc5\xc8\xfd";

TEST(OperatorFile, ReadsEveryField) {
  SOperator op;
  std::string error;
  ASSERT_TRUE(ParseOperatorText(kEveryField, op, error)) << error;
  EXPECT_EQ(op.OP_ID, 4711);
  EXPECT_EQ(op.OP_NAME, kZhangSanGbk);
  EXPECT_EQ(op.LOGIN_NAME, "zhangsan");
  EXPECT_EQ(op.REG_TYPE, 1);
  EXPECT_EQ(op.REG_NBR, "110101199001011234");
  EXPECT_EQ(op.PHONE, "13800138000");
  EXPECT_EQ(op.ADDRESS, "\xb1\xb1\xbe\xa9\xca\xd0 \xb6\xab\xb3\xc7\xc7\xf8");
  EXPECT_EQ(op.POST_CODE, 100010);
  EXPECT_EQ(op.TYPE, 2);
  EXPECT_EQ(op.OP_PASSWD, "s3cr3t-pw");
  EXPECT_EQ(op.OP_STATUS, -1);
  EXPECT_EQ(op.LOCK_STATUS, 32767);
  EXPECT_EQ(op.CREATE_DATE, QRSDateTime(2020, 1, 2, 3, 4, 5));
  EXPECT_EQ(op.VALID_DATE, QRSDateTime(2021, 2, 3, 0, 0, 0));
  EXPECT_EQ(op.EXPIRE_DATE, QRSDateTime(2099, 12, 31, 23, 59, 58));
  EXPECT_EQ(op.SECURITY_ID, -2147483647 - 1);
  EXPECT_EQ(op.ORG_ID, 2147483647);
  EXPECT_EQ(op.COUNTY_CODE, 0);
  EXPECT_EQ(op.REGION_CODE, 10);
  EXPECT_EQ(op.MEMO, "a = b");
  // Every field given is marked present, as the setters do.
  EXPECT_EQ(op.Marker, (uint64_t{1} << SOperator::kFieldCount) - 1);
}

TEST(OperatorFile, FieldsNotGivenStayEmpty) {
  SOperator op;
  std::string error;
  // An editor's byte order mark is not part of the first name.
  ASSERT_TRUE(ParseOperatorText("\xEF\xBB\xBFOP_ID = 7\nCREATE_DATE =\n", op, error)) << error;
  EXPECT_EQ(op.OP_ID, 7);
  EXPECT_TRUE(op.OP_NAME.empty());
  EXPECT_TRUE(op.CREATE_DATE.isNull());
  EXPECT_EQ(op.Marker, (uint64_t{1} << 0) | (uint64_t{1} << 12));
}

struct BadLine {
  const char* text;
  const char* error;
};

TEST(OperatorFile, RefusesWhatItCannotReadByName) {
  const BadLine cases[] = {
      {"OP_ID = 1\nOP_NAMES = x\n", "line 2: unknown field OP_NAMES"},
      {"op_id = 1\n", "line 1: unknown field op_id"},
      {"OP_ID 1\n", "line 1: expected FIELD = value"},
      {"OP_ID = 1\nOP_ID = 2\n", "line 2: OP_ID is given twice"},
      {"OP_ID = 12a\n", "line 1: the value of OP_ID cannot be read"},
      {"OP_ID =\n", "line 1: the value of OP_ID cannot be read"},
      {"OP_ID = 2147483648\n", "line 1: the value of OP_ID cannot be read"},
      {"REG_TYPE = 32768\n", "line 1: the value of REG_TYPE cannot be read"},
      {"POST_CODE = +5\n", "line 1: the value of POST_CODE cannot be read"},
      {"VALID_DATE = 2023-02-29\n", "line 1: the value of VALID_DATE cannot be read"},
      {"VALID_DATE = 20230101\n", "line 1: the value of VALID_DATE cannot be read"},
      {"VALID_DATE = 2023-01-01T10:00:00\n", "line 1: the value of VALID_DATE cannot be read"},
      {"MEMO = \xff\xfe\n", "line 1: the value of MEMO cannot be read"},
  };
  for (const BadLine& c : cases) {
    SOperator op;
    op.OP_ID = 99;
    std::string error;
    EXPECT_FALSE(ParseOperatorText(c.text, op, error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
    EXPECT_EQ(op.OP_ID, 99) << "a refused file leaves the record alone";
  }
}

TEST(OperatorFile, NeverPrintsThePassword) {
  const char* cases[] = {
      "OP_PASSWD = s3cr3t-pw\nOP_PASSWD = s3cr3t-pw\n",
      "OP_PASSWD s3cr3t-pw\n",
      "OP_PASSWD s3cr3t-pw = x\n",
      "OP_PASSWD: s3cr3t-pw = x\n",
      "s3cr3t-pw\n",
      "OP_PASSWD = s3cr3t-pw\xff\n",
  };
  for (const char* text : cases) {
    SOperator op;
    std::string error;
    EXPECT_FALSE(ParseOperatorText(text, op, error)) << text;
    EXPECT_EQ(error.find("s3cr3t"), std::string::npos) << error;
  }
}

TEST(OperatorFile, FileErrorsNameThePath) {
  SOperator op;
  std::string error;
  EXPECT_FALSE(ReadOperatorFile("/nonexistent/operator.conf", op, error));
  EXPECT_EQ(error, "/nonexistent/operator.conf: cannot be read: No such file or directory");

  char path[] = "/tmp/host-operator-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::string text = "OP_ID = 5\nBOGUS = 1\n";
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);
  EXPECT_FALSE(ReadOperatorFile(path, op, error));
  EXPECT_EQ(error, std::string(path) + ": line 2: unknown field BOGUS");
  std::remove(path);
}

TEST(OperatorFile, DemoOperatorHasNoPassword) {
  const SOperator op = DemoOperator();
  EXPECT_NE(op.OP_ID, 0);
  EXPECT_FALSE(op.OP_NAME.empty());
  EXPECT_TRUE(op.OP_PASSWD.empty());
}

}  // namespace
