// The GUI common package's windows: Qt message and wait boxes, copying,
// pasting, styling and the flat date-time picker.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <functional>

#include "guicommon/flat_datetime_picker.h"
#include "guicommon/guicommon.h"
#include "guicommon/guiforms.h"
#include "guicommon/presenter.h"
#include "guicommon/qt_presenter.h"
#include "paint_counter.h"
#include "test_support.h"
#include "toolkit/layout.h"
#include "toolkit/qtext.h"
#include "toolkit/toolkit.h"

namespace {

std::string Gbk(const QString& s) {
  return QStringToGbk(s);
}

QWidget* TopLevel(const char* objectName) {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() == QLatin1String(objectName) && w->isVisible()) return w;
  }
  return nullptr;
}

// Runs `check` on the message box once it is up, then closes it, so that the
// modal box never blocks the test.
void WhenMessageBoxShows(std::function<void(QMessageBox*)> check) {
  auto attempt = std::make_shared<std::function<void()>>();
  *attempt = [check, attempt] {
    if (auto* box = qobject_cast<QMessageBox*>(TopLevel("mpayMessageBox"))) {
      check(box);
      box->accept();
      return;
    }
    QTimer::singleShot(10, *attempt);
  };
  QTimer::singleShot(0, *attempt);
}

class QtPresenterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TApplication::Instance()->MainWindow()->show();
    previous_ = SetGUIPresenter(QtGUIPresenter());
  }
  void TearDown() override {
    CloseWaitBox();
    SetGUIPresenter(previous_);
  }

 private:
  IGUIPresenter* previous_ = nullptr;
};

TEST_F(QtPresenterTest, MessageBoxShowsCaptionTextAndIconAsGiven) {
  struct Case {
    int flags;
    QMessageBox::Icon icon;
  };
  for (const Case& c : {Case{64, QMessageBox::Information}, Case{16, QMessageBox::Critical}}) {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    WhenMessageBoxShows([&](QMessageBox* box) {
      title = box->windowTitle();
      text = box->text();
      icon = box->icon();
    });
    const int result = ShowGUIMessage(Gbk(QStringLiteral("没有符合条件的记录！")).c_str(),
                                      Gbk(QStringLiteral("提示")).c_str(), c.flags);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(title, QStringLiteral("提示"));
    EXPECT_EQ(text, QStringLiteral("没有符合条件的记录！"));
    EXPECT_EQ(icon, c.icon) << "flags " << c.flags;
  }
}

TEST_F(QtPresenterTest, WaitBoxIsUpAndPaintedBeforeTheCallerGoesOn) {
  ShowWaitBox(Gbk(QStringLiteral("正在获取基础数据，请稍后...")).c_str());
  QWidget* box = TopLevel("mpayWaitBox");
  ASSERT_NE(box, nullptr);
  auto* label = box->findChild<QLabel*>(QStringLiteral("mpayWaitText"));
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->text(), QStringLiteral("正在获取基础数据，请稍后..."));

  PaintCounter counter;
  label->installEventFilter(&counter);
  UpdateWaitBox(Gbk(QStringLiteral("正在初始化窗体，请稍后...")).c_str());
  EXPECT_EQ(label->text(), QStringLiteral("正在初始化窗体，请稍后..."));
  EXPECT_GE(counter.paints, 1) << "the new text was not painted before returning";
  label->removeEventFilter(&counter);

  CloseWaitBox();
  EXPECT_EQ(TopLevel("mpayWaitBox"), nullptr);
  UpdateWaitBox("ignored once closed");
  EXPECT_EQ(TopLevel("mpayWaitBox"), nullptr);
}

int gPostedDelivered = 0;
WNDPROC gFormProc = nullptr;

LRESULT CountingProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_USER + 7) ++gPostedDelivered;
  return CallWindowProc(gFormProc, wnd, msg, wParam, lParam);
}

TEST_F(QtPresenterTest, WaitBoxDoesNotRunTheCallersPostedMessages) {
  TForm form(nullptr);
  form.ShowForm();
  gPostedDelivered = 0;
  gFormProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtr(form.Handle(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CountingProc)));
  PostMessage(form.Handle(), WM_USER + 7, 0, 0);
  ShowWaitBox("wait");
  UpdateWaitBox("still waiting");
  EXPECT_EQ(gPostedDelivered, 0) << "a posted message ran while the wait box came up";
  CloseWaitBox();
  TApplication::Instance()->ProcessMessages();
  EXPECT_EQ(gPostedDelivered, 1);
}

// ---- the windows helpers ----

using GuiFormsTest = ToolkitTest;

