#include <string>

#include "forms/formmdichild.h"
#include "forms/sharedactions.h"
#include "forms/widthrules.h"
#include "toolkit/extctrls.h"
#include "toolkit/hintwindow.h"
#include "toolkit/stdctrls.h"

using namespace MBaseWindow;

namespace {

// Containers report the pointer over their disabled children; edits report
// it over themselves, which hides the hint.
bool ReportsMouseMoves(TComponent* component) {
  return dynamic_cast<TGroupBox*>(component) || dynamic_cast<TPanel*>(component) ||
         dynamic_cast<TScrollBox*>(component) || dynamic_cast<TControlBar*>(component) ||
         dynamic_cast<THeaderControl*>(component) || dynamic_cast<TToolBar*>(component) ||
         dynamic_cast<TCoolBar*>(component) || dynamic_cast<TTabSheet*>(component) ||
         dynamic_cast<TEdit*>(component);  // TLabeledEdit included
}

}  // namespace

void TfrmMDIChild::CMMouseMove(TControl* C) {
  if (C == nullptr) return;
  const TMouseMoveEvent handler(this, &TfrmMDIChild::FormMouseMove);
  for (int i = 0; i < C->ComponentCount(); ++i) {
    TComponent* component = C->Components(i);
    if (auto* frame = dynamic_cast<TFrame*>(component)) {
      frame->OnMouseMove = handler;
      CMMouseMove(frame);
    } else if (ReportsMouseMoves(component)) {
      static_cast<TControl*>(component)->OnMouseMove = handler;
    }
  }
}

void TfrmMDIChild::FormMouseMove(TObject* Sender, TShiftState, int X, int Y) {
  auto* control = dynamic_cast<TWinControl*>(Sender);
  if (control == nullptr) return;
  TForm* form = GetParentForm(control);
  if (form == nullptr) return;
  auto* hint = dynamic_cast<THintWindow*>(form->FindComponent(kHintWindowName));
  if (hint == nullptr) return;

  TControl* child = control->ControlAtPos(TPoint{X, Y}, true, true);
  std::string text;
  int width = 0, textWidth = 0;
  if (auto* edit = dynamic_cast<TEdit*>(child)) {  // TLabeledEdit included
    text = edit->Text();
    width = edit->Width();
    textWidth = form->Canvas()->TextWidth(text);
  } else if (auto* combo = dynamic_cast<TComboBox*>(child)) {
    text = combo->Text();
    width = combo->Width();
    textWidth = combo->Canvas()->TextWidth(text);
  }
  if (!HintNeeded(text.empty(), width, textWidth)) {
    hint->ReleaseHandle();
    return;
  }
  const TRect needed = hint->CalcHintRect(form->Width(), text);
  TPoint pointer;
  GetCursorPos(&pointer);
  const SHintRect r = HintRectAt(pointer.x, pointer.y, needed.Width(), needed.Height());
  hint->ActivateHint(Rect(r.left, r.top, r.right, r.bottom), text);
}

void TfrmMDIChild::InitTComboBox(TComponent* C) {
  if (C == nullptr) return;
  const TNotifyEvent handler(this, &TfrmMDIChild::OnComboBoxDropDown);
  if (auto* combo = dynamic_cast<TComboBox*>(C)) {
    if (!combo->OnDropDown) combo->OnDropDown = handler;
    return;
  }
  for (int i = C->ComponentCount() - 1; i >= 0; --i) {
    TComponent* component = C->Components(i);
    if (auto* combo = dynamic_cast<TComboBox*>(component)) {
      if (!combo->OnDropDown) combo->OnDropDown = handler;
    } else if (auto* frame = dynamic_cast<TFrame*>(component)) {
      InitTComboBox(frame);
    }
  }
}

void TfrmMDIChild::OnComboBoxDropDown(TObject* Sender) {
  auto* combo = dynamic_cast<TComboBox*>(Sender);
  if (combo == nullptr) return;
  TForm* form = GetParentForm(combo);
  if (form == nullptr) return;
  TStrings* items = combo->Items();
  int widest = 0;
  for (int i = items->Count() - 1; i >= 0; --i) {
    const int itemWidth = form->Canvas()->TextWidth(items->Strings(i));
    if (itemWidth > widest) widest = itemWidth;
  }
  const int width = DropDownWidth(combo->Width(), widest, items->Count(), combo->DropDownCount());
  SendMessage(combo->Handle(), CB_SETDROPPEDWIDTH, static_cast<WPARAM>(width), 0);
}
