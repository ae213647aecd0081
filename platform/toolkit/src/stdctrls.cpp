#include "toolkit/stdctrls.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyleOptionButton>
#include <QStylePainter>

#include "guarded.h"
#include "qt_app.h"
#include "toolkit/actnlist.h"
#include "toolkit/application.h"
#include "toolkit/layout.h"

using namespace toolkit_detail;

namespace {

// A line edit whose context-menu paste goes through the edit's paste path.
class EditWidget : public QLineEdit {
 public:
  TEdit* owner = nullptr;

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override {
    QMenu* menu = createStandardContextMenu();
    for (QAction* a : menu->actions()) {
      if (a->objectName() == QLatin1String("edit-paste") && owner) {
        QObject::disconnect(a, &QAction::triggered, nullptr, nullptr);
        TEdit* edit = owner;
        QObject::connect(a, &QAction::triggered,
                         [edit] { Guarded(edit, [edit] { edit->PasteFromClipboard(); }); });
      }
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
  }
};

// A combo box that tells its control before its list drops down, and shows
// the list, frame included, as wide as the control asks.
class ComboWidget : public QComboBox {
 public:
  std::function<void()> fnBeforePopup;
  std::function<int()> fnListWidth;  // 0: as Qt lays it out
  void showPopup() override {
    if (fnBeforePopup) fnBeforePopup();
    QComboBox::showPopup();
    QWidget* list = view()->window();
    const int width = fnListWidth ? fnListWidth() : 0;
    if (width > 0 && list != this && list->width() != width) list->resize(width, list->height());
  }
};

// A push button that paints the pressed image of its glyph while it is held
// down. Qt's styles pick an icon mode from the enabled and focus states only,
// so no mode of the icon would ever show the pressed image.
class GlyphButton : public QPushButton {
 public:
  QIcon pressedIcon;

 protected:
  void paintEvent(QPaintEvent*) override {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    if (isDown() && isEnabled() && !pressedIcon.isNull()) option.icon = pressedIcon;
    painter.drawControl(QStyle::CE_PushButton, option);
  }
};

class ComboItems : public TStrings {
 public:
  explicit ComboItems(QComboBox* box) : pBox(box) {}
  int Count() const override { return pBox->count(); }
  std::string Strings(int index) const override {
    if (index < 0 || index >= Count()) return {};
    return G(pBox->itemText(index));
  }
  void Put(int index, const std::string& text) override {
    if (index < 0 || index >= Count()) return;
    pBox->setItemText(index, Q(text));
  }
  void Insert(int index, const std::string& text) override {
    const QString keep = pBox->isEditable() ? pBox->currentText() : QString();
    const int current = pBox->currentIndex();
    pBox->insertItem(std::clamp(index, 0, Count()), Q(text));
    // Adding items never changes what the box shows or selects.
    if (pBox->isEditable()) {
      if (current < 0) pBox->setCurrentIndex(-1);
      pBox->setEditText(keep);
    }
  }
  void Delete(int index) override {
    if (index < 0 || index >= Count()) return;
    pBox->removeItem(index);
  }
  void Clear() override { pBox->clear(); }

