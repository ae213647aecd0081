#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "forms/listviewcapture.h"
#include "forms/sharedactions.h"
#include "forms/sortcompare.h"
#include "forms/widthrules.h"
#include "guicommon/presenter.h"
#include "plain_merge.h"
#include "qthelpers.h"
#include "testwindow.h"

using namespace MBaseWindow;

namespace {

std::vector<std::string> errorBoxes;

int RecordErrorBox(const char* text, const char*, int) {
  errorBoxes.push_back(text);
  return IDOK;
}

int CharWidthOf(TListView* listView) {
  TEXTMETRIC metrics{};
  const bool read = GetTextMetrics(listView->Canvas()->Handle(), &metrics) == 1;
  return EstimatedCharWidth(read, metrics.tmAveCharWidth);
}

// A point inside cell (row, column), in the list view's client coordinates.
bool PointInCell(TListView* listView, int row, int column, TPoint* point) {
  for (int y = 0; y < listView->ClientHeight(); y += 2)
    for (int x = 0; x < listView->ClientWidth(); x += 4) {
      int r = -1, c = -1;
      if (listView->CellAt(TPoint{x, y}, &r, &c) && r == row && c == column) {
        *point = TPoint{x, y};
        return true;
      }
    }
  return false;
}

class BaseWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousPresenter_ = SetGUIPresenter(&recorder_);
    previousBox_ = TApplication::SetMessageBoxProc(&RecordErrorBox);
    errorBoxes.clear();
    form_ = new TfrmTestChild(nullptr);
    form_->destroyed = &destroyed_;
    Application()->ProcessMessages();
  }
  void TearDown() override {
    if (!destroyed_) delete form_;
    Application()->ProcessMessages();
    EXPECT_TRUE(errorBoxes.empty()) << errorBoxes.front();
    TApplication::SetMessageBoxProc(previousBox_);
    SetGUIPresenter(previousPresenter_);
  }

  // Rows (number, name, amount) in a list view whose columns are a whole
  // number, a text and an amount.
  void FillResult() {
    FillList(form_->lvstResult,
             {{"编号", kColumnWholeNumber}, {"名称", 0}, {"金额", kColumnAmount}},
             {{"10", "乙", "1.50"}, {"9", "甲", "12.00"}, {"100", "丙", "-3.00"}});
  }
  void ClickHeader(TListView* listView, int column) {
    listView->OnColumnClick(listView, listView->Columns()->Items(column));
  }
  int Compare(TListView* listView, int first, int second, int handedIn = 0) {
    int result = handedIn;
    listView->OnCompare(listView, listView->Items()->Item(first), listView->Items()->Item(second),
                        0, result);
    return result;
  }
  THintWindow* Hint() { return dynamic_cast<THintWindow*>(form_->FindComponent(kHintWindowName)); }

  CRecordingPresenter recorder_;
  IGUIPresenter* previousPresenter_ = nullptr;
  TMessageBoxProc previousBox_ = nullptr;
  TfrmTestChild* form_ = nullptr;
  bool destroyed_ = false;
};

TEST_F(BaseWindowTest, OpensMaximisedInTheBaseLook) {
  EXPECT_EQ(form_->FormStyle(), fsMDIChild);
  EXPECT_EQ(form_->WindowState(), wsMaximized);
  EXPECT_TRUE(form_->KeyPreview());
  EXPECT_EQ(form_->BorderStyle(), bsSingle);
  EXPECT_EQ(form_->Position(), poDefault);
  // The wiring sets the base colour over the white of the derived layout.
  EXPECT_EQ(form_->Color(), static_cast<TColor>(kBaseWindowColor));
  EXPECT_EQ(ColorToRGB(form_->Color()), 0xFFD7CDu);
  EXPECT_EQ(form_->Font()->Name(), "宋体");
  EXPECT_EQ(form_->Font()->Height(), -12);
  EXPECT_EQ(form_->Font()->Charset(), GB2312_CHARSET);
  EXPECT_EQ(form_->Caption(), "测试业务窗口");

  const TCreateParams params = form_->WindowParams();
  EXPECT_NE(params.Style & WS_MAXIMIZE, 0u);
  EXPECT_EQ(TRect(Bounds(params.X, params.Y, params.Width, params.Height)),
            Bounds(-6, -6, 640, 500));
  EXPECT_EQ(frmMDIChild, nullptr);
}

