#include "qthelpers.h"

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QImage>
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
  QTest::keyClicks(control->Widget(), GbkToQString(gbk));
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
