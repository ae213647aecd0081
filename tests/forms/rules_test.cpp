#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <set>
#include <string>

#include "forms/keyfilters.h"
#include "forms/selectionaction.h"
#include "forms/sharedactions.h"
#include "forms/sortcompare.h"
#include "forms/widthrules.h"

using namespace MBaseWindow;

TEST(SortTag, EachClickFlipsTheDirectionWhicheverColumn) {
  intptr_t tag = 0;
  tag = NextSortTag(tag, 0);
  EXPECT_EQ(tag, -12);  // first click on a fresh list view: descending
  tag = NextSortTag(tag, 0);
  EXPECT_EQ(tag, 12);
  tag = NextSortTag(tag, 2);
  EXPECT_EQ(tag, -14);  // another column still flips
  // A right-click point (x 40, y 30) left in the tag: the next click descends.
  EXPECT_EQ(NextSortTag(40 | (30 << 16), 3), -15);
}

TEST(SortTag, DecodesOnlyColumnsThatExist) {
  int column = -1;
  bool ascending = false;
  ASSERT_TRUE(DecodeSortTag(14, 7, column, ascending));
  EXPECT_EQ(column, 2);
  EXPECT_TRUE(ascending);
  ASSERT_TRUE(DecodeSortTag(-18, 7, column, ascending));
  EXPECT_EQ(column, 6);
  EXPECT_FALSE(ascending);

  column = -1;
  EXPECT_FALSE(DecodeSortTag(0, 7, column, ascending));   // never sorted
  EXPECT_FALSE(DecodeSortTag(11, 7, column, ascending));  // below the bias
  EXPECT_FALSE(DecodeSortTag(19, 7, column, ascending));  // column 7 of 7
  EXPECT_FALSE(DecodeSortTag(40 | (30 << 16), 7, column, ascending));
  EXPECT_FALSE(DecodeSortTag(std::numeric_limits<intptr_t>::min(), 7, column, ascending));
  EXPECT_FALSE(DecodeSortTag(std::numeric_limits<intptr_t>::max(), 7, column, ascending));
  EXPECT_EQ(column, -1);
}

TEST(ComparePinnedRows, PinnedRowsGoLastAndTwoPinnedCompareAsOne) {
  int result = 0;
  ASSERT_TRUE(ComparePinnedRows(kPinnedImageIndex, 0, result));
  EXPECT_EQ(result, 1);
  ASSERT_TRUE(ComparePinnedRows(3, kPinnedImageIndex, result));
  EXPECT_EQ(result, -1);
  ASSERT_TRUE(ComparePinnedRows(kPinnedImageIndex, kPinnedImageIndex, result));
  EXPECT_EQ(result, 1);
  result = 42;
  EXPECT_FALSE(ComparePinnedRows(-1, 0, result));
  EXPECT_EQ(result, 42);
}

TEST(CompareCellTexts, WholeNumbersCompareByValueTextsByBytes) {
  int result = 0;
  ASSERT_TRUE(CompareCellTexts(kColumnWholeNumber, "10", "9", result));
  EXPECT_EQ(result, 1);  // 9 before 10
  ASSERT_TRUE(CompareCellTexts(0, "10", "9", result));
  EXPECT_EQ(result, -1);  // "10" before "9"
  ASSERT_TRUE(CompareCellTexts(kColumnWholeNumber, "-5", "+3", result));
  EXPECT_EQ(result, -1);
  ASSERT_TRUE(
      CompareCellTexts(kColumnWholeNumber, "9223372036854775807", "-9223372036854775808", result));
  EXPECT_EQ(result, 1);
}

TEST(CompareCellTexts, EqualNumbersGiveOneEqualTextsMinusOne) {
  int result = 0;
  ASSERT_TRUE(CompareCellTexts(kColumnWholeNumber, " 7", "7\t", result));
  EXPECT_EQ(result, 1);
  ASSERT_TRUE(CompareCellTexts(kColumnAmount, "1.50", "1.5", result));
  EXPECT_EQ(result, 1);
  ASSERT_TRUE(CompareCellTexts(0, "abc ", " abc", result));
  EXPECT_EQ(result, -1);
  ASSERT_TRUE(CompareCellTexts(7, "", "", result));
  EXPECT_EQ(result, -1);
}

