#include "toolkit/listview.h"

#include <QAbstractTableModel>
#include <QFontMetrics>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QPointer>
#include <QTableView>
#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "guarded.h"
#include "list_state.h"
#include "merge_order.h"
#include "qt_app.h"
#include "row_slabs.h"
#include "toolkit/imglist.h"
#include "toolkit/layout.h"

using namespace toolkit_detail;

namespace toolkit_detail {

// Shows the rows the list view stores. Changes reach the view in batches:
// rows added or changed since the last flush are reported together.
class ListModel : public QAbstractTableModel {
 public:
  explicit ListModel(ListState* owner) : pOwner(owner) {}

  int rowCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : iReportedRows;
  }
  int columnCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : iReportedColumns;
  }

  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || index.row() >= static_cast<int>(pOwner->rows.size())) return {};
    if (role == Qt::DisplayRole) return Q(pOwner->view->CellText(index.row(), index.column()));
    if (role == Qt::CheckStateRole && index.column() == 0 && pOwner->view->Checkboxes()) {
      return pOwner->rows[static_cast<size_t>(index.row())]->checked ? Qt::Checked : Qt::Unchecked;
    }
    return {};
  }

  bool setData(const QModelIndex& index, const QVariant& value, int role) override {
    if (role != Qt::CheckStateRole || !index.isValid() ||
        index.row() >= static_cast<int>(pOwner->rows.size())) {
      return false;
    }
    ListRow* item = pOwner->rows[static_cast<size_t>(index.row())].get();
    Guarded(pOwner->view, [&] { item->SetChecked(value.toInt() == Qt::Checked); });
    return true;
  }

  Qt::ItemFlags flags(const QModelIndex& index) const override {
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (pOwner->view->Checkboxes() && index.column() == 0) f |= Qt::ItemIsUserCheckable;
    return f;
  }

  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    if (section < 0 || static_cast<size_t>(section) >= pOwner->columns.size()) return {};
    return Q(pOwner->columns[static_cast<size_t>(section)]->caption);
  }

  void MarkRow(int row) {
    if (row >= iReportedRows) return;  // reported with the new rows
    iDirtyFirst = std::min(iDirtyFirst, row);
    iDirtyLast = std::max(iDirtyLast, row);
    Schedule();
  }
  void MarkColumns() {
    bColumnsDirty = true;
    Schedule();
  }
  void Schedule() {
    if (bScheduled) return;
    bScheduled = true;
    QPointer<ListModel> self = this;
    QMetaObject::invokeMethod(
        this,
        [self] {
          if (!self) return;
          self->bScheduled = false;
          self->pOwner->Flush();
        },
        Qt::QueuedConnection);
  }

  // Reports everything pending to the view now.
  void Flush() {
    QTableView* view = pOwner->view->TableView();
    const int rows = static_cast<int>(pOwner->rows.size());
    if (bColumnsDirty) {
      bColumnsDirty = false;
      beginResetModel();
      iReportedColumns = static_cast<int>(pOwner->columns.size());
      iReportedRows = rows;
      endResetModel();
      for (int c = 0; c < iReportedColumns; ++c) {
        view->horizontalHeader()->resizeSection(c, pOwner->columns[static_cast<size_t>(c)]->width);
      }
      ClearDirty();
      return;
    }
    if (rows > iReportedRows) {
      beginInsertRows({}, iReportedRows, rows - 1);
      iReportedRows = rows;
      endInsertRows();
    } else if (rows < iReportedRows) {
      beginResetModel();
      iReportedRows = rows;
      endResetModel();
      ClearDirty();
      return;
    }
    if (iDirtyFirst <= iDirtyLast) {
      emit dataChanged(index(iDirtyFirst, 0), index(iDirtyLast, std::max(iReportedColumns - 1, 0)));
    }
    ClearDirty();
  }

  // Removes rows from the view at once (they no longer exist).
  void RemoveRow(int row) {
    if (row < iReportedRows) {
      beginRemoveRows({}, row, row);
      --iReportedRows;
      endRemoveRows();
    }
  }
  void ResetRows() {
    beginResetModel();
    iReportedRows = static_cast<int>(pOwner->rows.size());
    endResetModel();
    ClearDirty();
  }
  void ResetAll() {
    bColumnsDirty = true;
    Flush();
  }

  int ReportedRows() const { return iReportedRows; }

 private:
  void ClearDirty() {
    iDirtyFirst = INT32_MAX;
    iDirtyLast = -1;
  }
  ListState* pOwner;
  int iReportedRows = 0;
  int iReportedColumns = 0;
  int iDirtyFirst = INT32_MAX;
  int iDirtyLast = -1;
  bool bColumnsDirty = false;
  bool bScheduled = false;
};

}  // namespace toolkit_detail

