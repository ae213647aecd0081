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

#include "internal.h"
#include "row_slabs.h"
#define LS_D 4
#include "toolkit/imglist.h"
#include "toolkit/layout.h"

using namespace toolkit_detail;

namespace toolkit_detail {

// Shows the rows the list view stores. Changes reach the view in batches:
// rows added or changed since the last flush are reported together.
class ListModel : public QAbstractTableModel {
 public:
  explicit ListModel(TListView* owner) : owner_(owner) {}

  int rowCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : reportedRows_;
  }
  int columnCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : reportedColumns_;
  }

  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || index.row() >= owner_->items_->Count()) return {};
    if (role == Qt::DisplayRole) return Q(owner_->CellText(index.row(), index.column()));
    if (role == Qt::CheckStateRole && index.column() == 0 && owner_->checkboxes_) {
      return owner_->items_->Item(index.row())->Checked() ? Qt::Checked : Qt::Unchecked;
    }
    return {};
  }

  bool setData(const QModelIndex& index, const QVariant& value, int role) override {
    if (role != Qt::CheckStateRole || !index.isValid() || index.row() >= owner_->items_->Count()) {
      return false;
    }
    TListItem* item = owner_->items_->Item(index.row());
    Guarded(owner_, [&] { item->SetChecked(value.toInt() == Qt::Checked); });
    return true;
  }

  Qt::ItemFlags flags(const QModelIndex& index) const override {
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (owner_->checkboxes_ && index.column() == 0) f |= Qt::ItemIsUserCheckable;
    return f;
  }

  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    TListColumn* c = owner_->columns_->Items(section);
    return c ? QVariant(Q(c->Caption())) : QVariant();
  }

  void MarkRow(int row) {
    if (row >= reportedRows_) return;  // reported with the new rows
    dirtyFirst_ = std::min(dirtyFirst_, row);
    dirtyLast_ = std::max(dirtyLast_, row);
    Schedule();
  }
  void MarkColumns() {
    columnsDirty_ = true;
    Schedule();
  }
  void Schedule() {
    if (scheduled_) return;
    scheduled_ = true;
    QPointer<ListModel> self = this;
    QMetaObject::invokeMethod(
        this,
        [self] {
          if (!self) return;
          self->scheduled_ = false;
          self->owner_->Flush();
        },
        Qt::QueuedConnection);
  }

  // Reports everything pending to the view now.
  void Flush() {
    auto* view = static_cast<QTableView*>(owner_->Widget());
    const int rows = owner_->items_->Count();
    if (columnsDirty_) {
      columnsDirty_ = false;
      beginResetModel();
      reportedColumns_ = owner_->columns_->Count();
      reportedRows_ = rows;
      endResetModel();
      for (int c = 0; c < reportedColumns_; ++c) {
        view->horizontalHeader()->resizeSection(c, owner_->columns_->Items(c)->Width());
      }
      ClearDirty();
      return;
    }
    if (rows > reportedRows_) {
      beginInsertRows({}, reportedRows_, rows - 1);
      reportedRows_ = rows;
      endInsertRows();
    } else if (rows < reportedRows_) {
      beginResetModel();
      reportedRows_ = rows;
      endResetModel();
      ClearDirty();
      return;
    }
    if (dirtyFirst_ <= dirtyLast_) {
      emit dataChanged(index(dirtyFirst_, 0), index(dirtyLast_, std::max(reportedColumns_ - 1, 0)));
    }
    ClearDirty();
  }

  // Removes rows from the view at once (they no longer exist).
  void RemoveRow(int row) {
    if (row < reportedRows_) {
      beginRemoveRows({}, row, row);
      --reportedRows_;
      endRemoveRows();
    }
  }
  void ResetRows() {
    beginResetModel();
    reportedRows_ = owner_->items_->Count();
    endResetModel();
    ClearDirty();
  }
  void ResetAll() {
    columnsDirty_ = true;
    Flush();
  }

  int ReportedRows() const { return reportedRows_; }

 private:
  void ClearDirty() {
    dirtyFirst_ = INT32_MAX;
    dirtyLast_ = -1;
  }
  TListView* owner_;
  int reportedRows_ = 0;
  int reportedColumns_ = 0;
  int dirtyFirst_ = INT32_MAX;
  int dirtyLast_ = -1;
  bool columnsDirty_ = false;
  bool scheduled_ = false;
};

}  // namespace toolkit_detail

