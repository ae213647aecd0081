#include "input_events.h"

#include <QGuiApplication>
#include <QPointer>
#include <QWidget>
#include <QWindow>

#include "qt_input_entry_points.h"

namespace {

// The events' clock: every event a millisecond after the one before, and a
// click far enough from the next that no two make a double click.
int gTimestamp = 0;
constexpr int kDoubleClickGapMs = 500;

QWindow* WindowOf(QWidget* widget) {
  return widget->window()->windowHandle();
}

void Key(QWindow* window, bool press, int key, Qt::KeyboardModifiers modifiers,
         const QString& text) {
  qt_handleKeyEvent(window, press ? QEvent::KeyPress : QEvent::KeyRelease, key, modifiers, text,
                    false, 1);
  QCoreApplication::processEvents();
}

// The modifier keys of `modifiers`, in the order a hand presses them, each
// with the modifiers already down.
struct ModifierKey {
  Qt::KeyboardModifier modifier;
  Qt::Key key;
};
constexpr ModifierKey kModifierKeys[] = {{Qt::ShiftModifier, Qt::Key_Shift},
                                         {Qt::ControlModifier, Qt::Key_Control},
                                         {Qt::AltModifier, Qt::Key_Alt},
                                         {Qt::MetaModifier, Qt::Key_Meta}};

// A press and release of `key` producing `text`, with its modifier keys
// pressed before and released after it.
void ClickKey(QWindow* window, int key, Qt::KeyboardModifiers modifiers, const QString& text) {
  QPointer<QWindow> alive(window);
  Qt::KeyboardModifiers down;
  for (const ModifierKey& m : kModifierKeys) {
    if (!(modifiers & m.modifier) || !alive) continue;
    Key(alive, true, m.key, down, QString());
    down |= m.modifier;
  }
  if (alive) Key(alive, true, key, modifiers, text);
  if (alive) Key(alive, false, key, modifiers, text);
  for (auto m = std::rbegin(kModifierKeys); m != std::rend(kModifierKeys); ++m) {
    if (!(modifiers & m->modifier) || !alive) continue;
    Key(alive, false, m->key, down, QString());
    down &= ~m->modifier;
  }
}

}  // namespace

Qt::Key KeyOfCharacter(char32_t c) {
  switch (c) {
    case '\b':
      return Qt::Key_Backspace;
    case '\t':
      return Qt::Key_Tab;
    case '\v':
      return Qt::Key_Backtab;
    case '\r':
      return Qt::Key_Return;
    case 0x1b:
      return Qt::Key_Escape;
  }
  if (c >= 'a' && c <= 'z') return Qt::Key(Qt::Key_A + (c - 'a'));
  // The printable ASCII characters are their own key codes.
  if (c >= 0x20 && c <= 0x7e) return Qt::Key(c);
  return Qt::Key(0);
}

QString TextOfKey(Qt::Key key) {
  switch (key) {
    case Qt::Key_Backspace:
      return QStringLiteral("\b");
    case Qt::Key_Tab:
      return QStringLiteral("\t");
    case Qt::Key_Backtab:
      return QStringLiteral("\v");
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return QStringLiteral("\r");
    case Qt::Key_Escape:
      return QStringLiteral("\x1b");
    default:
      break;
  }
  if (key >= Qt::Key_A && key <= Qt::Key_Z) return QChar(char16_t('a' + (key - Qt::Key_A)));
  if (key >= Qt::Key_Space && key <= Qt::Key_AsciiTilde) return QChar(char16_t(key));
  return QString();
}

void ClickWidget(QWidget* widget, QPoint point, Qt::MouseButton button) {
  QWindow* window = WindowOf(widget);
  const QPointF local = widget->mapTo(widget->window(), point);
  const QPointF global = window->mapToGlobal(local);
  QPointer<QWindow> alive(window);
  qt_handleMouseEvent(window, local, global, button, button, QEvent::MouseButtonPress,
                      Qt::NoModifier, ++gTimestamp);
  // The press may have closed the window (a button that closes it).
  if (alive) {
    qt_handleMouseEvent(alive, local, global, Qt::NoButton, button, QEvent::MouseButtonRelease,
                        Qt::NoModifier, ++gTimestamp);
  }
  gTimestamp += kDoubleClickGapMs;
  QCoreApplication::processEvents();
}

void TypeIntoWindow(QWidget* widget, const QString& text) {
  QPointer<QWindow> window = WindowOf(widget);
  for (const char32_t c : text.toUcs4()) {
    if (!window) return;
    // A character no key produces (outside ASCII, or a control character
    // without a key) arrives as an input method sends it: a key event with no
    // key code and the character as its text.
    ClickKey(window, KeyOfCharacter(c), Qt::NoModifier, QString::fromUcs4(&c, 1));
  }
}

void PressKeyInWindow(QWidget* widget, Qt::Key key, Qt::KeyboardModifiers modifiers) {
  ClickKey(WindowOf(widget), key, modifiers, TextOfKey(key));
}