namespace {

// The view, with its geometry update callable when a point must be mapped
// to a cell before the view had its turn in the event loop.
class ListTable : public QTableView {
 public:
  using QTableView::updateGeometries;
};

// The first 128 bytes of a row: what a comparison reads of it.
void FetchRow(const ListRow* row) {
  static_assert(sizeof(ListRow) >= 128);
  const char* at = reinterpret_cast<const char*>(row);
  __builtin_prefetch(at);
  __builtin_prefetch(at + 64);
  __builtin_prefetch(at + 127);
}

}  // namespace

// ---- ListState ----

namespace toolkit_detail {

ListState::ListState(TListView* view) : view(view), model(std::make_unique<ListModel>(this)) {
  RowListCreated();
}

ListState::~ListState() {
  rows.clear();
  RowListDestroyed();
}

void ListState::ItemChanged(ListRow* row, TItemChange change) {
  model->MarkRow(row->index);
  view->OnChange(view, row, change);
}

void ListState::ColumnsChanged() {
  model->MarkColumns();
}

void ListState::RowsChanged() {
  model->Schedule();
}

void ListState::Flush() {
  if (itemUpdates > 0 || columnUpdates > 0) return;
  model->Flush();
}

}  // namespace toolkit_detail

// ---- TListColumn / TListColumns ----

const std::string& TListColumn::Caption() const {
  return Column(this)->caption;
}

void TListColumn::SetCaption(const std::string& caption) {
  Column(this)->caption = caption;
  Column(this)->state->ColumnsChanged();
}

int TListColumn::Width() const {
  return Column(this)->width;
}

void TListColumn::SetWidth(int width) {
  ListColumn* self = Column(this);
  self->width = std::max(width, 0);
  const int index = Index();
  if (self->state->model && index >= 0 && index < self->state->model->columnCount()) {
    self->state->view->TableView()->horizontalHeader()->resizeSection(index, self->width);
  } else {
    self->state->ColumnsChanged();
  }
}

intptr_t TListColumn::Tag() const {
  return Column(this)->tag;
}

void TListColumn::SetTag(intptr_t tag) {
  Column(this)->tag = tag;
}

int TListColumn::Index() const {
  const auto& v = Column(this)->state->columns;
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i].get() == this) return static_cast<int>(i);
  }
  return -1;
}

TListView* TListColumn::ListView() const {
  return Column(this)->state->view;
}

namespace {

// The columns' or the rows' store, and the update batch that counts for them.
std::vector<std::unique_ptr<ListColumn>>& Parts(ListState& state, TListColumn*) {
  return state.columns;
}
std::vector<std::unique_ptr<ListRow>>& Parts(ListState& state, TListItem*) {
  return state.rows;
}
int& Updates(ListState& state, TListColumn*) {
  return state.columnUpdates;
}
int& Updates(ListState& state, TListItem*) {
  return state.itemUpdates;
}

}  // namespace

template <class T>
int TListParts<T>::Count() const {
  return static_cast<int>(Parts(cState, static_cast<T*>(nullptr)).size());
}

template <class T>
T* TListParts<T>::Items(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return Parts(cState, static_cast<T*>(nullptr))[static_cast<size_t>(index)].get();
}