namespace {

// The view, with its geometry update callable when a point must be mapped
// to a cell before the view had its turn in the event loop.
class ListTable : public QTableView {
 public:
  using QTableView::updateGeometries;
};

// How far ahead in each run a merge asks for rows (see AlphaSort).
constexpr size_t kFetchAhead = 32;

// The first 128 bytes of an item: what a comparison reads of it.
void FetchItem(const TListItem* item) {
  static_assert(sizeof(TListItem) >= 128);
  const char* at = reinterpret_cast<const char*>(item);
  __builtin_prefetch(at);
  __builtin_prefetch(at + 64);
  __builtin_prefetch(at + 127);
}

QTableView* View(const TListView* lv) {
  return static_cast<QTableView*>(lv->Widget());
}

}  // namespace

// ---- TListColumn / TListColumns ----

void TListColumn::SetCaption(const std::string& caption) {
  caption_ = caption;
  owner_->ColumnsChanged();
}

void TListColumn::SetWidth(int width) {
  width_ = std::max(width, 0);
  const int index = Index();
  if (owner_->model_ && index >= 0 && index < owner_->model_->columnCount()) {
    View(owner_)->horizontalHeader()->resizeSection(index, width_);
  } else {
    owner_->ColumnsChanged();
  }
}

int TListColumn::Index() const {
  auto& v = owner_->columns_->columns_;
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i].get() == this) return static_cast<int>(i);
  }
  return -1;
}

TListColumns::~TListColumns() = default;

TListColumn* TListColumns::Add() {
  columns_.push_back(std::unique_ptr<TListColumn>(new TListColumn(owner_)));
  owner_->ColumnsChanged();
  return columns_.back().get();
}

void TListColumns::Delete(int index) {
  if (index < 0 || index >= Count()) return;
  columns_.erase(columns_.begin() + index);
  owner_->ColumnsChanged();
}

void TListColumns::Clear() {
  columns_.clear();
  owner_->ColumnsChanged();
}

void TListColumns::BeginUpdate() {
  ++owner_->columnUpdates_;
}

void TListColumns::EndUpdate() {
  if (owner_->columnUpdates_ > 0 && --owner_->columnUpdates_ == 0) owner_->model_->Schedule();
}

// ---- TListItem / TListItems ----

TListItem::TListItem(TListView* owner, int index) : owner_(owner), index_(index) {}

void* TListItem::operator new(std::size_t size) {
  return AllocateRow(size);
}

void TListItem::operator delete(void* row) {
  FreeRow(row);
}

TListItem::~TListItem() = default;

TListItem::TTexts::~TTexts() {
  if (block_ != inline_) delete[] block_;
}

void TListItem::TTexts::Clear() {
  if (block_ != inline_) delete[] block_;
  block_ = inline_;
  count_ = 0;
}

