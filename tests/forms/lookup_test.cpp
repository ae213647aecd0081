#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "forms/lookup.h"
#include "forms/lookup_text.h"
#include "toolkit/application.h"
#include "toolkit/classes.h"
#include "toolkit/stdctrls.h"

namespace {

using TLookup = CBasicLookup<TCNameCodeInfoList>;

TCNameCodeInfoList BusiTypes() {
  return {{"小额支付冻结", 1332},         {"小额支付解冻", 1333},
          {"小额支付帐户信息修改", 1334}, {"小额支付帐户改号", 1335},
          {"小额支付帐户存款", 1336},     {"小额支付帐户取款(转预存)", 1337}};
}

std::unique_ptr<TLookup> MakeLookup(const TCNameCodeInfoList& list) {
  return std::make_unique<CAutoLookup<TCNameCodeInfoList, int (TCNameCodeInfo::*)(),
                                      std::string (TCNameCodeInfo::*)()>>(
      list, &TCNameCodeInfo::GetCode, &TCNameCodeInfo::GetName);
}

TEST(CAutoLookup, TurnsCodesIntoTexts) {
  auto lookup = MakeLookup(BusiTypes());
  EXPECT_STREQ(lookup->GetTextByCode(1336), "[1336] 小额支付帐户存款");
  EXPECT_STREQ(lookup->GetTextByCode(1332),
               "[1332] \xD0\xA1\xB6\xEE\xD6\xA7\xB8\xB6\xB6\xB3\xBD\xE1");  // GBK bytes
  EXPECT_STREQ(lookup->GetTextByCode(9), "9");
  EXPECT_STREQ(lookup->GetTextByCode(-5), "-5");
  EXPECT_STREQ(lookup->GetTextByCode(INT_MIN), "-2147483648");
  EXPECT_STREQ(lookup->GetNameByCode(1334), "小额支付帐户信息修改");
  EXPECT_STREQ(lookup->GetNameByCode(1), "");
}

TEST(LookupText, DisplayTextIsWhatSnprintfWrites) {
  const std::string withNul("甲\0乙", 5);
  for (int code : {0, 7, -1, 1332, INT_MAX, INT_MIN}) {
    for (const std::string& name : {std::string(), std::string("小额支付冻结"),
                                    std::string(120, 'x'), std::string(200, 'y'), withNul}) {
      char expected[lookup_text::kBufferSize];
      std::snprintf(expected, sizeof expected, "[%d] %s", code, name.c_str());
      const char* text = lookup_text::FormatDisplay(code, name);
      EXPECT_STREQ(text, expected) << code << " " << name.size();
      // The rest of the buffer stays zero.
      const size_t length = std::strlen(text);
      for (size_t i = length; i < lookup_text::kBufferSize; ++i) ASSERT_EQ(text[i], 0);
    }
  }
}

TEST(CAutoLookup, TurnsTextsAndNamesIntoCodes) {
  auto lookup = MakeLookup(BusiTypes());
  EXPECT_EQ(lookup->GetCodeByText("[1333] 小额支付解冻"), 1333);
  EXPECT_EQ(lookup->GetCodeByText("[1337] 小额支付帐户取款(转预存)"), 1337);
  EXPECT_EQ(lookup->GetCodeByName("小额支付冻结"), 1332);
  // No match: the text read as a number.
  EXPECT_EQ(lookup->GetCodeByText("77abc"), 77);
  EXPECT_EQ(lookup->GetCodeByText("  -12x"), -12);
  EXPECT_EQ(lookup->GetCodeByText("[1333] 小额支付解冻 "), 0);
  EXPECT_EQ(lookup->GetCodeByText("99999999999"), INT_MAX);
  EXPECT_EQ(lookup->GetCodeByText(nullptr), 0);
  EXPECT_EQ(lookup->GetCodeByName("1335"), 1335);
}

TEST(CAutoLookup, IgnoresTheCaseOfAsciiLettersOnly) {
  auto lookup = MakeLookup({{"Deposit", 1}, {"\xC3\xC1", 2}, {"\xC3\xE1", 3}});
  EXPECT_EQ(lookup->GetCodeByName("dEPOSIT"), 1);
  EXPECT_EQ(lookup->GetCodeByText("[1] DEPOSIT"), 1);
  // Bytes above 0x7F are not folded: these are two different GBK characters.
  EXPECT_EQ(lookup->GetCodeByName("\xC3\xE1"), 3);
}

TEST(CAutoLookup, UsesTheFirstOfDuplicateCodes) {
  auto lookup = MakeLookup({{"first", 7}, {"second", 7}, {"second", 8}});
  EXPECT_STREQ(lookup->GetTextByCode(7), "[7] first");
  EXPECT_STREQ(lookup->GetNameByCode(7), "first");
  EXPECT_EQ(lookup->GetCodeByName("second"), 7);
}

TEST(CAutoLookup, WorksOverAnEmptyList) {
  TApplication::Instance();
  auto lookup = MakeLookup({});
  TComboBox combo(nullptr);
  lookup->FillComboBox(&combo);
  EXPECT_EQ(combo.Items()->Count(), 0);
  EXPECT_EQ(combo.ItemIndex(), -1);
  EXPECT_STREQ(lookup->GetTextByCode(5), "5");
  EXPECT_STREQ(lookup->GetNameByCode(5), "");
  EXPECT_EQ(lookup->GetCodeByText("abc"), 0);
}

TEST(CAutoLookup, KeepsItsOwnCopyOfTheList) {
  TCNameCodeInfoList list = BusiTypes();
  auto lookup = MakeLookup(list);
  list[0] = TCNameCodeInfo("changed", 1332);
  list.clear();
  EXPECT_STREQ(lookup->GetNameByCode(1332), "小额支付冻结");
}

TEST(CAutoLookup, ReturnedTextsShareOneBufferPerOperation) {
  auto lookup = MakeLookup(BusiTypes());
  auto other = MakeLookup({{"other", 1}});
  const char* text = lookup->GetTextByCode(1336);
  const char* name = lookup->GetNameByCode(1332);
  other->GetTextByCode(1);
  EXPECT_STREQ(text, "[1] other");     // rewritten by another lookup object
  EXPECT_STREQ(name, "小额支付冻结");  // another operation's buffer stays
  lookup->GetTextByCode(-5);
  EXPECT_STREQ(text, "-5");
}

TEST(CAutoLookup, AppendsToAFilledComboBoxAndSelectsTheFirstItem) {
  TApplication::Instance();
  auto lookup = MakeLookup(BusiTypes());
  TComboBox combo(nullptr);
  combo.Items()->Add("old 1");
  combo.Items()->Add("old 2");
  lookup->FillComboBox(&combo);
  ASSERT_EQ(combo.Items()->Count(), 8);
  EXPECT_EQ(combo.Items()->Strings(0), "old 1");
  EXPECT_EQ(combo.Items()->Strings(2), "[1332] 小额支付冻结");
  EXPECT_EQ(combo.Items()->Strings(7), "[1337] 小额支付帐户取款(转预存)");
  EXPECT_EQ(combo.ItemIndex(), 0);
  lookup->FillComboBox(nullptr);
}

TEST(CAutoLookup, FillsItemStringsWithoutSelecting) {
  auto lookup = MakeLookup(BusiTypes());
  TStringList items;
  items.Add("kept");
  lookup->FillListItems(&items);
  ASSERT_EQ(items.Count(), 7);
  EXPECT_EQ(items.Strings(0), "kept");
  EXPECT_EQ(items.Strings(1), "[1332] 小额支付冻结");
  lookup->FillListItems(nullptr);
}

TEST(TCNameCodeInfo, KeepsAtMost63BytesOfAName) {
  const std::string longName(100, 'x');
  TCNameCodeInfo item(longName.c_str(), 4);
  EXPECT_EQ(item.GetName(), std::string(63, 'x'));
  TCNameCodeInfo unterminated;
  std::memset(unterminated.name, 'y', sizeof unterminated.name);
  EXPECT_EQ(unterminated.GetName(), std::string(64, 'y'));
}

}  // namespace