template <class T>
void TListParts<T>::BeginUpdate() {
  ++Updates(cState, static_cast<T*>(nullptr));
}

template <class T>
void TListParts<T>::EndUpdate() {
  int& updates = Updates(cState, static_cast<T*>(nullptr));
  if (updates > 0 && --updates == 0) cState.model->Schedule();
}

template <>
void TListParts<TListColumn>::Delete(int index) {
  if (index < 0 || index >= Count()) return;
  cState.columns.erase(cState.columns.begin() + index);
  cState.ColumnsChanged();
}

template <>
void TListParts<TListColumn>::Clear() {
  cState.columns.clear();
  cState.ColumnsChanged();
}

template <>
void TListParts<TListItem>::Delete(int index) {
  if (index < 0 || index >= Count()) return;
  auto& rows = cState.rows;
  rows.erase(rows.begin() + index);
  for (size_t i = static_cast<size_t>(index); i < rows.size(); ++i)
    rows[i]->index = static_cast<int>(i);
  cState.model->RemoveRow(index);
}

template <>
void TListParts<TListItem>::Clear() {
  cState.rows.clear();
  cState.model->ResetRows();
}

template class TListParts<TListColumn>;
template class TListParts<TListItem>;

TListColumn* TListColumns::Add() {
  cState.columns.push_back(std::make_unique<ListColumn>(&cState));
  cState.ColumnsChanged();
  return cState.columns.back().get();
}

// ---- TListItem / TListItems ----

void* ListRow::operator new(std::size_t size) {
  return AllocateRow(size);
}

void ListRow::operator delete(void* row) {
  FreeRow(row);
}

ListRow::~ListRow() = default;

RowTexts::~RowTexts() {
  if (pBlock != aInline) delete[] pBlock;
}

void RowTexts::Clear() {
  if (pBlock != aInline) delete[] pBlock;
  pBlock = aInline;
  iCount = 0;
}

void RowTexts::Splice(int index, int removed, const std::string* text) {
  const uint32_t oldBytes = iCount == 0 ? 0 : End(static_cast<int>(iCount) - 1);
  const uint32_t begin = index == 0 ? 0 : End(index - 1);
  const uint32_t end = removed ? End(index) : begin;
  const size_t textSize = text ? text->size() : 0;
  const size_t count = iCount - static_cast<size_t>(removed) + (text ? 1 : 0);
  const size_t bytes = oldBytes - (end - begin) + textSize;
  if (bytes > UINT32_MAX || count > INT32_MAX) {
    throw std::length_error("list item texts too long");
  }
  if (text && removed == 0 && index == static_cast<int>(iCount) && pBlock == aInline &&
      4 * count + bytes <= kInlineBytes) {
    // Appending inside the item, as rows are filled: the texts move up by
    // one offset, the new text goes after them.
    std::memmove(aInline + 4 * count, aInline + 4 * size_t{iCount}, oldBytes);
    const auto newEnd = static_cast<uint32_t>(bytes);
    std::memcpy(aInline + 4 * size_t{iCount}, &newEnd, 4);
    if (textSize > 0) std::memcpy(aInline + 4 * count + oldBytes, text->data(), textSize);
    iCount = static_cast<uint32_t>(count);
    return;
  }
  // The new texts are laid out apart from the old ones, which they are made
  // from: in a staging buffer when they fit inside the item, else in their
  // own allocation.
  const size_t size = 4 * count + bytes;
  char staging[kInlineBytes];
  std::unique_ptr<char[]> own;
  char* block = staging;
  if (size > kInlineBytes) {
    own.reset(new char[size]);
    block = own.get();
  }
  // Offsets of the texts before the change, of the new text, and of the
  // texts after it, moved by the change in length.
  char* ends = block;
  auto putEnd = [&ends](size_t value) {
    const auto v = static_cast<uint32_t>(value);
    std::memcpy(ends, &v, 4);
    ends += 4;
  };
  for (int i = 0; i < index; ++i) putEnd(End(i));
  if (text) putEnd(begin + textSize);
  for (int i = index + removed; i < static_cast<int>(iCount); ++i) {
    putEnd(End(i) - (end - begin) + textSize);
  }
  const char* from = pBlock + size_t{4} * iCount;
  char* to = block + 4 * count;
  auto copy = [](char* dst, const char* src, size_t n) {
    if (n > 0) std::memcpy(dst, src, n);
  };
  copy(to, from, begin);
  if (text) copy(to + begin, text->data(), textSize);
  copy(to + begin + textSize, from + end, oldBytes - end);

  if (pBlock != aInline) delete[] pBlock;
  if (own) {
    pBlock = own.release();
  } else {
    copy(aInline, staging, size);
    pBlock = aInline;
  }
  iCount = static_cast<uint32_t>(count);
}

