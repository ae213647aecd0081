#include "input_events.h"

#include <QTest>
#include <QWidget>
#include <QWindow>

namespace {

QWindow* WindowOf(QWidget* widget) {
  return widget->window()->windowHandle();
}

}  // namespace

void ClickWidget(QWidget* widget, QPoint point, Qt::MouseButton button) {
  QWidget* top = widget->window();
  QTest::mouseClick(WindowOf(widget), button, Qt::NoModifier, widget->mapTo(top, point));
}

void TypeIntoWindow(QWidget* widget, const QString& text) {
  QWindow* window = WindowOf(widget);
  for (const char32_t c : text.toUcs4()) {
    if (c < 128) {
      QTest::keyClick(window, static_cast<char>(c));
      continue;
    }
    // A character no key produces arrives as an input method sends it: a
    // key event with no key code and the character as its text.
    QTest::sendKeyEvent(QTest::Click, window, Qt::Key(0), QString::fromUcs4(&c, 1), Qt::NoModifier);
  }
}

void PressKeyInWindow(QWidget* widget, Qt::Key key, Qt::KeyboardModifiers modifiers) {
  QTest::keyClick(WindowOf(widget), key, modifiers);
}
