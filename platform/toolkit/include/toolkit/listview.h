#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "toolkit/controls.h"
#include "toolkit/export.h"

class QTableView;
class TListView;
class TImageList;
namespace toolkit_detail {
class ListState;
}  // namespace toolkit_detail

enum TViewStyle { vsIcon, vsSmallIcon, vsList, vsReport };

// What column fitting reads of one column: its width, the length of its
// caption and the length of one row's text in it, in bytes.
struct TColumnReading {
  int width;
  size_t captionBytes;
  size_t cellBytes;
};

// What a compare handler reads of two rows: each one's image index and its
// text in one column (empty when the row has none there), and that column's
// tag. The texts are valid until the rows change.
struct TRowPairReading {
  int imageIndex[2];
  std::string_view text[2];
  bool columnExists;
  intptr_t columnTag;  // 0 when the column does not exist
};

// One column of a report-style list view; made and owned by its list view.
class TOOLKIT_API TListColumn {
 public:
  const std::string& Caption() const;
  void SetCaption(const std::string& caption);
  int Width() const;
  void SetWidth(int width);
  intptr_t Tag() const;
  void SetTag(intptr_t tag);
  // Position among the columns.
  int Index() const;
  TListView* ListView() const;

 protected:
  TListColumn() = default;
  ~TListColumn() = default;
  TListColumn(const TListColumn&) = delete;
  TListColumn& operator=(const TListColumn&) = delete;
};

// One row: a caption (first column), sub-item texts (the other columns), an
// image index and a check mark. Made and owned by its list view.
class TOOLKIT_API TListItem {
 public:
  const std::string& Caption() const;
  void SetCaption(const std::string& caption);
  // Texts of columns 1, 2, ...; changes show in the view and run OnChange.
  // Add, Insert and Put throw std::length_error when the row's sub-item texts
  // would pass 4 GiB together, and leave the texts unchanged.
  TStrings* SubItems();
  const TStrings* SubItems() const;
  int ImageIndex() const;
  void SetImageIndex(int index);
  bool Checked() const;
  void SetChecked(bool checked);
  // The text of a column (0: the caption, c: sub-item c - 1) without a copy;
  // empty when the row has none there. Valid until the row changes.
  std::string_view CellText(int column) const;
  bool Selected() const;
  void SetSelected(bool selected);
  // Row position; changes when rows are sorted or deleted.
  int Index() const;
  TListView* ListView() const;
  void* Data() const;
  void SetData(void* data);

 protected:
  TListItem() = default;
  ~TListItem() = default;
  TListItem(const TListItem&) = delete;
  TListItem& operator=(const TListItem&) = delete;
};

// What the columns and the rows of a list view have in common: a count,
// access by position, deletion and batched view updates.
template <class T>
class TOOLKIT_API TListParts {
 public:
  int Count() const;
  // Null outside 0..Count()-1.
  T* Items(int index) const;
  T* operator[](int index) const { return Items(index); }
  void Delete(int index);
  void Clear();
  // Batches the view's updates until the matching EndUpdate.
  void BeginUpdate();
  void EndUpdate();

 protected:
  explicit TListParts(toolkit_detail::ListState& state) : cState(state) {}
  ~TListParts() = default;
  toolkit_detail::ListState& cState;
};

class TOOLKIT_API TListColumns : public TListParts<TListColumn> {
 public:
  explicit TListColumns(toolkit_detail::ListState& state) : TListParts(state) {}
  // Appends a column (width 50, no caption); the list view owns it.
  TListColumn* Add();
};

class TOOLKIT_API TListItems : public TListParts<TListItem> {
 public:
  explicit TListItems(toolkit_detail::ListState& state) : TListParts(state) {}
  // Appends a row; the list view owns it.
  TListItem* Add();
  // Null outside 0..Count()-1.
  TListItem* Item(int index) const { return Items(index); }
};

// A list view. The rows live in the toolkit (texts as GBK) and are shown
// through a Qt model/view; views are told of changes in batches, so adding
// rows one by one stays cheap. Only the report style is drawn; the others are
// kept as a property.
class TOOLKIT_API TListView : public TWinControl {
 public:
  explicit TListView(TComponent* owner);
  ~TListView() override;

  TListColumns* Columns();
  TListItems* Items();

  bool Checkboxes() const { return bCheckboxes; }
  void SetCheckboxes(bool value);
  TViewStyle ViewStyle() const { return iViewStyle; }
  void SetViewStyle(TViewStyle style) { iViewStyle = style; }
  bool GridLines() const { return bGridLines; }
  void SetGridLines(bool value);
  bool RowSelect() const { return bRowSelect; }
  void SetRowSelect(bool value);
  bool ReadOnly() const { return bReadOnly; }
  void SetReadOnly(bool value) { bReadOnly = value; }
  bool MultiSelect() const { return bMultiSelect; }
  void SetMultiSelect(bool value);
  // Null once the image list is destroyed.
  TImageList* SmallImages() const { return pSmallImages; }
  void SetSmallImages(TImageList* images);

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
  // Reads the columns first, first + 1, ... into readings, as many as it
  // holds, with the texts of row (a row of this list view; none when null);
  // returns how many it read, 0 from the last column on. Column fitting runs
  // on every change of a row: this is all it reads, in one call.
  int ReadColumns(const TListItem* row, int first, std::span<TColumnReading> readings) const;
  // Reads rows first and second of this list view by column (none when it is
  // out of range) into reading: a sort asks its handler about every pair of
  // rows, and this is what one answer reads, in one call.
  void ReadRowPair(const TListItem* first, const TListItem* second, int column,
                   TRowPairReading& reading) const;

  // Sorts every row with OnCompare (or, without a handler, by caption bytes).
  // The sort is stable, and stays a permutation whatever the handler answers:
  // a positive result puts the first row after the second; 0 (also when the
  // handler gives no result) keeps their order.
  bool AlphaSort();

  TCanvas* Canvas() { return &cCanvas; }
  // The Qt widget the list view is made of.
  QTableView* TableView() const;
  // Sends the batched changes to the view and paints now.
  void Repaint() override;

  TLVCompareEvent OnCompare;
  TLVColumnClickEvent OnColumnClick;
  TLVChangeEvent OnChange;

  bool SetProperty(const std::string& name, const std::string& value, TComponent* root) override;
  bool BindEvent(const std::string& event, const THandler& handler) override;

 protected:
  bool QtEvent(QWidget* target, void* event) override;
  void Notification(TComponent* component) override;

 private:
  std::unique_ptr<toolkit_detail::ListState> pState;
  bool bCheckboxes = false;
  TViewStyle iViewStyle = vsIcon;
  bool bGridLines = false;
  bool bRowSelect = false;
  bool bReadOnly = false;
  bool bMultiSelect = false;
  TImageList* pSmallImages = nullptr;
  TCanvas cCanvas;
};
