#pragma once

#include "toolkit/winapi.h"

// Keeps the point of the last right-button press in a list view's tag, where
// the copy-cell command reads it: the list view's window procedure is
// replaced by ListViewWindowProc, and the previous procedure is kept in the
// window's user-data slot until the window is destroyed.

// Installs the capture procedure on a list view's window. True when it is in
// place, also when the user-data slot was already in use (taken as installed);
// false for a null handle or when the procedure cannot be replaced.
bool SubclassListViewWindow(HWND H);

// The capture procedure: on a right-button press sets the owning list view's
// tag to lParam, on destruction puts the previous procedure back; every
// message then goes on to the previous procedure. It also fits the columns
// when the list view services ask for it, with a message of their own. Returns 1 and does nothing
// when no previous procedure is kept.
LRESULT ListViewWindowProc(HWND H, UINT Msg, WPARAM WParam, LPARAM LParam);
