#pragma once

// One way to write a text that came from elsewhere (a server's reply, a
// request, a file) where people or programs read it line by line: the back
// office's log lines, the host's script output and standard-error boxes,
// mpay-query's rows. No control character reaches a terminal or breaks a
// line, whoever made the text.

#include <string>
#include <string_view>

#include "tmclient/export.h"

namespace tmclient {

struct EscapeStyle {
  // '\\', '\n', '\t' and '\r' as two characters each (the backslash
  // doubled). Without, a backslash stays as it is (it may be the second byte
  // of a GBK character) and those three controls are \xNN like the others.
  bool bShortForms = false;
  // '"' as \" (a quoted logfmt value).
  bool bQuotes = false;
  // U+0080 to U+009F in UTF-8 (0xC2 0x80 to 0xC2 0x9F) as \u00NN: controls
  // that some terminals obey as escape sequences. For UTF-8 texts only.
  bool bUtf8C1 = false;
};

// Appends `text` with every control character (bytes 0x00-0x1F and 0x7F)
// written as \xNN, but where `style` says otherwise; every other byte stays.
TMCLIENT_API void AppendEscaped(std::string& out, std::string_view text, EscapeStyle style = {});
TMCLIENT_API std::string Escaped(std::string_view text, EscapeStyle style = {});

}  // namespace tmclient
