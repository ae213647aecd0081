#pragma once

// Shared internals of the toolkit: the Qt event bridge of a control, the
// exception guard around handlers, and window handle bookkeeping.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <string>
#include <utility>

#include "toolkit/application.h"
#include "toolkit/controls.h"
#include "toolkit/qtext.h"

class QEvent;
class QKeyEvent;

LRESULT ToolkitWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);

namespace toolkit_detail {

inline QString Q(const std::string& gbk) {
  return GbkToQString(gbk);
}
inline std::string G(const QString& text) {
  return QStringToGbk(text);
}

// Runs a handler on behalf of Qt: an exception that escapes it goes to the
// application's error box and never into Qt's event loop.
template <class F>
void Guarded(TObject* sender, F&& f) {
  try {
    std::forward<F>(f)();
  } catch (...) {
    TApplication::Instance()->HandleException(sender);
  }
}

// Passes every event of a control's widgets to TControl::QtEvent.
class ControlBridge : public QObject {
 public:
  explicit ControlBridge(TControl* control) : pControl(control) {}
  void Watch(QWidget* widget);
  bool eventFilter(QObject* watched, QEvent* event) override;
  TControl* Control() const { return pControl; }

 private:
  TControl* pControl;
};

// Window handles. The procedure every handle starts with; it ends the chain
// in TWinControl::WndProc.
HWND CreateHandle(TWinControl* control);
TWinControl* HandleControl(HWND wnd);
void DestroyHandle(HWND wnd);
bool HandleAlive(HWND wnd);
uint64_t HandleSerial(HWND wnd);
bool HandleAlive(HWND wnd, uint64_t serial);

// Platform key code of a Qt key event (0 when it has none); the shift state.
uint16_t VirtualKey(const QKeyEvent* event);
TShiftState ShiftState(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons = {});
// The bytes a key press types (GBK), control characters included.
std::string TypedBytes(const QKeyEvent* event);

// Holding and releasing posted messages (TApplication).
void HoldPosted();
void ReleasePosted();

// Makes sure the Qt application exists (tests and tools may not make one).
void EnsureQtApplication();
// Installs the live wait as the broker client's wait hook (live_wait.cpp);
// whether a call waits in it now.
void InstallLiveWait();
bool LiveWaitWaiting();
// The Qt families for a window font's family name: no Linux font has the
// Windows CJK names (宋体, SimSun, ...), which stand for the installed CJK
// fonts, most preferred first; any other name comes first, with the usual
// CJK font behind it.
QStringList QtFamilies(const QString& family);
// A widget of type W, made once the Qt application exists.
template <class W, class... A>
W* MakeWidget(A&&... args) {
  EnsureQtApplication();
  return new W(std::forward<A>(args)...);
}

}  // namespace toolkit_detail
