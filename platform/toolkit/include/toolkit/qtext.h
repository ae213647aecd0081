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
// False when the GBK codec is not available (then bytes pass as Latin-1).
TOOLKIT_API bool GbkCodecAvailable();
