#pragma once

// Qt-facing helpers of the toolkit, for the Qt-based libraries and programs
// (the GUI common package, the host). Business code never includes this.

#include <QString>
#include <string>
#include <string_view>

#include "toolkit/export.h"

// GBK bytes to text. Bytes that are not GBK are kept, one private-use
// character each (U+F780 + byte - 0x80 for bytes 0x80..0xFF), so that
// QStringToGbk gives the same bytes back.
TOOLKIT_API QString GbkToQString(std::string_view gbk);
// Text to GBK bytes. The private-use characters above become their bytes
// again; characters GBK cannot hold become '?'.
TOOLKIT_API std::string QStringToGbk(const QString& text);
// Appends GBK bytes to `out` as UTF-8 (bytes that are not GBK as their
// private-use characters).
TOOLKIT_API void AppendGbkAsUtf8(std::string_view gbk, std::string& out);
// False when the GBK codec is not available (then bytes pass as Latin-1).
TOOLKIT_API bool GbkCodecAvailable();
