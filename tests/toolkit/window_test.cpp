// Window handles, messages and Qt input reaching the toolkit's controls.

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPointer>
#include <QTableView>
#include <QTest>
#include <QWindow>
#include <algorithm>
#include <vector>

#include "paint_counter.h"
#include "test_support.h"
#include "toolkit/qtext.h"
#include "toolkit/toolkit.h"

namespace {

// A replacement procedure in the style of the list view services: the
// previous procedure lives in the user-data slot.
std::vector<UINT> gSeen;

LRESULT RecordingProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto previous = reinterpret_cast<WNDPROC>(GetWindowLongPtr(wnd, GWLP_USERDATA));
  if (!previous) return 1;
  gSeen.push_back(msg);
  if (msg == WM_DESTROY) {
    SetWindowLongPtr(wnd, GWLP_USERDATA, 0);
    SetWindowLongPtr(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
  }
  if (msg == WM_RBUTTONDOWN) {
    if (auto* lv = dynamic_cast<TListView*>(FindControl(wnd))) lv->SetTag(lParam);
  }
  return CallWindowProc(previous, wnd, msg, wParam, lParam);
}

bool Subclass(HWND wnd) {
  LONG_PTR previous =
      SetWindowLongPtr(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordingProc));
  if (!previous) return false;
  SetLastError(0);
  SetWindowLongPtr(wnd, GWLP_USERDATA, previous);
  return GetLastError() == 0;
}

class WindowTest : public ToolkitTest {
 protected:
  void SetUp() override {
    ToolkitTest::SetUp();
    gSeen.clear();
    Application()->MainWindow()->show();
  }
};

