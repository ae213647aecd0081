#pragma once

#include <string>

// The text side of the name/code lookup (lookup.h): the four text buffers that
// every lookup of the module shares, and the comparison and number reading it
// uses. Single-threaded: the buffers are not guarded.
namespace lookup_text {

constexpr int kBufferSize = 128;  // each buffer; texts are cut at 127 bytes

// Clears `buffer` (kBufferSize bytes) and writes `code` into it in decimal.
void FormatCode(char* buffer, int code);
// "[code] name" in the shared display buffer (cleared first).
const char* FormatDisplay(int code, const std::string& name);
// `name` in the shared name buffer (cleared first).
const char* FormatName(const std::string& name);
// The buffers that GetTextByCode and GetNameByCode return.
char* CodeTextBuffer();
char* NameResultBuffer();
// Clears `buffer` and copies at most 127 bytes of `text` into it.
void CopyToBuffer(char* buffer, const char* text);

// tmclient::CompareIgnoringCase for C texts: 0 when equal. A null text counts
// as "".
int StrICmp(const char* a, const char* b);
// Leading white space, an optional sign, then decimal digits up to the first
// other character; 0 when there are none, and INT_MIN or INT_MAX when the
// number does not fit. A null text gives 0.
int Atol(const char* text);

}  // namespace lookup_text