void TListItem::TTexts::Splice(int index, int removed, const std::string* text) {
  const uint32_t oldBytes = count_ == 0 ? 0 : End(static_cast<int>(count_) - 1);
  const uint32_t begin = index == 0 ? 0 : End(index - 1);
  const uint32_t end = removed ? End(index) : begin;
  const size_t textSize = text ? text->size() : 0;
  const size_t count = count_ - static_cast<size_t>(removed) + (text ? 1 : 0);
  const size_t bytes = oldBytes - (end - begin) + textSize;
  if (bytes > UINT32_MAX || count > INT32_MAX) {
    throw std::length_error("list item texts too long");
  }
  if (text && removed == 0 && index == static_cast<int>(count_) && block_ == inline_ &&
      4 * count + bytes <= kInlineBytes) {
    // Appending inside the item, as rows are filled: the texts move up by
    // one offset, the new text goes after them.
    std::memmove(inline_ + 4 * count, inline_ + 4 * size_t{count_}, oldBytes);
    const auto newEnd = static_cast<uint32_t>(bytes);
    std::memcpy(inline_ + 4 * size_t{count_}, &newEnd, 4);
    if (textSize > 0) std::memcpy(inline_ + 4 * count + oldBytes, text->data(), textSize);
    count_ = static_cast<uint32_t>(count);
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
  for (int i = index + removed; i < static_cast<int>(count_); ++i) {
    putEnd(End(i) - (end - begin) + textSize);
  }
  const char* from = block_ + size_t{4} * count_;
  char* to = block + 4 * count;
  auto copy = [](char* dst, const char* src, size_t n) {
    if (n > 0) std::memcpy(dst, src, n);
  };
  copy(to, from, begin);
  if (text) copy(to + begin, text->data(), textSize);
  copy(to + begin + textSize, from + end, oldBytes - end);

  if (block_ != inline_) delete[] block_;
  if (own) {
    block_ = own.release();
  } else {
    copy(inline_, staging, size);
    block_ = inline_;
  }
  count_ = static_cast<uint32_t>(count);
}

TListItem::TSubItems::~TSubItems() = default;

std::string TListItem::TSubItems::Strings(int index) const {
  return std::string(item_->texts_.View(index));
}

void TListItem::TSubItems::Put(int index, const std::string& text) {
  if (index < 0 || index >= Count()) return;
  item_->texts_.Splice(index, 1, &text);
  item_->owner_->ItemChanged(item_, ctText);
}

void TListItem::TSubItems::Insert(int index, const std::string& text) {
  item_->texts_.Splice(std::clamp(index, 0, Count()), 0, &text);
  item_->owner_->ItemChanged(item_, ctText);
}

void TListItem::TSubItems::Delete(int index) {
  if (index < 0 || index >= Count()) return;
  item_->texts_.Splice(index, 1, nullptr);
  item_->owner_->ItemChanged(item_, ctText);
}

void TListItem::TSubItems::Clear() {
  item_->texts_.Clear();
  item_->owner_->ItemChanged(item_, ctText);
}

void TListItem::SetCaption(const std::string& caption) {
  caption_ = caption;
  owner_->ItemChanged(this, ctText);
}

void TListItem::SetImageIndex(int index) {
  imageIndex_ = index;
  owner_->ItemChanged(this, ctImage);
}

void TListItem::SetChecked(bool checked) {
  if (checked_ == checked) return;
  checked_ = checked;
  owner_->ItemChanged(this, ctState);
}

bool TListItem::Selected() const {
  owner_->Flush();
  auto* sel = View(owner_)->selectionModel();
  return sel && index_ < owner_->model_->ReportedRows() && sel->isRowSelected(index_, {});
}

void TListItem::SetSelected(bool selected) {
  owner_->Flush();
  auto* sel = View(owner_)->selectionModel();
  if (!sel || index_ >= owner_->model_->ReportedRows()) return;
  const QModelIndex i = owner_->model_->index(index_, 0);
  sel->select(i, (selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                     QItemSelectionModel::Rows);
}

TListItems::TListItems(TListView* owner) : owner_(owner) {
  RowListCreated();
}

TListItems::~TListItems() {
  items_.clear();
  RowListDestroyed();
}

TListItem* TListItems::Add() {
  items_.push_back(std::unique_ptr<TListItem>(new TListItem(owner_, Count())));
  owner_->RowsChanged(Count() - 1);
  return items_.back().get();
}

TListItem* TListItems::Item(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return items_[static_cast<size_t>(index)].get();
}

void TListItems::Delete(int index) {
  if (index < 0 || index >= Count()) return;
  items_.erase(items_.begin() + index);
  for (int i = index; i < Count(); ++i) items_[static_cast<size_t>(i)]->index_ = i;
  owner_->model_->RemoveRow(index);
}

void TListItems::Clear() {
  items_.clear();
  owner_->model_->ResetRows();
}

void TListItems::BeginUpdate() {
  ++owner_->itemUpdates_;
}

void TListItems::EndUpdate() {
  if (owner_->itemUpdates_ > 0 && --owner_->itemUpdates_ == 0) owner_->model_->Schedule();
}

// ---- TListView ----

TListView::TListView(TComponent* owner)
    : TWinControl(owner, MakeWidget<ListTable>()), canvas_(Widget()) {
  columns_.reset(new TListColumns(this));
  items_.reset(new TListItems(this));
  model_ = std::make_unique<ListModel>(this);
  QTableView* view = View(this);
  view->setModel(model_.get());
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
      if (TListColumn* c = columns_->Items(section)) OnColumnClick(this, c);
    });
  });
  QObject::connect(view->horizontalHeader(), &QHeaderView::sectionResized,
                   [this](int section, int, int size) {
                     if (TListColumn* c = columns_->Items(section)) c->width_ = size;
                   });
  QObject::connect(view, &QTableView::clicked,
                   [this] { Guarded(this, [this] { OnClick(this); }); });
  QObject::connect(view, &QTableView::doubleClicked,
                   [this] { Guarded(this, [this] { OnDblClick(this); }); });
  SetTabStop(true);
  Widget()->resize(250, 150);
}

