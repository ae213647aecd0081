#pragma once

#include <cstdint>

#include "toolkit/export.h"
#include "toolkit/types.h"

// Window handles and messages. Every windowed control (TWinControl) has a
// handle with a replaceable window procedure and a pointer-sized user-data
// slot. The toolkit sends the messages below through the procedure chain;
// a procedure that replaces another passes what it does not handle on with
// CallWindowProc. Constants carry the platform's values.

using BOOL = int;
using UINT = unsigned int;
using DWORD = uint32_t;
using LONG = int32_t;
using LONG_PTR = intptr_t;
using UINT_PTR = uintptr_t;
using WPARAM = UINT_PTR;
using LPARAM = LONG_PTR;
using LRESULT = LONG_PTR;

struct HWND__;
using HWND = HWND__*;
struct HDC__;
using HDC = HDC__*;

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

// Slots of GetWindowLongPtr / SetWindowLongPtr.
constexpr int GWLP_WNDPROC = -4;
constexpr int GWLP_USERDATA = -21;
constexpr int GWL_WNDPROC = GWLP_WNDPROC;
constexpr int GWL_USERDATA = GWLP_USERDATA;

// Messages.
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_SETFOCUS = 0x0007;
constexpr UINT WM_KILLFOCUS = 0x0008;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_NEXTDLGCTL = 0x0028;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_CHAR = 0x0102;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_RBUTTONDOWN = 0x0204;
constexpr UINT WM_RBUTTONUP = 0x0205;
constexpr UINT CB_GETDROPPEDWIDTH = 0x015F;
constexpr UINT CB_SETDROPPEDWIDTH = 0x0160;
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_APP = 0x8000;  // the first of the messages private to a program

// Mouse-message wParam bits.
constexpr WPARAM MK_LBUTTON = 0x0001;
constexpr WPARAM MK_RBUTTON = 0x0002;
constexpr WPARAM MK_SHIFT = 0x0004;
constexpr WPARAM MK_CONTROL = 0x0008;

// Window styles (TCreateParams::Style).
constexpr DWORD WS_MAXIMIZE = 0x01000000;
constexpr DWORD WS_MINIMIZE = 0x20000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_CHILD = 0x40000000;

// Message box flags and results.
constexpr int MB_OK = 0x00000000;
constexpr int MB_ICONERROR = 0x00000010;
constexpr int MB_ICONQUESTION = 0x00000020;
constexpr int MB_ICONWARNING = 0x00000030;
constexpr int MB_ICONINFORMATION = 0x00000040;
constexpr int IDOK = 1;

// Last-error codes.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr DWORD ERROR_INVALID_INDEX = 1413;

inline LPARAM MAKELPARAM(int lo, int hi) {
  return static_cast<LPARAM>(static_cast<uint32_t>((lo & 0xFFFF) | ((hi & 0xFFFF) << 16)));
}
inline uint16_t LOWORD(uintptr_t v) {
  return static_cast<uint16_t>(v & 0xFFFF);
}
inline uint16_t HIWORD(uintptr_t v) {
  return static_cast<uint16_t>((v >> 16) & 0xFFFF);
}
// Signed client coordinates packed by MAKELPARAM.
inline int GET_X_LPARAM(LPARAM v) {
  return static_cast<int16_t>(LOWORD(static_cast<uintptr_t>(v)));
}
inline int GET_Y_LPARAM(LPARAM v) {
  return static_cast<int16_t>(HIWORD(static_cast<uintptr_t>(v)));
}

struct TEXTMETRIC {
  LONG tmHeight;
  LONG tmAscent;
  LONG tmDescent;
  LONG tmInternalLeading;
  LONG tmExternalLeading;
  LONG tmAveCharWidth;
  LONG tmMaxCharWidth;
  LONG tmWeight;
};

// The message a window procedure receives, as control classes see it.
struct TMessage {
  UINT Msg;
  WPARAM WParam;
  LPARAM LParam;
  LRESULT Result;
};

// Reads a slot. On a dead or null handle or an unknown index: 0 and the
// last error set (ERROR_INVALID_WINDOW_HANDLE, ERROR_INVALID_INDEX).
TOOLKIT_API LONG_PTR GetWindowLongPtr(HWND wnd, int index);
// Writes a slot and returns its previous value. Failure as for the reader;
// success leaves the last error as it was (clear it first to tell a previous
// value of 0 from a failure). A null GWLP_WNDPROC is refused.
TOOLKIT_API LONG_PTR SetWindowLongPtr(HWND wnd, int index, LONG_PTR value);
// Calls `proc` (0 when it is null).
TOOLKIT_API LRESULT CallWindowProc(WNDPROC proc, HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Runs the window's procedure now; 0 for a dead handle.
TOOLKIT_API LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Queues the message; the application's event loop delivers it later through
// the procedure chain, in posting order. Dropped when the window is gone by
// then. FALSE (and the last error) for a dead handle.
TOOLKIT_API BOOL PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Per-thread last error.
TOOLKIT_API void SetLastError(DWORD code);
TOOLKIT_API DWORD GetLastError();
// Metrics of the font of a canvas (TCanvas::Handle). 1 on success, 0 for a
// null handle.
TOOLKIT_API BOOL GetTextMetrics(HDC dc, TEXTMETRIC* tm);
// Paints what is pending for the window's top-level window, now; does
// nothing when nothing is pending. FALSE for a dead handle.
TOOLKIT_API BOOL UpdateWindow(HWND wnd);
// TRUE while the handle belongs to a live control.
TOOLKIT_API BOOL IsWindow(HWND wnd);
// The mouse pointer in screen coordinates.
TOOLKIT_API BOOL GetCursorPos(TPoint* point);
