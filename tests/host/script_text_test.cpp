#include <gtest/gtest.h>

#include "script_presenter.h"
#include "script_text.h"

namespace {

TEST(ScriptLine, SkipsCommentsAndBlankLines) {
  for (const char* line : {"", "   ", "# open 10001", "   # note", "\r"}) {
    EXPECT_TRUE(SplitScriptLine(line).strCommand.empty()) << line;
  }
}

TEST(ScriptLine, CutsTheCommandAtTheFirstBlank) {
  CScriptLine line = SplitScriptLine("type edtName 张 三 # not a comment\r");
  EXPECT_EQ(line.strCommand, "type");
  EXPECT_TRUE(line.bHasRest);
  EXPECT_EQ(line.strRest, "edtName 张 三 # not a comment");

  line = SplitScriptLine("quit");
  EXPECT_EQ(line.strCommand, "quit");
  EXPECT_FALSE(line.bHasRest);
  line = SplitScriptLine("  focus ");
  EXPECT_EQ(line.strCommand, "focus");
  EXPECT_TRUE(line.bHasRest);
  EXPECT_EQ(line.strRest, "");
}

TEST(ScriptArguments, TheLastTakesTheRestOfTheLine) {
  std::vector<std::string> args;
  ASSERT_TRUE(SplitArguments("edtName  two  blanks ", 2, args));
  EXPECT_EQ(args, (std::vector<std::string>{"edtName", " two  blanks "}));
  ASSERT_TRUE(SplitArguments("lvstShow 3 4", 3, args));
  EXPECT_EQ(args, (std::vector<std::string>{"lvstShow", "3", "4"}));
  ASSERT_TRUE(SplitArguments("edtSono ", 2, args));
  EXPECT_EQ(args, (std::vector<std::string>{"edtSono", ""}));
  ASSERT_TRUE(SplitArguments("复制单元格", 1, args));
  EXPECT_EQ(args, (std::vector<std::string>{"复制单元格"}));
  EXPECT_FALSE(SplitArguments("edtSono", 2, args));
  EXPECT_FALSE(SplitArguments("lvstShow 3", 3, args));
}

TEST(ScriptOutput, EscapesWhatWouldBreakAField) {
  EXPECT_EQ(EscapeField("a\tb\nc\\d\re"), "a\\tb\\nc\\\\d\\re");
  // Terminal escape sequences, 7-bit and 8-bit, and the other controls.
  EXPECT_EQ(EscapeField("\x1b]0;title\x07\x1b[2J\x7f\x01"), "\\x1b]0;title\\x07\\x1b[2J\\x7f\\x01");
  EXPECT_EQ(EscapeField("x\xc2\x9b"
                        "31m\xc2\xa0y"),
            "x\\u009b31m\xc2\xa0y");
  EXPECT_EQ(EscapeField("小额支付"), "小额支付");
  EXPECT_EQ(OutputLine({"state", "chkSono", "checked=1"}), "state\tchkSono\tchecked=1\n");
}

TEST(ScriptOutput, MessageBoxesAnswerWithTheirDefaultButton) {
  EXPECT_EQ(DefaultButtonAnswer(0), 1);       // OK
  EXPECT_EQ(DefaultButtonAnswer(64), 1);      // OK, information icon
  EXPECT_EQ(DefaultButtonAnswer(16 | 1), 1);  // OK of OK/Cancel
  EXPECT_EQ(DefaultButtonAnswer(4), 6);       // Yes of Yes/No
  EXPECT_EQ(DefaultButtonAnswer(4 | 0x100), 7);
  EXPECT_EQ(DefaultButtonAnswer(3 | 0x200), 2);  // Cancel of Yes/No/Cancel
  EXPECT_EQ(DefaultButtonAnswer(5), 4);          // Retry of Retry/Cancel
  EXPECT_EQ(DefaultButtonAnswer(0x0F | 0x300), 1);
}

}  // namespace
