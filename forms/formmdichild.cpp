#include "forms/formmdichild.h"

#include <array>
#include <string>
#include <utility>

#include "buttonimages.h"
#include "forms/keyfilters.h"
#include "forms/sharedactions.h"
#include "guicommon/guiforms.h"
#include "toolkit/actnlist.h"
#include "toolkit/hintwindow.h"
#include "toolkit/imglist.h"
#include "toolkit/layout.h"

using namespace MBaseWindow;

TfrmMDIChild* frmMDIChild = nullptr;

namespace {

// The restored rectangle of a base window (it opens maximised).
constexpr int kRestoredLeft = -6;
constexpr int kRestoredTop = -6;
constexpr int kRestoredWidth = 640;
constexpr int kRestoredHeight = 500;

// WM_NEXTDLGCTL: wParam 0 moves to the next tab stop, non-zero (with lParam
// 0) to the previous one.
constexpr WPARAM kNextTabStop = 0;
constexpr WPARAM kPreviousTabStop = static_cast<WPARAM>(-1);

// A component without a window; its design position has no effect.
TLayoutItem NonVisual(const char* name, const char* className, int left, int top,
                      TLayoutValues properties) {
  TLayoutItem item;
  item.Name = name;
  item.Class = className;
  item.Left = left;
  item.Top = top;
  item.Properties = std::move(properties);
  return item;
}

// The base layout: the form, its image list and its action list with every
// shared action in list order. Only actClose and actExit have handlers.
TFormLayout MakeBaseLayout() {
  TFormLayout layout{.Name = "frmMDIChild",
                     .Properties = {{"Caption", "业务主窗口"},
                                    {"Left", "258"},
                                    {"Top", "183"},
                                    {"ClientWidth", "640"},
                                    {"ClientHeight", "480"},
                                    {"BorderIcons", "[biSystemMenu]"},
                                    {"BorderStyle", "bsSingle"},
                                    {"Color", std::to_string(kBaseWindowColor)},
                                    {"Font.Charset", std::to_string(GB2312_CHARSET)},
                                    {"Font.Color", std::to_string(clWindowText)},
                                    {"Font.Height", "-12"},
                                    {"Font.Name", "宋体"},
                                    {"Font.Style", "0"},
                                    {"FormStyle", "fsMDIChild"},
                                    {"KeyPreview", "True"},
                                    {"Position", "poDefault"},
                                    {"Visible", "True"},
                                    {"PixelsPerInch", "96"},
                                    {"TextHeight", "12"},
                                    {"OldCreateOrder", "False"}},
                     .Events = {{"OnClose", "FormClose"},
                                {"OnKeyDown", "OnControlKeyUp"},
                                {"OnMouseMove", "FormMouseMove"}},
                     .Items = {}};
  layout.Items.push_back(NonVisual("ImageListNormal", "TImageList", 32, 448,
                                   {{"Width", std::to_string(kButtonImageWidth)},
                                    {"Height", std::to_string(kButtonImageHeight)},
                                    {"BkColor", std::to_string(kButtonImageBackground)},
                                    {"Masked", "False"},
                                    {"AllocBy", "4"}}));
  layout.Items.push_back(
      NonVisual("ActionListPublic", "TActionList", 3, 448, {{"Images", "ImageListNormal"}}));
  for (const SSharedAction& action : SharedActions()) {
    TLayoutItem item = NonVisual(action.name, "TAction", 0, 0,
                                 {{"ImageIndex", std::to_string(action.imageIndex)}});
    item.Parent = "ActionListPublic";  // joins the list, in list order
    const std::string name = action.name;
    if (name == "actClose") item.Events = {{"OnExecute", "actCloseExecute"}};
    if (name == "actExit") item.Events = {{"OnExecute", "actExitExecute"}};
    layout.Items.push_back(std::move(item));
  }
  return layout;
}

const TFormLayout& BaseLayout() {
  static const TFormLayout layout = MakeBaseLayout();
  return layout;
}

}  // namespace

TfrmMDIChild::TfrmMDIChild(TComponent* Owner) : TfrmMDIChild(Owner, TDerivedConstruction{}) {
  EndLayout();
}