TEST_F(WindowTest, ProcedureChainInstallsCallsThePreviousAndRemovesItselfOnDestroy) {
  auto* box = new TComboBox(nullptr);
  const HWND h = box->Handle();
  const LONG_PTR original = GetWindowLongPtr(h, GWLP_WNDPROC);
  ASSERT_NE(original, 0);
  EXPECT_EQ(GetWindowLongPtr(h, GWLP_USERDATA), 0);
  ASSERT_TRUE(Subclass(h));
  EXPECT_EQ(GetWindowLongPtr(h, GWLP_USERDATA), original);

  // The message reaches the replacement first, then the control through the
  // previous procedure.
  EXPECT_EQ(SendMessage(h, CB_SETDROPPEDWIDTH, 300, 0), 300);
  EXPECT_EQ(gSeen, (std::vector<UINT>{CB_SETDROPPEDWIDTH}));
  EXPECT_EQ(box->DroppedWidth(), 300);

  delete box;
  EXPECT_EQ(gSeen.back(), WM_DESTROY);
  EXPECT_FALSE(IsWindow(h));
  SetLastError(0);
  EXPECT_EQ(GetWindowLongPtr(h, GWLP_USERDATA), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_EQ(SendMessage(h, WM_USER, 0, 0), 0);
  EXPECT_FALSE(PostMessage(h, WM_USER, 0, 0));
}

TEST_F(WindowTest, SlotsRefuseBadIndexesAndNullProcedures) {
  TEdit edit(nullptr);
  SetLastError(0);
  EXPECT_EQ(SetWindowLongPtr(edit.Handle(), 12345, 1), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_INDEX);
  const LONG_PTR proc = GetWindowLongPtr(edit.Handle(), GWLP_WNDPROC);
  EXPECT_EQ(SetWindowLongPtr(edit.Handle(), GWLP_WNDPROC, 0), 0);
  EXPECT_EQ(GetWindowLongPtr(edit.Handle(), GWLP_WNDPROC), proc);
  // A 64-bit value survives the user-data slot.
  const LONG_PTR big = static_cast<LONG_PTR>(0x7FEDCBA987654321LL);
  SetWindowLongPtr(edit.Handle(), GWLP_USERDATA, big);
  EXPECT_EQ(GetWindowLongPtr(edit.Handle(), GWLP_USERDATA), big);
  SetWindowLongPtr(edit.Handle(), GWLP_USERDATA, 0);
}

TEST_F(WindowTest, RightButtonPressReachesTheProcedureWithTheClientPoint) {
  TForm form(nullptr);
  auto* lv = new TListView(&form);
  lv->SetParent(&form);
  lv->SetBounds(10, 10, 300, 200);
  lv->Columns()->Add()->SetCaption("a");
  lv->Items()->Add()->SetCaption("row");
  form.ShowForm();
  Application()->ProcessMessages();  // laid out, as when a user can click it
  ASSERT_TRUE(Subclass(lv->Handle()));
  auto* view = static_cast<QTableView*>(lv->Widget());
  const QPoint inViewport(25, 7);
  QTest::mousePress(view->viewport(), Qt::RightButton, {}, inViewport);
  QTest::mouseRelease(view->viewport(), Qt::RightButton, {}, inViewport);
  ASSERT_FALSE(gSeen.empty());
  EXPECT_EQ(gSeen.front(), WM_RBUTTONDOWN);
  const QPoint client = view->viewport()->mapTo(view, inViewport);
  EXPECT_EQ(GET_X_LPARAM(lv->Tag()), client.x());
  EXPECT_EQ(GET_Y_LPARAM(lv->Tag()), client.y());
  // The point names the cell that was pressed.
  int row = -1, column = -1;
  ASSERT_TRUE(lv->CellAt({GET_X_LPARAM(lv->Tag()), GET_Y_LPARAM(lv->Tag())}, &row, &column));
  EXPECT_EQ(row, 0);
  EXPECT_EQ(column, 0);
}

class TFocusForm : public TForm {
 public:
  explicit TFocusForm(TComponent* owner) : TForm(owner) {
    SetClientSize(300, 200);
    for (int i = 0; i < 4; ++i) {
      auto* e = new TEdit(this);
      e->SetParent(this);
      e->SetBounds(10, 10 + 30 * i, 100, 20);
      edits.push_back(e);
    }
    edits[2]->SetTabOrder(0);  // tab order: 2, 0, 1, 3
    ShowForm();
  }
  std::vector<TEdit*> edits;
};

// Posts the request to move the focus to the next (or previous) tab stop.
void PostFocusMove(TForm& form, bool forward) {
  PostMessage(form.Handle(), WM_NEXTDLGCTL, forward ? 0 : static_cast<WPARAM>(-1), 0);
}

TEST_F(WindowTest, PostedNextDialogControlMovesTheFocusOnceHandled) {
  TFocusForm form(nullptr);
  form.edits[0]->SetFocus();
  ASSERT_TRUE(form.edits[0]->Focused());
  PostFocusMove(form, true);
  EXPECT_TRUE(form.edits[0]->Focused()) << "moved before the message was handled";
  Application()->ProcessMessages();
  EXPECT_TRUE(form.edits[1]->Focused());
  PostFocusMove(form, false);
  Application()->ProcessMessages();
  EXPECT_TRUE(form.edits[0]->Focused());
  // Back again wraps to the last tab stop; disabled controls are skipped.
  form.edits[2]->SetFocus();
  form.edits[3]->SetEnabled(false);
  PostFocusMove(form, false);
  Application()->ProcessMessages();
  EXPECT_TRUE(form.edits[1]->Focused());
  // Two posts are handled in order.
  PostFocusMove(form, true);
  PostFocusMove(form, false);
  Application()->ProcessMessages();
  EXPECT_TRUE(form.edits[1]->Focused());
}

TEST_F(WindowTest, ShownFormFocusesItsFirstTabStop) {
  {
    TFocusForm form(nullptr);  // tab order: 2, 0, 1, 3
    EXPECT_TRUE(form.edits[2]->Focused());
    // A business window's start-up requests, next then previous, end there.
    PostFocusMove(form, true);
    PostFocusMove(form, false);
    Application()->ProcessMessages();
    EXPECT_TRUE(form.edits[2]->Focused());
  }
  TForm form(nullptr);
  std::vector<TEdit*> edits;
  for (int i = 0; i < 3; ++i) {
    edits.push_back(new TEdit(&form));
    edits.back()->SetParent(&form);
  }
  // Disabled controls and controls that are no tab stop are passed over.
  edits[0]->SetEnabled(false);
  edits[1]->SetTabStop(false);
  form.ShowForm();
  EXPECT_TRUE(edits[2]->Focused());
  // Shown again, the form keeps its active control.
  edits[0]->SetEnabled(true);
  form.SetVisible(false);
  form.ShowForm();
  EXPECT_TRUE(edits[2]->Focused());
  // A control focused by OnShow stays focused.
  TForm other(nullptr);
  auto* first = new TEdit(&other);
  first->SetParent(&other);
  auto* second = new TEdit(&other);
  second->SetParent(&other);
  other.OnShow = [&](TObject*) { second->SetFocus(); };
  other.ShowForm();
  EXPECT_TRUE(second->Focused());
}

TEST_F(WindowTest, ActiveControlTakenOutOfItsFormIsForgotten) {
  TFocusForm form(nullptr);
  auto* panel = new TPanel(&form);
  panel->SetParent(&form);
  auto* edit = new TEdit(nullptr);
  edit->SetParent(panel);
  int exits = 0;
  edit->OnExit = [&](TObject*) { ++exits; };
  edit->SetFocus();
  ASSERT_TRUE(edit->Focused());
  delete panel;  // the edit lives on, out of the form
  EXPECT_EQ(form.ActiveControl(), nullptr);
  delete edit;
  form.edits[0]->SetFocus();
  EXPECT_TRUE(form.edits[0]->Focused());
  EXPECT_EQ(exits, 0);
  // Moved into another form.
  TForm other(nullptr);
  form.edits[1]->SetFocus();
  form.edits[1]->SetParent(&other);
  EXPECT_EQ(form.ActiveControl(), nullptr);
}

TEST_F(WindowTest, MessagePostedToAWindowThatDiesIsDropped) {
  auto* form = new TFocusForm(nullptr);
  PostMessage(form->Handle(), WM_NEXTDLGCTL, 0, 0);
  delete form;
  Application()->ProcessMessages();  // must not touch the dead form
  SUCCEED();
}

TEST_F(WindowTest, EnterWithKeyPreviewAndKeyPressFilters) {
  TFocusForm form(nullptr);
  form.SetKeyPreview(true);
  form.OnKeyDown = [&](TObject*, uint16_t& key, TShiftState) {
    if (key == VK_RETURN) PostFocusMove(form, true);
  };
  TEdit* edit = form.edits[0];
  edit->OnKeyPress = [](TObject*, char& c) {
    const bool allowed = (c >= '0' && c <= '9') || c == 8 || c == 1 || c == 3 || c == 22 || c == 24;
    if (!allowed) c = 0;
  };
  edit->SetFocus();
  QTest::keyClicks(edit->Widget(), "1a2-3");
  EXPECT_EQ(edit->Text(), "123");
  QTest::keyClick(edit->Widget(), Qt::Key_Backspace);
  EXPECT_EQ(edit->Text(), "12");
  // A Chinese character is two bytes that the filter drops.
  QKeyEvent chinese(QEvent::KeyPress, 0, Qt::NoModifier, QStringLiteral("中"));
  QApplication::sendEvent(edit->Widget(), &chinese);
  EXPECT_EQ(edit->Text(), "12");
  QTest::keyClick(edit->Widget(), Qt::Key_Return);
  EXPECT_EQ(edit->Text(), "12");
  EXPECT_TRUE(edit->Focused());
  Application()->ProcessMessages();
  EXPECT_TRUE(form.edits[1]->Focused());
}

TEST_F(WindowTest, TabAndShiftTabMoveTheFocusPastKeyPressFilters) {
  TFocusForm form(nullptr);  // tab order: 2, 0, 1, 3
  auto* combo = new TComboBox(&form);
  combo->SetParent(&form);
  combo->Items()->Add("a");
  auto* list = new TListView(&form);
  list->SetParent(&form);
  list->SetViewStyle(vsReport);
  list->Columns()->Add()->SetCaption("c");
  list->Items()->Add()->SetCaption("r");
  form.SetKeyPreview(true);
  std::vector<uint16_t> keys;
  form.OnKeyDown = [&](TObject*, uint16_t& key, TShiftState) { keys.push_back(key); };
  for (TEdit* e : form.edits) {
    e->OnKeyPress = [](TObject*, char& c) {
      if (c < '0' || c > '9') c = 0;  // drops Tab (9) too
    };
  }
  // Shift+Tab arrives as Backtab or as Tab with Shift.
  auto tab = [](TWinControl* from, bool back, Qt::Key key = Qt::Key_Tab) {
    QTest::keyClick(from->Widget(), key, back ? Qt::ShiftModifier : Qt::NoModifier);
  };
  form.edits[0]->SetFocus();
  tab(form.edits[0], false);
  EXPECT_TRUE(form.edits[1]->Focused());
  EXPECT_EQ(form.edits[0]->Text(), "");
  tab(form.edits[1], true, Qt::Key_Backtab);
  EXPECT_TRUE(form.edits[0]->Focused());
  tab(form.edits[0], true);  // Shift+Tab as Tab with Shift
  EXPECT_TRUE(form.edits[2]->Focused());
  form.edits[3]->SetFocus();
  tab(form.edits[3], false);
  EXPECT_TRUE(combo->Focused());
  tab(combo, false);
  EXPECT_TRUE(list->Focused());
  tab(list, false);
  EXPECT_TRUE(form.edits[2]->Focused()) << "wraps to the first tab stop";
  tab(form.edits[2], true);
  EXPECT_TRUE(list->Focused());
  tab(list, true);
  EXPECT_TRUE(combo->Focused());
  EXPECT_EQ(combo->Text(), "");
  // Tab is the form's: no key handler sees it.
  EXPECT_EQ(std::count(keys.begin(), keys.end(), VK_TAB), 0);
  // Ctrl+Tab is left to the control.
  form.edits[0]->SetFocus();
  QTest::keyClick(form.edits[0]->Widget(), Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_TRUE(form.edits[0]->Focused());
}

TEST_F(WindowTest, KeyPressHandlerCanReplaceTheCharacter) {
  TEdit edit(nullptr);
  edit.OnKeyPress = [](TObject*, char& c) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  };
  QTest::keyClicks(edit.Widget(), "ab1");
  EXPECT_EQ(edit.Text(), "AB1");
}

TEST_F(WindowTest, DroppedWidthIsSetThroughTheMessageBeforeTheListOpens) {
  TForm form(nullptr);
  auto* box = new TComboBox(&form);
  box->SetParent(&form);
  box->SetBounds(0, 0, 120, 20);
  for (int i = 0; i < 3; ++i) box->Items()->Add("item");
  box->OnDropDown = [&](TObject* sender) {
    auto* b = static_cast<TComboBox*>(sender);
    SendMessage(b->Handle(), CB_SETDROPPEDWIDTH, b->Width() + 16, 0);
  };
  form.ShowForm();
  // A click on the arrow opens the list.
  QComboBox* combo = box->ComboBox();
  QTest::mouseClick(combo, Qt::LeftButton, {}, QPoint(combo->width() - 6, combo->height() / 2));
  EXPECT_TRUE(box->DroppedDown());
  EXPECT_EQ(combo->view()->window()->width(), 136);  // the list as shown
  EXPECT_EQ(box->DroppedWidth(), 136);
  EXPECT_EQ(SendMessage(box->Handle(), CB_GETDROPPEDWIDTH, 0, 0), 136);
  box->SetDroppedDown(false);
  // Never narrower than the box.
  SendMessage(box->Handle(), CB_SETDROPPEDWIDTH, 50, 0);
  EXPECT_EQ(box->DroppedWidth(), 120);
}

TEST_F(WindowTest, UpdateWindowPaintsWhatIsPendingAndNothingElse) {
  TForm form(nullptr);
  auto* panel = new TPanel(&form);
  panel->SetParent(&form);
  panel->SetBounds(0, 0, 100, 50);
  form.ShowForm();
  Application()->ProcessMessages();
  PaintCounter counter;
  panel->Widget()->installEventFilter(&counter);
  EXPECT_TRUE(UpdateWindow(panel->Handle()));
  EXPECT_EQ(counter.paints, 0);
  panel->Invalidate();
  EXPECT_EQ(counter.paints, 0);
  EXPECT_TRUE(UpdateWindow(panel->Handle()));
  EXPECT_EQ(counter.paints, 1);
  EXPECT_TRUE(UpdateWindow(panel->Handle()));
  EXPECT_EQ(counter.paints, 1);
  panel->Widget()->removeEventFilter(&counter);
}

TEST_F(WindowTest, ExceptionOutOfAClickHandlerEndsInTheErrorBox) {
  TForm form(nullptr);
  auto* box = new TCheckBox(&form);
  box->SetParent(&form);
  box->SetBounds(0, 0, 100, 20);
  int clicks = 0;
  box->OnClick = [&](TObject*) {
    ++clicks;
    throw std::runtime_error("boom");
  };
  form.ShowForm();
  QTest::mouseClick(box->Widget(), Qt::LeftButton, {}, QPoint(5, 10));
  ASSERT_EQ(recorder.messages.size(), 1u);
  EXPECT_EQ(recorder.messages[0].text, "boom");
  EXPECT_EQ(recorder.messages[0].caption, QStringToGbk(QStringLiteral("错误")));
  EXPECT_EQ(recorder.messages[0].flags, MB_ICONERROR);
  // The program goes on: the next click is handled the same way.
  QTest::mouseClick(box->Widget(), Qt::LeftButton, {}, QPoint(5, 10));
  EXPECT_EQ(clicks, 2);
  EXPECT_EQ(recorder.messages.size(), 2u);
}

TEST_F(WindowTest, PostedMessageWhoseHandlerThrowsEndsInTheErrorBox) {
  TFocusForm form(nullptr);
  form.edits[2]->OnEnter = [](TObject*) {
    throw Exception("enter failed");
  };  // next after 3, wrapping
  form.edits[3]->SetFocus();
  PostFocusMove(form, true);
  Application()->ProcessMessages();
  ASSERT_EQ(recorder.messages.size(), 1u);
  EXPECT_EQ(recorder.messages[0].text, "enter failed");
}

class TMdiForm : public TForm {
 public:
  explicit TMdiForm(TComponent* owner) : TForm(owner) {
    SetFormStyle(fsMDIChild);
    SetCaption("mdi");
    SetVisible(true);
    OnClose = [](TObject*, TCloseAction& action) { action = caFree; };
    OnDestroy = [this](TObject*) { ++*destroyed; };
  }
  void Open() { EndLayout(); }
  int* destroyed = nullptr;

 protected:
  void CreateParams(TCreateParams& params) override {
    TForm::CreateParams(params);
    params.Style |= WS_MAXIMIZE;
    params.X = -6;
    params.Y = -6;
    params.Width = 640;
    params.Height = 500;
  }
};

TEST_F(WindowTest, MdiChildOpensMaximisedAndFreesItselfWhenClosed) {
  int destroyed = 0;
  const int before = Application()->MDIChildCount();
  auto* form = new TMdiForm(nullptr);
  form->destroyed = &destroyed;
  form->Open();
  EXPECT_EQ(Application()->MDIChildCount(), before + 1);
  auto* sub = qobject_cast<QMdiSubWindow*>(form->WindowWidget());
  ASSERT_NE(sub, nullptr);
  EXPECT_TRUE(sub->isMaximized());
  EXPECT_EQ(form->WindowState(), wsMaximized);
  sub->showNormal();
  EXPECT_EQ(sub->geometry(), QRect(-6, -6, 640, 500));
  form->Close();
  EXPECT_EQ(destroyed, 0) << "freed inside the handler";
  Application()->ProcessMessages();
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(Application()->MDIChildCount(), before);
}

TEST_F(WindowTest, MdiChildClosedThroughItsWindowFreesItself) {
  int destroyed = 0;
  auto* form = new TMdiForm(nullptr);
  form->destroyed = &destroyed;
  form->Open();
  QPointer<QWidget> sub = form->WindowWidget();
  sub->close();
  Application()->ProcessMessages();
  EXPECT_EQ(destroyed, 1);
  EXPECT_TRUE(sub.isNull());
}

TEST_F(WindowTest, TextMetricsOfACanvas) {
  TListView lv(nullptr);
  TEXTMETRIC tm{};
  EXPECT_EQ(GetTextMetrics(lv.Canvas()->Handle(), &tm), 1);
  EXPECT_GT(tm.tmAveCharWidth, 0);
  EXPECT_GT(tm.tmHeight, 0);
  EXPECT_EQ(GetTextMetrics(nullptr, &tm), 0);
  EXPECT_GT(lv.Canvas()->TextWidth(QStringToGbk(QStringLiteral("小额支付"))),
            lv.Canvas()->TextWidth("ab"));
}

TEST_F(WindowTest, HintWindowShowsAtAScreenRectangle) {
  TForm form(nullptr);
  form.SetClientSize(400, 300);
  auto* hint = new THintWindow(&form);
  hint->SetParent(&form);
  hint->Hide();
  form.ShowForm();
  const std::string text = QStringToGbk(QStringLiteral("一段很长的提示文字"));
  const TRect need = hint->CalcHintRect(400, text);
  EXPECT_GT(need.Width(), 0);
  EXPECT_GT(need.Height(), 0);
  const TPoint at = form.ClientToScreen({50, 80});
  hint->ActivateHint(Rect(at.x, at.y - need.Height(), at.x + need.Width(), at.y), text);
  EXPECT_TRUE(hint->Visible());
  EXPECT_EQ(hint->BoundsRect(), Bounds(50, 80 - need.Height(), need.Width(), need.Height()));
  EXPECT_EQ(hint->Caption(), text);
  hint->ReleaseHandle();
  EXPECT_FALSE(hint->Visible());
}

}  // namespace

