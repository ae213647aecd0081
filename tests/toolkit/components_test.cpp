// Components, layouts, events and the list view through the toolkit's own
// interface (no Qt here; texts are GBK literals).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"
#include "toolkit/toolkit.h"

namespace {

class Tracked : public TComponent {
 public:
  Tracked(TComponent* owner, std::vector<std::string>* log, std::string name)
      : TComponent(owner), log_(log) {
    SetName(std::move(name));
  }
  ~Tracked() override { log_->push_back(Name()); }

 private:
  std::vector<std::string>* log_;
};

using TComponentTest = ToolkitTest;

TEST_F(TComponentTest, OwnerDestroysWhatItOwnsLastFirst) {
  std::vector<std::string> log;
  auto* root = new TComponent(nullptr);
  new Tracked(root, &log, "a");
  auto* b = new Tracked(root, &log, "b");
  new Tracked(b, &log, "b1");
  new Tracked(root, &log, "c");
  delete root;
  EXPECT_EQ(log, (std::vector<std::string>{
                     "c", "b", "b1", "a"}));  // a destructor's body runs before what it owns goes
}

TEST_F(TComponentTest, ComponentDeletedAloneLeavesItsOwner) {
  std::vector<std::string> log;
  TComponent root(nullptr);
  auto* a = new Tracked(&root, &log, "a");
  new Tracked(&root, &log, "b");
  delete a;
  ASSERT_EQ(root.ComponentCount(), 1);
  EXPECT_EQ(root.Components(0)->Name(), "b");
  EXPECT_EQ(root.Components(1), nullptr);
  EXPECT_EQ(root.Components(-1), nullptr);
}

TEST_F(TComponentTest, FindComponentIgnoresCaseAndNamesStayUnique) {
  TComponent root(nullptr);
  TComponent a(nullptr);
  auto* edit = new TEdit(&root);
  edit->SetName("edtSono");
  EXPECT_EQ(root.FindComponent("EDTSONO"), edit);
  EXPECT_EQ(root.FindComponent("edtMobilno"), nullptr);
  EXPECT_EQ(root.FindComponent(""), nullptr);
  auto* other = new TEdit(&root);
  EXPECT_THROW(other->SetName("EdtSono"), EComponentError);
  EXPECT_EQ(other->Name(), "");
}

TEST_F(TComponentTest, TagHoldsAPointer) {
  TComponent root(nullptr);
  TListView view(nullptr);
  root.SetTag(reinterpret_cast<intptr_t>(&view));
  EXPECT_EQ(reinterpret_cast<TListView*>(root.Tag()), &view);
}

TEST_F(TComponentTest, FreedFormTakesItsControlsAndHandlesWithIt) {
  auto* form = new TForm(nullptr);
  auto* box = new TGroupBox(form);
  box->SetParent(form);
  auto* edit = new TEdit(form);
  edit->SetParent(box);
  const HWND boxHandle = box->Handle(), editHandle = edit->Handle();
  EXPECT_EQ(FindControl(editHandle), edit);
  EXPECT_EQ(GetParentForm(edit), form);
  delete form;
  EXPECT_FALSE(IsWindow(boxHandle));
  EXPECT_FALSE(IsWindow(editHandle));
  EXPECT_EQ(FindControl(editHandle), nullptr);
}

TEST_F(TComponentTest, ChildOutlivingItsParentIsTakenOut) {
  auto* panel = new TPanel(nullptr);
  TEdit edit(nullptr);
  edit.SetParent(panel);
  EXPECT_EQ(panel->ControlCount(), 1);
  delete panel;
  EXPECT_EQ(edit.Parent(), nullptr);
  edit.SetText("still here");
  EXPECT_EQ(edit.Text(), "still here");
}

// ---- events ----

using TEventTest = ToolkitTest;

TEST_F(TEventTest, ClosureReportsWhetherItHasAHandler) {
  TNotifyEvent e;
  EXPECT_FALSE(e.Assigned());
  e(nullptr);  // nothing bound: nothing happens
  int calls = 0;
  e = [&](TObject*) { ++calls; };
  EXPECT_TRUE(e);
  e(nullptr);
  EXPECT_EQ(calls, 1);
  e = nullptr;
  EXPECT_FALSE(e);
}

TEST_F(TEventTest, SettingCheckedRunsTheClickHandlerOnlyOnChange) {
  TCheckBox box(nullptr);
  std::vector<bool> seen;
  box.OnClick = [&](TObject* sender) {
    seen.push_back(static_cast<TCheckBox*>(sender)->Checked());
  };
  box.SetChecked(true);
  box.SetChecked(true);
  box.SetChecked(false);
  EXPECT_EQ(seen, (std::vector<bool>{true, false}));
}

TEST_F(TEventTest, CheckBoxHandlersCanTickEachOther) {
  // A ticked box unticks the other one, which runs the other's handler too.
  TCheckBox a(nullptr), b(nullptr);
  int bClicks = 0;
  a.OnClick = [&](TObject*) {
    if (a.Checked()) b.SetChecked(false);
  };
  b.OnClick = [&](TObject*) { ++bClicks; };
  b.SetChecked(true);
  a.SetChecked(true);
  EXPECT_FALSE(b.Checked());
  EXPECT_EQ(bClicks, 2);
}

TEST_F(TEventTest, ExceptionFromHandlerSetFromCodeReachesTheCaller) {
  TCheckBox box(nullptr);
  box.OnClick = [](TObject*) { throw Exception("from code"); };
  EXPECT_THROW(box.SetChecked(true), Exception);
  EXPECT_TRUE(box.Checked());
  EXPECT_TRUE(recorder.messages.empty());
}

// ---- layouts ----

class TDemoBase : public TForm {
 public:
  explicit TDemoBase(TComponent* owner) : TDemoBase(owner, 0) { EndLayout(); }
  int loadedCalls = 0;
  std::vector<std::string> closes;
  void FormClose(TObject*, TCloseAction& action) {
    closes.push_back("close");
    action = caFree;
  }
  void Loaded() override {
    TForm::Loaded();
    ++loadedCalls;
  }

