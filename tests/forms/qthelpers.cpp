#include "qthelpers.h"

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QImage>
#include <QKeyEvent>
#include <QPixmap>
#include <QTest>
#include <QWidget>

#include "toolkit/forms.h"
#include "toolkit/graphics.h"
#include "toolkit/qtext.h"

std::string ClipboardText() {
  return QStringToGbk(QApplication::clipboard()->text());
}

void TypeText(TWinControl* control, const std::string& gbk) {
  for (const QChar c : GbkToQString(gbk)) {
    if (c.unicode() < 128) {
      QTest::keyClick(control->Widget(), c.toLatin1());
      continue;
    }
    // QTest only types ASCII; other characters come as an input method would
    // send them: a key event with no key code and the text.
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(control->Widget(), &press);
    QApplication::sendEvent(control->Widget(), &release);
  }
}

void PressReturn(TWinControl* control) {
  QTest::keyClick(control->Widget(), Qt::Key_Return);
}

void MoveCursorTo(int x, int y) {
  QCursor::setPos(x, y);
}

uint32_t PixelRgb(const TBitmap& image, int x, int y) {
  return image.Image().pixel(x, y) & 0xFFFFFFu;
}

bool SaveWindowPng(TForm* form, const std::string& path) {
  QWidget* window = form->WindowWidget();
  return window != nullptr && window->grab().save(QString::fromStdString(path));
}