TEST_F(GuiFormsTest, PasteIntoADigitsOnlyEditKeepsDigitsUpToTheMaximumLength) {
  TForm form(nullptr);
  auto* mobile = new TEdit(&form);
  mobile->SetParent(&form);
  mobile->SetMaxLength(11);
  OnEditPaste(mobile);
  form.ShowForm();
  QGuiApplication::clipboard()->setText(QStringLiteral("手机:138-0013 8000/99"));
  mobile->SetFocus();
  QTest::keyClick(mobile->Widget(), Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(mobile->Text(), "13800138000");
  // The selection is replaced; the rest of the text stays.
  mobile->SetText("139");
  mobile->SelectAll();
  QGuiApplication::clipboard()->setText(QStringLiteral("abc"));
  mobile->PasteFromClipboard();
  EXPECT_EQ(mobile->Text(), "");
  OnEditPaste(nullptr);  // ignored
}

TEST_F(GuiFormsTest, EditWithoutThePasteFilterTakesTheTextAsItIs) {
  TEdit edit(nullptr);
  QGuiApplication::clipboard()->setText(QStringLiteral("a1 备注"));
  edit.PasteFromClipboard();
  EXPECT_EQ(edit.Text(), Gbk(QStringLiteral("a1 备注")));
}

class CopyTest : public GuiFormsTest {
 protected:
  void SetUp() override {
    GuiFormsTest::SetUp();
    lv = new TListView(&form);
    lv->SetParent(&form);
    lv->SetBounds(0, 0, 400, 200);
    lv->SetMultiSelect(true);
    lv->SetRowSelect(true);
    for (const char* c : {"a", "b", "c"}) lv->Columns()->Add()->SetCaption(c);
    for (int r = 0; r < 3; ++r) {
      TListItem* item = lv->Items()->Add();
      item->SubItems()->Add(Gbk(QStringLiteral("冻结%1").arg(r)));
      item->SubItems()->Add(std::to_string(r * 100));
      item->SetCaption("row" + std::to_string(r));
    }
    form.ShowForm();
    TApplication::Instance()->ProcessMessages();
  }
  // The client point of a cell, packed as the right-click capture packs it.
  intptr_t TagOfCell(int row, int column) {
    auto* view = static_cast<QTableView*>(lv->Widget());
    const QPoint inViewport = view->visualRect(view->model()->index(row, column)).center();
    const QPoint client = view->viewport()->mapTo(view, inViewport);
    return MAKELPARAM(client.x(), client.y());
  }
  TForm form{nullptr};
  TListView* lv = nullptr;
};

TEST_F(CopyTest, CellUnderTheRightClickPointGoesToTheClipboard) {
  lv->SetTag(TagOfCell(1, 1));
  CopyListViewCell(lv);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("冻结1"));
  lv->SetTag(TagOfCell(2, 0));
  CopyListViewCell(lv);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("row2"));
}

TEST_F(CopyTest, PointOnNoCellLeavesTheClipboardAlone) {
  QGuiApplication::clipboard()->setText(QStringLiteral("before"));
  lv->SetTag(MAKELPARAM(390, 190));  // below the rows, right of the columns
  CopyListViewCell(lv);
  lv->SetTag(0x7FFF7FFF);
  CopyListViewCell(lv);
  CopyListViewCell(nullptr);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
}

TEST_F(CopyTest, SelectedRowsAreCopiedOneLinePerRowWithTabs) {
  lv->Items()->Item(0)->SetSelected(true);
  lv->Items()->Item(2)->SetSelected(true);
  CopyListViewSelection(lv);
  EXPECT_EQ(QGuiApplication::clipboard()->text(),
            QStringLiteral("row0\t冻结0\t0\nrow2\t冻结2\t200\n"));
  lv->Items()->Item(0)->SetSelected(false);
  lv->Items()->Item(2)->SetSelected(false);
  QGuiApplication::clipboard()->setText(QStringLiteral("before"));
  CopyListViewSelection(lv);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
}

TEST_F(GuiFormsTest, StyleGivesTheFormsFontToEveryControlButKeepsTheLayout) {
  TForm form(nullptr);
  auto* grb = new TGroupBox(&form);
  grb->SetParent(&form);
  auto* edit = new TEdit(&form);
  edit->SetParent(grb);
  edit->SetBounds(5, 20, 80, 20);
  edit->SetColor(clRed);
  auto* bold = new TCheckBox(&form);
  bold->SetParent(grb);
  bold->Font()->SetStyle(fsBold);  // its own font, from its layout
  MakeInit(&form);
  form.Font()->SetHeight(-14);
  SetGUIStyle(&form);
  EXPECT_EQ(edit->Font()->Height(), -14);
  EXPECT_EQ(edit->Font()->Name(), Gbk(QStringLiteral("宋体")));
  EXPECT_EQ(form.Font()->Charset(), GB2312_CHARSET);
  EXPECT_EQ(bold->Font()->Style(), fsBold);
  EXPECT_EQ(edit->BoundsRect(), Bounds(5, 20, 80, 20));
  EXPECT_EQ(edit->Color(), clRed);
  MakeInit(nullptr);
  SetGUIStyle(nullptr);
}

TEST_F(GuiFormsTest, FlatPickerIsADateTimePickerThatLayoutsCanCreate) {
  TForm form(nullptr);
  TComponent* c = CreateComponentByClass("TFlatDateTimePicker", &form);
  auto* picker = dynamic_cast<TDateTimePicker*>(c);
  ASSERT_NE(picker, nullptr);
  EXPECT_NE(dynamic_cast<TFlatDateTimePicker*>(c), nullptr);
  picker->SetKind(dtkTime);
  picker->SetFormat("HH:mm:ss");
  picker->SetTime(TDateTime::EncodeTime(23, 59, 59));
  picker->SetDate(TDateTime::EncodeDate(2026, 12, 7));
  EXPECT_EQ(FormatDateTime("HHmmss", picker->Time()), "235959");
  EXPECT_EQ(FormatDateTime("yyyymmdd", picker->Date()), "20261207");
  EXPECT_EQ(picker->Date().Value(), picker->Date().DatePart().Value());
}

}  // namespace