TEST(CompareCellTexts, AmountsCompareByValue) {
  int result = 0;
  ASSERT_TRUE(CompareCellTexts(kColumnAmount, "12.05", "9.99", result));
  EXPECT_EQ(result, 1);
  ASSERT_TRUE(CompareCellTexts(kColumnAmount, "-0.01", "0.00", result));
  EXPECT_EQ(result, -1);
}

TEST(CompareCellTexts, UnreadableNumbersLeaveTheResult) {
  for (const char* bad : {"", "abc", "1.5", "12a", "+-1", "99999999999999999999", "0x10"}) {
    int result = 42;
    EXPECT_FALSE(CompareCellTexts(kColumnWholeNumber, bad, "1", result)) << bad;
    EXPECT_FALSE(CompareCellTexts(kColumnWholeNumber, "1", bad, result)) << bad;
    EXPECT_EQ(result, 42);
  }
  for (const char* bad : {"", "abc", "1.234", "1,00", "元"}) {
    int result = 42;
    EXPECT_FALSE(CompareCellTexts(kColumnAmount, bad, "1.00", result)) << bad;
    EXPECT_EQ(result, 42);
  }
}

TEST(CompareCellTexts, TextsCompareAsUnsignedBytes) {
  int result = 0;
  // GBK lead bytes are above 127 and so sort after ASCII.
  ASSERT_TRUE(CompareCellTexts(0, "冻结", "zzz", result));
  EXPECT_EQ(result, 1);
  // GBK byte order: 冻 (B6 B3) before 解 (BD E2).
  ASSERT_TRUE(CompareCellTexts(0, "冻结", "解冻", result));
  EXPECT_EQ(result, -1);
  ASSERT_TRUE(CompareCellTexts(0, "ab", "abc", result));
  EXPECT_EQ(result, -1);  // a prefix is the smaller
  ASSERT_TRUE(CompareCellTexts(0, "abc", "ab", result));
  EXPECT_EQ(result, 1);
}

TEST(TrimBlanks, RemovesControlBytesAndSpacesOnlyAtTheEnds) {
  EXPECT_EQ(TrimBlanks(std::string("\x01 a b\r\n\0", 8)), "a b");
  EXPECT_EQ(TrimBlanks("   "), "");
  EXPECT_EQ(TrimBlanks("中文 "), "中文");
}

TEST(KeyFilters, WholeNumberDecimalAndRangeFilters) {
  for (char c : std::string("0123456789\x08\x01\x03\x16\x18")) {
    EXPECT_TRUE(AcceptsWholeNumberKey(c)) << int(c);
    EXPECT_TRUE(AcceptsDecimalKey(c)) << int(c);
    EXPECT_TRUE(AcceptsRangeKey(c)) << int(c);
  }
  // Enter, Tab, Escape and Ctrl+Z are dropped, as are letters and signs.
  for (char c : std::string("\r\t\x1b\x1a"
                            "a+/:@ ")) {
    EXPECT_FALSE(AcceptsWholeNumberKey(c)) << int(c);
    EXPECT_FALSE(AcceptsDecimalKey(c)) << int(c);
  }
  EXPECT_FALSE(AcceptsWholeNumberKey('.'));
  EXPECT_TRUE(AcceptsDecimalKey('.'));
  EXPECT_FALSE(AcceptsRangeKey('.'));
  EXPECT_FALSE(AcceptsDecimalKey('-'));
  EXPECT_TRUE(AcceptsRangeKey('-'));
  EXPECT_TRUE(AcceptsRangeKey(' '));
  EXPECT_FALSE(AcceptsRangeKey('\r'));
}

TEST(KeyFilters, DoubleByteBytesAreDroppedEverywhere) {
  const std::string chinese = "中文";  // four bytes, each above 127
  ASSERT_EQ(chinese.size(), 4u);
  for (char c : chinese) {
    EXPECT_FALSE(AcceptsWholeNumberKey(c));
    EXPECT_FALSE(AcceptsDecimalKey(c));
    EXPECT_FALSE(AcceptsRangeKey(c));
    EXPECT_FALSE(AcceptsSingleByteKey(c));
  }
  for (int c = 0; c < 128; ++c) EXPECT_TRUE(AcceptsSingleByteKey(static_cast<char>(c))) << c;
  EXPECT_FALSE(AcceptsSingleByteKey(static_cast<char>(0x80)));
}