TEST_F(BaseWindowTest, BaseWindowAloneHasItsOwnCaption) {
  bool closed = false;
  auto* base = new TfrmMDIChild(nullptr);
  base->OnDestroy = [&](TObject*) { closed = true; };
  EXPECT_EQ(base->Caption(), "业务主窗口");
  delete base;
  EXPECT_TRUE(closed);
}

TEST_F(BaseWindowTest, SharedActionsAndButtonImages) {
  TImageList* images = form_->ImageListNormal;
  ASSERT_NE(images, nullptr);
  EXPECT_EQ(images->Count(), kButtonImageCount);
  EXPECT_EQ(images->Width(), 210);
  EXPECT_EQ(images->Height(), 27);
  EXPECT_EQ(images->BkColor(), static_cast<TColor>(kButtonImageBackground));
  EXPECT_FALSE(images->Masked());
  const uint32_t background = 0xD5E1F1;  // red 213, green 225, blue 241
  for (int index : {0, 9, 14, 73}) {
    TBitmap image;
    ASSERT_TRUE(images->GetBitmap(index, &image));
    EXPECT_EQ(PixelRgb(image, 3, 3), background) << index;
    int inked = 0;  // pixels of the label
    for (int y = 2; y < 25; ++y)
      for (int x = 2; x < 208; ++x) inked += PixelRgb(image, x, y) != background;
    if (index == kUnusedButtonImage)
      EXPECT_EQ(inked, 0);
    else
      EXPECT_GT(inked, 20) << index;
  }

  TActionList* list = form_->ActionListPublic;
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->Images(), images);
  ASSERT_EQ(list->ActionCount(), kSharedActionCount);
  for (int i = 0; i < kSharedActionCount; ++i) {
    EXPECT_EQ(list->Actions(i)->Name(), SharedActions()[i].name);
    EXPECT_EQ(list->Actions(i)->ImageIndex(), SharedActions()[i].imageIndex);
    EXPECT_EQ(list->Actions(i)->Caption(), "");
  }
  EXPECT_EQ(form_->actQuery, list->Actions(0));
  EXPECT_EQ(form_->actClose, list->Actions(2));
  EXPECT_EQ(form_->actHelp, list->Actions(10));
  EXPECT_EQ(form_->actExit, list->Actions(30));
  EXPECT_EQ(form_->actPrint, list->Actions(9));
  EXPECT_EQ(form_->actToTrophy, list->Actions(72));
  // Every member is bound to the live action of its name, in list order.
  int index = 0;
#define EXPECT_BOUND_(NAME, IMAGE, LABEL)                  \
  ASSERT_NE(form_->NAME, nullptr) << #NAME;                \
  EXPECT_EQ(form_->NAME, list->Actions(index++)) << #NAME; \
  EXPECT_EQ(form_->NAME->ActionList(), list) << #NAME;
  MPAY_SHARED_ACTIONS(EXPECT_BOUND_)
#undef EXPECT_BOUND_
  EXPECT_EQ(index, kSharedActionCount);
  // The members lie in their own declaration order, not the list's.
  std::vector<std::string> declared;
  std::vector<TAction* const*> places;
#define DECLARED_(NAME)      \
  declared.push_back(#NAME); \
  places.push_back(&form_->NAME);
  MPAY_SHARED_ACTION_MEMBERS(DECLARED_)
#undef DECLARED_
  EXPECT_TRUE(std::is_sorted(places.begin(), places.end(), std::less<>()));
  ASSERT_EQ(declared.size(), static_cast<size_t>(kSharedActionCount));
  EXPECT_EQ(std::vector<std::string>(declared.begin(), declared.begin() + 4),
            (std::vector<std::string>{"actHelp", "actAdd", "actCancel", "actOK"}));
  EXPECT_EQ(declared[7], "actQuery");
  EXPECT_EQ(declared[28], "actExit");
  EXPECT_EQ(declared[69], "actPrint");
  EXPECT_EQ(declared[72], "actToTrophy");
}

TEST_F(BaseWindowTest, OnlyCloseAndExitDoAnything) {
  for (int i = 0; i < form_->ActionListPublic->ActionCount(); ++i) {
    TAction* action = form_->ActionListPublic->Actions(i);
    if (action == form_->actClose || action == form_->actExit) continue;
    EXPECT_FALSE(action->Execute()) << action->Name();
  }
  Application()->ProcessMessages();
  EXPECT_FALSE(destroyed_);
  EXPECT_TRUE(form_->actClose->Execute());
  Application()->ProcessMessages();
  EXPECT_TRUE(destroyed_);
}