namespace {

TEST_F(WindowTest, PopupMenuItemsInsertedAtAPositionAndClicked) {
  TListView lv(nullptr);
  auto* menu = new TPopupMenu(&lv);
  lv.SetPopupMenu(menu);
  std::vector<TObject*> senders;
  for (const char* caption : {"copy record", "copy cell"}) {
    auto* item = new TMenuItem(menu);
    item->SetCaption(caption);
    item->SetTag(reinterpret_cast<intptr_t>(&lv));
    item->OnClick = [&](TObject* sender) { senders.push_back(sender); };
    menu->Items()->Insert(0, item);
  }
  ASSERT_EQ(menu->Items()->Count(), 2);
  EXPECT_EQ(menu->Items()->Items(0)->Caption(), "copy cell");
  EXPECT_EQ(menu->Items()->Items(1)->Caption(), "copy record");
  const QList<QAction*> actions = menu->Menu()->actions();
  ASSERT_EQ(actions.size(), 2);
  EXPECT_EQ(actions[0]->text(), QStringLiteral("copy cell"));
  actions[1]->trigger();
  ASSERT_EQ(senders.size(), 1u);
  EXPECT_EQ(senders[0], menu->Items()->Items(1));
  EXPECT_EQ(reinterpret_cast<TListView*>(menu->Items()->Items(1)->Tag()), &lv);
  // An item that dies leaves the menu; the action the menu showed for it
  // reaches nothing.
  QPointer<QAction> shown = actions[0];
  delete menu->Items()->Items(0);
  ASSERT_FALSE(shown.isNull());
  shown->trigger();
  EXPECT_EQ(senders.size(), 1u);
  EXPECT_EQ(menu->Items()->Count(), 1);
  EXPECT_EQ(menu->Menu()->actions().size(), 1);
}

TEST_F(WindowTest, RightClickOpensTheControlsPopupMenuForIt) {
  // A right click enters where the window system's would; the control shows
  // the menu it was given and names itself as the menu's popup component.
  TForm form(nullptr);
  auto* lv = new TListView(&form);
  lv->SetParent(&form);
  lv->SetBounds(10, 10, 300, 200);
  auto* menu = new TPopupMenu(&form);
  auto* item = new TMenuItem(menu);
  item->SetCaption("copy");
  menu->Items()->Add(item);
  lv->SetPopupMenu(menu);
  form.ShowForm();
  Application()->ProcessMessages();
  auto* view = lv->TableView();
  QWindow* window = view->window()->windowHandle();
  ASSERT_NE(window, nullptr);
  const QPoint at = view->viewport()->mapTo(view->window(), QPoint(25, 7));
  QTest::mouseClick(window, Qt::RightButton, {}, at);
  Application()->ProcessMessages();
  EXPECT_TRUE(menu->Menu()->isVisible());
  EXPECT_EQ(menu->PopupComponent(), lv);
  QTest::keyClick(menu->Menu(), Qt::Key_Escape);
  EXPECT_FALSE(menu->Menu()->isVisible());
}

TEST_F(WindowTest, PopupMenuAndTheControlsNamingItDieInAnyOrder) {
  auto* menu = new TPopupMenu(nullptr);
  auto* edit = new TEdit(nullptr);
  TEdit other(nullptr);
  edit->SetPopupMenu(menu);
  other.SetPopupMenu(menu);
  menu->SetPopupComponent(edit);
  delete edit;
  EXPECT_EQ(menu->PopupComponent(), nullptr);
  delete menu;
  EXPECT_EQ(other.PopupMenu(), nullptr);
  // A menu the control no longer names leaves the control's menu alone.
  auto* second = new TPopupMenu(nullptr);
  TPopupMenu third(nullptr);
  other.SetPopupMenu(second);
  other.SetPopupMenu(&third);
  delete second;
  EXPECT_EQ(other.PopupMenu(), &third);
}

TEST_F(WindowTest, LabeledEditSurvivesItsParentGoingFirst) {
  auto* panel = new TPanel(nullptr);
  auto* edit = new TLabeledEdit(nullptr);
  edit->SetParent(panel);
  edit->SetLabelCaption("label");
  delete panel;
  EXPECT_EQ(edit->LabelCaption(), "label");  // the label left with the edit
  delete edit;
}

}  // namespace