TEST(FittedColumnWidth, FitsCaptionOrNewestCellAndNeverShrinks) {
  const int w = EstimatedCharWidth(true, 6);
  EXPECT_EQ(w, 9);
  EXPECT_EQ(EstimatedCharWidth(false, 6), kFallbackCharWidth);
  // Caption 4 bytes, cell 10 bytes.
  EXPECT_EQ(FittedColumnWidth(50, 4, 10, w, false), 90);
  EXPECT_EQ(FittedColumnWidth(50, 4, 10, w, true), 106);
  EXPECT_EQ(FittedColumnWidth(200, 4, 10, w, true), 200);
  // A caption wider than the cell wins.
  EXPECT_EQ(FittedColumnWidth(0, 12, 2, w, true), 108);
  // Cells are read up to 127 bytes.
  EXPECT_EQ(FittedColumnWidth(0, 0, 1000, w, false), 127 * w);
  EXPECT_EQ(FittedColumnWidth(0, std::numeric_limits<size_t>::max(), 0, w, false),
            std::numeric_limits<int>::max());
}

TEST(DropDownWidth, WidestOfBoxAndItemsPlusMarginsAndScrollBar) {
  EXPECT_EQ(DropDownWidth(120, 80, 3, 8), 136);
  EXPECT_EQ(DropDownWidth(120, 80, 20, 8), 158);
  EXPECT_EQ(DropDownWidth(120, 200, 5, 8), 216);
  EXPECT_EQ(DropDownWidth(120, 0, 8, 8), 136);  // exactly as many items as shown
}

TEST(Hint, ShownWhenTextIsWiderThanControlLessMargin) {
  EXPECT_TRUE(HintNeeded(false, 100, 80));   // 100 < 112
  EXPECT_FALSE(HintNeeded(false, 100, 60));  // 100 is not less than 92
  EXPECT_FALSE(HintNeeded(false, 100, 68));  // 100 is not less than 100
  EXPECT_FALSE(HintNeeded(true, 0, 500));
  const SHintRect r = HintRectAt(300, 200, 120, 18);
  EXPECT_EQ(r.left, 300);
  EXPECT_EQ(r.bottom, 200);
  EXPECT_EQ(r.top, 182);
  EXPECT_EQ(r.right, 420);
}

TEST(CheckMarkAfter, EachActionAndUnknownValues) {
  for (bool checked : {false, true}) {
    EXPECT_TRUE(CheckMarkAfter(saCheckAll, checked));
    EXPECT_FALSE(CheckMarkAfter(saUncheckAll, checked));
    EXPECT_EQ(CheckMarkAfter(saInvertCheck, checked), !checked);
    EXPECT_EQ(CheckMarkAfter(static_cast<TSelectionAction>(3), checked), checked);
  }
}

TEST(SharedActions, EveryImageButTheUnusedOneBelongsToExactlyOneAction) {
  std::set<std::string> names;
  std::set<int> images;
  for (const SSharedAction& action : SharedActions()) {
    EXPECT_TRUE(names.insert(action.name).second) << action.name;
    EXPECT_TRUE(images.insert(action.imageIndex).second) << action.name;
    EXPECT_GE(action.imageIndex, 0);
    EXPECT_LT(action.imageIndex, kButtonImageCount);
    EXPECT_NE(action.imageIndex, kUnusedButtonImage);
    EXPECT_STRNE(action.label, "");
  }
  EXPECT_EQ(images.size(), static_cast<size_t>(kButtonImageCount - 1));
  EXPECT_STREQ(ButtonImageLabel(kUnusedButtonImage), "");
  EXPECT_STREQ(ButtonImageLabel(-1), "");
  EXPECT_STREQ(ButtonImageLabel(kButtonImageCount), "");
  EXPECT_STREQ(ButtonImageLabel(9), "关闭");
}

TEST(SharedActions, ListOrderAndLookup) {
  const auto actions = SharedActions();
  EXPECT_STREQ(actions[0].name, "actQuery");
  EXPECT_STREQ(actions[2].name, "actClose");
  EXPECT_EQ(actions[2].imageIndex, 9);
  EXPECT_STREQ(actions[30].name, "actExit");
  EXPECT_EQ(actions[30].imageIndex, 24);
  EXPECT_STREQ(actions[72].name, "actToTrophy");
  ASSERT_NE(FindSharedAction("actAcctUnLock"), nullptr);
  EXPECT_EQ(FindSharedAction("actAcctUnLock")->imageIndex, 0);
  EXPECT_EQ(FindSharedAction("actNothing"), nullptr);
  EXPECT_EQ(FindSharedAction(nullptr), nullptr);
}
