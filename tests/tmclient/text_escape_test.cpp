// The one escaper of texts that reach a terminal or a line-based reader, in
// each of the styles its users ask for.

#include "tmclient/text_escape.h"

#include <gtest/gtest.h>

namespace {

using tmclient::Escaped;
using tmclient::EscapeStyle;

TEST(Escaped, EveryControlIsEscapedInEachStyle) {
  EscapeStyle field;  // the host's script output (UTF-8)
  field.bShortForms = field.bUtf8C1 = true;
  EscapeStyle logfmt;  // a quoted value of the back office's log
  logfmt.bShortForms = logfmt.bQuotes = true;
  const struct {
    const char* what;
    std::string_view text;
    EscapeStyle style;
    std::string_view expected;
  } cases[] = {
      {"terminal: title, bell, line ends",
       "\x1b]0;x\x07\r\n\t\x7f",
       {},
       "\\x1b]0;x\\x07\\x0d\\x0a\\x09\\x7f"},
      {"terminal: GBK whose second byte is a backslash stays",
       "\xB1\xED \x95\x5C\"",
       {},
       "\xB1\xED \x95\x5C\""},
      {"field: short forms", "a\tb\nc\\d\re", field, "a\\tb\\nc\\\\d\\re"},
      {"field: controls", "\x1b[2J\x01\x7f", field, "\\x1b[2J\\x01\\x7f"},
      {"field: C1 controls of UTF-8",
       "x\xc2\x9b"
       "31m\xc2\x85",
       field, "x\\u009b31m\\u0085"},
      {"field: other UTF-8 stays", "\xe5\xb0\x8f \xc2\xa0", field, "\xe5\xb0\x8f \xc2\xa0"},
      {"field: a lone 0xC2 at the end stays", "a\xc2", field, "a\xc2"},
      {"logfmt: quotes and backslashes", "say \"hi\\\"\n", logfmt, "say \\\"hi\\\\\\\"\\n"},
      {"logfmt: controls", std::string_view("\0\x1f", 2), logfmt, "\\x00\\x1f"},
  };
  for (const auto& c : cases) EXPECT_EQ(Escaped(c.text, c.style), c.expected) << c.what;
}

}  // namespace