namespace {

TEST_F(WindowTest, MouseOverADisabledChildIsReportedByItsContainer) {
  TForm form(nullptr);
  form.SetClientSize(300, 200);
  auto* box = new TGroupBox(&form);
  box->SetParent(&form);
  box->SetBounds(10, 10, 250, 150);
  auto* edit = new TEdit(&form);
  edit->SetParent(box);
  edit->SetBounds(20, 30, 100, 20);
  edit->SetEnabled(false);
  std::vector<std::pair<TObject*, TPoint>> moves;
  auto record = [&](TObject* sender, TShiftState, int x, int y) {
    moves.push_back({sender, {x, y}});
  };
  box->OnMouseMove = record;
  edit->OnMouseMove = record;
  form.OnMouseMove = record;
  form.ShowForm();
  Application()->ProcessMessages();
  // Through the window, as the window system delivers it.
  QWindow* window = form.Widget()->window()->windowHandle();
  ASSERT_NE(window, nullptr);
  auto moveOver = [&](QPoint p) {
    QTest::mouseMove(window, window->mapFromGlobal(edit->Widget()->mapToGlobal(p)));
  };
  moveOver(QPoint(5, 5));
  Application()->ProcessMessages();
  ASSERT_FALSE(moves.empty());
  for (auto& m : moves) EXPECT_NE(m.first, edit) << "a disabled control reported a move";
  // Reported once, by the container: the form under it does not see it again.
  EXPECT_EQ(moves.size(), 1u);
  EXPECT_EQ(moves.back().first, box);
  EXPECT_EQ(moves.back().second, (TPoint{25, 35}));
  EXPECT_EQ(box->ControlAtPos(moves.back().second, true, true), edit);
  // Enabled, the edit reports it itself.
  edit->SetEnabled(true);
  moves.clear();
  moveOver(QPoint(6, 6));
  Application()->ProcessMessages();
  ASSERT_EQ(moves.size(), 1u);
  EXPECT_EQ(moves.back().first, edit);
  // Over the form itself, the form reports it; a press is reported once too.
  std::vector<TObject*> presses;
  auto pressed = [&](TObject* sender, TMouseButton, TShiftState, int, int) {
    presses.push_back(sender);
  };
  box->OnMouseDown = pressed;
  form.OnMouseDown = pressed;
  moves.clear();
  QTest::mouseMove(window, window->mapFromGlobal(form.Widget()->mapToGlobal(QPoint(280, 180))));
  ASSERT_EQ(moves.size(), 1u);
  EXPECT_EQ(moves.back().first, &form);
  QTest::mouseClick(window, Qt::LeftButton, {},
                    window->mapFromGlobal(box->Widget()->mapToGlobal(QPoint(200, 120))));
  EXPECT_EQ(presses, std::vector<TObject*>{box});
}

}  // namespace
