#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/controls.h"
#include "toolkit/export.h"

class TListView;
class TImageList;
namespace toolkit_detail {
class ListModel;
}  // namespace toolkit_detail

enum TViewStyle { vsIcon, vsSmallIcon, vsList, vsReport };

// One column of a report-style list view; owned by its list view.
class TOOLKIT_API TListColumn {
 public:
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption);
  int Width() const { return width_; }
  void SetWidth(int width);
  intptr_t Tag() const { return tag_; }
  void SetTag(intptr_t tag) { tag_ = tag; }
  // Position among the columns.
  int Index() const;
  TListView* ListView() const { return owner_; }

 private:
  friend class TListColumns;
  friend class TListView;
  explicit TListColumn(TListView* owner) : owner_(owner) {}
  TListView* owner_;
  std::string caption_;
  int width_ = 50;
  intptr_t tag_ = 0;
};

class TOOLKIT_API TListColumns {
 public:
  ~TListColumns();
  // Appends a column (width 50, no caption); the list view owns it.
  TListColumn* Add();
  int Count() const { return static_cast<int>(columns_.size()); }
  // Null outside 0..Count()-1.
  TListColumn* Items(int index) const {
    if (index < 0 || index >= Count()) return nullptr;
    return columns_[static_cast<size_t>(index)].get();
  }
  TListColumn* operator[](int index) const { return Items(index); }
  void Delete(int index);
  void Clear();
  // Batches the view's updates until the matching EndUpdate.
  void BeginUpdate();
  void EndUpdate();

 private:
  friend class TListView;
  friend class TListColumn;
  explicit TListColumns(TListView* owner) : owner_(owner) {}
  TListView* owner_;
  std::vector<std::unique_ptr<TListColumn>> columns_;
};

// One row: a caption (first column), sub-item texts (the other columns), an
// image index and a check mark. Owned by its list view.
class TOOLKIT_API TListItem {
 public:
  ~TListItem();
  // Rows live in slabs of their own (a large list is filled and emptied at
  // once; see row_slabs.h).
  static void* operator new(std::size_t size);
  static void operator delete(void* row);
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption);
  // Texts of columns 1, 2, ...; changes show in the view and run OnChange.
  // Add, Insert and Put throw std::length_error when the row's sub-item texts
  // would pass 4 GiB together, and leave the texts unchanged.
  TStrings* SubItems() { return &subItems_; }
  const TStrings* SubItems() const { return &subItems_; }
  int ImageIndex() const { return imageIndex_; }
  void SetImageIndex(int index);
  bool Checked() const { return checked_; }
  void SetChecked(bool checked);
  // The text of a column (0: the caption, c: sub-item c - 1) without a copy;
  // empty when the row has none there. Valid until the row changes.
  std::string_view CellText(int column) const {
    return column == 0 ? std::string_view(caption_) : texts_.View(column - 1);
  }
  bool Selected() const;
  void SetSelected(bool selected);
  // Row position; changes when rows are sorted or deleted.
  int Index() const { return index_; }
  TListView* ListView() const { return owner_; }
  void* Data() const { return data_; }
  void SetData(void* data) { data_ = data; }

 private:
  friend class TListItems;
  friend class TListView;
  friend class toolkit_detail::ListModel;

  // A row's sub-item texts: the end offset of each text (4 bytes each), then
  // the texts back to back. They live inside the item while they fit, so a
  // sort reading a cell fetches one piece of memory per row; longer rows
  // take one allocation of their own.
  class TOOLKIT_API TTexts {
   public:
    TTexts() = default;
    TTexts(const TTexts&) = delete;
    TTexts& operator=(const TTexts&) = delete;
    ~TTexts();
    int Count() const { return static_cast<int>(count_); }
    // The text at index without a copy; empty outside 0..Count()-1.
    std::string_view View(int index) const {
      if (index < 0 || static_cast<uint32_t>(index) >= count_) return {};
      const uint32_t begin = index == 0 ? 0 : End(index - 1);
      return {block_ + size_t{4} * count_ + begin, End(index) - begin};
    }
    // Replaces the texts index .. index + removed - 1 (removed is 0 or 1)
    // with text, or with nothing when text is null. Throws
    // std::length_error when the texts would pass 4 GiB together (and
    // std::bad_alloc), leaving them unchanged.
    void Splice(int index, int removed, const std::string* text);
    void Clear();

   private:
    static constexpr size_t kInlineBytes = 128;
    uint32_t End(int index) const {
      uint32_t end;
      std::memcpy(&end, block_ + size_t{4} * static_cast<size_t>(index), 4);
      return end;
    }
    char* block_ = inline_;  // inline_ or an allocation of the texts' own
    uint32_t count_ = 0;
    char inline_[kInlineBytes];
  };

  // The sub-items as a TStrings; every change is reported to the list view.
  class TOOLKIT_API TSubItems final : public TStrings {
   public:
    explicit TSubItems(TListItem* item) : item_(item) {}
    ~TSubItems() override;
    int Count() const override { return item_->texts_.Count(); }
    std::string Strings(int index) const override;
    void Put(int index, const std::string& text) override;
    void Insert(int index, const std::string& text) override;
    void Delete(int index) override;
    void Clear() override;

   private:
    TListItem* item_;
  };

  TListItem(TListView* owner, int index);
  TListItem(const TListItem&) = delete;
  TListItem& operator=(const TListItem&) = delete;
  // What a comparison reads comes first: the image index, the caption and
  // the first sub-item texts lie within the item's first 128 bytes.
  int imageIndex_ = -1;
  std::string caption_;
  TTexts texts_;
  TSubItems subItems_{this};
  TListView* owner_;
  int index_;
  bool checked_ = false;
  void* data_ = nullptr;
};

