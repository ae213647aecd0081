#pragma once

#include <string>
#include <string_view>

#include "guicommon/export.h"

// `text` for a terminal: every control character (bytes 0x00-0x1f and 0x7f)
// written as \xNN, so that a text from a server or a file cannot move the
// cursor, change colours or set a terminal's title. Every other byte stays
// (a backslash too: it may be the second byte of a GBK character), so GBK
// and UTF-8 texts read as before.
GUICOMMON_API std::string EscapeControls(std::string_view text);
