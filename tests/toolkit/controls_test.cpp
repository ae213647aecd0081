// Control classes: properties a layout sets, colours and fonts inherited from
// the parent, actions, menus, pickers, list view rows and selection, and the
// close actions of forms.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QTableView>
#include <QTest>
#include <string>
#include <vector>

#include "test_support.h"
#include "toolkit/qtext.h"
#include "toolkit/toolkit.h"

namespace {

using ControlsTest = ToolkitTest;

TEST_F(ControlsTest, StringListsClampAndIgnoreWhatIsOutOfRange) {
  TStringList list;
  list.Add("b");
  list.Insert(0, "a");
  list.Insert(99, "d");
  list.Insert(2, "c");
  EXPECT_EQ(list.Text(), "a\nb\nc\nd");
  EXPECT_EQ(list.IndexOf("c"), 2);
  EXPECT_EQ(list.IndexOf("x"), -1);
  list.Delete(7);
  list.Put(-1, "x");
  EXPECT_EQ(list.Strings(9), "");
  list.Delete(0);
  list.Put(0, "B");
  EXPECT_EQ(list.Text(), "B\nc\nd");

  TComboBox box(nullptr);
  box.Items()->Add("x");
  box.Items()->Add("y");
  box.SetText("typed");
  box.Items()->Insert(0, "w");  // adding items leaves the text alone
  EXPECT_EQ(box.Text(), "typed");
  EXPECT_EQ(box.ItemIndex(), -1);
  box.SetItemIndex(2);
  EXPECT_EQ(box.Text(), "y");
  box.SetItemIndex(5);
  EXPECT_EQ(box.ItemIndex(), -1);
  box.Items()->Delete(0);
  EXPECT_EQ(box.Items()->Count(), 2);
}

TEST_F(ControlsTest, TypedTextSelectsTheItemItEqualsAndNothingElse) {
  TForm form(nullptr);
  auto* box = new TComboBox(&form);
  box->SetParent(&form);
  box->SetBounds(10, 10, 200, 20);
  const std::string chinese = QStringToGbk(QStringLiteral("[1333] 小额支付解冻"));
  for (const std::string& item : {std::string("alpha"), std::string("beta"), chinese}) {
    box->Items()->Add(item);
  }
  form.ShowForm();
  QLineEdit* edit = static_cast<QComboBox*>(box->Widget())->lineEdit();
  ASSERT_NE(edit, nullptr);
  auto retype = [&](const QString& text) {
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    for (const QChar c : text) {
      if (c.unicode() < 128) {
        QTest::keyClick(edit, c.toLatin1());
      } else {  // as an input method sends it
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(edit, &press);
      }
    }
  };
  QTest::keyClick(edit, Qt::Key_Down);  // the operator picks an item
  ASSERT_EQ(box->ItemIndex(), 0);
  QTest::keyClick(edit, Qt::Key_Down);
  ASSERT_EQ(box->ItemIndex(), 1);
  retype("zzz");
  EXPECT_EQ(box->Text(), "zzz");
  EXPECT_EQ(box->ItemIndex(), -1) << "free text is no selection";
  retype("alpha");
  EXPECT_EQ(box->ItemIndex(), 0);
  retype("alphax");
  EXPECT_EQ(box->ItemIndex(), -1);
  retype("ALPHA");
  EXPECT_EQ(box->ItemIndex(), -1) << "equal means equal";
  retype(QStringLiteral("[1333] 小额支付解冻"));
  EXPECT_EQ(box->Text(), chinese);
  EXPECT_EQ(box->ItemIndex(), 2);
  retype("");
  EXPECT_EQ(box->ItemIndex(), -1);
  // Choosing an item again after free text shows that item.
  retype("zzz");
  box->SetItemIndex(1);
  EXPECT_EQ(box->Text(), "beta");
  EXPECT_EQ(box->ItemIndex(), 1);
  // A list-only box has no free text.
  box->SetStyle(csDropDownList);
  box->SetItemIndex(0);
  EXPECT_EQ(box->ItemIndex(), 0);
}

TEST_F(ControlsTest, ColourAndFontComeFromTheParentUntilSetOwn) {
  TForm form(nullptr);
  auto* panel = new TPanel(&form);
  panel->SetParent(&form);
  auto* edit = new TEdit(&form);
  edit->SetParent(panel);
  form.SetColor(16766925);
  EXPECT_EQ(panel->Color(), 16766925);
  EXPECT_EQ(edit->Color(), 16766925);
  form.Font()->SetHeight(-14);
  EXPECT_EQ(edit->Font()->Height(), -14);
  edit->Font()->SetStyle(fsBold);
  EXPECT_FALSE(edit->ParentFont());
  form.Font()->SetHeight(-16);
  EXPECT_EQ(panel->Font()->Height(), -16);
  EXPECT_EQ(edit->Font()->Height(), -14) << "an own font does not follow the parent";
  edit->SetParentFont(true);
  EXPECT_EQ(edit->Font()->Height(), -16);
  panel->SetColor(clRed);
  form.SetColor(clWhite);
  EXPECT_EQ(panel->Color(), clRed);
  EXPECT_EQ(edit->Color(), clRed);
  EXPECT_EQ(ColorToRGB(16766925), 0xFFD7CDu);
  EXPECT_EQ(ColorToRGB(clWindowText), 0u);
}

TEST_F(ControlsTest, FontSizesInPointsAndPixels) {
  TFont font;
  EXPECT_EQ(font.Height(), -12);
  EXPECT_EQ(font.Size(), 9);
  font.SetSize(12);
  EXPECT_EQ(font.Height(), -16);
  int changes = 0;
  font.OnChange = [&] { ++changes; };
  font.SetColor(clRed);
  EXPECT_EQ(changes, 1);
}

TEST_F(ControlsTest, WindowsCjkFontNamesShowTheInstalledCjkFont) {
  TForm form(nullptr);
  auto* edit = new TEdit(&form);
  edit->SetParent(&form);
  form.Font()->SetName("\xcb\xce\xcc\xe5");  // 宋体 in GBK
  EXPECT_EQ(edit->Widget()->font().families().value(0), "WenQuanYi Micro Hei");
  EXPECT_EQ(QFontInfo(edit->Widget()->font()).family(), "WenQuanYi Micro Hei");
  form.Font()->SetName("SimHei");
  EXPECT_EQ(QFontInfo(edit->Widget()->font()).family(), "WenQuanYi Micro Hei");
  // Any other name is asked for as it is, the CJK font behind it.
  form.Font()->SetName("DejaVu Sans");
  EXPECT_EQ(edit->Widget()->font().families(), QStringList({"DejaVu Sans", "WenQuanYi Micro Hei"}));
  // What Qt shows outside the controls (frames, menus, boxes) uses the
  // windows' default font.
  QLabel plain(QStringLiteral("状态 8001"));
  EXPECT_EQ(QFontInfo(plain.font()).family(), "WenQuanYi Micro Hei");
  EXPECT_EQ(plain.font().pixelSize(), 12);
}

TEST_F(ControlsTest, ButtonClickRunsItsHandlerElseItsAction) {
  TForm form(nullptr);
  auto* list = new TActionList(&form);
  auto* close = new TAction(&form);
  close->SetActionList(list);
  int executed = 0;
  close->OnExecute = [&](TObject* sender) {
    EXPECT_EQ(sender, close);
    ++executed;
  };
  auto* button = new TBitBtn(&form);
  button->SetParent(&form);
  button->SetAction(close);
  button->Click();
  EXPECT_EQ(executed, 1);
  int clicked = 0;
  button->OnClick = [&](TObject*) { ++clicked; };
  button->Click();
  EXPECT_EQ(executed, 1);
  EXPECT_EQ(clicked, 1);
  close->SetEnabled(false);
  EXPECT_FALSE(close->Execute());
  auto* other = new TAction(&form);
  EXPECT_FALSE(other->Execute()) << "no handler";
  other->SetActionList(list);
  EXPECT_EQ(other->Index(), 1);
  delete close;
  EXPECT_EQ(list->ActionCount(), 1);
  EXPECT_EQ(other->Index(), 0);
  // A button forgets an action that dies; a button that dies first leaves the
  // action alone.
  EXPECT_EQ(button->Action(), nullptr);
  button->OnClick = nullptr;
  button->Click();
  auto* second = new TBitBtn(&form);
  second->SetAction(other);
  button->SetAction(other);
  delete second;
  delete other;
  EXPECT_EQ(button->Action(), nullptr);
}

// Image lists named by an action list or a list view may die first: the
// pointer to them goes with them, and a new one can be set after.
TEST_F(ControlsTest, ImageListsThatDieAreForgotten) {
  TForm form(nullptr);
  auto* actions = new TActionList(&form);
  auto* listView = new TListView(&form);
  for (int round = 0; round < 2; ++round) {
    auto* images = new TImageList(&form);
    actions->SetImages(images);
    listView->SetSmallImages(images);
    listView->SetSmallImages(images);  // asked twice, still forgotten once
    EXPECT_EQ(actions->Images(), images);
    delete images;
    EXPECT_EQ(actions->Images(), nullptr);
    EXPECT_EQ(listView->SmallImages(), nullptr);
  }
  // Holders that die first leave the image list alone.
  auto* images = new TImageList(&form);
  auto* second = new TActionList(&form);
  second->SetImages(images);
  actions->SetImages(images);
  delete second;
  delete images;
  EXPECT_EQ(actions->Images(), nullptr);
}

TEST_F(ControlsTest, StockGlyphsHoldThreeImages) {
  TBitmap glyph;
  ASSERT_TRUE(StockGlyph("query", 40, 18, &glyph));
  EXPECT_EQ(glyph.Width(), 120);
  EXPECT_EQ(glyph.Height(), 18);
  EXPECT_FALSE(StockGlyph("nothing", 40, 18, &glyph));
  EXPECT_FALSE(StockGlyph("query", 0, 18, &glyph));
  TBitBtn button(nullptr);
  button.SetBounds(0, 0, 67, 26);
  EXPECT_TRUE(button.SetProperty("Glyph", "stock:close", nullptr));
  EXPECT_EQ(button.NumGlyphs(), 3);
  EXPECT_THROW(button.SetProperty("Glyph", "stock:nothing", nullptr), std::invalid_argument);
  EXPECT_FALSE(button.SetStockGlyph("nothing"));
  EXPECT_EQ(button.Glyph()->Width(), 3 * 57) << "an unknown name leaves the glyph";
  EXPECT_TRUE(button.SetStockGlyph("query"));
  EXPECT_EQ(button.Glyph()->Height(), 18);
}

// Pixels of the colour in what the widget paints now.
int PixelsOf(QWidget* widget, QColor colour) {
  const QImage shot = widget->grab().toImage();
  int count = 0;
  for (int y = 0; y < shot.height(); ++y)
    for (int x = 0; x < shot.width(); ++x) count += shot.pixelColor(x, y) == colour;
  return count;
}

TEST_F(ControlsTest, GlyphShowsItsPressedImageWhileTheButtonIsHeldDown) {
  const QColor normal(255, 0, 0), disabled(0, 255, 0), pressed(0, 0, 255);
  QImage parts(3 * 20, 12, QImage::Format_ARGB32);
  for (int i = 0; i < 3; ++i) {
    QPainter(&parts).fillRect(i * 20, 0, 20, 12, i == 0 ? normal : i == 1 ? disabled : pressed);
  }
  TForm form(nullptr);
  auto* button = new TBitBtn(&form);
  button->SetParent(&form);
  button->SetBounds(10, 10, 67, 26);
  button->Glyph()->SetImage(parts);
  button->SetNumGlyphs(3);
  int clicks = 0;
  button->OnClick = [&](TObject*) { ++clicks; };
  form.ShowForm();
  QWidget* widget = button->Widget();
  const int area = 20 * 12;
  EXPECT_EQ(PixelsOf(widget, normal), area);
  EXPECT_EQ(PixelsOf(widget, pressed), 0);

  QTest::mousePress(widget, Qt::LeftButton);
  EXPECT_EQ(PixelsOf(widget, pressed), area) << "held down";
  EXPECT_EQ(PixelsOf(widget, normal), 0);
  // Dragged off the button it comes up; back over it, down again.
  QTest::mouseMove(widget, QPoint(-20, -20));
  EXPECT_EQ(PixelsOf(widget, normal), area);
  QTest::mouseMove(widget, widget->rect().center());
  EXPECT_EQ(PixelsOf(widget, pressed), area);
  QTest::mouseRelease(widget, Qt::LeftButton);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(PixelsOf(widget, normal), area) << "released";
  // Focused but not pressed: still the normal image.
  button->SetFocus();
  EXPECT_EQ(PixelsOf(widget, normal), area);

  button->SetEnabled(false);
  EXPECT_EQ(PixelsOf(widget, disabled), area);
  QTest::mousePress(widget, Qt::LeftButton);
  EXPECT_EQ(PixelsOf(widget, disabled), area);
  QTest::mouseRelease(widget, Qt::LeftButton);
  EXPECT_EQ(clicks, 1);

  // A glyph of one image shows it in every state.
  button->SetEnabled(true);
  button->SetNumGlyphs(1);
  button->Glyph()->SetImage(parts.copy(0, 0, 20, 12));
  button->GlyphChanged();
  QTest::mousePress(widget, Qt::LeftButton);
  EXPECT_EQ(PixelsOf(widget, normal), area);
  QTest::mouseRelease(widget, Qt::LeftButton);
}

TEST_F(ControlsTest, StockQueryAndCloseGlyphsDifferInEachState) {
  for (const char* name : {"query", "close"}) {
    TBitmap glyph;
    ASSERT_TRUE(StockGlyph(name, 57, 18, &glyph));
    const QImage& all = glyph.Image();
    const QImage normal = all.copy(0, 0, 57, 18), disabled = all.copy(57, 0, 57, 18),
                 pressed = all.copy(114, 0, 57, 18);
    EXPECT_NE(normal, disabled) << name;
    EXPECT_NE(normal, pressed) << name;
    EXPECT_NE(disabled, pressed) << name;
  }
  TBitmap query, close;
  ASSERT_TRUE(StockGlyph("query", 57, 18, &query));
  ASSERT_TRUE(StockGlyph("close", 57, 18, &close));
  EXPECT_NE(query.Image(), close.Image());
}

TEST_F(ControlsTest, ImageListKeepsImagesAtItsSize) {
  TImageList images(nullptr);
  images.SetSize(210, 27);
  TBitmap small;
  small.SetSize(10, 10);
  EXPECT_EQ(images.Add(small), 0);
  EXPECT_EQ(images.Add(TBitmap()), 1);
  TBitmap out;
  ASSERT_TRUE(images.GetBitmap(0, &out));
  EXPECT_EQ(out.Width(), 210);
  EXPECT_EQ(out.Height(), 27);
  EXPECT_FALSE(images.GetBitmap(2, &out));
  EXPECT_FALSE(images.GetBitmap(-1, &out));

  // A deferred image is drawn when first asked for, once, and scaled.
  int draws = 0;
  EXPECT_EQ(images.AddDeferred([&draws] {
    ++draws;
    TBitmap drawn;
    drawn.SetSize(20, 20);
    return drawn;
  }),
            2);
  EXPECT_EQ(images.Count(), 3);
  EXPECT_EQ(draws, 0);
  ASSERT_TRUE(images.GetBitmap(2, &out));
  ASSERT_TRUE(images.GetBitmap(2, &out));
  EXPECT_EQ(draws, 1);
  EXPECT_EQ(out.Width(), 210);
  EXPECT_EQ(out.Height(), 27);
}

TEST_F(ControlsTest, DatePickerPropertiesFromALayout) {
  TDateTimePicker picker(nullptr);
  EXPECT_TRUE(picker.SetProperty("Kind", "dtkTime", nullptr));
  EXPECT_TRUE(picker.SetProperty("Format", "HH:mm:ss", nullptr));
  EXPECT_TRUE(picker.SetProperty("Time", "23:59:59", nullptr));
  EXPECT_TRUE(picker.SetProperty("Date", "2026-02-28", nullptr));
  EXPECT_EQ(picker.Kind(), dtkTime);
  EXPECT_EQ(FormatDateTime("yyyymmddHHmmss", picker.DateTime()), "20260228235959");
  EXPECT_THROW(picker.SetProperty("Time", "25:00:00", nullptr), std::invalid_argument);
  EXPECT_THROW(picker.SetProperty("Date", "2026-02-30", nullptr), std::invalid_argument);
  EXPECT_THROW(picker.SetProperty("Kind", "dtkNone", nullptr), std::invalid_argument);
  EXPECT_FALSE(picker.SetProperty("Calendar", "x", nullptr));
  // Setting the date keeps the time.
  picker.SetDate(TDateTime::EncodeDate(2026, 12, 7));
  EXPECT_EQ(FormatDateTime("HHmmss", picker.Time()), "235959");
}

TEST_F(ControlsTest, DateTimeFormatsAndParts) {
  const TDateTime t = TDateTime::EncodeDate(2026, 3, 5) + TDateTime::EncodeTime(7, 8, 9, 45);
  EXPECT_EQ(FormatDateTime("d/m/yy h:n:s", t), "5/3/26 7:8:9");
  EXPECT_EQ(FormatDateTime("yyyy'y'mm\"m\"", t), "2026y03m");
  EXPECT_EQ(FormatDateTime("hh:mm:ss.zzz", t), "07:08:09.045");
  EXPECT_EQ(FormatDateTime("yyyymmdd", t.DatePart()), "20260305");
  EXPECT_EQ(FormatDateTime("hhnnss", t.TimePart()), "070809");
  EXPECT_EQ(FormatDateTime("yyyymmdd", TDateTime(0)), "18991230");
  EXPECT_EQ(FormatDateTime("yyyymmdd", TDateTime::EncodeDate(1850, 1, 1)), "18500101");
  EXPECT_LT(TDateTime::EncodeDate(2026, 3, 5), t);
  EXPECT_THROW(TDateTime::EncodeTime(24, 0, 0), EConvertError);
}

class RowsTest : public ToolkitTest {
 protected:
  void SetUp() override {
    ToolkitTest::SetUp();
    lv = new TListView(&form);
    lv->SetParent(&form);
    lv->SetBounds(0, 0, 300, 200);
    lv->SetMultiSelect(true);
    lv->SetRowSelect(true);
    lv->Columns()->Add()->SetCaption("a");
    for (int i = 0; i < 5; ++i) lv->Items()->Add()->SetCaption(std::to_string(i));
    form.ShowForm();
  }
  TForm form{nullptr};
  TListView* lv = nullptr;
};

TEST_F(RowsTest, DeletingRowsRenumbersTheRest) {
  lv->Items()->Delete(1);
  lv->Items()->Delete(9);
  ASSERT_EQ(lv->Items()->Count(), 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(lv->Items()->Item(i)->Index(), i);
  EXPECT_EQ(lv->Items()->Item(1)->Caption(), "2");
  Application()->ProcessMessages();
  EXPECT_EQ(static_cast<QTableView*>(lv->Widget())->model()->rowCount(), 4);
}

TEST_F(RowsTest, ViewSeesRowsAfterTheBatchAndNotDuringAnUpdate) {
  auto* model = static_cast<QTableView*>(lv->Widget())->model();
  Application()->ProcessMessages();
  EXPECT_EQ(model->rowCount(), 5);
  lv->Items()->BeginUpdate();
  lv->Items()->Add()->SetCaption("5");
  Application()->ProcessMessages();
  EXPECT_EQ(model->rowCount(), 5);
  lv->Items()->EndUpdate();
  Application()->ProcessMessages();
  EXPECT_EQ(model->rowCount(), 6);
  EXPECT_EQ(model->data(model->index(5, 0)).toString(), QStringLiteral("5"));
}

TEST_F(RowsTest, SelectionFollowsTheRowsThroughASort) {
  lv->Items()->Item(1)->SetSelected(true);
  lv->Items()->Item(3)->SetSelected(true);
  EXPECT_EQ(lv->SelCount(), 2);
  EXPECT_EQ(lv->Selected(), lv->Items()->Item(1));
  lv->OnCompare = [](TObject*, TListItem* a, TListItem* b, intptr_t, int& r) {
    r = b->Caption().compare(a->Caption());  // descending
  };
  lv->AlphaSort();
  EXPECT_EQ(lv->Items()->Item(0)->Caption(), "4");
  EXPECT_TRUE(lv->Items()->Item(1)->Selected());  // "3"
  EXPECT_TRUE(lv->Items()->Item(3)->Selected());  // "1"
  EXPECT_FALSE(lv->Items()->Item(0)->Selected());
  EXPECT_EQ(lv->SelCount(), 2);
}

TEST_F(RowsTest, CheckMarkClickedInTheViewRunsTheChangeEvent) {
  lv->SetCheckboxes(true);
  Application()->ProcessMessages();
  std::vector<TItemChange> changes;
  lv->OnChange = [&](TObject*, TListItem*, TItemChange c) { changes.push_back(c); };
  auto* model = static_cast<QTableView*>(lv->Widget())->model();
  EXPECT_EQ(model->data(model->index(2, 0), Qt::CheckStateRole).toInt(), Qt::Unchecked);
  model->setData(model->index(2, 0), Qt::Checked, Qt::CheckStateRole);
  EXPECT_TRUE(lv->Items()->Item(2)->Checked());
  EXPECT_EQ(changes, (std::vector<TItemChange>{ctState}));
}

TEST_F(RowsTest, HeaderClickAndKeysReachTheEvents) {
  std::vector<int> clicked;
  lv->OnColumnClick = [&](TObject*, TListColumn* c) { clicked.push_back(c->Index()); };
  std::vector<uint16_t> keys;
  lv->OnKeyUp = [&](TObject*, uint16_t& key, TShiftState shift) {
    if (shift & ssCtrl) keys.push_back(key);
  };
  Application()->ProcessMessages();
  auto* view = static_cast<QTableView*>(lv->Widget());
  const QRect header = view->horizontalHeader()->geometry();
  QTest::mouseClick(view->horizontalHeader()->viewport(), Qt::LeftButton, {},
                    QPoint(10, header.height() / 2));
  EXPECT_EQ(clicked, (std::vector<int>{0}));
  lv->SetFocus();
  QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(keys, (std::vector<uint16_t>{'A'}));
}

class TCloseForm : public TForm {
 public:
  explicit TCloseForm(TComponent* owner, TCloseAction action) : TForm(owner) {
    OnClose = [action](TObject*, TCloseAction& a) { a = action; };
    ShowForm();
  }
};

TEST_F(ControlsTest, CloseActionsHideKeepOrFree) {
  TCloseForm hide(nullptr, caHide);
  hide.Close();
  EXPECT_FALSE(hide.Visible());
  TCloseForm keep(nullptr, caNone);
  keep.Close();
  EXPECT_TRUE(keep.Visible());
  // A form owned by another component and freed on close leaves its owner.
  TComponent owner(nullptr);
  new TCloseForm(&owner, caFree);
  static_cast<TForm*>(owner.Components(0))->Close();
  EXPECT_EQ(owner.ComponentCount(), 1);
  Application()->ProcessMessages();
  EXPECT_EQ(owner.ComponentCount(), 0);
}

TEST_F(ControlsTest, FailingExceptionHandlerFallsBackToTheErrorBox) {
  Application()->OnException = [](TObject*, const std::exception&) {
    throw std::runtime_error("handler failed too");
  };
  TForm form(nullptr);
  auto* box = new TCheckBox(&form);
  box->SetParent(&form);
  box->OnClick = [](TObject*) { throw std::runtime_error("first"); };
  form.ShowForm();
  static_cast<QCheckBox*>(box->Widget())->click();
  Application()->OnException = nullptr;
  ASSERT_EQ(recorder.messages.size(), 1u);
  EXPECT_EQ(recorder.messages[0].text, "first");
}

TEST_F(ControlsTest, NextDialogControlCanNameTheControl) {
  TForm form(nullptr);
  auto* a = new TEdit(&form);
  a->SetParent(&form);
  auto* b = new TEdit(&form);
  b->SetParent(&form);
  form.ShowForm();
  a->SetFocus();
  SendMessage(form.Handle(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(b->Handle()), 1);
  EXPECT_TRUE(b->Focused());
  EXPECT_EQ(form.ActiveControl(), b);
  // A control that cannot take the focus is skipped.
  b->Hide();
  SendMessage(form.Handle(), WM_NEXTDLGCTL, 0, 0);
  EXPECT_TRUE(a->Focused());
}

}  // namespace
