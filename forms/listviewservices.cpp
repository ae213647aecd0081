#include <limits>
#include <new>
#include <typeinfo>

#include "columnfitting.h"
#include "forms/formmdichild.h"
#include "forms/listviewcapture.h"
#include "forms/sortcompare.h"
#include "forms/widthrules.h"
#include "guicommon/guiforms.h"
#include "toolkit/listview.h"
#include "toolkit/menus.h"

using namespace MBaseWindow;

namespace {

constexpr uint16_t kKeyA = 65;
constexpr uint16_t kKeyT = 84;
constexpr uint16_t kKeyZ = 90;

// A sort asks for every pair of rows, column fitting for every text of every
// row added; testing for the exact class first spares each a dynamic_cast.
inline TListView* AsListView(TObject* sender) {
  if (sender != nullptr && typeid(*sender) == typeid(TListView)) [[likely]]
    return static_cast<TListView*>(sender);
  return dynamic_cast<TListView*>(sender);
}

}  // namespace

void TfrmMDIChild::InitListView(TComponent* C) {
  if (C == nullptr) return;
  auto attach = [this](TListView* listView) {
    SubclassListViewWindow(listView->Handle());
    HookListViewPopupMenu(listView);
    if (!listView->OnCompare)
      listView->OnCompare = TLVCompareEvent(this, &TfrmMDIChild::OnListViewCompare);
    if (!listView->OnColumnClick)
      listView->OnColumnClick = TLVColumnClickEvent(this, &TfrmMDIChild::OnListViewColumnClick);
    if (!listView->OnChange)
      listView->OnChange = TLVChangeEvent(this, &TfrmMDIChild::OnListViewChange);
    if (!listView->OnKeyUp) listView->OnKeyUp = TKeyEvent(this, &TfrmMDIChild::OnListViewKeyUp);
  };
  if (auto* listView = dynamic_cast<TListView*>(C)) {
    attach(listView);
    return;
  }
  for (int i = C->ComponentCount() - 1; i >= 0; --i) {
    TComponent* component = C->Components(i);
    if (auto* listView = dynamic_cast<TListView*>(component))
      attach(listView);
    else if (auto* frame = dynamic_cast<TFrame*>(component))
      InitListView(frame);
  }
}

bool TfrmMDIChild::HookListViewPopupMenu(TListView* L) {
  if (L == nullptr) return false;
  try {
    TPopupMenu* menu = L->PopupMenu();
    if (menu == nullptr) menu = new TPopupMenu(L);
    L->SetPopupMenu(menu);
    // The list view owns its copy items: they leave the menu when it is
    // destroyed, also when the menu belongs to someone else and lives on, so
    // no item is left holding a dead list view in its tag.
    auto addItem = [&](const char* caption, void (TfrmMDIChild::*handler)(TObject*)) {
      auto* item = new TMenuItem(L);
      item->SetCaption(caption);
      item->SetTag(reinterpret_cast<intptr_t>(L));
      item->OnClick = TNotifyEvent(this, handler);
      menu->Items()->Insert(0, item);
    };
    addItem("复制记录", &TfrmMDIChild::OnListViewSelectionCopy);
    addItem("复制单元格", &TfrmMDIChild::OnListViewCellCopy);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

void TfrmMDIChild::OnListViewCellCopy(TObject* Sender) {
  auto* item = dynamic_cast<TMenuItem*>(Sender);
  if (item != nullptr && item->Tag() != 0)
    CopyListViewCell(reinterpret_cast<TListView*>(item->Tag()));
}

void TfrmMDIChild::OnListViewSelectionCopy(TObject* Sender) {
  auto* item = dynamic_cast<TMenuItem*>(Sender);
  if (item != nullptr && item->Tag() != 0)
    CopyListViewSelection(reinterpret_cast<TListView*>(item->Tag()));
}

void TfrmMDIChild::OnListViewColumnClick(TObject* Sender, TListColumn* Column) {
  auto* listView = dynamic_cast<TListView*>(Sender);
  if (listView == nullptr || Column == nullptr) return;
  listView->SetTag(NextSortTag(listView->Tag(), Column->Index()));
  listView->AlphaSort();
}

void TfrmMDIChild::OnListViewCompare(TObject* Sender, TListItem* Item1, TListItem* Item2, intptr_t,
                                     int& Compare) {
  TListView* listView = AsListView(Sender);
  if (listView == nullptr || Item1 == nullptr || Item2 == nullptr) return;
  // The pair is read in one toolkit call, by the column the sort tag names
  // whatever the number of columns; whether that column exists comes with it.
  int column = -1;
  bool ascending = true;
  const bool sorted =
      DecodeSortTag(listView->Tag(), std::numeric_limits<int>::max(), column, ascending);
  TRowPairReading pair;
  listView->ReadRowPair(Item1, Item2, sorted ? column : -1, pair);
  if (ComparePinnedRows(pair.imageIndex[0], pair.imageIndex[1], Compare)) return;
  if (!sorted || !pair.columnExists) return;
  // A text that does not convert leaves the result the list view handed in.
  CompareCellTexts(pair.columnTag, pair.text[0], pair.text[1], Compare);
  if (!ascending) Compare = -Compare;
}

void TfrmMDIChild::OnListViewChange(TObject* Sender, TListItem*, TItemChange) {
  // Runs for every text of every row added: it only marks the list view, and
  // the columns are fitted once the rows are in (columnfitting.h).
  if (TListView* listView = AsListView(Sender)) ScheduleColumnFit(listView);
}

void TfrmMDIChild::OnListViewKeyUp(TObject* Sender, uint16_t& Key, TShiftState Shift) {
  auto* listView = dynamic_cast<TListView*>(Sender);
  if (listView == nullptr) return;
  const bool ctrl = (Shift & ssCtrl) != 0;
  if (Key == VK_RETURN) {
    if (listView->OnDblClick) listView->OnDblClick(Sender);
  } else if (Key == VK_UP || Key == VK_DOWN) {
    if (listView->OnClick) listView->OnClick(listView);
  } else if (Key == kKeyA && ctrl) {
    SelectListViewRows(listView, saCheckAll);
  } else if (Key == kKeyZ && ctrl) {
    SelectListViewRows(listView, saUncheckAll);
  } else if (Key == kKeyT && ctrl) {
    SelectListViewRows(listView, saInvertCheck);
  }
}

void TfrmMDIChild::SelectListViewRows(TListView* L, TSelectionAction Action) {
  if (L == nullptr || !L->Checkboxes()) return;
  TListItems* items = L->Items();
  for (int i = items->Count() - 1; i >= 0; --i) {
    TListItem* item = items->Item(i);
    item->SetChecked(CheckMarkAfter(Action, item->Checked()));
  }
}