 private:
  QComboBox* pBox;
};

}  // namespace

// ---- TEdit ----

TEdit::TEdit(TComponent* owner) : TWinControl(owner, MakeWidget<EditWidget>()) {
  Init();
}

TEdit::TEdit(TComponent* owner, QWidget* widget) : TWinControl(owner, widget) {
  Init();
}

void TEdit::Init() {
  if (auto* w = dynamic_cast<EditWidget*>(Widget())) w->owner = this;
  SetTabStop(true);
  auto* edit = LineEdit();
  edit->setDragEnabled(false);
  edit->setAcceptDrops(false);
  QObject::connect(edit, &QLineEdit::textChanged,
                   [this] { Guarded(this, [this] { OnChange(this); }); });
  Widget()->resize(121, 21);
}

TEdit::~TEdit() = default;

void TEdit::SetMaxLength(int length) {
  iMaxLength = std::max(length, 0);
  LineEdit()->setMaxLength(iMaxLength > 0 ? iMaxLength : 32767);
}

QLineEdit* TEdit::LineEdit() const {
  return static_cast<QLineEdit*>(Widget());
}

bool TEdit::ReadOnly() const {
  return LineEdit()->isReadOnly();
}
void TEdit::SetReadOnly(bool value) {
  LineEdit()->setReadOnly(value);
}
void TEdit::SelectAll() {
  LineEdit()->selectAll();
}

void TEdit::PasteText(const std::string& text) {
  auto* edit = LineEdit();
  if (edit->isReadOnly()) return;
  const std::string filtered = fnPasteFilter ? fnPasteFilter(text) : text;
  edit->insert(Q(filtered));  // replaces the selection; stops at the maximum length
}

void TEdit::PasteFromClipboard() {
  PasteText(G(QGuiApplication::clipboard()->text()));
}

std::string TEdit::GetText() const {
  return G(LineEdit()->text());
}

void TEdit::ApplyText(const std::string& text) {
  LineEdit()->setText(Q(text));
}

bool TEdit::QtEvent(QWidget* target, void* raw) {
  auto* e = static_cast<QEvent*>(raw);
  if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->matches(QKeySequence::Paste)) {
    if (TWinControl::QtEvent(target, raw)) return true;  // a handler dropped the key
    PasteFromClipboard();
    return true;
  }
  return TWinControl::QtEvent(target, raw);
}

bool TEdit::InsertTyped(const std::string& bytes) {
  auto* edit = LineEdit();
  if (bytes.size() == 1 && static_cast<unsigned char>(bytes[0]) < 32) return false;
  edit->insert(Q(bytes));
  return true;
}

bool TEdit::SetProperty(const std::string& name, const std::string& value, TComponent* root) {
  using namespace layout_values;
  static constexpr TPropertySetter<TEdit> kProperties[] = {
      {"MaxLength", IntSetter<TEdit, &TEdit::SetMaxLength>},
      {"ReadOnly", BoolSetter<TEdit, &TEdit::SetReadOnly>},
  };
  return SetFromTable(kProperties, *this, name, value, root) ||
         TWinControl::SetProperty(name, value, root);
}

bool TEdit::BindEvent(const std::string& event, const THandler& handler) {
  using namespace layout_values;
  static constexpr TEventBinder<TEdit> kEvents[] = {
      {"OnChange", EventBinder<TEdit, &TEdit::OnChange>},
  };
  return BindFromTable(kEvents, *this, event, handler) || TWinControl::BindEvent(event, handler);
}

// ---- TLabeledEdit ----

TLabeledEdit::TLabeledEdit(TComponent* owner) : TEdit(owner), pLabel(new QLabel) {
  // The label sits in the parent's widget and may go with it first.
  QObject::connect(pLabel, &QObject::destroyed, [this] { pLabel = nullptr; });
}

TLabeledEdit::~TLabeledEdit() {
  if (pLabel) {
    QObject::disconnect(pLabel, &QObject::destroyed, nullptr, nullptr);
    delete pLabel;
  }
}

std::string TLabeledEdit::LabelCaption() const {
  return pLabel ? G(static_cast<QLabel*>(pLabel)->text()) : std::string();
}

void TLabeledEdit::SetLabelCaption(const std::string& text) {
  if (!pLabel) return;
  static_cast<QLabel*>(pLabel)->setText(Q(text));
  PlaceLabel();
}

void TLabeledEdit::PlaceLabel() {
  if (!pLabel) return;
  QWidget* parent = Widget()->parentWidget();
  if (pLabel->parentWidget() != parent) {
    pLabel->setParent(parent);
    if (parent) pLabel->show();
  }
  pLabel->setFont(Widget()->font());
  pLabel->adjustSize();
  pLabel->move(Left(), Top() - pLabel->height() - 3);
}

void TLabeledEdit::SetBounds(int left, int top, int width, int height) {
  TEdit::SetBounds(left, top, width, height);
  PlaceLabel();
}

void TLabeledEdit::SetParent(TWinControl* parent) {
  TEdit::SetParent(parent);
  PlaceLabel();
}

bool TLabeledEdit::SetProperty(const std::string& name, const std::string& value,
                               TComponent* root) {
  using namespace layout_values;
  static constexpr TPropertySetter<TLabeledEdit> kProperties[] = {
      {"EditLabel.Caption", TextSetter<TLabeledEdit, &TLabeledEdit::SetLabelCaption>},
  };
  return SetFromTable(kProperties, *this, name, value, root) ||
         TEdit::SetProperty(name, value, root);
}

