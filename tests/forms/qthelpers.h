#pragma once

#include <cstdint>
#include <string>

class TBitmap;
class TForm;
class TWinControl;

// What the window tests need of Qt itself, kept out of the GBK-compiled test
// sources (Qt's widget headers do not build with a GBK execution charset).

// The clipboard's text as GBK bytes.
std::string ClipboardText();
// Types `gbk` into the control's widget key by key, as a user would.
void TypeText(TWinControl* control, const std::string& gbk);
// Presses and releases Enter on the control's widget.
void PressReturn(TWinControl* control);
// Moves the mouse pointer (screen coordinates).
void MoveCursorTo(int x, int y);
// The pixel as 0xRRGGBB.
uint32_t PixelRgb(const TBitmap& image, int x, int y);
// Saves what the form's window shows.
bool SaveWindowPng(TForm* form, const std::string& path);
