#pragma once

#include <cstdint>
#include <string>

class TBitmap;
class TControl;
class TForm;
class TListView;
class TWinControl;

// What the window tests need of Qt itself, kept out of the GBK-compiled test
// sources (Qt's widget headers do not build with a GBK execution charset).

// The clipboard's text as GBK bytes.
std::string ClipboardText();
// Types `gbk` into the control's widget key by key, as a user would.
void TypeText(TWinControl* control, const std::string& gbk);
// Presses and releases Enter on the control's widget.
void PressReturn(TWinControl* control);
// Presses and releases Tab (Shift+Tab with `back`) on the control's widget.
void PressTab(TWinControl* control, bool back = false);
// A left click at (x, y) of the control's widget; a negative x clicks the
// middle of the widget.
void ClickControl(TWinControl* control, int x = -1, int y = -1);
// Holds the left button down over the middle of the control's widget, or
// lets it go.
void PressMouse(TWinControl* control);
void ReleaseMouse(TWinControl* control);
// A left click on the header of a report list view's column.
void ClickColumnHeader(TListView* listView, int column);
// Moves the mouse pointer (screen coordinates).
void MoveCursorTo(int x, int y);
// Moves the mouse pointer to the point (client coordinates) of the control;
// the window system's mouse move goes to the widget under the pointer.
void MovePointerOver(TControl* control, int x, int y);
// The pixel as 0xRRGGBB.
uint32_t PixelRgb(const TBitmap& image, int x, int y);
// Saves what the form's window shows.
bool SaveWindowPng(TForm* form, const std::string& path);
