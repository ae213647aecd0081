#include "qthelpers.h"

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QHeaderView>
#include <QImage>
#include <QKeyEvent>
#include <QPixmap>
#include <QTableView>
#include <QTest>
#include <QWidget>

#include "toolkit/forms.h"
#include "toolkit/graphics.h"
#include "toolkit/listview.h"
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

void PressTab(TWinControl* control, bool back) {
  if (back)
    QTest::keyClick(control->Widget(), Qt::Key_Backtab, Qt::ShiftModifier);
  else
    QTest::keyClick(control->Widget(), Qt::Key_Tab);
}

namespace {

QPoint PointIn(QWidget* widget, int x, int y) {
  return x < 0 ? widget->rect().center() : QPoint(x, y);
}

}  // namespace

void ClickControl(TWinControl* control, int x, int y) {
  QTest::mouseClick(control->Widget(), Qt::LeftButton, {}, PointIn(control->Widget(), x, y));
}

void PressMouse(TWinControl* control) {
  QTest::mousePress(control->Widget(), Qt::LeftButton, {}, control->Widget()->rect().center());
}

void ReleaseMouse(TWinControl* control) {
  QTest::mouseRelease(control->Widget(), Qt::LeftButton, {}, control->Widget()->rect().center());
}

void ClickColumnHeader(TListView* listView, int column) {
  auto* view = static_cast<QTableView*>(listView->Widget());
  QHeaderView* header = view->horizontalHeader();
  const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
}

void MoveCursorTo(int x, int y) {
  QCursor::setPos(x, y);
}

void MovePointerOver(TControl* control, int x, int y) {
  // The offscreen platform turns a pointer move into a mouse move of the
  // shown window under the pointer.
  QWidget* window = control->Widget()->window();
  if (!window->isVisible()) {
    window->show();
    (void)QTest::qWaitForWindowExposed(window, 1000);
  }
  QCursor::setPos(control->Widget()->mapToGlobal(QPoint(x, y)));
  QApplication::processEvents();
}

uint32_t PixelRgb(const TBitmap& image, int x, int y) {
  return image.Image().pixel(x, y) & 0xFFFFFFu;
}

bool SaveWindowPng(TForm* form, const std::string& path) {
  QWidget* window = form->WindowWidget();
  return window != nullptr && window->grab().save(QString::fromStdString(path));
}