TEST_F(BaseWindowTest, ExitClosesAndFreesTheWindow) {
  ASSERT_EQ(form_->btnExit->Action(), form_->actExit);
  ClickControl(form_->btnExit);
  Application()->ProcessMessages();
  EXPECT_TRUE(destroyed_);
}

TEST_F(BaseWindowTest, HeaderClicksFlipTheDirectionAndFollowTheColumn) {
  FillResult();
  TListView* lv = form_->lvstResult;
  ClickHeader(lv, 0);
  EXPECT_EQ(Captions(lv), (std::vector<std::string>{"100", "10", "9"}));
  ClickHeader(lv, 0);
  EXPECT_EQ(Captions(lv), (std::vector<std::string>{"9", "10", "100"}));
  // Texts by GBK bytes, descending: 乙 (D2D2), 甲 (BCD7), 丙 (B1FB).
  ClickHeader(lv, 1);
  EXPECT_EQ(lv->Tag(), -13);
  EXPECT_EQ(Captions(lv), (std::vector<std::string>{"10", "9", "100"}));
  // Amounts by value, ascending.
  ClickHeader(lv, 2);
  EXPECT_EQ(Captions(lv), (std::vector<std::string>{"100", "10", "9"}));
}

TEST_F(BaseWindowTest, RightClickThenHeaderClickSortsDescending) {
  FillResult();
  TListView* lv = form_->lvstResult;
  ClickHeader(lv, 0);
  ClickHeader(lv, 0);  // ascending
  SendMessage(lv->Handle(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(40, 30));
  EXPECT_EQ(lv->Tag(), MAKELPARAM(40, 30));
  ClickHeader(lv, 0);
  EXPECT_EQ(lv->Tag(), -12);
  EXPECT_EQ(Captions(lv), (std::vector<std::string>{"100", "10", "9"}));
}

TEST_F(BaseWindowTest, NumbersTextsAndEqualValues) {
  TListView* lv = form_->lvstResult;
  FillList(lv, {{"数", kColumnWholeNumber}, {"文", 0}},
           {{"10", "10"}, {"9", "9"}, {"7", "甲"}, {" 7 ", "甲"}, {"x", "乙"}});
  lv->SetTag(12);                      // ascending by column 0
  EXPECT_EQ(Compare(lv, 0, 1), 1);     // 10 after 9
  EXPECT_EQ(Compare(lv, 2, 3), 1);     // equal numbers
  EXPECT_EQ(Compare(lv, 4, 0, 5), 5);  // "x" is no number: the result stays
  lv->SetTag(13);                      // ascending by column 1 as text
  EXPECT_EQ(Compare(lv, 0, 1), -1);    // "10" before "9"
  EXPECT_EQ(Compare(lv, 2, 3), -1);    // equal texts
  lv->SetTag(-13);
  EXPECT_EQ(Compare(lv, 0, 1), 1);
  EXPECT_EQ(Compare(lv, 2, 3), 1);
  lv->SetTag(-12);
  EXPECT_EQ(Compare(lv, 4, 0, 5), -5);  // the direction still applies
  lv->SetTag(99);                       // no such column
  EXPECT_EQ(Compare(lv, 0, 1, 7), 7);
}

TEST_F(BaseWindowTest, PinnedRowsStayLastAndAnUnsortedTagKeepsTheOrder) {
  FillResult();
  TListView* lv = form_->lvstResult;
  lv->Items()->Item(1)->SetImageIndex(kPinnedImageIndex);  // "9"
  ClickHeader(lv, 0);
  EXPECT_EQ(Captions(lv), (std::vector<std::string>{"100", "10", "9"}));
  ClickHeader(lv, 0);
  EXPECT_EQ(Captions(lv), (std::vector<std::string>{"10", "100", "9"}));
  lv->Items()->Item(0)->SetImageIndex(kPinnedImageIndex);
  EXPECT_EQ(Compare(lv, 0, 2), 1);  // two pinned rows
  EXPECT_EQ(Compare(lv, 1, 0), -1);

  TListView* other = form_->lvstFrame;
  FillList(other, {{"数", kColumnWholeNumber}}, {{"3"}, {"1"}, {"2"}});
  ASSERT_EQ(other->Tag(), 0);
  EXPECT_EQ(Compare(other, 0, 1), 0);
  other->AlphaSort();
  EXPECT_EQ(Captions(other), (std::vector<std::string>{"3", "1", "2"}));
}

// Header clicks on many rows with equal, blank-padded, unconvertible and
// pinned cells: the list view ends in the order a plain merge gives with the
// handler's own answers, which are not consistent (equal values give 1 both
// ways when descending, an unconvertible cell leaves the result 0).
TEST_F(BaseWindowTest, HeaderClicksOrderRowsAsAPlainMergeOfTheHandlersAnswers) {
  const std::vector<std::vector<std::string>> cells = {
      {"7", " 7 ", "+7", "-3", "10", "x", ""},
      {"甲", "乙", " 甲", "甲 ", "", "A", "甲乙"},
      {"1.50", "1.5", " 1.50", "-3.00", "abc", "", "12"}};
  std::mt19937 random(23);
  std::vector<std::vector<std::string>> rows(300);
  for (auto& row : rows)
    for (const auto& column : cells) row.push_back(column[random() % column.size()]);
  TListView* lv = form_->lvstResult;
  FillList(lv, {{"数", kColumnWholeNumber}, {"文", 0}, {"额", kColumnAmount}}, rows);
  for (int i = 0; i < lv->Items()->Count(); ++i) {
    lv->Items()->Item(i)->SetData(reinterpret_cast<void*>(static_cast<intptr_t>(i)));
    if (random() % 20 == 0) lv->Items()->Item(i)->SetImageIndex(kPinnedImageIndex);
  }
  Application()->ShowMainWindow();  // the header takes clicks once shown
  lv->Repaint();
  auto order = [lv] {
    std::vector<void*> rows;
    for (int i = 0; i < lv->Items()->Count(); ++i) rows.push_back(lv->Items()->Item(i)->Data());
    return rows;
  };
  for (int column : {1, 1, 0, 0, 2, 2, 1}) {
    std::vector<TListItem*> before;
    for (int i = 0; i < lv->Items()->Count(); ++i) before.push_back(lv->Items()->Item(i));
    // The tag the click leaves, for the handler's answers.
    const intptr_t tag = lv->Tag();
    lv->SetTag(NextSortTag(tag, column));
    std::vector<void*> expected;
    for (int row : samples::PlainMergeOrder(static_cast<int>(before.size()), [&](int a, int b) {
           int result = 0;
           lv->OnCompare(lv, before[static_cast<size_t>(a)], before[static_cast<size_t>(b)], 0,
                         result);
           return result;
         }))
      expected.push_back(before[static_cast<size_t>(row)]->Data());
    lv->SetTag(tag);
    ClickColumnHeader(lv, column);
    ASSERT_EQ(lv->Tag(), NextSortTag(tag, column));
    ASSERT_EQ(order(), expected) << "column " << column;
  }
}

TEST_F(BaseWindowTest, CopyMenuItemsAndWhatTheyCopy) {
  FillResult();
  TListView* lv = form_->lvstResult;
  ASSERT_NE(lv->PopupMenu(), nullptr);
  TMenuItem* root = lv->PopupMenu()->Items();
  ASSERT_EQ(root->Count(), 2);
  EXPECT_EQ(root->Items(0)->Caption(), "复制单元格");
  EXPECT_EQ(root->Items(1)->Caption(), "复制记录");
  EXPECT_EQ(root->Items(0)->Tag(), reinterpret_cast<intptr_t>(lv));

  // A right click on a cell opens the menu; its items copy that cell, or
  // the selected rows (the click on a selected row keeps the selection).
  TPoint point;
  ASSERT_TRUE(PointInCell(lv, 1, 1, &point));
  RightClickAt(lv, point.x, point.y);
  ClickOpenMenuItem(lv->PopupMenu(), 0);
  EXPECT_EQ(ClipboardText(), "甲");

  lv->Items()->Item(0)->SetSelected(true);
  lv->Items()->Item(2)->SetSelected(true);
  ASSERT_TRUE(PointInCell(lv, 2, 0, &point));
  RightClickAt(lv, point.x, point.y);
  ClickOpenMenuItem(lv->PopupMenu(), 1);
  EXPECT_EQ(ClipboardText(), "10\t乙\t1.50\n100\t丙\t-3.00\n");

  // A menu the list view had keeps its items below the copy commands.
  auto* menu = new TPopupMenu(form_);
  auto* refresh = new TMenuItem(menu);
  refresh->SetCaption("刷新");
  menu->Items()->Add(refresh);
  form_->lvstBound->SetPopupMenu(menu);
  EXPECT_TRUE(form_->HookListViewPopupMenu(form_->lvstBound));
  ASSERT_EQ(menu->Items()->Count(), 3);
  EXPECT_EQ(menu->Items()->Items(0)->Caption(), "复制单元格");
  EXPECT_EQ(menu->Items()->Items(2)->Caption(), "刷新");
  EXPECT_FALSE(form_->HookListViewPopupMenu(nullptr));
}

TEST_F(BaseWindowTest, CopyItemsLeaveAMenuThatOutlivesTheirListView) {
  // A menu of the window's own, named by a list view that goes first.
  auto* menu = new TPopupMenu(form_);
  auto* refresh = new TMenuItem(menu);
  refresh->SetCaption("刷新");
  menu->Items()->Add(refresh);
  auto* listView = new TListView(form_);
  listView->SetParent(form_);
  listView->SetPopupMenu(menu);
  ASSERT_TRUE(form_->HookListViewPopupMenu(listView));
  ASSERT_EQ(menu->Items()->Count(), 3);
  delete listView;
  ASSERT_EQ(menu->Items()->Count(), 1);
  EXPECT_EQ(menu->Items()->Items(0), refresh);
  // The other way round: the menu goes first, the list view's items later.
  auto* other = new TListView(form_);
  other->SetParent(form_);
  other->SetPopupMenu(menu);
  ASSERT_TRUE(form_->HookListViewPopupMenu(other));
  delete menu;
  delete other;
}

TEST_F(BaseWindowTest, CheckMarkKeysOnlyWithCheckBoxes) {
  FillResult();
  TListView* lv = form_->lvstResult;
  auto press = [&](uint16_t key, TShiftState shift) { PressKey(lv, key, shift); };
  auto marks = [&] {
    std::vector<bool> m;
    for (int i = 0; i < lv->Items()->Count(); ++i) m.push_back(lv->Items()->Item(i)->Checked());
    return m;
  };
  press('A', ssCtrl);
  EXPECT_EQ(marks(), (std::vector<bool>{false, false, false}));
  lv->SetCheckboxes(true);
  press('A', 0);
  EXPECT_EQ(marks(), (std::vector<bool>{false, false, false}));
  press('A', ssCtrl);
  EXPECT_EQ(marks(), (std::vector<bool>{true, true, true}));
  press('Z', ssCtrl | ssShift);
  EXPECT_EQ(marks(), (std::vector<bool>{false, false, false}));
  lv->Items()->Item(1)->SetChecked(true);
  press('T', ssCtrl);
  EXPECT_EQ(marks(), (std::vector<bool>{true, false, true}));
  press('T', ssCtrl);
  EXPECT_EQ(marks(), (std::vector<bool>{false, true, false}));

  int clicks = 0, doubleClicks = 0;
  TObject* clickSender = nullptr;
  lv->OnClick = [&](TObject* sender) { ++clicks, clickSender = sender; };
  lv->OnDblClick = [&](TObject*) { ++doubleClicks; };
  press(VK_RETURN, 0);
  press(VK_DOWN, 0);
  press(VK_UP, ssShift);
  press(VK_LEFT, 0);
  EXPECT_EQ(doubleClicks, 1);
  EXPECT_EQ(clicks, 2);
  EXPECT_EQ(clickSender, lv);
}

TEST_F(BaseWindowTest, ColumnsFitTheNewestRowAndNeverShrink) {
  // The columns are fitted once the rows are in and the events handled.
  auto fill = [](TListView* listView, const std::vector<std::pair<std::string, intptr_t>>& columns,
                 const std::vector<std::vector<std::string>>& rows) {
    FillList(listView, columns, rows);
    Application()->ProcessMessages();
  };
  TListView* lv = form_->lvstResult;
  const int w = CharWidthOf(lv);
  fill(lv, {{"编号", 0}, {"名称", 0}}, {});
  lv->Columns()->Items(0)->SetWidth(20);
  lv->Columns()->Items(1)->SetWidth(500);
  fill(lv, {}, {{"1", "a"}});
  EXPECT_EQ(lv->Columns()->Items(0)->Width(), 4 * w);  // the caption's 4 bytes
  fill(lv, {}, {{"0123456789", "b"}});
  EXPECT_EQ(lv->Columns()->Items(0)->Width(), 10 * w);
  fill(lv, {}, {{"12", "中文"}});
  EXPECT_EQ(lv->Columns()->Items(0)->Width(), 10 * w);
  EXPECT_EQ(lv->Columns()->Items(1)->Width(), 500);
  // Rows added together: each was the newest row once.
  fill(lv, {}, {{"012345678901", "c"}, {"1", "d"}});
  EXPECT_EQ(lv->Columns()->Items(0)->Width(), 12 * w);
  // A list emptied and filled again before the events are handled.
  FillList(lv, {}, {{"1", "e"}});
  lv->Items()->Clear();
  fill(lv, {}, {{"0123456789012345", "f"}, {"2", "g"}});
  EXPECT_EQ(lv->Columns()->Items(0)->Width(), 16 * w);
  // Past the first sixteen columns too.
  fill(lv, std::vector<std::pair<std::string, intptr_t>>(18, {"c", 0}), {});
  std::vector<std::string> wide(20);
  wide[19] = "0123456789";
  fill(lv, {}, {wide});
  EXPECT_EQ(lv->Columns()->Items(19)->Width(), 10 * w);

  TListView* checked = form_->lvstBound;
  checked->SetCheckboxes(true);
  fill(checked, {{"名", 0}}, {});
  checked->Columns()->Items(0)->SetWidth(10);
  fill(checked, {}, {{"12345"}});
  EXPECT_EQ(checked->Columns()->Items(0)->Width(), 5 * w + kCheckBoxMargin);
  // A list view whose window keeps another procedure's data is fitted at
  // every change.
  auto* other = new TListView(form_);
  other->SetParent(form_);
  other->SetViewStyle(vsReport);
  SetWindowLongPtr(other->Handle(), GWLP_USERDATA, 1);
  form_->InitListView(other);
  FillList(other, {{"名", 0}}, {{"0123456789"}});
  EXPECT_EQ(other->Columns()->Items(0)->Width(), 10 * w);
  SetWindowLongPtr(other->Handle(), GWLP_USERDATA, 0);
}

TEST_F(BaseWindowTest, HintOverCutOffTextOfDisabledControls) {
  THintWindow* hint = Hint();
  ASSERT_NE(hint, nullptr);
  EXPECT_FALSE(hint->Visible());
  EXPECT_EQ(hint->Color(), static_cast<TColor>(kHintWindowColor));
  EXPECT_EQ(hint->Parent(), form_);
  ASSERT_TRUE(form_->grbConditions->OnMouseMove.Assigned());
  // Controls that report no movement of their own are left unbound.
  EXPECT_FALSE(form_->cmbType->OnMouseMove.Assigned());
  EXPECT_FALSE(form_->lvstResult->OnMouseMove.Assigned());

  // The pointer comes to rest over the disabled edit: the hint shows while
  // the text is wider than the edit less 32 pixels, and never for no text.
  TEdit* edit = form_->edtDisabled;
  const std::string text = "13800138000 小额支付冻结";
  const int textWidth = form_->Canvas()->TextWidth(text);
  const struct {
    int width;
    std::string text;
    bool shown;
  } cases[] = {
      {textWidth + 20, text, true},  // as 100 pixels against 80
      {textWidth + 31, text, true},  {textWidth + 32, text, false},
      {textWidth + 40, text, false},  // as 100 pixels against 60
      {textWidth + 20, "", false},
  };
  for (const auto& c : cases) {
    edit->SetWidth(c.width);
    edit->SetText(c.text);
    MovePointerOver(form_->edtNumber, 3, 3);
    EXPECT_FALSE(hint->Visible()) << "over an enabled edit";
    MovePointerOver(edit, 4, 4);
    EXPECT_EQ(hint->Visible(), c.shown) << c.width - textWidth << " '" << c.text << "'";
    if (c.shown) {
      EXPECT_EQ(hint->Text(), c.text);
    }
  }
}

TEST_F(BaseWindowTest, HintOverADisabledControlInAContainerStaysWhileThePointerRests) {
  // Real pointer moves: the container reports the move over its disabled
  // child, and the form must not see the same move and hide the hint.
  THintWindow* hint = Hint();
  const std::string text = "很长很长很长很长很长很长的文字";
  auto over = [&](TWinControl* control, int x, int y) {
    control->SetEnabled(false);
    control->SetText(text);
    MovePointerOver(control, x, y);
    EXPECT_TRUE(hint->Visible()) << control->Name();
    EXPECT_EQ(hint->Text(), text);
    TPoint pointer;
    GetCursorPos(&pointer);
    EXPECT_EQ(hint->ClientToScreen(TPoint{0, hint->Height()}), pointer) << control->Name();
  };
  over(form_->edtDisabled, 4, 4);
  over(form_->edtDisabled, 9, 6);  // the hint follows the pointer
  MovePointerOver(form_->edtNumber, 3, 3);
  EXPECT_FALSE(hint->Visible()) << "over an enabled edit";
  over(form_->ledtName, 5, 5);
  MovePointerOver(form_->grbConditions, 2, 2);
  EXPECT_FALSE(hint->Visible()) << "over the group box itself";
  over(form_->cmbPanel, 5, 5);
  over(form_->edtFrame, 5, 5);
}

TEST_F(BaseWindowTest, DropDownListsFitTheirWidestItem) {
  TComboBox* combo = form_->cmbType;
  ASSERT_EQ(combo->Width(), 120);
  auto open = [](TComboBox* box) { return DropDownWidthByClick(box); };
  for (const char* item : {"甲", "乙", "丙"}) combo->Items()->Add(item);
  EXPECT_EQ(open(combo), 136);
  for (int i = 3; i < 20; ++i) combo->Items()->Add(std::to_string(i));
  EXPECT_EQ(open(combo), 158);

  TComboBox* framed = form_->cmbFrame;
  const std::string wide = "小额支付冻结小额支付解冻小额支付";
  framed->Items()->Add("a");
  framed->Items()->Add(wide);
  const int wideWidth = form_->Canvas()->TextWidth(wide);
  ASSERT_GT(wideWidth, 120);
  EXPECT_EQ(open(framed), wideWidth + 16);

  // A drop-down handler bound before the wiring stays.
  int own = 0;
  auto* bound = new TComboBox(form_);
  bound->OnDropDown = [&](TObject*) { ++own; };
  form_->InitTComboBox(form_);
  bound->OnDropDown(bound);
  EXPECT_EQ(own, 1);
}

TEST_F(BaseWindowTest, StartUpLeavesTheFocusOnTheFirstTabStop) {
  // Shown, the window focused its first tab stop; the two start-up requests
  // (next, then previous) have run in SetUp and come back to it.
  EXPECT_EQ(form_->ActiveControl(), form_->edtNumber);
}

TEST_F(BaseWindowTest, EnterMovesTheFocusOnceThePostedRequestIsHandled) {
  TEdit* edit = form_->edtNumber;
  edit->SetFocus();
  Application()->ProcessMessages();
  ASSERT_EQ(form_->ActiveControl(), edit);
  PressReturn(edit);
  EXPECT_EQ(edit->Text(), "");
  EXPECT_EQ(form_->ActiveControl(), edit);
  Application()->ProcessMessages();
  EXPECT_EQ(form_->ActiveControl(), form_->edtDecimal);
}

TEST_F(BaseWindowTest, TabAndShiftTabMoveTheFocusOutOfFilteredEdits) {
  TEdit* number = form_->edtNumber;
  TypeText(number, "12");
  number->SetFocus();
  PressTab(number, false);
  EXPECT_EQ(form_->ActiveControl(), form_->edtDecimal);
  PressTab(form_->edtDecimal, true);
  EXPECT_EQ(form_->ActiveControl(), number);
  PressTab(number, true);
  EXPECT_NE(form_->ActiveControl(), number);
  EXPECT_EQ(number->Text(), "12");
  Application()->ProcessMessages();  // no focus move was posted
  EXPECT_NE(form_->ActiveControl(), number);
}

TEST_F(BaseWindowTest, KeyFiltersOnEdits) {
  auto type = [](TEdit* edit, const char* text) {
    TypeText(edit, text);
    return edit->Text();
  };
  EXPECT_EQ(type(form_->edtNumber, "12a.-3 中"), "123");
  EXPECT_EQ(type(form_->edtDecimal, "1.2.3x-"), "1.2.3");
  EXPECT_EQ(type(form_->edtRange, "1-3 5.中"), "1-3 5");
  EXPECT_EQ(type(form_->edtText, "中文"), "");
  EXPECT_EQ(type(form_->edtText, "a1 !~"), "a1 !~");
  EXPECT_EQ(type(form_->edtEmail, "li.ming@example.cn中"), "li.ming@example.cn");
}

TEST_F(BaseWindowTest, InitFormTwiceLeavesOneHintWindow) {
  form_->InitForm(form_);
  form_->InitForm(nullptr);
  int hints = 0;
  for (int i = 0; i < form_->ComponentCount(); ++i)
    hints += form_->Components(i)->Name() == kHintWindowName;
  EXPECT_EQ(hints, 1);

  // Another kind of component under the name: no second one, no exception,
  // and the form simply shows no hints.
  TForm plain(nullptr);
  auto* squatter = new TComponent(&plain);
  squatter->SetName(kHintWindowName);
  EXPECT_NO_THROW(form_->InitForm(&plain));
  EXPECT_EQ(plain.FindComponent(kHintWindowName), squatter);
}

TEST_F(BaseWindowTest, SetNextFocusOnlyChangesForms) {
  form_->SetNextFocus(form_->pnlButtons);
  form_->SetNextFocus(form_->edtNumber);
  form_->SetNextFocus(nullptr);
  EXPECT_FALSE(form_->pnlButtons->OnKeyDown.Assigned());
  EXPECT_FALSE(form_->edtNumber->OnKeyDown.Assigned());

  TForm plain(nullptr);
  plain.OnKeyDown = [](TObject*, uint16_t&, TShiftState) {};
  form_->SetNextFocus(&plain);
  EXPECT_TRUE(plain.KeyPreview());
  EXPECT_EQ(plain.OnKeyDown.Object(), form_);
}

TEST_F(BaseWindowTest, ServicesReachFramesAndKeepHandlersTheLayoutBound) {
  TListView* framed = form_->lvstFrame;
  EXPECT_TRUE(framed->OnCompare.Assigned());
  ASSERT_NE(framed->PopupMenu(), nullptr);
  EXPECT_EQ(framed->PopupMenu()->Items()->Count(), 2);
  EXPECT_TRUE(form_->cmbFrame->OnDropDown.Assigned());

  TListView* bound = form_->lvstBound;
  FillList(bound, {{"a", 0}}, {{"b"}, {"a"}});
  bound->OnColumnClick(bound, bound->Columns()->Items(0));
  EXPECT_EQ(form_->boundColumnClicks, 1);
  EXPECT_EQ(bound->Tag(), 0);
  EXPECT_TRUE(bound->OnCompare.Assigned());
}

TEST_F(BaseWindowTest, CaptureProcedureIsInstalledOnceAndRemovedOnDestroy) {
  TListView* lv = form_->lvstResult;
  const HWND handle = lv->Handle();
  EXPECT_EQ(GetWindowLongPtr(handle, GWLP_WNDPROC),
            reinterpret_cast<LONG_PTR>(&ListViewWindowProc));
  const LONG_PTR previous = GetWindowLongPtr(handle, GWLP_USERDATA);
  EXPECT_NE(previous, 0);
  EXPECT_TRUE(SubclassListViewWindow(handle));  // taken as installed
  EXPECT_EQ(GetWindowLongPtr(handle, GWLP_USERDATA), previous);
  EXPECT_FALSE(SubclassListViewWindow(nullptr));

  auto* fresh = new TListView(form_);
  fresh->SetParent(form_);
  ASSERT_TRUE(SubclassListViewWindow(fresh->Handle()));
  SendMessage(fresh->Handle(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(7, 9));
  EXPECT_EQ(fresh->Tag(), MAKELPARAM(7, 9));
  delete fresh;  // destroys its window with the capture procedure in place
  Application()->ProcessMessages();

  // Without a kept procedure the capture procedure does nothing.
  auto* bare = new TListView(form_);
  EXPECT_EQ(ListViewWindowProc(bare->Handle(), WM_RBUTTONDOWN, 0, MAKELPARAM(1, 1)), 1);
  EXPECT_EQ(bare->Tag(), 0);
  delete bare;
}

// Renders the test window for a look at its colour and Chinese text.
TEST_F(BaseWindowTest, RendersToPng) {
  FillResult();
  form_->edtDisabled->SetText("被禁用的编辑框");
  form_->cmbType->SetText("小额支付冻结");
  Application()->ProcessMessages();
  const char* dir = std::getenv("MPAY_BUILD_DIR");
  const std::string path = std::string(dir ? dir : ".") + "/basewindow.png";
  EXPECT_TRUE(SaveWindowPng(form_, path));
  TBitmap face;  // the query button's face
  ASSERT_TRUE(form_->ImageListNormal->GetBitmap(form_->actQuery->ImageIndex(), &face));
  EXPECT_TRUE(face.SaveToFile(std::string(dir ? dir : ".") + "/basewindow-query-button.png"));
}

}  // namespace
