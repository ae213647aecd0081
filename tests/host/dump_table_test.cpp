#include <gtest/gtest.h>

#include <sstream>

#include "dump_table.h"

namespace {

TEST(DumpTable, ChineseCharactersTakeTwoColumns) {
  EXPECT_EQ(DisplayWidth(""), 0);
  EXPECT_EQ(DisplayWidth("13800138000"), 11);
  EXPECT_EQ(DisplayWidth("小额支付"), 8);
  EXPECT_EQ(DisplayWidth("[1332] 小额支付冻结"), 19);
  EXPECT_EQ(DisplayWidth("（空）"), 6);
  EXPECT_EQ(DisplayWidth("\xff\xfe"), 2) << "a broken byte counts once";
  EXPECT_EQ(DisplayWidth("\xe5\xb0"), 2) << "a cut-off character counts per byte";
}

TEST(DumpTable, DumpsBecomeAlignedTablesAndOtherLinesPass) {
  std::istringstream in(
      "wait\tshow\t正在查询\n"
      "columns\t工单编号:80\t业务类型:120\n"
      "row\t3100\t[1332] 小额支付冻结\n"
      "row\t31000000\t存款\n"
      "rows\t2\n"
      "columns\t用户:80\n"
      "rows\t0\n"
      "message\t提示\t64\t没有符合条件的记录！\n");
  std::ostringstream out;
  FormatDumps(in, out);
  EXPECT_EQ(out.str(),
            "wait\tshow\t正在查询\n"
            "工单编号  业务类型\n"
            "-----------------------------\n"
            "3100      [1332] 小额支付冻结\n"
            "31000000  存款\n"
            "(2 rows)\n"
            "用户\n"
            "----\n"
            "(0 rows)\n"
            "message\t提示\t64\t没有符合条件的记录！\n");
}

}  // namespace
