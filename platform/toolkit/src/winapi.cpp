#include "toolkit/winapi.h"

#include <QCoreApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QWidget>
#include <deque>
#include <unordered_map>

#include "guarded.h"
#include "handles.h"
#include "qt_app.h"
#include "qt_input.h"
#include "toolkit/application.h"
#include "toolkit/controls.h"

struct HWND__ {
  TWinControl* control;
  WNDPROC proc;
  LONG_PTR userData;
  uint64_t serial;
};

namespace toolkit_detail {
namespace {

thread_local DWORD gLastError = ERROR_SUCCESS;
std::unordered_map<HWND, uint64_t> gHandles;
uint64_t gNextSerial = 1;

}  // namespace

HWND CreateHandle(TWinControl* control) {
  auto* h = new HWND__{control, &ToolkitWindowProc, 0, gNextSerial++};
  gHandles.emplace(h, h->serial);
  return h;
}

void DestroyHandle(HWND wnd) {
  if (gHandles.erase(wnd)) delete wnd;
}

bool HandleAlive(HWND wnd) {
  return wnd && gHandles.count(wnd) != 0;
}

uint64_t HandleSerial(HWND wnd) {
  return HandleAlive(wnd) ? wnd->serial : 0;
}

bool HandleAlive(HWND wnd, uint64_t serial) {
  auto it = gHandles.find(wnd);
  return it != gHandles.end() && it->second == serial;
}

TWinControl* HandleControl(HWND wnd) {
  return HandleAlive(wnd) ? wnd->control : nullptr;
}

uint16_t VirtualKey(const QKeyEvent* e) {
  const int k = e->key();
  switch (k) {
    case Qt::Key_Backspace:
      return VK_BACK;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      return VK_TAB;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return VK_RETURN;
    case Qt::Key_Shift:
      return VK_SHIFT;
    case Qt::Key_Control:
      return VK_CONTROL;
    case Qt::Key_Alt:
      return VK_MENU;
    case Qt::Key_Escape:
      return VK_ESCAPE;
    case Qt::Key_Space:
      return VK_SPACE;
    case Qt::Key_PageUp:
      return VK_PRIOR;
    case Qt::Key_PageDown:
      return VK_NEXT;
    case Qt::Key_End:
      return VK_END;
    case Qt::Key_Home:
      return VK_HOME;
    case Qt::Key_Left:
      return VK_LEFT;
    case Qt::Key_Up:
      return VK_UP;
    case Qt::Key_Right:
      return VK_RIGHT;
    case Qt::Key_Down:
      return VK_DOWN;
    case Qt::Key_Insert:
      return VK_INSERT;
    case Qt::Key_Delete:
      return VK_DELETE;
    default:
      break;
  }
  if ((k >= Qt::Key_0 && k <= Qt::Key_9) || (k >= Qt::Key_A && k <= Qt::Key_Z)) {
    return static_cast<uint16_t>(k);  // same codes
  }
  if (k >= Qt::Key_F1 && k <= Qt::Key_F24) return static_cast<uint16_t>(VK_F1 + (k - Qt::Key_F1));
  return 0;
}

TShiftState ShiftState(Qt::KeyboardModifiers m, Qt::MouseButtons b) {
  TShiftState s = 0;
  if (m & Qt::ShiftModifier) s |= ssShift;
  if (m & Qt::AltModifier) s |= ssAlt;
  if (m & Qt::ControlModifier) s |= ssCtrl;
  if (b & Qt::LeftButton) s |= ssLeft;
  if (b & Qt::RightButton) s |= ssRight;
  if (b & Qt::MiddleButton) s |= ssMiddle;
  return s;
}

std::string TypedBytes(const QKeyEvent* e) {
  const int k = e->key();
  if (e->modifiers() & Qt::ControlModifier) {
    if (k >= Qt::Key_A && k <= Qt::Key_Z)
      return std::string(1, static_cast<char>(k - Qt::Key_A + 1));
    return {};
  }
  switch (k) {
    case Qt::Key_Backspace:
      return std::string(1, '\b');
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return std::string(1, '\r');
    case Qt::Key_Tab:
      return std::string(1, '\t');
    case Qt::Key_Escape:
      return std::string(1, '\x1b');
    default:
      break;
  }
  const QString t = e->text();
  if (t.isEmpty() || t[0].unicode() == 0x7F) return {};
  return QStringToGbk(t);
}

}  // namespace toolkit_detail

