#include "qthelpers.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QCursor>
#include <QHeaderView>
#include <QImage>
#include <QKeyEvent>
#include <QMenu>
#include <QPixmap>
#include <QTableView>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include "toolkit/forms.h"
#include "toolkit/graphics.h"
#include "toolkit/listview.h"
#include "toolkit/menus.h"
#include "toolkit/qtext.h"
#include "toolkit/stdctrls.h"

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

void PressKey(TWinControl* control, uint16_t key, TShiftState shift) {
  Qt::Key qtKey = Qt::Key_unknown;
  if (key >= 'A' && key <= 'Z') qtKey = static_cast<Qt::Key>(Qt::Key_A + (key - 'A'));
  if (key == VK_RETURN) qtKey = Qt::Key_Return;
  if (key == VK_UP) qtKey = Qt::Key_Up;
  if (key == VK_DOWN) qtKey = Qt::Key_Down;
  if (key == VK_LEFT) qtKey = Qt::Key_Left;
  Qt::KeyboardModifiers modifiers;
  if (shift & ssCtrl) modifiers |= Qt::ControlModifier;
  if (shift & ssShift) modifiers |= Qt::ShiftModifier;
  QTest::keyClick(control->Widget(), qtKey, modifiers);
}

void RightClickAt(TWinControl* control, int x, int y) {
  QWidget* window = control->Widget()->window();
  if (!window->isVisible()) {
    window->show();
    (void)QTest::qWaitForWindowExposed(window, 1000);
  }
  const QPoint at = control->Widget()->mapTo(window, QPoint(x, y));
  QTest::mouseClick(window->windowHandle(), Qt::RightButton, {}, at);
  QApplication::processEvents();
}

void ClickOpenMenuItem(TPopupMenu* menu, int index) {
  QMenu* qm = menu->Menu();
  QAction* action = qm->actions().value(index);
  if (!qm->isVisible() || action == nullptr) return;
  QTest::mouseClick(qm, Qt::LeftButton, {}, qm->actionGeometry(action).center());
  QApplication::processEvents();
}

int DropDownWidthByClick(TComboBox* box) {
  QComboBox* combo = box->ComboBox();
  const QPoint arrow(combo->width() - 6, combo->height() / 2);
  QTest::mouseClick(combo, Qt::LeftButton, {}, arrow);
  QApplication::processEvents();
  const int width = combo->view()->isVisible() ? combo->view()->window()->width() : 0;
  combo->hidePopup();
  return width;
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
  // A pointer already at the point would not move: it comes from beside it.
  const QPoint to = control->Widget()->mapToGlobal(QPoint(x, y));
  if (QCursor::pos() == to) {
    QCursor::setPos(to + QPoint(1, 1));
    QApplication::processEvents();
  }
  QCursor::setPos(to);
  QApplication::processEvents();
}

uint32_t PixelRgb(const TBitmap& image, int x, int y) {
  return image.Image().pixel(x, y) & 0xFFFFFFu;
}

bool SaveWindowPng(TForm* form, const std::string& path) {
  QWidget* window = form->WindowWidget();
  return window != nullptr && window->grab().save(QString::fromStdString(path));
}
