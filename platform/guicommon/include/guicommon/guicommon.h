#pragma once

#include <cstdint>
#include <string>

#include "guicommon/export.h"

// The GUI common package's entry points as the business modules call them.
// Texts are NUL-terminated GBK bytes; a null text counts as "".

// Message box through the current presenter (see presenter.h). `flags` are
// the platform's message box flags: 16 error icon, 64 information icon.
// Returns the presenter's answer (1 for OK).
GUICOMMON_API int ShowGUIMessage(const char* text, const char* caption, int flags);
// Shows the wait box and returns at once; it stays up until CloseWaitBox.
GUICOMMON_API void ShowWaitBox(const char* text);
// Replaces the text of the open wait box.
GUICOMMON_API void UpdateWaitBox(const char* text);
GUICOMMON_API void CloseWaitBox();

// A mainland mobile number: exactly 11 digits, first 1, second 3 to 9.
// False for null.
GUICOMMON_API bool CheckMsisdn(const char* msisdn);
// An amount in fen shown as yuan with two decimals: 0 "0.00", -1205
// "-12.05". Every int64_t value has a text.
GUICOMMON_API std::string CurrencyToString(int64_t fen);
// Reads an amount in yuan back into fen: optional blanks, an optional sign,
// digits, optionally a point and at most two decimals, optional blanks.
// Round-trips every text CurrencyToString produces. Throws
// std::invalid_argument on any other text or when the value does not fit.
GUICOMMON_API int64_t StringToCurrency(const std::string& text);
// The local IPv4 address as text: the first up, non-loopback interface
// address, else "127.0.0.1". The text lives in a buffer that the next call
// rewrites; copy it at once.
GUICOMMON_API const char* GetLocalIP();