TfrmMDIChild::TfrmMDIChild(TComponent* Owner, TDerivedConstruction) : TForm(Owner) {
  THandlerTable handlers;
  PublishHandlers(handlers);
  ReadLayout(BaseLayout(), handlers);
  ImageListNormal = dynamic_cast<TImageList*>(FindComponent("ImageListNormal"));
  ActionListPublic = dynamic_cast<TActionList*>(FindComponent("ActionListPublic"));
#define MPAY_SHARED_ACTION_BIND_(NAME, IMAGE, LABEL) \
  NAME = dynamic_cast<TAction*>(FindComponent(#NAME));
  MPAY_SHARED_ACTIONS(MPAY_SHARED_ACTION_BIND_)
#undef MPAY_SHARED_ACTION_BIND_
  FillButtonImages(ImageListNormal);
}

TfrmMDIChild::~TfrmMDIChild() = default;

void TfrmMDIChild::PublishHandlers(THandlerTable& Handlers) {
  Handlers.Add("FormClose", this, &TfrmMDIChild::FormClose);
  Handlers.Add("actExitExecute", this, &TfrmMDIChild::actExitExecute);
  Handlers.Add("OnListViewColumnClick", this, &TfrmMDIChild::OnListViewColumnClick);
  Handlers.Add("OnListViewCompare", this, &TfrmMDIChild::OnListViewCompare);
  Handlers.Add("OnListViewChange", this, &TfrmMDIChild::OnListViewChange);
  Handlers.Add("OnListViewKeyUp", this, &TfrmMDIChild::OnListViewKeyUp);
  Handlers.Add("OnEditKeyPress", this, &TfrmMDIChild::OnEditKeyPress);
  Handlers.Add("OnEditKeyPressDeciPoint", this, &TfrmMDIChild::OnEditKeyPressDeciPoint);
  Handlers.Add("OnEditKeyPressTraverse", this, &TfrmMDIChild::OnEditKeyPressTraverse);
  Handlers.Add("OnControlKeyUp", this, &TfrmMDIChild::OnControlKeyUp);
  Handlers.Add("actCloseExecute", this, &TfrmMDIChild::actCloseExecute);
  Handlers.Add("OnEditKeyPressTraverseChar", this, &TfrmMDIChild::OnEditKeyPressTraverseChar);
  Handlers.Add("OnEditKeyPressEmail", this, &TfrmMDIChild::OnEditKeyPressEmail);
  Handlers.Add("FormMouseMove", this, &TfrmMDIChild::FormMouseMove);
  Handlers.Add("OnComboBoxDropDown", this, &TfrmMDIChild::OnComboBoxDropDown);
}

void TfrmMDIChild::CreateParams(TCreateParams& Params) {
  TForm::CreateParams(Params);
  Params.Style |= WS_MAXIMIZE;
  Params.X = kRestoredLeft;
  Params.Y = kRestoredTop;
  Params.Width = kRestoredWidth;
  Params.Height = kRestoredHeight;
}

void TfrmMDIChild::Loaded() {
  TForm::Loaded();
  InitForm(this);
  // Handled once start-up has finished, in this order: forward from the
  // control the shown form made active, then back to it.
  PostMessage(Handle(), WM_NEXTDLGCTL, kNextTabStop, 0);
  PostMessage(Handle(), WM_NEXTDLGCTL, kPreviousTabStop, 0);
}

void TfrmMDIChild::InitForm(TForm* Form) {
  if (Form == nullptr) return;
  Form->SetColor(static_cast<TColor>(kBaseWindowColor));
  MakeInit(Form);
  SetGUIStyle(Form);
  InitListView(Form);
  InitTComboBox(Form);
  TComponent* existing = Form->FindComponent(kHintWindowName);
  // A component of another kind under the hint window's name would make the
  // new window's name clash; the form then simply shows no hints.
  if (existing == nullptr) {
    auto* hint = new THintWindow(Form);
    hint->SetColor(static_cast<TColor>(kHintWindowColor));
    hint->SetParent(Form);
    hint->SetName(kHintWindowName);
    hint->Hide();
  }
  CMMouseMove(Form);
  SetNextFocus(Form);
}

void TfrmMDIChild::FormClose(TObject*, TCloseAction& Action) {
  Action = caFree;
}

void TfrmMDIChild::actCloseExecute(TObject*) {
  Close();
}

void TfrmMDIChild::actExitExecute(TObject*) {
  Close();
}

void TfrmMDIChild::SetNextFocus(TControl* C) {
  auto* form = dynamic_cast<TForm*>(C);
  if (form == nullptr) return;
  form->SetKeyPreview(true);
  form->OnKeyDown = TKeyEvent(this, &TfrmMDIChild::OnControlKeyUp);
}

void TfrmMDIChild::OnControlKeyUp(TObject*, uint16_t& Key, TShiftState) {
  if (Key == VK_RETURN) PostMessage(Handle(), WM_NEXTDLGCTL, kNextTabStop, 0);
}

namespace {

void Filter(bool accepted, char& key) {
  if (!accepted) key = 0;
}

}  // namespace

void TfrmMDIChild::OnEditKeyPress(TObject*, char& Key) {
  Filter(AcceptsWholeNumberKey(Key), Key);
}

void TfrmMDIChild::OnEditKeyPressDeciPoint(TObject*, char& Key) {
  Filter(AcceptsDecimalKey(Key), Key);
}

void TfrmMDIChild::OnEditKeyPressTraverse(TObject*, char& Key) {
  Filter(AcceptsRangeKey(Key), Key);
}

void TfrmMDIChild::OnEditKeyPressTraverseChar(TObject*, char& Key) {
  Filter(AcceptsSingleByteKey(Key), Key);
}

void TfrmMDIChild::OnEditKeyPressEmail(TObject*, char& Key) {
  Filter(AcceptsSingleByteKey(Key), Key);
}
