#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "forms/lookup.h"
#include "guicommon/list_export.h"
#include "records/mmicropaymentdef.h"
#include "toolkit/listview.h"

// What a cell's text may need besides its record.
struct SCellContext {
  CBasicLookup<TCNameCodeInfoList>* pBusiTypes;  // the business types' "[%d] %s" texts
};

// One column of a result list: its caption, its width and how a record gives
// its cell. The first column is the row's caption, the others its sub-items.
template <class TRecord>
struct SListColumn {
  const char* sCaption;
  int iWidth;
  // The cell's text: a field of the record itself, or scratch filled with it.
  const std::string& (*pCell)(const TRecord& record, const SCellContext& context,
                              std::string& scratch);
  // What the cell is when the list is saved: codes, numbers of phones and
  // orders are text (leading zeros stay).
  MListExport::TCellKind iKind = MListExport::TCellKind::Text;
};

// The kinds of a table's columns, in column order.
template <class TRecord>
std::vector<MListExport::TCellKind> ColumnKinds(std::span<const SListColumn<TRecord>> table) {
  std::vector<MListExport::TCellKind> kinds;
  for (const SListColumn<TRecord>& one : table) kinds.push_back(one.iKind);
  return kinds;
}

// The log query's seven columns and the user query's eleven.
std::span<const SListColumn<MMicroPaymentDef::SMpInfo>> LogColumns();
std::span<const SListColumn<MMicroPaymentDef::SMpUserInfo>> UserColumns();

// Replaces the list view's columns with a table's, in one batch.
template <class TRecord>
void SetListColumns(TListColumns* columns, std::span<const SListColumn<TRecord>> table) {
  columns->BeginUpdate();
  columns->Clear();
  for (const SListColumn<TRecord>& one : table) {
    TListColumn* column = columns->Add();
    column->SetCaption(one.sCaption);
    column->SetWidth(one.iWidth);
  }
  columns->EndUpdate();
}

// Adds one row per record: the sub-items first, in column order and in one
// change of the row, then the caption, each cell as the table says.
template <class TRecord>
void AddListRows(TListItems* items, std::span<const SListColumn<TRecord>> table,
                 const std::vector<TRecord>& records, const SCellContext& context) {
  if (table.empty()) return;
  // Each cell is formatted into scratch of its own, kept from row to row.
  std::vector<std::string> scratch(table.size());
  std::vector<std::string_view> cells(table.size() - 1);
  for (const TRecord& record : records) {
    TListItem* item = items->Add();
    for (size_t c = 1; c < table.size(); ++c)
      cells[c - 1] = table[c].pCell(record, context, scratch[c]);
    item->SubItems()->AddStrings(cells);
    item->SetCaption(table[0].pCell(record, context, scratch[0]));
  }
}
