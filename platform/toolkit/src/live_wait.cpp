// The live wait: a remote call made on the GUI thread waits in a local event
// loop while the broker client's I/O runs on a thread of its own
// (tmclient/call_wait.h). Paint, timers and window-system events go on, so the
// windows repaint and the frame can be moved and resized; the user's input is
// dropped, as under a modal box, and the toolkit's posted messages wait, so
// that nothing a window does can start a second call meanwhile. Escape gives
// the call up.

#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <memory>

#include "handles.h"
#include "live_wait.h"
#include "tmclient/call_wait.h"

namespace toolkit_detail {
namespace {

// A call that ends this soon never starts the event loop: a local query does
// not pay for it, and an operator sees no pause that short.
constexpr int kQuickCallMs = 10;
// How often Ended() is looked at when the call has no descriptor to watch.
constexpr int kPollMs = 5;

// The events that are the user's input, dropped while a call waits.
bool IsInput(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::InputMethod:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::Gesture:
    case QEvent::NativeGesture:
    case QEvent::HoverEnter:
    case QEvent::HoverMove:
    case QEvent::HoverLeave:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::ToolTip:
    case QEvent::WhatsThis:
      return true;
    default:
      return false;
  }
}

class TLiveWait final : public QObject, public tmclient::CallWaitHook {
 public:
  bool Waiting() const { return pCall != nullptr; }

  bool WaitsHere() override {
    // A call made while one waits (nothing of ours makes one) blocks, rather
    // than nesting waits that could only end in reverse order.
    const QCoreApplication* app = QCoreApplication::instance();
    return pCall == nullptr && qobject_cast<const QApplication*>(app) != nullptr &&
           QThread::currentThread() == app->thread() && !QCoreApplication::closingDown();
  }

  void Wait(tmclient::PendingCall& call) override {
    if (call.WaitEnded(kQuickCallMs)) return;
    QEventLoop loop;
    pCall = &call;
    pLoop = &loop;
    pModalBefore = QApplication::activeModalWidget();
    HoldPosted();
    qApp->installEventFilter(this);
    std::unique_ptr<QSocketNotifier> ended;
    QTimer poll;
    if (const int fd = call.EndedFd(); fd >= 0) {
      ended = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
      QObject::connect(ended.get(), &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    } else {
      QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (call.Ended()) loop.quit();
      });
      poll.start(kPollMs);
    }
    // The loop also returns when the application is told to quit: the call
    // still waits, and the quit takes effect in the outer loop afterwards.
    while (!call.Ended() && !call.Abandoned()) loop.exec();
    qApp->removeEventFilter(this);
    pCall = nullptr;
    pLoop = nullptr;
    pModalBefore = nullptr;
    ReleasePosted();
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (pCall == nullptr || InBoxOpenedMeanwhile(watched)) return false;
    const QEvent::Type type = event->type();
    if (type == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
      if (pCall->Abandon()) pLoop->quit();
      return true;
    }
    // No window closes under a call that waits (its caller may be a window's
    // handler): as under a modal box, the request to close is refused.
    if (type == QEvent::Close && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->isWindow()) {
      event->ignore();
      return true;
    }
    return IsInput(type);
  }

 private:
  // A modal box that something opened while the call waits (an error box of
  // a timer's handler) takes its input as usual: it could not be closed
  // otherwise, and the wait could not end before it is.
  bool InBoxOpenedMeanwhile(QObject* watched) const {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == pModalBefore || !watched->isWidgetType()) return false;
    return static_cast<QWidget*>(watched)->window() == modal;
  }

  tmclient::PendingCall* pCall = nullptr;  // the call waiting, if any
  QEventLoop* pLoop = nullptr;
  QWidget* pModalBefore = nullptr;  // the modal box the call was made under, if any
};

TLiveWait& LiveWait() {
  // Lives as long as the process: the broker client keeps a pointer to it.
  static TLiveWait* wait = new TLiveWait;
  return *wait;
}

}  // namespace

void InstallLiveWait() {
  tmclient::SetCallWaitHook(&LiveWait());
}

bool LiveWaitWaiting() {
  return LiveWait().Waiting();
}

}  // namespace toolkit_detail
