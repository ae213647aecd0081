#include "forms/listviewcapture.h"

#include "columnfitting.h"
#include "toolkit/controls.h"
#include "toolkit/listview.h"

bool SubclassListViewWindow(HWND H) {
  if (H == nullptr) return false;
  if (GetWindowLongPtr(H, GWLP_USERDATA) != 0) return true;
  const LONG_PTR previous =
      SetWindowLongPtr(H, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ListViewWindowProc));
  if (previous == 0) return false;
  SetLastError(ERROR_SUCCESS);
  SetWindowLongPtr(H, GWLP_USERDATA, previous);
  if (GetLastError() != ERROR_SUCCESS) {
    SetWindowLongPtr(H, GWLP_WNDPROC, previous);
    return false;
  }
  return true;
}

LRESULT ListViewWindowProc(HWND H, UINT Msg, WPARAM WParam, LPARAM LParam) {
  const auto previous = reinterpret_cast<WNDPROC>(GetWindowLongPtr(H, GWLP_USERDATA));
  if (previous == nullptr) return 1;
  if (Msg == WM_DESTROY) {
    if (auto* listView = dynamic_cast<TListView*>(FindControl(H))) ForgetColumnFit(listView);
    SetWindowLongPtr(H, GWLP_USERDATA, 0);
    SetWindowLongPtr(H, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
  } else if (Msg == WM_RBUTTONDOWN) {
    if (auto* listView = dynamic_cast<TListView*>(FindControl(H))) listView->SetTag(LParam);
  } else if (Msg == WM_FITCOLUMNS) {
    if (auto* listView = dynamic_cast<TListView*>(FindControl(H))) FitMarkedColumns(listView);
    return 0;
  }
  return CallWindowProc(previous, H, Msg, WParam, LParam);
}