 protected:
  TDemoBase(TComponent* owner, int) : TForm(owner) {
    THandlerTable h;
    h.Add("FormClose", this, &TDemoBase::FormClose);
    ReadLayout(kLayout, h);
  }
  static const TFormLayout kLayout;
};

const TFormLayout TDemoBase::kLayout = {
    .Name = "frmDemoBase",
    .Properties = {{"Caption", "业务主窗口"},
                   {"ClientWidth", "640"},
                   {"ClientHeight", "480"},
                   {"Color", "16766925"},
                   {"KeyPreview", "true"}},
    .Events = {{"OnClose", "FormClose"}},
    .Items = {{.Name = "ActionListPublic", .Class = "TActionList"},
              {.Name = "actClose",
               .Class = "TAction",
               .Parent = "ActionListPublic",
               .Properties = {{"ImageIndex", "9"}}}}};

// A small form of the tests' own: a filter group aligned on top (a check box
// with a handler, an edit), a client panel, and a bottom panel with a close
// button. Item 1 is the check box, item 2 the edit.
const TFormLayout& FilterLayout() {
  static const TFormLayout layout = {
      .Name = "frmFilter",
      .Properties = {{"Caption", "筛选窗口"}},
      .Items = {
          {.Name = "grpFilter",
           .Class = "TGroupBox",
           .Caption = "筛选条件",
           .Width = 400,
           .Height = 80,
           .Properties = {{"Align", "alTop"}}},
          {.Name = "chkActive",
           .Class = "TCheckBox",
           .Parent = "grpFilter",
           .Caption = "启用：",
           .Left = 16,
           .Top = 20,
           .Width = 60,
           .Height = 17,
           .Events = {{"OnClick", "chkActiveClick"}}},
          {.Name = "edtCode",
           .Class = "TEdit",
           .Parent = "grpFilter",
           .Left = 90,
           .Top = 18,
           .Width = 120,
           .Height = 20,
           .TabOrder = 1,
           .Properties = {{"MaxLength", "10"}},
           .Events = {{"OnKeyPress", "OnCodeKeyPress"}}},
          {.Name = "pnlList",
           .Class = "TPanel",
           .Top = 80,
           .Width = 400,
           .Height = 180,
           .Properties = {{"Align", "alClient"}}},
          {.Name = "pnlButtons",
           .Class = "TPanel",
           .Top = 260,
           .Width = 400,
           .Height = 40,
           .Properties = {{"Align", "alBottom"}, {"BevelOuter", "bvNone"}}},
          {.Name = "btnClose",
           .Class = "TBitBtn",
           .Parent = "pnlButtons",
           .Left = 320,
           .Top = 8,
           .Width = 70,
           .Height = 24},
      }};
  return layout;
}

// The filter form on the demo base: its close button, made by the filter
// layout, takes the base layout's close action.
class TFilterForm : public TDemoBase {
 public:
  explicit TFilterForm(TComponent* owner, const TFormLayout& layout = FilterLayout())
      : TDemoBase(owner, 0) {
    THandlerTable h;
    h.Add("chkActiveClick", this, &TFilterForm::chkActiveClick);
    h.Add("OnCodeKeyPress", this, &TFilterForm::OnCodeKeyPress);
    ReadLayout(layout, h);
    ReadLayout(kCloseAction, THandlerTable());
    EndLayout();
  }
  void chkActiveClick(TObject*) { ++activeClicks; }
  void OnCodeKeyPress(TObject*, char& key) {
    if (key < '0' || key > '9') key = 0;
  }
  int activeClicks = 0;

