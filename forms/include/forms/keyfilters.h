#pragma once

// Which typed characters the edit key-press filters of business windows
// let through. A character is one byte taken as signed, so each byte of a
// double-byte (GBK) character is negative and is refused by every filter.
// Pasted text never passes through these filters.
namespace MBaseWindow {

// Digits, Backspace, Ctrl+A, Ctrl+C, Ctrl+V, Ctrl+X.
bool AcceptsWholeNumberKey(char key);
// As AcceptsWholeNumberKey, and the full stop.
bool AcceptsDecimalKey(char key);
// As AcceptsWholeNumberKey, and the hyphen-minus and the space.
bool AcceptsRangeKey(char key);
// Every single-byte character (0 to 127).
bool AcceptsSingleByteKey(char key);

}  // namespace MBaseWindow
