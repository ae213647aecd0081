#pragma once

#include <cstdint>
#include <string>

#include "guicommon/export.h"

// The GUI common package's entry points as the business modules call them.
// Texts are NUL-terminated GBK bytes.

GUICOMMON_API int ShowGUIMessage(const char* text, const char* caption, int flags);
GUICOMMON_API void ShowWaitBox(const char* text);
GUICOMMON_API void UpdateWaitBox(const char* text);
GUICOMMON_API void CloseWaitBox();

// A mainland mobile number: 11 digits, first 1, second 3 to 9.
GUICOMMON_API bool CheckMsisdn(const char* msisdn);
// An amount in fen shown as yuan with two decimals ("-12.05").
GUICOMMON_API std::string CurrencyToString(int64_t fen);
// Reads a text that CurrencyToString produced (surrounding blanks allowed);
// throws std::invalid_argument on text it cannot read.
GUICOMMON_API int64_t StringToCurrency(const std::string& text);
// The local IPv4 address as text ("127.0.0.1" when there is none).
GUICOMMON_API const char* GetLocalIP();