void RowTexts::Append(std::span<const std::string_view> texts) {
  const uint32_t oldBytes = iCount == 0 ? 0 : End(static_cast<int>(iCount) - 1);
  size_t added = 0;
  for (const std::string_view text : texts) added += text.size();
  const size_t count = iCount + texts.size();
  const size_t bytes = oldBytes + added;
  if (bytes > UINT32_MAX || count > INT32_MAX) {
    throw std::length_error("list item texts too long");
  }
  // The old texts move up past the new offsets: inside the item while they
  // all fit there, else into one allocation for the row's texts.
  const size_t size = 4 * count + bytes;
  std::unique_ptr<char[]> own;
  char* block = aInline;
  if (pBlock == aInline && size <= kInlineBytes) {
    std::memmove(aInline + 4 * count, aInline + 4 * size_t{iCount}, oldBytes);
  } else {
    own.reset(new char[size]);
    block = own.get();
    std::memcpy(block, pBlock, 4 * size_t{iCount});
    if (oldBytes > 0) std::memcpy(block + 4 * count, pBlock + 4 * size_t{iCount}, oldBytes);
  }
  char* to = block + 4 * count + oldBytes;
  uint32_t end = oldBytes;
  for (size_t i = 0; i < texts.size(); ++i) {
    end += static_cast<uint32_t>(texts[i].size());
    std::memcpy(block + 4 * (iCount + i), &end, 4);
    if (!texts[i].empty()) std::memcpy(to, texts[i].data(), texts[i].size());
    to += texts[i].size();
  }
  if (own) {
    if (pBlock != aInline) delete[] pBlock;
    pBlock = own.release();
  }
  iCount = static_cast<uint32_t>(count);
}

RowSubItems::~RowSubItems() = default;

void RowSubItems::AddStrings(std::span<const std::string_view> texts) {
  if (texts.empty()) return;
  pRow->texts.Append(texts);
  pRow->state->ItemChanged(pRow, ctText);
}

int RowSubItems::Count() const {
  return pRow->texts.Count();
}

std::string RowSubItems::Strings(int index) const {
  return std::string(pRow->texts.View(index));
}

void RowSubItems::Put(int index, const std::string& text) {
  if (index < 0 || index >= Count()) return;
  pRow->texts.Splice(index, 1, &text);
  pRow->state->ItemChanged(pRow, ctText);
}

void RowSubItems::Insert(int index, const std::string& text) {
  pRow->texts.Splice(std::clamp(index, 0, Count()), 0, &text);
  pRow->state->ItemChanged(pRow, ctText);
}

void RowSubItems::Delete(int index) {
  if (index < 0 || index >= Count()) return;
  pRow->texts.Splice(index, 1, nullptr);
  pRow->state->ItemChanged(pRow, ctText);
}

void RowSubItems::Clear() {
  pRow->texts.Clear();
  pRow->state->ItemChanged(pRow, ctText);
}

const std::string& TListItem::Caption() const {
  return Row(this)->caption;
}

void TListItem::SetCaption(const std::string& caption) {
  Row(this)->caption = caption;
  Row(this)->state->ItemChanged(Row(this), ctText);
}