// ---- TCheckBox ----

TCheckBox::TCheckBox(TComponent* owner) : TWinControl(owner, MakeWidget<QCheckBox>()) {
  SetTabStop(true);
  auto* box = CheckBox();
  // A user's click: through the dispatcher.
  QObject::connect(box, &QCheckBox::toggled, [this](bool on) {
    bChecked = on;
    Guarded(this, [this] { Click(); });
  });
  Widget()->resize(97, 17);
}

TCheckBox::~TCheckBox() = default;

QCheckBox* TCheckBox::CheckBox() const {
  return static_cast<QCheckBox*>(Widget());
}

bool TCheckBox::Checked() const {
  return CheckBox()->isChecked();
}

void TCheckBox::SetChecked(bool checked) {
  if (checked == Checked()) return;
  {
    QSignalBlocker block(Widget());
    CheckBox()->setChecked(checked);
  }
  bChecked = checked;
  Click();
}

std::string TCheckBox::GetText() const {
  return G(CheckBox()->text());
}

void TCheckBox::ApplyText(const std::string& text) {
  CheckBox()->setText(Q(text));
}

bool TCheckBox::SetProperty(const std::string& name, const std::string& value, TComponent* root) {
  using namespace layout_values;
  static constexpr TPropertySetter<TCheckBox> kProperties[] = {
      // The state as laid out: no click.
      {"Checked",
       [](TCheckBox& c, const std::string& v, TComponent*) {
         QSignalBlocker block(c.Widget());
         c.CheckBox()->setChecked(ToBool(v));
       }},
  };
  return SetFromTable(kProperties, *this, name, value, root) ||
         TWinControl::SetProperty(name, value, root);
}

// ---- TComboBox ----

TComboBox::TComboBox(TComponent* owner)
    : TWinControl(owner, MakeWidget<ComboWidget>()), cCanvas(Widget()) {
  auto* box = static_cast<ComboWidget*>(Widget());
  pItems = std::make_unique<ComboItems>(box);
  box->setEditable(true);
  box->setInsertPolicy(QComboBox::NoInsert);
  box->setMaxVisibleItems(iDropDownCount);
  box->fnBeforePopup = [this] { Guarded(this, [this] { DropDown(); }); };
  box->fnListWidth = [this] { return iDroppedWidth > 0 ? DroppedWidth() : 0; };
  QObject::connect(box, &QComboBox::activated,
                   [this](int) { Guarded(this, [this] { OnChange(this); }); });
  if (QLineEdit* edit = box->lineEdit()) Bridge(edit);
  SetTabStop(true);
  Widget()->resize(145, 20);
}

TComboBox::~TComboBox() = default;

QComboBox* TComboBox::ComboBox() const {
  return static_cast<QComboBox*>(Widget());
}

void TComboBox::SetStyle(TComboBoxStyle style) {
  iStyle = style;
  auto* box = ComboBox();
  const bool editable = style == csDropDown || style == csSimple;
  if (box->isEditable() != editable) {
    box->setEditable(editable);
    if (editable) {
      box->setInsertPolicy(QComboBox::NoInsert);
      if (QLineEdit* edit = box->lineEdit()) Bridge(edit);
    }
  }
}

int TComboBox::ItemIndex() const {
  auto* box = ComboBox();
  const int current = box->currentIndex();
  if (!box->isEditable()) return current;
  // Qt keeps the last chosen item current while other text is typed over it;
  // the selection is the item the text equals, if any.
  const QString text = box->currentText();
  if (current >= 0 && box->itemText(current) == text) return current;
  return box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
}

void TComboBox::SetItemIndex(int index) {
  auto* box = ComboBox();
  box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
  if (index < 0 && box->isEditable()) box->setEditText(QString());
}

void TComboBox::SetItemHeight(int height) {
  iItemHeight = height;
}

int TComboBox::DroppedWidth() const {
  return std::max(iDroppedWidth, Width());
}

bool TComboBox::DroppedDown() const {
  auto* box = ComboBox();
  return box->view() && box->view()->isVisible();
}

void TComboBox::SetDroppedDown(bool value) {
  auto* box = ComboBox();
  if (value) {
    box->showPopup();
  } else {
    box->hidePopup();
  }
}

