#pragma once

// What a list view keeps behind its public classes: the rows with their text
// store, the columns, the model that shows them, and the update batches.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/listview.h"

namespace toolkit_detail {

class ListModel;
class ListState;

// A row's sub-item texts: the end offset of each text (4 bytes each), then
// the texts back to back. They live inside the row while they fit, so a sort
// reading a cell fetches one piece of memory per row; longer rows take one
// allocation of their own.
class RowTexts {
 public:
  RowTexts() = default;
  RowTexts(const RowTexts&) = delete;
  RowTexts& operator=(const RowTexts&) = delete;
  ~RowTexts();
  int Count() const { return static_cast<int>(iCount); }
  // The text at index without a copy; empty outside 0..Count()-1.
  std::string_view View(int index) const {
    if (index < 0 || static_cast<uint32_t>(index) >= iCount) return {};
    const uint32_t begin = index == 0 ? 0 : End(index - 1);
    return {pBlock + size_t{4} * iCount + begin, End(index) - begin};
  }
  // Replaces the texts index .. index + removed - 1 (removed is 0 or 1) with
  // text, or with nothing when text is null. Throws std::length_error when
  // the texts would pass 4 GiB together (and std::bad_alloc), leaving them
  // unchanged.
  void Splice(int index, int removed, const std::string* text);
  // Appends the texts in one change (the same exceptions).
  void Append(std::span<const std::string_view> texts);
  void Clear();

 private:
  static constexpr size_t kInlineBytes = 128;
  uint32_t End(int index) const {
    uint32_t end;
    std::memcpy(&end, pBlock + size_t{4} * static_cast<size_t>(index), 4);
    return end;
  }
  char* pBlock = aInline;  // aInline or an allocation of the texts' own
  uint32_t iCount = 0;
  char aInline[kInlineBytes];
};

class ListRow;

// A row's sub-items as a TStrings; every change is reported to the list view.
class RowSubItems final : public TStrings {
 public:
  explicit RowSubItems(ListRow* row) : pRow(row) {}
  ~RowSubItems() override;
  int Count() const override;
  std::string Strings(int index) const override;
  void Put(int index, const std::string& text) override;
  void Insert(int index, const std::string& text) override;
  void Delete(int index) override;
  void Clear() override;
  void AddStrings(std::span<const std::string_view> texts) override;

 private:
  ListRow* pRow;
};

// A row as the list view keeps it. Rows live in slabs of their own (a large
// list is filled and emptied at once; see row_slabs.h). What a comparison
// reads comes first: the image index, the caption and the first sub-item
// texts lie within the row's first 128 bytes.
class ListRow final : public TListItem {
 public:
  ListRow(ListState* state, int index) : state(state), index(index) {}
  ~ListRow();
  static void* operator new(std::size_t size);
  static void operator delete(void* row);
  // The text of a column (0: the caption), empty where the row has none.
  std::string_view Cell(int column) const {
    return column == 0 ? std::string_view(caption) : texts.View(column - 1);
  }

  int imageIndex = -1;
  std::string caption;
  RowTexts texts;
  RowSubItems subItems{this};
  ListState* state;
  int index;
  bool checked = false;
  void* data = nullptr;
};

inline ListRow* Row(TListItem* item) {
  return static_cast<ListRow*>(item);
}
inline const ListRow* Row(const TListItem* item) {
  return static_cast<const ListRow*>(item);
}

// A column as the list view keeps it.
class ListColumn final : public TListColumn {
 public:
  explicit ListColumn(ListState* state) : state(state) {}
  ListState* state;
  std::string caption;
  int width = 50;
  intptr_t tag = 0;
};

inline ListColumn* Column(TListColumn* column) {
  return static_cast<ListColumn*>(column);
}
inline const ListColumn* Column(const TListColumn* column) {
  return static_cast<const ListColumn*>(column);
}

// The list view's parts and the batches of changes not yet shown.
class ListState {
 public:
  explicit ListState(TListView* view);
  ~ListState();

  TListView* const view;
  std::vector<std::unique_ptr<ListColumn>> columns;
  std::vector<std::unique_ptr<ListRow>> rows;
  TListColumns columnList{*this};
  TListItems rowList{*this};
  std::unique_ptr<ListModel> model;
  int itemUpdates = 0;
  int columnUpdates = 0;

  // Changes to be shown.
  void ItemChanged(ListRow* row, TItemChange change);
  void ColumnsChanged();
  void RowsChanged();
  // Sends the batched changes to the view unless a batch is open.
  void Flush();
};

}  // namespace toolkit_detail