 private:
  static const TFormLayout kCloseAction;
};

const TFormLayout TFilterForm::kCloseAction = {
    .Name = "frmFilter", .Items = {{.Name = "btnClose", .Properties = {{"Action", "actClose"}}}}};

// The helpers every class's property table is built from.
TEST(LayoutValues, EnumNamesAndBarSeparatedLists) {
  using namespace layout_values;
  enum TLetter { kA, kB };
  static constexpr TEnumName<TLetter> kLetters[] = {{"lA", kA}, {"lB", kB}};
  EXPECT_EQ(EnumFromName(kLetters, "lB", "letter"), kB);
  for (const char* unknown : {"", "lb", "lC"}) {
    try {
      EnumFromName(kLetters, unknown, "letter");
      ADD_FAILURE() << unknown;
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(std::string(e.what()), std::string("unknown letter ") + unknown);
    }
  }
  using TPieces = std::vector<std::string>;
  const struct {
    const char* text;
    TPieces keep, drop;
  } kLists[] = {
      {"", {}, {}},
      {"a", {"a"}, {"a"}},
      {"a|", {"a", ""}, {"a"}},
      {"|", {"", ""}, {""}},
      {"a||b", {"a", "", "b"}, {"a", "", "b"}},
  };
  for (const auto& list : kLists) {
    EXPECT_EQ(SplitAtBars(list.text, TTrailingEmpty::kKeep), list.keep) << list.text;
    EXPECT_EQ(SplitAtBars(list.text, TTrailingEmpty::kDrop), list.drop) << list.text;
  }
}

using TLayoutTest = ToolkitTest;

TEST_F(TLayoutTest, BuildsBaseThenDerivedAndRunsLoadedOnce) {
  auto* form = new TFilterForm(nullptr);
  EXPECT_EQ(form->Name(), "frmFilter");
  EXPECT_EQ(form->Caption(), "筛选窗口");
  EXPECT_EQ(form->loadedCalls, 1);
  EXPECT_EQ(form->Color(), 16766925);
  EXPECT_TRUE(form->KeyPreview());
  auto* chk = dynamic_cast<TCheckBox*>(form->FindComponent("chkActive"));
  auto* edt = dynamic_cast<TEdit*>(form->FindComponent("edtCode"));
  auto* grp = dynamic_cast<TGroupBox*>(form->FindComponent("grpFilter"));
  ASSERT_TRUE(chk && edt && grp);
  EXPECT_EQ(chk->Parent(), grp);
  EXPECT_EQ(chk->Caption(), "启用：");
  EXPECT_EQ(grp->Caption(), "筛选条件");
  EXPECT_EQ(edt->MaxLength(), 10);
  EXPECT_EQ(edt->TabOrder(), 1);
  EXPECT_EQ(chk->BoundsRect(), Bounds(16, 20, 60, 17));
  chk->SetChecked(true);
  EXPECT_EQ(form->activeClicks, 1);
  auto* btn = dynamic_cast<TBitBtn*>(form->FindComponent("btnClose"));
  ASSERT_TRUE(btn && btn->Action());
  EXPECT_EQ(btn->Action()->Name(), "actClose");
  EXPECT_EQ(btn->Action()->ImageIndex(), 9);
  delete form;
}

TEST_F(TLayoutTest, UnknownHandlerNameIsRefusedWithAClearError) {
  TFormLayout bad = FilterLayout();
  bad.Items[1].Events = {{"OnClick", "chkActiveClik"}};
  try {
    TFilterForm form(nullptr, bad);
    FAIL() << "the layout was built";
  } catch (const ELayoutError& e) {
    EXPECT_STREQ(e.what(),
                 "layout frmFilter, chkActive: no handler named 'chkActiveClik' for OnClick");
  }
}

TEST_F(TLayoutTest, HandlerOfTheWrongShapeUnknownEventsAndPropertiesAreRefused) {
  auto expectError = [](TFormLayout layout, const char* text) {
    try {
      TFilterForm form(nullptr, layout);
      ADD_FAILURE() << "built: " << text;
    } catch (const ELayoutError& e) {
      EXPECT_STREQ(e.what(), text);
    }
  };
  TFormLayout shape = FilterLayout();
  shape.Items[1].Events = {{"OnClick", "OnCodeKeyPress"}};
  expectError(shape, "layout frmFilter, chkActive: handler 'OnCodeKeyPress' does not fit OnClick");
  TFormLayout event = FilterLayout();
  event.Items[1].Events = {{"OnClik", "chkActiveClick"}};
  expectError(event, "layout frmFilter, chkActive: unknown event OnClik");
  TFormLayout prop = FilterLayout();
  prop.Items[2].Properties = {{"MaxLenght", "10"}};
  expectError(prop, "layout frmFilter, edtCode: unknown property MaxLenght");
  TFormLayout value = FilterLayout();
  value.Items[2].Properties = {{"MaxLength", "ten"}};
  expectError(value, "layout frmFilter, edtCode: property MaxLength: 'ten' is not a number");
  TFormLayout cls = FilterLayout();
  cls.Items[2].Class = "TEditt";
  expectError(cls, "layout frmFilter, edtCode: unknown class TEditt");
  TFormLayout parent = FilterLayout();
  parent.Items[2].Parent = "grpNowhere";
  expectError(parent, "layout frmFilter, edtCode: unknown parent grpNowhere");
}

TEST_F(TLayoutTest, AlignedControlsFollowTheFormsSize) {
  TFilterForm form(nullptr);
  auto* top = static_cast<TControl*>(form.FindComponent("grpFilter"));
  auto* client = static_cast<TControl*>(form.FindComponent("pnlList"));
  auto* bottom = static_cast<TControl*>(form.FindComponent("pnlButtons"));
  form.SetClientSize(800, 600);
  EXPECT_EQ(top->BoundsRect(), Bounds(0, 0, 800, 80));
  EXPECT_EQ(bottom->BoundsRect(), Bounds(0, 560, 800, 40));
  EXPECT_EQ(client->BoundsRect(), Bounds(0, 80, 800, 480));
  form.SetClientSize(500, 300);
  EXPECT_EQ(top->BoundsRect(), Bounds(0, 0, 500, 80));
  EXPECT_EQ(bottom->BoundsRect(), Bounds(0, 260, 500, 40));
  EXPECT_EQ(client->BoundsRect(), Bounds(0, 80, 500, 180));
  bottom->Hide();
  EXPECT_EQ(client->BoundsRect(), Bounds(0, 80, 500, 220));
}

TEST_F(TLayoutTest, ControlAtPosFindsDisabledChildrenOnlyWhenAsked) {
  TFilterForm form(nullptr);
  auto* grp = static_cast<TWinControl*>(form.FindComponent("grpFilter"));
  auto* edt = static_cast<TEdit*>(form.FindComponent("edtCode"));
  EXPECT_EQ(grp->ControlAtPos({100, 25}, false, true), edt);
  edt->SetEnabled(false);
  EXPECT_EQ(grp->ControlAtPos({100, 25}, false, true), nullptr);
  EXPECT_EQ(grp->ControlAtPos({100, 25}, true, true), edt);
  EXPECT_EQ(grp->ControlAtPos({100, 25}, true, false), nullptr);  // windowed ones not asked for
  EXPECT_EQ(grp->ControlAtPos({5, 70}, true, true), nullptr);
}

// ---- list view ----

class TListViewTest : public ToolkitTest {
 protected:
  void Fill(const std::vector<std::pair<std::string, std::string>>& rows) {
    view.Columns()->Add()->SetCaption("工单编号");
    view.Columns()->Add()->SetCaption("备注");
    for (auto& [caption, remark] : rows) {
      TListItem* item = view.Items()->Add();
      item->SubItems()->Add(remark);
      item->SetCaption(caption);
    }
  }
  std::vector<std::string> Remarks() {
    std::vector<std::string> out;
    for (int i = 0; i < view.Items()->Count(); ++i) out.push_back(view.CellText(i, 1));
    return out;
  }
  TListView view{nullptr};
};

TEST_F(TListViewTest, CellsReadByRowAndColumn) {
  Fill({{"1001", "冻结"}});
  EXPECT_EQ(view.CellText(0, 0), "1001");
  EXPECT_EQ(view.CellText(0, 1), "冻结");
  EXPECT_EQ(view.CellText(0, 2), "");
  EXPECT_EQ(view.CellText(1, 0), "");
  EXPECT_EQ(view.CellText(-1, 0), "");
}

TEST_F(TListViewTest, SortIsStable) {
  Fill({{"2", "a"}, {"1", "b"}, {"2", "c"}, {"1", "d"}, {"2", "e"}});
  view.OnCompare = [](TObject*, TListItem* x, TListItem* y, intptr_t, int& r) {
    r = x->Caption() < y->Caption() ? -1 : (x->Caption() > y->Caption() ? 1 : 0);
  };
  view.AlphaSort();
  EXPECT_EQ(Remarks(), (std::vector<std::string>{"b", "d", "a", "c", "e"}));
  for (int i = 0; i < view.Items()->Count(); ++i) EXPECT_EQ(view.Items()->Item(i)->Index(), i);
}

TEST_F(TListViewTest, NoResultFromTheHandlerKeepsTheOrder) {
  Fill({{"3", "a"}, {"1", "b"}, {"2", "c"}});
  view.OnCompare = [](TObject*, TListItem*, TListItem*, intptr_t, int&) {};
  view.AlphaSort();
  EXPECT_EQ(Remarks(), (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(TListViewTest, InconsistentAnswersStillGiveEveryRowOnce) {
  std::vector<std::pair<std::string, std::string>> rows;
  for (int i = 0; i < 37; ++i) rows.push_back({std::to_string(i % 5), std::to_string(i)});
  Fill(rows);
  for (int answer : {1, -1}) {
    view.OnCompare = [answer](TObject*, TListItem*, TListItem*, intptr_t, int& r) { r = answer; };
    view.AlphaSort();
    std::vector<std::string> got = Remarks();
    std::sort(got.begin(), got.end());
    std::vector<std::string> want;
    for (int i = 0; i < 37; ++i) want.push_back(std::to_string(i));
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want) << "answer " << answer;
  }
}

TEST_F(TListViewTest, FailingCompareLeavesTheRowsAsTheyWere) {
  Fill({{"2", "a"}, {"1", "b"}});
  view.OnCompare = [](TObject*, TListItem*, TListItem*, intptr_t, int&) {
    throw EConvertError("'x' is not a valid integer value");
  };
  EXPECT_THROW(view.AlphaSort(), EConvertError);
  EXPECT_EQ(Remarks(), (std::vector<std::string>{"a", "b"}));
}

TEST_F(TListViewTest, WithoutACompareHandlerCaptionsSortByGbkBytes) {
  Fill({{"张", "1"}, {"阿", "2"}, {"b", "3"}});
  view.AlphaSort();
  EXPECT_EQ(Remarks(), (std::vector<std::string>{"3", "2", "1"}));
}

TEST_F(TListViewTest, ChangeEventSeesEveryTextChangeAndClearReportsNothing) {
  std::vector<TItemChange> changes;
  view.OnChange = [&](TObject*, TListItem*, TItemChange c) { changes.push_back(c); };
  Fill({{"1", "a"}});
  EXPECT_EQ(changes, (std::vector<TItemChange>{ctText, ctText}));
  changes.clear();
  view.Items()->Item(0)->SetChecked(true);
  EXPECT_EQ(changes, (std::vector<TItemChange>{ctState}));
  changes.clear();
  view.Items()->BeginUpdate();
  view.Items()->Clear();
  view.Items()->EndUpdate();
  EXPECT_TRUE(changes.empty());
  EXPECT_EQ(view.Items()->Count(), 0);
}

TEST_F(TListViewTest, ManyRowsAddedOneByOne) {
  view.Columns()->Add();
  view.Columns()->Add();
  for (int i = 0; i < 100000; ++i) {
    TListItem* item = view.Items()->Add();
    item->SubItems()->Add("备注");
    item->SetCaption(std::to_string(i));
  }
  TApplication::Instance()->ProcessMessages();
  EXPECT_EQ(view.Items()->Count(), 100000);
  EXPECT_EQ(view.CellText(99999, 0), "99999");
}

// ---- text ----

TEST_F(TEventTest, ControlsGiveBackTheGbkBytesTheyWereGiven) {
  TEdit edit(nullptr);
  for (const std::string& text :
       {std::string("小额支付帐户取款(转预存)"), std::string("[1332] 小额支付冻结"),
        std::string("\x81\x30", 2) /* a lead byte with a trail byte that is not GBK */,
        std::string("ab\xFF", 3), std::string("\xD5", 1) /* a cut-off character */}) {
    edit.SetText(text);
    EXPECT_EQ(edit.Text(), text);
  }
  TComboBox box(nullptr);
  box.Items()->Add("[1332] 小额支付冻结");
  box.SetItemIndex(0);
  EXPECT_EQ(box.Text(), "[1332] 小额支付冻结");
  EXPECT_EQ(box.Items()->Strings(0), "[1332] 小额支付冻结");
}

TEST_F(TEventTest, ConversionsOfTheToolkit) {
  EXPECT_EQ(StrToInt64("000123456789012345"), 123456789012345);
  EXPECT_EQ(StrToInt64("-150"), -150);
  EXPECT_EQ(StrToInt64("+7"), 7);
  EXPECT_THROW(StrToInt64(""), EConvertError);
  EXPECT_THROW(StrToInt64("12a"), EConvertError);
  EXPECT_THROW(StrToInt64(" 12"), EConvertError);
  EXPECT_THROW(StrToInt64("+-5"), EConvertError);
  EXPECT_THROW(StrToInt64("+"), EConvertError);
  EXPECT_THROW(StrToInt64("99999999999999999999"), EConvertError);
  EXPECT_EQ(Trim(" \t 13800138000 \r\n"), "13800138000");
  EXPECT_EQ(Trim("   "), "");
  const TDateTime d = TDateTime::EncodeDate(2026, 12, 7) + TDateTime::EncodeTime(23, 59, 59);
  EXPECT_EQ(FormatDateTime("yyyymmdd", d) + FormatDateTime("HHmmss", d), "20261207235959");
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", d), "2026-12-07 23:59:59");
  EXPECT_EQ(FormatDateTime("yyyymmdd", TDateTime::EncodeDate(2024, 2, 29)), "20240229");
  EXPECT_THROW(TDateTime::EncodeDate(2023, 2, 29), EConvertError);
}

}  // namespace