void TComboBox::DropDown() {
  OnDropDown(this);
}

void TComboBox::WndProc(TMessage& m) {
  switch (m.Msg) {
    case CB_SETDROPPEDWIDTH: {
      iDroppedWidth = std::max(static_cast<int>(m.WParam), 0);
      m.Result = DroppedWidth();
      return;
    }
    case CB_GETDROPPEDWIDTH:
      m.Result = DroppedWidth();
      return;
    default:
      TWinControl::WndProc(m);
  }
}

std::string TComboBox::GetText() const {
  return G(ComboBox()->currentText());
}

void TComboBox::ApplyText(const std::string& text) {
  auto* box = ComboBox();
  if (box->isEditable()) {
    box->setEditText(Q(text));
  } else {
    box->setCurrentIndex(box->findText(Q(text)));
  }
}

bool TComboBox::SetProperty(const std::string& name, const std::string& value, TComponent* root) {
  using namespace layout_values;
  using C = TComboBox;
  static constexpr TEnumName<TComboBoxStyle> kStyles[] = {
      {"csDropDown", csDropDown}, {"csDropDownList", csDropDownList}, {"csSimple", csSimple}};
  static constexpr TPropertySetter<C> kProperties[] = {
      {"ItemHeight", IntSetter<C, &C::SetItemHeight>},
      {"DropDownCount",
       [](C& c, const std::string& v, TComponent*) {
         c.SetDropDownCount(ToInt(v));
         c.ComboBox()->setMaxVisibleItems(std::max(c.iDropDownCount, 1));
       }},
      {"ItemIndex", IntSetter<C, &C::SetItemIndex>},
      {"Style", [](C& c, const std::string& v,
                   TComponent*) { c.SetStyle(EnumFromName(kStyles, v, "combo box style")); }},
      // Items separated by '|'; "a|" ends with an empty item.
      {"Items",
       [](C& c, const std::string& v, TComponent*) {
         for (const std::string& item : SplitAtBars(v, TTrailingEmpty::kKeep)) c.pItems->Add(item);
       }},
  };
  return SetFromTable(kProperties, *this, name, value, root) ||
         TWinControl::SetProperty(name, value, root);
}

bool TComboBox::BindEvent(const std::string& event, const THandler& handler) {
  using namespace layout_values;
  static constexpr TEventBinder<TComboBox> kEvents[] = {
      {"OnChange", EventBinder<TComboBox, &TComboBox::OnChange>},
      {"OnDropDown", EventBinder<TComboBox, &TComboBox::OnDropDown>},
  };
  return BindFromTable(kEvents, *this, event, handler) || TWinControl::BindEvent(event, handler);
}

// ---- TBitBtn ----

TBitBtn::TBitBtn(TComponent* owner) : TWinControl(owner, MakeWidget<GlyphButton>()) {
  SetTabStop(true);
  QObject::connect(PushButton(), &QPushButton::clicked,
                   [this] { Guarded(this, [this] { Click(); }); });
  Widget()->resize(75, 25);
}

TBitBtn::~TBitBtn() {
  SetAction(nullptr);
}

void TBitBtn::GlyphChanged() {
  auto* button = static_cast<GlyphButton*>(Widget());
  button->pressedIcon = QIcon();
  if (cGlyph.Empty()) {
    button->setIcon(QIcon());
    return;
  }
  const int parts = std::max(iNumGlyphs, 1);
  const int w = cGlyph.Width() / parts;
  const QImage& all = cGlyph.Image();
  auto part = [&](int i) { return QPixmap::fromImage(all.copy(i * w, 0, w, all.height())); };
  QIcon icon;
  icon.addPixmap(part(0), QIcon::Normal);
  if (parts >= 2) icon.addPixmap(part(1), QIcon::Disabled);
  if (parts >= 3) button->pressedIcon.addPixmap(part(2), QIcon::Normal);
  button->setIcon(icon);
  button->setIconSize(QSize(w, all.height()));
  button->update();
}

bool TBitBtn::SetStockGlyph(const std::string& name) {
  if (!StockGlyph(name, std::max(Width() - 10, 16), std::max(Height() - 8, 12), &cGlyph)) {
    return false;
  }
  iNumGlyphs = 3;
  GlyphChanged();
  return true;
}

