#pragma once

#include <cstdint>
#include <string>

#include "toolkit/types.h"

class TBitmap;
class TComboBox;
class TControl;
class TForm;
class TListView;
class TPopupMenu;
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
// Presses and releases a key, given by its platform code (a letter, VK_RETURN,
// VK_UP, ...), with Ctrl and Shift as in `shift`, on the control's widget.
void PressKey(TWinControl* control, uint16_t key, TShiftState shift = 0);
// A right click at (x, y) of the control (client coordinates), entering
// where the window system's would: the control's window gets it.
void RightClickAt(TWinControl* control, int x, int y);
// Clicks the item at `index` of the popup menu that is open.
void ClickOpenMenuItem(TPopupMenu* menu, int index);
// Opens the combo box's list with a click on its arrow; returns the width of
// the list as shown, and closes it again.
int DropDownWidthByClick(TComboBox* box);
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