TListView::~TListView() {
  View(this)->setModel(nullptr);
  model_.reset();
}

void TListView::SetCheckboxes(bool value) {
  checkboxes_ = value;
  model_->ResetAll();
}

void TListView::SetGridLines(bool value) {
  gridLines_ = value;
  View(this)->setShowGrid(value);
}

void TListView::SetRowSelect(bool value) {
  rowSelect_ = value;
  View(this)->setSelectionBehavior(value ? QAbstractItemView::SelectRows
                                         : QAbstractItemView::SelectItems);
}

void TListView::SetMultiSelect(bool value) {
  multiSelect_ = value;
  View(this)->setSelectionMode(value ? QAbstractItemView::ExtendedSelection
                                     : QAbstractItemView::SingleSelection);
}

TListItem* TListView::Selected() const {
  const_cast<TListView*>(this)->Flush();
  auto* sel = View(this)->selectionModel();
  if (!sel) return nullptr;
  int first = -1;
  for (const QModelIndex& i : sel->selectedIndexes()) {
    if (first < 0 || i.row() < first) first = i.row();
  }
  return items_->Item(first);
}

int TListView::SelCount() const {
  const_cast<TListView*>(this)->Flush();
  auto* sel = View(this)->selectionModel();
  if (!sel) return 0;
  std::vector<int> rows;
  for (const QModelIndex& i : sel->selectedIndexes()) rows.push_back(i.row());
  std::sort(rows.begin(), rows.end());
  return static_cast<int>(std::unique(rows.begin(), rows.end()) - rows.begin());
}

std::string TListView::CellText(int row, int column) const {
  const TListItem* item = items_->Item(row);
  if (!item || column < 0) return {};
  return std::string(item->CellText(column));
}

bool TListView::CellAt(const TPoint& point, int* row, int* column) const {
  const_cast<TListView*>(this)->Flush();
  QTableView* view = View(this);
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
  return CellAt({x, y}, &row, nullptr) ? items_->Item(row) : nullptr;
}

bool TListView::AlphaSort() {
  std::vector<TListItem*> rows;
  rows.reserve(items_->items_.size());
  for (auto& p : items_->items_) rows.push_back(p.get());
  auto compare = [this](TListItem* a, TListItem* b) {
    int result = 0;
    if (OnCompare) {
      OnCompare(this, a, b, 0, result);
    } else {
      result = std::strcmp(a->Caption().c_str(), b->Caption().c_str());
    }
    return result;
  };
  // Bottom-up merge sort. A row of the right run goes first only when the
  // handler says the left one comes after it, so equal rows keep their order
  // and any answers, consistent or not, still give a permutation.
  const size_t n = rows.size();
  std::vector<TListItem*> tmp(n);
  for (size_t width = 1; width < n; width *= 2) {
    for (size_t lo = 0; lo < n; lo += 2 * width) {
      const size_t mid = std::min(lo + width, n), hi = std::min(lo + 2 * width, n);
      size_t i = lo, j = mid, k = lo;
      while (i < mid && j < hi) {
        // The next comparisons take the next rows of the runs, which lie
        // anywhere in the slabs once the runs are long. Asking for them
        // kFetchAhead rows ahead lets those fetches overlap the comparisons
        // instead of following them; a fetch takes longer than a few
        // comparisons, so two rows ahead was not enough.
        if (j + kFetchAhead < n) {
          FetchItem(rows[i + kFetchAhead]);
          FetchItem(rows[j + kFetchAhead]);
        }
        tmp[k++] = compare(rows[i], rows[j]) > 0 ? rows[j++] : rows[i++];
      }
      while (i < mid) tmp[k++] = rows[i++];
      while (j < hi) tmp[k++] = rows[j++];
    }
    rows.swap(tmp);
  }
  // Keep the selection on the same rows.
  Flush();
  std::vector<TListItem*> selected;
  if (auto* sel = View(this)->selectionModel()) {
    for (const QModelIndex& i : sel->selectedRows()) selected.push_back(items_->Item(i.row()));
  }
  std::vector<std::unique_ptr<TListItem>> sorted(n);
  for (auto& p : items_->items_) {
    TListItem* item = p.release();
    (void)item;
  }
  for (size_t i = 0; i < n; ++i) {
    sorted[i].reset(rows[i]);
    rows[i]->index_ = static_cast<int>(i);
  }
  items_->items_.swap(sorted);
  model_->ResetRows();
  for (TListItem* item : selected) {
    if (item) item->SetSelected(true);
  }
  return true;
}