using namespace toolkit_detail;

LRESULT ToolkitWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  TWinControl* control = HandleControl(wnd);
  if (!control) return 0;
  TMessage m{msg, wParam, lParam, 0};
  control->WndProc(m);
  return m.Result;
}

LONG_PTR GetWindowLongPtr(HWND wnd, int index) {
  if (!HandleAlive(wnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  switch (index) {
    case GWLP_WNDPROC:
      return reinterpret_cast<LONG_PTR>(wnd->proc);
    case GWLP_USERDATA:
      return wnd->userData;
    default:
      SetLastError(ERROR_INVALID_INDEX);
      return 0;
  }
}

LONG_PTR SetWindowLongPtr(HWND wnd, int index, LONG_PTR value) {
  if (!HandleAlive(wnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  LONG_PTR previous;
  switch (index) {
    case GWLP_WNDPROC:
      if (!value) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
      }
      previous = reinterpret_cast<LONG_PTR>(wnd->proc);
      wnd->proc = reinterpret_cast<WNDPROC>(value);
      return previous;
    case GWLP_USERDATA:
      previous = wnd->userData;
      wnd->userData = value;
      return previous;
    default:
      SetLastError(ERROR_INVALID_INDEX);
      return 0;
  }
}

LRESULT CallWindowProc(WNDPROC proc, HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return proc ? proc(wnd, msg, wParam, lParam) : 0;
}

LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!HandleAlive(wnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return wnd->proc(wnd, msg, wParam, lParam);
}

namespace toolkit_detail {
namespace {

// Posted messages wait in one queue, delivered in order by a pump that Qt's
// event loop runs; the pump does nothing while messages are held.
struct PostedMessage {
  HWND wnd;
  uint64_t serial;
  UINT msg;
  WPARAM wparam;
  LPARAM lparam;
};
std::deque<PostedMessage> gPosted;
bool gPumpScheduled = false;
int gHolds = 0;

void SchedulePump();

void Pump() {
  gPumpScheduled = false;
  if (gHolds > 0) return;  // ReleasePostedMessages schedules it again
  // Messages posted by the handlers below wait for the next pump.
  size_t count = gPosted.size();
  while (count-- > 0 && !gPosted.empty() && gHolds == 0) {
    const PostedMessage m = gPosted.front();
    gPosted.pop_front();
    if (!HandleAlive(m.wnd, m.serial)) continue;  // the window died meanwhile
    TWinControl* control = m.wnd->control;
    Guarded(control, [&] { SendMessage(m.wnd, m.msg, m.wparam, m.lparam); });
  }
  if (!gPosted.empty()) SchedulePump();
}

void SchedulePump() {
  if (gPumpScheduled) return;
  gPumpScheduled = true;
  EnsureQtApplication();
  QMetaObject::invokeMethod(QCoreApplication::instance(), &Pump, Qt::QueuedConnection);
}

}  // namespace

void HoldPosted() {
  ++gHolds;
}

void ReleasePosted() {
  if (gHolds > 0 && --gHolds == 0 && !gPosted.empty()) SchedulePump();
}

}  // namespace toolkit_detail

BOOL PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!HandleAlive(wnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  gPosted.push_back({wnd, wnd->serial, msg, wParam, lParam});
  SchedulePump();
  return TRUE;
}

void SetLastError(DWORD code) {
  gLastError = code;
}
DWORD GetLastError() {
  return gLastError;
}

BOOL UpdateWindow(HWND wnd) {
  if (!HandleAlive(wnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  // Qt keeps pending paints as one update request per top-level window;
  // delivering it now paints exactly what is pending, and nothing if nothing is.
  if (QWidget* w = wnd->control->Widget()) {
    QCoreApplication::sendPostedEvents(w->window(), QEvent::UpdateRequest);
  }
  return TRUE;
}

BOOL IsWindow(HWND wnd) {
  return HandleAlive(wnd) ? TRUE : FALSE;
}

TWinControl* FindControl(HWND wnd) {
  return HandleControl(wnd);
}

BOOL GetCursorPos(TPoint* point) {
  if (!point) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const QPoint p = QCursor::pos();
  *point = {p.x(), p.y()};
  return TRUE;
}
