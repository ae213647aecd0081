#pragma once

// Window handles and the posted-message queue (winapi.cpp): what the controls
// and the application need of them beyond the public window functions.

#include <cstdint>

#include "toolkit/winapi.h"

class TWinControl;

// The procedure every handle starts with; it ends the chain in
// TWinControl::WndProc.
LRESULT ToolkitWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);

namespace toolkit_detail {

// A control's handle, valid from the control's construction to its
// destruction; the control of a live handle (null for a dead one).
HWND CreateHandle(TWinControl* control);
TWinControl* HandleControl(HWND wnd);
void DestroyHandle(HWND wnd);
bool HandleAlive(HWND wnd);
// The serial a live handle was made with (0 for a dead one): every handle
// gets a new one, so a handle whose memory a newer one took is told apart.
uint64_t HandleSerial(HWND wnd);
bool HandleAlive(HWND wnd, uint64_t serial);

// Holding and releasing posted messages (TApplication).
void HoldPosted();
void ReleasePosted();

}  // namespace toolkit_detail