class TOOLKIT_API TListItems {
 public:
  ~TListItems();
  // Appends a row; the list view owns it.
  TListItem* Add();
  int Count() const { return static_cast<int>(items_.size()); }
  // Null outside 0..Count()-1.
  TListItem* Item(int index) const;
  TListItem* operator[](int index) const { return Item(index); }
  void Delete(int index);
  void Clear();
  // Batches the view's updates until the matching EndUpdate.
  void BeginUpdate();
  void EndUpdate();

 private:
  friend class TListView;
  friend class TListItem;
  friend class toolkit_detail::ListModel;
  explicit TListItems(TListView* owner);
  TListView* owner_;
  std::vector<std::unique_ptr<TListItem>> items_;
};

// A list view. The rows live in the toolkit (texts as GBK) and are shown
// through a Qt model/view; views are told of changes in batches, so adding
// rows one by one stays cheap. Only the report style is drawn; the others are
// kept as a property.
class TOOLKIT_API TListView : public TWinControl {
 public:
  explicit TListView(TComponent* owner);
  ~TListView() override;

  TListColumns* Columns() { return columns_.get(); }
  TListItems* Items() { return items_.get(); }

  bool Checkboxes() const { return checkboxes_; }
  void SetCheckboxes(bool value);
  TViewStyle ViewStyle() const { return viewStyle_; }
  void SetViewStyle(TViewStyle style) { viewStyle_ = style; }
  bool GridLines() const { return gridLines_; }
  void SetGridLines(bool value);
  bool RowSelect() const { return rowSelect_; }
  void SetRowSelect(bool value);
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool value) { readOnly_ = value; }
  bool MultiSelect() const { return multiSelect_; }
  void SetMultiSelect(bool value);
  TImageList* SmallImages() const { return smallImages_; }
  void SetSmallImages(TImageList* images) { smallImages_ = images; }

  // The first selected row; null when none.
  TListItem* Selected() const;
  int SelCount() const;
  // Caption (column 0) or sub-item text (column c: sub-item c-1); "" for a
  // cell that does not exist.
  std::string CellText(int row, int column) const;
  // The row and column under a point in client coordinates; false when the
  // point is on no cell.
  bool CellAt(const TPoint& point, int* row, int* column) const;
  TListItem* GetItemAt(int x, int y) const;

  // Sorts every row with OnCompare (or, without a handler, by caption bytes).
  // The sort is stable, and stays a permutation whatever the handler answers:
  // a positive result puts the first row after the second; 0 (also when the
  // handler gives no result) keeps their order.
  bool AlphaSort();

  TCanvas* Canvas() { return &canvas_; }
  // Sends the batched changes to the view and paints now.
  void Repaint() override;

  TLVCompareEvent OnCompare;
  TLVColumnClickEvent OnColumnClick;
  TLVChangeEvent OnChange;

  bool SetProperty(const std::string& name, const std::string& value, TComponent* root) override;
  bool BindEvent(const std::string& event, const THandler& handler) override;

 protected:
  bool QtEvent(QWidget* target, void* event) override;

 private:
  friend class TListItems;
  friend class TListColumns;
  friend class TListItem;
  friend class TListColumn;
  friend class toolkit_detail::ListModel;
  void ItemChanged(TListItem* item, TItemChange change);
  void ColumnsChanged();
  void RowsChanged(int first);
  void Flush();
  std::unique_ptr<TListColumns> columns_;
  std::unique_ptr<TListItems> items_;
  std::unique_ptr<toolkit_detail::ListModel> model_;
  bool checkboxes_ = false;
  TViewStyle viewStyle_ = vsIcon;
  bool gridLines_ = false;
  bool rowSelect_ = false;
  bool readOnly_ = false;
  bool multiSelect_ = false;
  TImageList* smallImages_ = nullptr;
  TCanvas canvas_;
  int itemUpdates_ = 0;
  int columnUpdates_ = 0;
};