void TListView::Repaint() {
  Flush();
  TWinControl::Repaint();
  View(this)->viewport()->repaint();
}

void TListView::ItemChanged(TListItem* item, TItemChange change) {
  model_->MarkRow(item->Index());
  OnChange(this, item, change);
}

void TListView::ColumnsChanged() {
  model_->MarkColumns();
}

void TListView::RowsChanged(int) {
  model_->Schedule();
}

void TListView::Flush() {
  if (itemUpdates_ > 0 || columnUpdates_ > 0) return;
  model_->Flush();
}

bool TListView::QtEvent(QWidget* target, void* raw) {
  return TWinControl::QtEvent(target, raw);
}

bool TListView::SetProperty(const std::string& name, const std::string& value, TComponent* root) {
  using namespace layout_values;
  if (name == "ViewStyle") {
    static const char* kNames[] = {"vsIcon", "vsSmallIcon", "vsList", "vsReport"};
    auto it = std::find(std::begin(kNames), std::end(kNames), value);
    if (it == std::end(kNames)) throw std::invalid_argument("unknown view style " + value);
    SetViewStyle(static_cast<TViewStyle>(it - std::begin(kNames)));
  } else if (name == "GridLines") {
    SetGridLines(ToBool(value));
  } else if (name == "RowSelect") {
    SetRowSelect(ToBool(value));
  } else if (name == "ReadOnly") {
    SetReadOnly(ToBool(value));
  } else if (name == "Checkboxes") {
    SetCheckboxes(ToBool(value));
  } else if (name == "MultiSelect") {
    SetMultiSelect(ToBool(value));
  } else if (name == "SmallImages") {
    auto* images = dynamic_cast<TImageList*>(root ? root->FindComponent(value) : nullptr);
    if (!images) throw std::invalid_argument("no image list named " + value);
    SetSmallImages(images);
  } else if (name == "Columns") {
    // "caption:width|caption:width|..."
    size_t start = 0;
    while (start < value.size()) {
      size_t bar = value.find('|', start);
      if (bar == std::string::npos) bar = value.size();
      const std::string one = value.substr(start, bar - start);
      const size_t colon = one.rfind(':');
      TListColumn* c = columns_->Add();
      c->SetCaption(colon == std::string::npos ? one : one.substr(0, colon));
      if (colon != std::string::npos) c->SetWidth(ToInt(one.substr(colon + 1)));
      start = bar + 1;
    }
  } else {
    return TWinControl::SetProperty(name, value, root);
  }
  return true;
}

bool TListView::BindEvent(const std::string& event, const THandler& handler) {
  using layout_values::Bind;
  if (event == "OnCompare")
    Bind(OnCompare, handler);
  else if (event == "OnColumnClick")
    Bind(OnColumnClick, handler);
  else if (event == "OnChange")
    Bind(OnChange, handler);
  else
    return TWinControl::BindEvent(event, handler);
  return true;
}