void TBitBtn::SetNumGlyphs(int count) {
  iNumGlyphs = std::clamp(count, 1, 4);
  GlyphChanged();
}

void TBitBtn::SetAction(TAction* action) {
  if (action == pAction) return;
  RemoveFreeNotification(pAction);
  pAction = action;
  FreeNotification(pAction);
}

void TBitBtn::Notification(TComponent* component) {
  if (component == pAction) pAction = nullptr;
  TWinControl::Notification(component);
}

void TBitBtn::Click() {
  if (OnClick) {
    OnClick(this);
  } else if (pAction) {
    pAction->Execute();
  }
}

QPushButton* TBitBtn::PushButton() const {
  return static_cast<QPushButton*>(Widget());
}

std::string TBitBtn::GetText() const {
  return G(PushButton()->text());
}

void TBitBtn::ApplyText(const std::string& text) {
  PushButton()->setText(Q(text));
}

bool TBitBtn::SetProperty(const std::string& name, const std::string& value, TComponent* root) {
  using namespace layout_values;
  using C = TBitBtn;
  static constexpr TPropertySetter<C> kProperties[] = {
      {"NumGlyphs", IntSetter<C, &C::SetNumGlyphs>},
      {"Action", [](C& c, const std::string& v,
                    TComponent* root) { c.SetAction(NamedComponent<TAction>(root, v, "action")); }},
      // "stock:NAME" draws a stock face sized to the button.
      {"Glyph",
       [](C& c, const std::string& v, TComponent*) {
         if (v.rfind("stock:", 0) != 0) throw std::invalid_argument("unknown glyph " + v);
         if (!c.SetStockGlyph(v.substr(6))) throw std::invalid_argument("unknown stock glyph " + v);
       }},
  };
  return SetFromTable(kProperties, *this, name, value, root) ||
         TWinControl::SetProperty(name, value, root);
}

bool StockGlyph(const std::string& name, int width, int height, TBitmap* glyph) {
  struct Face {
    const char* name;
    QString label;
    QColor colour;
  };
  static const Face kFaces[] = {{"query", QStringLiteral("查询"), QColor(30, 90, 170)},
                                {"close", QStringLiteral("关闭"), QColor(170, 40, 40)},
                                {"ok", QStringLiteral("确定"), QColor(30, 130, 60)},
                                {"cancel", QStringLiteral("取消"), QColor(120, 120, 120)}};
  const Face* face = nullptr;
  for (const Face& f : kFaces) {
    if (name == f.name) face = &f;
  }
  if (!face || !glyph || width <= 0 || height <= 0) return false;
  EnsureQtApplication();
  QImage image(width * 3, height, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QFont font;
  font.setFamilies(QtFamilies(QStringLiteral("宋体")));
  font.setPixelSize(std::max(height - 6, 9));
  p.setFont(font);
  for (int i = 0; i < 3; ++i) {
    // Disabled: grey; pressed: a darker shade, sunk by a pixel.
    const QColor c = i == 1   ? QColor(160, 160, 160)
                     : i == 2 ? face->colour.darker(150)
                              : face->colour;
    const int dx = i * width + (i == 2 ? 1 : 0), dy = i == 2 ? 1 : 0;
    const int s = height - 6;
    QRect mark(dx + 2, dy + 3, s, s);
    p.setPen(QPen(c, 2));
    if (name == "query") {
      p.drawEllipse(mark.adjusted(0, 0, -s / 3, -s / 3));
      p.drawLine(mark.center() + QPoint(s / 6, s / 6), mark.bottomRight());
    } else if (name == "close" || name == "cancel") {
      p.drawLine(mark.topLeft(), mark.bottomRight());
      p.drawLine(mark.topRight(), mark.bottomLeft());
    } else {
      p.drawLine(mark.left(), mark.center().y(), mark.center().x(), mark.bottom());
      p.drawLine(mark.center().x(), mark.bottom(), mark.right(), mark.top());
    }
    p.setPen(c);
    p.drawText(QRect(dx + s + 6, dy, width - s - 6, height), Qt::AlignVCenter | Qt::AlignLeft,
               face->label);
  }
  p.end();
  glyph->SetImage(image);
  return true;
}
