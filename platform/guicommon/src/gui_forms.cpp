#include "guicommon/guiforms.h"

#include <QClipboard>
#include <QGuiApplication>
#include <algorithm>
#include <functional>

#include "toolkit/qtext.h"
#include "toolkit/toolkit.h"

namespace {

// Every control the form owns, with the controls of the frames it owns.
void ForEachControl(TComponent* owner, const std::function<void(TControl*)>& f) {
  for (int i = 0; i < owner->ComponentCount(); ++i) {
    TComponent* c = owner->Components(i);
    if (auto* control = dynamic_cast<TControl*>(c)) f(control);
    if (dynamic_cast<TFrame*>(c)) ForEachControl(c, f);
  }
}

std::string DigitsOnly(const std::string& text) {
  std::string digits;
  for (char c : text) {
    if (c >= '0' && c <= '9') digits.push_back(c);
  }
  return digits;
}

void ToClipboard(const std::string& gbk) {
  QGuiApplication::clipboard()->setText(GbkToQString(gbk));
}

}  // namespace

void MakeInit(TForm* form) {
  if (!form) return;
  TFont* font = form->Font();
  if (font->Name().empty()) {
    const TFont package;  // the toolkit's default is the package font
    font->Assign(package);
  }
  if (font->Charset() == DEFAULT_CHARSET) font->SetCharset(GB2312_CHARSET);
}

void SetGUIStyle(TForm* form) {
  if (!form) return;
  ForEachControl(form, [](TControl* c) {
    if (c->ParentFont()) c->SetParentFont(true);  // take the parent's font again
  });
}

void OnEditPaste(TEdit* edit) {
  if (!edit) return;
  edit->SetPasteFilter(&DigitsOnly);
}

void CopyListViewCell(TListView* listView) {
  if (!listView) return;
  const TPoint point{GET_X_LPARAM(listView->Tag()), GET_Y_LPARAM(listView->Tag())};
  int row, column;
  if (!listView->CellAt(point, &row, &column)) return;
  ToClipboard(listView->CellText(row, column));
}

void CopyListViewSelection(TListView* listView) {
  if (!listView) return;
  const int columns = std::max(listView->Columns()->Count(), 1);
  std::string text;
  bool any = false;
  TListItems* items = listView->Items();
  for (int row = 0; row < items->Count(); ++row) {
    if (!items->Item(row)->Selected()) continue;
    any = true;
    for (int c = 0; c < columns; ++c) {
      if (c) text.push_back('\t');
      text += listView->CellText(row, c);
    }
    text.push_back('\n');
  }
  if (any) ToClipboard(text);
}