TStrings* TListItem::SubItems() {
  return &Row(this)->subItems;
}

const TStrings* TListItem::SubItems() const {
  return &Row(this)->subItems;
}

int TListItem::ImageIndex() const {
  return Row(this)->imageIndex;
}

void TListItem::SetImageIndex(int index) {
  Row(this)->imageIndex = index;
  Row(this)->state->ItemChanged(Row(this), ctImage);
}

bool TListItem::Checked() const {
  return Row(this)->checked;
}

void TListItem::SetChecked(bool checked) {
  ListRow* self = Row(this);
  if (self->checked == checked) return;
  self->checked = checked;
  self->state->ItemChanged(self, ctState);
}

std::string_view TListItem::CellText(int column) const {
  return Row(this)->Cell(column);
}

bool TListItem::Selected() const {
  const ListRow* self = Row(this);
  ListState* state = self->state;
  state->Flush();
  auto* sel = state->view->TableView()->selectionModel();
  return sel && self->index < state->model->ReportedRows() && sel->isRowSelected(self->index, {});
}

void TListItem::SetSelected(bool selected) {
  const ListRow* self = Row(this);
  ListState* state = self->state;
  state->Flush();
  auto* sel = state->view->TableView()->selectionModel();
  if (!sel || self->index >= state->model->ReportedRows()) return;
  const QModelIndex i = state->model->index(self->index, 0);
  sel->select(i, (selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                     QItemSelectionModel::Rows);
}

int TListItem::Index() const {
  return Row(this)->index;
}

TListView* TListItem::ListView() const {
  return Row(this)->state->view;
}

void* TListItem::Data() const {
  return Row(this)->data;
}

void TListItem::SetData(void* data) {
  Row(this)->data = data;
}

TListItem* TListItems::Add() {
  auto& rows = cState.rows;
  rows.push_back(std::unique_ptr<ListRow>(new ListRow(&cState, static_cast<int>(rows.size()))));
  cState.RowsChanged();
  return rows.back().get();
}

// ---- TListView ----

TListView::TListView(TComponent* owner)
    : TWinControl(owner, MakeWidget<ListTable>()),
      pState(std::make_unique<ListState>(this)),
      cCanvas(Widget()) {
  QTableView* view = TableView();
  view->setModel(pState->model.get());
  view->verticalHeader()->hide();
  view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view->verticalHeader()->setDefaultSectionSize(QFontMetrics(view->font()).height() + 4);
  view->horizontalHeader()->setSectionsClickable(true);
  view->horizontalHeader()->setHighlightSections(false);
  view->horizontalHeader()->setStretchLastSection(false);
  view->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setWordWrap(false);
  view->setShowGrid(false);
  view->setSelectionBehavior(QAbstractItemView::SelectItems);
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  Bridge(view->viewport());
  QObject::connect(view->horizontalHeader(), &QHeaderView::sectionClicked, [this](int section) {
    Guarded(this, [this, section] {
      if (TListColumn* c = pState->columnList.Items(section)) OnColumnClick(this, c);
    });
  });
  QObject::connect(view->horizontalHeader(), &QHeaderView::sectionResized,
                   [this](int section, int, int size) {
                     if (section >= 0 && static_cast<size_t>(section) < pState->columns.size())
                       pState->columns[static_cast<size_t>(section)]->width = size;
                   });
  QObject::connect(view, &QTableView::clicked,
                   [this] { Guarded(this, [this] { OnClick(this); }); });
  QObject::connect(view, &QTableView::doubleClicked,
                   [this] { Guarded(this, [this] { OnDblClick(this); }); });
  SetTabStop(true);
  Widget()->resize(250, 150);
}

TListView::~TListView() {
  TableView()->setModel(nullptr);
  pState->model.reset();
}

QTableView* TListView::TableView() const {
  return static_cast<QTableView*>(Widget());
}

TListColumns* TListView::Columns() {
  return &pState->columnList;
}

TListItems* TListView::Items() {
  return &pState->rowList;
}

void TListView::SetCheckboxes(bool value) {
  bCheckboxes = value;
  pState->model->ResetAll();
}

void TListView::SetSmallImages(TImageList* images) {
  if (images == pSmallImages) return;
  RemoveFreeNotification(pSmallImages);
  pSmallImages = images;
  FreeNotification(pSmallImages);
}

void TListView::Notification(TComponent* component) {
  if (component == pSmallImages) pSmallImages = nullptr;
  TWinControl::Notification(component);
}

void TListView::SetGridLines(bool value) {
  bGridLines = value;
  TableView()->setShowGrid(value);
}

void TListView::SetRowSelect(bool value) {
  bRowSelect = value;
  TableView()->setSelectionBehavior(value ? QAbstractItemView::SelectRows
                                          : QAbstractItemView::SelectItems);
}

void TListView::SetMultiSelect(bool value) {
  bMultiSelect = value;
  TableView()->setSelectionMode(value ? QAbstractItemView::ExtendedSelection
                                      : QAbstractItemView::SingleSelection);
}

TListItem* TListView::Selected() const {
  pState->Flush();
  auto* sel = TableView()->selectionModel();
  if (!sel) return nullptr;
  int first = -1;
  for (const QModelIndex& i : sel->selectedIndexes()) {
    if (first < 0 || i.row() < first) first = i.row();
  }
  return pState->rowList.Item(first);
}

int TListView::SelCount() const {
  pState->Flush();
  auto* sel = TableView()->selectionModel();
  if (!sel) return 0;
  std::vector<int> rows;
  for (const QModelIndex& i : sel->selectedIndexes()) rows.push_back(i.row());
  std::sort(rows.begin(), rows.end());
  return static_cast<int>(std::unique(rows.begin(), rows.end()) - rows.begin());
}

std::string TListView::CellText(int row, int column) const {
  const TListItem* item = pState->rowList.Item(row);
  if (!item || column < 0) return {};
  return std::string(item->CellText(column));
}

int TListView::ReadColumns(const TListItem* row, int first,
                           std::span<TColumnReading> readings) const {
  const auto& columns = pState->columns;
  if (first < 0 || static_cast<size_t>(first) >= columns.size()) return 0;
  const size_t count = std::min(readings.size(), columns.size() - static_cast<size_t>(first));
  const ListRow* self = row == nullptr ? nullptr : Row(row);
  for (size_t i = 0; i < count; ++i) {
    const ListColumn& column = *columns[static_cast<size_t>(first) + i];
    TColumnReading& reading = readings[i];
    reading.width = column.width;
    reading.captionBytes = column.caption.size();
    reading.cellBytes = self == nullptr ? 0 : self->Cell(first + static_cast<int>(i)).size();
  }
  return static_cast<int>(count);
}

void TListView::ReadRowPair(const TListItem* first, const TListItem* second, int column,
                            TRowPairReading& reading) const {
  const auto& columns = pState->columns;
  reading.columnExists = column >= 0 && static_cast<size_t>(column) < columns.size();
  reading.columnTag = reading.columnExists ? columns[static_cast<size_t>(column)]->tag : 0;
  const TListItem* rows[2] = {first, second};
  for (int i = 0; i < 2; ++i) {
    const ListRow* row = Row(rows[i]);
    reading.imageIndex[i] = row->imageIndex;
    reading.text[i] = reading.columnExists ? row->Cell(column) : std::string_view();
  }
}

bool TListView::CellAt(const TPoint& point, int* row, int* column) const {
  pState->Flush();
  QTableView* view = TableView();
  static_cast<ListTable*>(view)->updateGeometries();
  const QPoint p = view->viewport()->mapFrom(view, QPoint(point.x, point.y));
  if (!view->viewport()->rect().contains(p)) return false;
  const QModelIndex i = view->indexAt(p);
  if (!i.isValid()) return false;
  if (row) *row = i.row();
  if (column) *column = i.column();
  return true;
}

TListItem* TListView::GetItemAt(int x, int y) const {
  int row;
  return CellAt({x, y}, &row, nullptr) ? pState->rowList.Item(row) : nullptr;
}

bool TListView::AlphaSort() {
  auto& owned = pState->rows;
  std::vector<ListRow*> rows;
  rows.reserve(owned.size());
  for (auto& p : owned) rows.push_back(p.get());
  rows = MergeOrder(
      std::move(rows),
      [this](ListRow* a, ListRow* b) {
        int result = 0;
        if (OnCompare) {
          OnCompare(this, a, b, 0, result);
        } else {
          result = std::strcmp(a->caption.c_str(), b->caption.c_str());
        }
        return result;
      },
      FetchRow);
  // Keep the selection on the same rows.
  pState->Flush();
  std::vector<TListItem*> selected;
  if (auto* sel = TableView()->selectionModel()) {
    for (const QModelIndex& i : sel->selectedRows())
      selected.push_back(pState->rowList.Item(i.row()));
  }
  // The rows change hands from the old order to the new one.
  for (auto& p : owned) (void)p.release();
  for (size_t i = 0; i < rows.size(); ++i) {
    owned[i].reset(rows[i]);
    rows[i]->index = static_cast<int>(i);
  }
  pState->model->ResetRows();
  for (TListItem* item : selected) {
    if (item) item->SetSelected(true);
  }
  return true;
}

void TListView::Repaint() {
  pState->Flush();
  TWinControl::Repaint();
  TableView()->viewport()->repaint();
}

bool TListView::QtEvent(QWidget* target, void* raw) {
  return TWinControl::QtEvent(target, raw);
}

bool TListView::SetProperty(const std::string& name, const std::string& value, TComponent* root) {
  using namespace layout_values;
  using C = TListView;
  static constexpr TEnumName<TViewStyle> kViewStyles[] = {
      {"vsIcon", vsIcon}, {"vsSmallIcon", vsSmallIcon}, {"vsList", vsList}, {"vsReport", vsReport}};
  static constexpr TPropertySetter<C> kProperties[] = {
      {"ViewStyle",
       [](C& c, const std::string& v, TComponent*) {
         c.SetViewStyle(EnumFromName(kViewStyles, v, "view style"));
       }},
      {"GridLines", BoolSetter<C, &C::SetGridLines>},
      {"RowSelect", BoolSetter<C, &C::SetRowSelect>},
      {"ReadOnly", BoolSetter<C, &C::SetReadOnly>},
      {"Checkboxes", BoolSetter<C, &C::SetCheckboxes>},
      {"MultiSelect", BoolSetter<C, &C::SetMultiSelect>},
      {"SmallImages",
       [](C& c, const std::string& v, TComponent* root) {
         c.SetSmallImages(NamedComponent<TImageList>(root, v, "image list"));
       }},
      // "caption:width|caption:width|..."; a bar at the end adds no column.
      {"Columns",
       [](C& c, const std::string& v, TComponent*) {
         for (const std::string& one : SplitAtBars(v, TTrailingEmpty::kDrop)) {
           const size_t colon = one.rfind(':');
           TListColumn* column = c.Columns()->Add();
           column->SetCaption(colon == std::string::npos ? one : one.substr(0, colon));
           if (colon != std::string::npos) column->SetWidth(ToInt(one.substr(colon + 1)));
         }
       }},
  };
  return SetFromTable(kProperties, *this, name, value, root) ||
         TWinControl::SetProperty(name, value, root);
}

bool TListView::BindEvent(const std::string& event, const THandler& handler) {
  using namespace layout_values;
  using C = TListView;
  static constexpr TEventBinder<C> kEvents[] = {
      {"OnCompare", EventBinder<C, &C::OnCompare>},
      {"OnColumnClick", EventBinder<C, &C::OnColumnClick>},
      {"OnChange", EventBinder<C, &C::OnChange>},
  };
  return BindFromTable(kEvents, *this, event, handler) || TWinControl::BindEvent(event, handler);
}
