#include "toolkit/controls.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPalette>
#include <QWidget>
#include <algorithm>

#include "handles.h"
#include "qt_input.h"
#include "toolkit/application.h"
#include "toolkit/forms.h"
#include "toolkit/layout.h"

using namespace toolkit_detail;

namespace toolkit_detail {

// Passes every event of a control's widgets to TControl::QtEvent.
class ControlBridge : public QObject {
 public:
  explicit ControlBridge(TControl* control) : pControl(control) {}
  void Watch(QWidget* widget);
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  TControl* pControl;
};

namespace {

// A mouse event that a widget ignores travels up to its parents, as a copy
// with the same type, time and screen point. As on the platform we model, only
// the window under the pointer gets it: each mouse event is reported once, by
// the first enabled control it reaches (a disabled one passes it to its
// container).
struct ReportedMouseEvent {
  QEvent::Type type = QEvent::None;
  quint64 timestamp = 0;
  QPointF global;
  QPointer<QObject> receiver;
};
ReportedMouseEvent gLastMouseEvent;

bool AlreadyReportedMouse(QObject* receiver, const QMouseEvent* e) {
  const ReportedMouseEvent& last = gLastMouseEvent;
  if (last.receiver && last.receiver != receiver && e->type() == last.type &&
      e->timestamp() == last.timestamp && e->globalPosition() == last.global) {
    for (QObject* o = last.receiver->parent(); o; o = o->parent()) {
      if (o == receiver) return true;
    }
  }
  gLastMouseEvent = {e->type(), e->timestamp(), e->globalPosition(), receiver};
  return false;
}

}  // namespace

void ControlBridge::Watch(QWidget* widget) {
  widget->installEventFilter(this);
  widget->setMouseTracking(true);
}

bool ControlBridge::eventFilter(QObject* watched, QEvent* event) {
  auto* target = qobject_cast<QWidget*>(watched);
  if (!target || pControl->Destroying()) return false;
  switch (event->type()) {
    case QEvent::MouseMove:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::ContextMenu:
      // A disabled control gets no mouse input of its own: Qt passes the
      // event on to the parent, whose control reports it.
      if (!target->isEnabled()) return false;
      if (event->type() != QEvent::ContextMenu &&
          AlreadyReportedMouse(target, static_cast<QMouseEvent*>(event))) {
        return false;
      }
      break;
    default:
      break;
  }
  bool consumed = false;
  try {
    consumed = pControl->QtEvent(target, event);
  } catch (...) {
    TApplication::Instance()->HandleException(pControl);
    consumed = true;
  }
  return consumed;
}

}  // namespace toolkit_detail

namespace {

QColor ToQColor(TColor c) {
  const uint32_t rgb = ColorToRGB(c);
  return QColor(rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
}

// A key event travels up from the focused widget to its parents when a
// widget ignores it; each control handles it only once, where it started.
const QEvent* gLastKeyEvent = nullptr;
QPointer<QObject> gLastKeyReceiver;

bool AlreadyHandledKey(QObject* receiver, const QEvent* e) {
  if (e == gLastKeyEvent && gLastKeyReceiver && receiver != gLastKeyReceiver.data()) {
    for (QObject* o = gLastKeyReceiver->parent(); o; o = o->parent()) {
      if (o == receiver) return true;
    }
  }
  gLastKeyEvent = e;
  gLastKeyReceiver = receiver;
  return false;
}

// Tab and Shift+Tab belong to the form: they move the focus through its tab
// order before any key handler or key filter of the control sees them.
bool MovedFocusByTab(TWinControl* control, const QKeyEvent* e) {
  const Qt::KeyboardModifiers mods = e->modifiers() & ~Qt::KeypadModifier;
  if ((e->key() != Qt::Key_Tab && e->key() != Qt::Key_Backtab) ||
      (mods & ~Qt::ShiftModifier) != Qt::NoModifier) {
    return false;
  }
  TForm* form = GetParentForm(control);
  if (form == nullptr) return false;
  const bool forward = e->key() == Qt::Key_Tab && mods == Qt::NoModifier;
  form->SelectNext(control == form ? form->ActiveControl() : control, forward, true);
  return true;
}

}  // namespace

// ---- TControl ----

TControl::TControl(TComponent* owner, QWidget* widget)
    : TComponent(owner), pWidget(widget), pBridge(std::make_unique<ControlBridge>(this)) {
  pBridge->Watch(pWidget);
  pWidget->setFont(cFont.ToQFont());
  cFont.OnChange = [this] { FontChanged(); };
}

TControl::~TControl() {
  MarkDestroying();
  SetContextPopup(nullptr);
  if (pParent) pParent->RemoveChild(this);
  pParent = nullptr;
  cFont.OnChange = nullptr;
  QWidget* w = pWidget;
  pWidget = nullptr;
  pBridge.reset();
  delete w;
}

void TControl::Bridge(QWidget* widget) {
  pBridge->Watch(widget);
}

void TControl::SetParent(TWinControl* parent) {
  if (parent == pParent) return;
  if (pParent) {
    if (TForm* form = GetParentForm(this); form && form != this) form->ControlLeaving(this);
    pParent->RemoveChild(this);
  }
  pParent = parent;
  if (pParent) {
    const QRect g = pWidget->geometry();
    pWidget->setParent(pParent->ClientWidget());
    pWidget->setGeometry(g);
    pWidget->setVisible(bVisible);
    pParent->AddChild(this);
    SyncFromParent();
    if (iAlign != alNone) pParent->Realign();
  } else {
    pWidget->hide();
    pWidget->setParent(nullptr);
  }
}

int TControl::Left() const {
  return pWidget->x();
}
int TControl::Top() const {
  return pWidget->y();
}
int TControl::Width() const {
  return pWidget->width();
}
int TControl::Height() const {
  return pWidget->height();
}

void TControl::SetBounds(int left, int top, int width, int height) {
  pWidget->setGeometry(left, top, std::max(width, 0), std::max(height, 0));
  if (auto* self = dynamic_cast<TWinControl*>(this)) self->Realign();
  if (pParent && iAlign != alNone) pParent->Realign();
}

TRect TControl::ClientRect() const {
  return Bounds(0, 0, Width(), Height());
}

void TControl::SetClientSize(int width, int height) {
  const TRect c = ClientRect();
  SetBounds(Left(), Top(), width + (Width() - c.Width()), height + (Height() - c.Height()));
}

void TControl::SetEnabled(bool enabled) {
  bEnabled = enabled;
  pWidget->setEnabled(enabled);
}

void TControl::SetVisible(bool visible) {
  bVisible = visible;
  if (pParent) {
    pWidget->setVisible(visible);
    if (iAlign != alNone) pParent->Realign();
  }
}

bool TControl::Showing() const {
  if (!bVisible) return false;
  if (pParent) return pParent->Showing();
  return pWidget->isVisible();
}

void TControl::ApplyColor() {
  if (bParentColor) {
    pWidget->setAutoFillBackground(false);
    return;
  }
  QPalette pal = pWidget->palette();
  pal.setColor(QPalette::Window, ToQColor(iColor));
  pWidget->setPalette(pal);
  pWidget->setAutoFillBackground(true);
}

void TControl::SetColor(TColor color) {
  iColor = color;
  bParentColor = false;
  ApplyColor();
  if (auto* self = dynamic_cast<TWinControl*>(this)) {
    for (TControl* child : self->vControls) child->SyncFromParent();
  }
}

void TControl::SetParentColor(bool value) {
  bParentColor = value;
  SyncFromParent();
  ApplyColor();
}

void TControl::ApplyFont() {
  QFont f = cFont.ToQFont();
  pWidget->setFont(f);
  QPalette pal = pWidget->palette();
  pal.setColor(QPalette::WindowText, ToQColor(cFont.Color()));
  pal.setColor(QPalette::Text, ToQColor(cFont.Color()));
  pal.setColor(QPalette::ButtonText, ToQColor(cFont.Color()));
  pWidget->setPalette(pal);
}

void TControl::FontChanged() {
  if (!bSyncingFont) bParentFont = false;
  ApplyFont();
  if (auto* self = dynamic_cast<TWinControl*>(this)) {
    for (TControl* child : self->vControls) child->SyncFromParent();
  }
}

void TControl::SetParentFont(bool value) {
  bParentFont = value;
  SyncFromParent();
}

void TControl::SyncFromParent() {
  if (!pParent) return;
  if (bParentFont) {
    bSyncingFont = true;
    cFont.Assign(pParent->cFont);
    bSyncingFont = false;
  }
  if (bParentColor) {
    iColor = pParent->iColor;
    ApplyColor();
    if (auto* self = dynamic_cast<TWinControl*>(this)) {
      for (TControl* child : self->vControls) child->SyncFromParent();
    }
  }
}

void TControl::ParentChanged() {
  SyncFromParent();
}

std::string TControl::GetText() const {
  return sText;
}

void TControl::ApplyText(const std::string& text) {
  sText = text;
}

void TControl::SetText(const std::string& text) {
  ApplyText(text);
}

void TControl::SetAlign(TAlign align) {
  iAlign = align;
  if (pParent) pParent->Realign();
}

// ---- TContextPopup ----

void TContextPopup::SetPopupComponent(TComponent* component) {
  if (component == pPopupComponent) return;
  RemoveFreeNotification(pPopupComponent);
  pPopupComponent = component;
  FreeNotification(pPopupComponent);
}

void TContextPopup::PopupFor(TComponent* component, int x, int y) {
  SetPopupComponent(component);
  Popup(x, y);
}

void TContextPopup::Release(TComponent* component) {
  if (component == pPopupComponent) SetPopupComponent(nullptr);
}

void TContextPopup::Popup(int, int) {}

void TContextPopup::Notification(TComponent* component) {
  if (component == pPopupComponent) pPopupComponent = nullptr;
  TComponent::Notification(component);
}

// ---- TControl ----

void TControl::SetContextPopup(TContextPopup* popup) {
  if (popup == pPopupMenu) return;
  // A menu the control leaves no longer shows for it.
  if (pPopupMenu) pPopupMenu->Release(this);
  RemoveFreeNotification(pPopupMenu);
  pPopupMenu = popup;
  FreeNotification(pPopupMenu);
}

void TControl::Notification(TComponent* component) {
  if (component == pPopupMenu) pPopupMenu = nullptr;
  TComponent::Notification(component);
}

bool TControl::SetLayoutParent(TComponent* parent) {
  auto* windowed = dynamic_cast<TWinControl*>(parent);
  if (!windowed) return false;
  SetParent(windowed);
  return true;
}

TPoint TControl::ClientToScreen(const TPoint& p) const {
  const QPoint g = pWidget->mapToGlobal(QPoint(p.x, p.y));
  return {g.x(), g.y()};
}

TPoint TControl::ScreenToClient(const TPoint& p) const {
  const QPoint l = pWidget->mapFromGlobal(QPoint(p.x, p.y));
  return {l.x(), l.y()};
}

void TControl::Invalidate() {
  pWidget->update();
}

void TControl::Update() {
  QCoreApplication::sendPostedEvents(pWidget->window(), QEvent::UpdateRequest);
}

void TControl::Repaint() {
  pWidget->repaint();
}

void TControl::Click() {
  OnClick(this);
}

bool TControl::QtEvent(QWidget* target, void* raw) {
  auto* e = static_cast<QEvent*>(raw);
  switch (e->type()) {
    case QEvent::MouseMove: {
      auto* me = static_cast<QMouseEvent*>(e);
      const QPoint local = target == pWidget ? me->position().toPoint()
                                             : target->mapTo(pWidget, me->position().toPoint());
      OnMouseMove(this, ShiftState(me->modifiers(), me->buttons()), local.x(), local.y());
      return false;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease: {
      auto* me = static_cast<QMouseEvent*>(e);
      const QPoint local = target == pWidget ? me->position().toPoint()
                                             : target->mapTo(pWidget, me->position().toPoint());
      const TMouseButton b = me->button() == Qt::RightButton    ? mbRight
                             : me->button() == Qt::MiddleButton ? mbMiddle
                                                                : mbLeft;
      auto& ev = e->type() == QEvent::MouseButtonPress ? OnMouseDown : OnMouseUp;
      ev(this, b, ShiftState(me->modifiers(), me->buttons()), local.x(), local.y());
      return false;
    }
    case QEvent::MouseButtonDblClick:
      OnDblClick(this);
      return false;
    case QEvent::ContextMenu:
      if (pPopupMenu) {
        auto* ce = static_cast<QContextMenuEvent*>(e);
        pPopupMenu->PopupFor(this, ce->globalPos().x(), ce->globalPos().y());
        return true;
      }
      return false;
    default:
      return false;
  }
}

bool TControl::SetProperty(const std::string& name, const std::string& value, TComponent* root) {
  using namespace layout_values;
  using C = TControl;
  static constexpr TEnumName<TAlign> kAligns[] = {{"alNone", alNone},     {"alTop", alTop},
                                                  {"alBottom", alBottom}, {"alLeft", alLeft},
                                                  {"alRight", alRight},   {"alClient", alClient}};
  static constexpr TPropertySetter<C> kProperties[] = {
      {"Left", IntSetter<C, &C::SetLeft>},
      {"Top", IntSetter<C, &C::SetTop>},
      {"Width", IntSetter<C, &C::SetWidth>},
      {"Height", IntSetter<C, &C::SetHeight>},
      {"ClientWidth", [](C& c, const std::string& v,
                         TComponent*) { c.SetClientSize(ToInt(v), c.ClientHeight()); }},
      {"ClientHeight",
       [](C& c, const std::string& v, TComponent*) { c.SetClientSize(c.ClientWidth(), ToInt(v)); }},
      {"Caption", TextSetter<C, &C::SetText>},
      {"Text", TextSetter<C, &C::SetText>},
      {"Enabled", BoolSetter<C, &C::SetEnabled>},
      {"Visible", BoolSetter<C, &C::SetVisible>},
      {"Color", IntSetter<C, &C::SetColor>},
      {"ParentColor", BoolSetter<C, &C::SetParentColor>},
      {"ParentFont", BoolSetter<C, &C::SetParentFont>},
      {"Font.Name", [](C& c, const std::string& v, TComponent*) { c.cFont.SetName(v); }},
      {"Font.Height", [](C& c, const std::string& v, TComponent*) { c.cFont.SetHeight(ToInt(v)); }},
      {"Font.Size", [](C& c, const std::string& v, TComponent*) { c.cFont.SetSize(ToInt(v)); }},
      {"Font.Color", [](C& c, const std::string& v, TComponent*) { c.cFont.SetColor(ToInt(v)); }},
      {"Font.Charset",
       [](C& c, const std::string& v, TComponent*) { c.cFont.SetCharset(ToInt(v)); }},
      {"Font.Style", [](C& c, const std::string& v,
                        TComponent*) { c.cFont.SetStyle(static_cast<unsigned>(ToInt(v))); }},
      {"Hint", TextSetter<C, &C::SetHint>},
      {"Align", [](C& c, const std::string& v,
                   TComponent*) { c.SetAlign(EnumFromName(kAligns, v, "alignment")); }},
      {"PopupMenu",
       [](C& c, const std::string& v, TComponent* root) {
         c.SetContextPopup(NamedComponent<TContextPopup>(root, v, "popup menu"));
       }},
  };
  return SetFromTable(kProperties, *this, name, value, root) ||
         TComponent::SetProperty(name, value, root);
}

bool TControl::BindEvent(const std::string& event, const THandler& handler) {
  using namespace layout_values;
  using C = TControl;
  static constexpr TEventBinder<C> kEvents[] = {
      {"OnClick", EventBinder<C, &C::OnClick>},
      {"OnDblClick", EventBinder<C, &C::OnDblClick>},
      {"OnMouseMove", EventBinder<C, &C::OnMouseMove>},
      {"OnMouseDown", EventBinder<C, &C::OnMouseDown>},
      {"OnMouseUp", EventBinder<C, &C::OnMouseUp>},
  };
  return BindFromTable(kEvents, *this, event, handler) || TComponent::BindEvent(event, handler);
}

// ---- TWinControl ----

TWinControl::TWinControl(TComponent* owner, QWidget* widget)
    : TControl(owner, widget), pHandle(CreateHandle(this)) {}

void TWinControl::SendDestroy() {
  if (bDestroySent) return;
  bDestroySent = true;
  try {
    SendMessage(pHandle, WM_DESTROY, 0, 0);
  } catch (...) {
    // Destruction goes on whatever a window procedure does.
  }
}

void TWinControl::BeforeDestruction() {
  SendDestroy();
  TControl::BeforeDestruction();
}

TWinControl::~TWinControl() {
  MarkDestroying();
  DestroyComponents();
  SendDestroy();
  if (TForm* form = GetParentForm(this); form && form != this) form->ControlLeaving(this);
  while (!vControls.empty()) vControls.back()->SetParent(nullptr);
  DestroyHandle(pHandle);
  pHandle = nullptr;
}

TControl* TWinControl::Controls(int index) const {
  if (index < 0 || index >= ControlCount()) return nullptr;
  return vControls[static_cast<size_t>(index)];
}

void TWinControl::AddChild(TControl* child) {
  vControls.push_back(child);
  if (auto* w = dynamic_cast<TWinControl*>(child)) vTabList.push_back(w);
}

void TWinControl::RemoveChild(TControl* child) {
  vControls.erase(std::remove(vControls.begin(), vControls.end(), child), vControls.end());
  vTabList.erase(std::remove(vTabList.begin(), vTabList.end(), child), vTabList.end());
  if (child->Align() != alNone && !Destroying()) Realign();
}

int TWinControl::TabOrder() const {
  if (!Parent()) return -1;
  auto& list = Parent()->vTabList;
  auto it = std::find(list.begin(), list.end(), this);
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

void TWinControl::SetTabOrder(int order) {
  if (!Parent()) return;
  auto& list = Parent()->vTabList;
  auto it = std::find(list.begin(), list.end(), this);
  if (it == list.end()) return;
  list.erase(it);
  order = std::clamp(order, 0, static_cast<int>(list.size()));
  list.insert(list.begin() + order, this);
}

void TWinControl::SetFocus() {
  if (!CanFocus()) return;
  if (TForm* form = GetParentForm(this); form && form != this) {
    form->SetActiveControl(this);
  } else {
    Widget()->setFocus(Qt::OtherFocusReason);
  }
}

bool TWinControl::Focused() const {
  TForm* form = GetParentForm(const_cast<TWinControl*>(this));
  if (form && form != this) return form->ActiveControl() == this;
  return Widget()->hasFocus();
}

bool TWinControl::CanFocus() const {
  for (const TControl* c = this; c; c = c->Parent()) {
    if (dynamic_cast<const TForm*>(c)) break;
    if (!c->Visible() || !c->Enabled()) return false;
  }
  return true;
}

TControl* TWinControl::ControlAtPos(const TPoint& point, bool allowDisabled, bool allowWinControls,
                                    bool allLevels) const {
  for (auto it = vControls.rbegin(); it != vControls.rend(); ++it) {
    TControl* c = *it;
    const bool windowed = dynamic_cast<TWinControl*>(c) != nullptr;
    if (windowed && !allowWinControls) continue;
    if (!c->Visible() || (!c->Enabled() && !allowDisabled)) continue;
    if (!c->BoundsRect().Contains(point)) continue;
    if (allLevels) {
      if (auto* w = dynamic_cast<TWinControl*>(c)) {
        if (TControl* inner = w->ControlAtPos({point.x - c->Left(), point.y - c->Top()},
                                              allowDisabled, allowWinControls, true)) {
          return inner;
        }
      }
    }
    return c;
  }
  return nullptr;
}

void TWinControl::GetTabOrderList(std::vector<TWinControl*>& list) const {
  for (TWinControl* c : vTabList) {
    list.push_back(c);
    c->GetTabOrderList(list);
  }
}

LRESULT TWinControl::Perform(UINT msg, WPARAM wParam, LPARAM lParam) {
  TMessage m{msg, wParam, lParam, 0};
  WndProc(m);
  return m.Result;
}

void TWinControl::WndProc(TMessage&) {}

bool TWinControl::InsertTyped(const std::string&) {
  return false;
}

QWidget* TWinControl::ClientWidget() const {
  return Widget();
}

void TWinControl::Realign() {
  TRect r = ClientRect();
  std::vector<TControl*> tops, bottoms, lefts, rights, clients;
  for (TControl* c : vControls) {
    if (!c->Visible()) continue;
    switch (c->Align()) {
      case alTop:
        tops.push_back(c);
        break;
      case alBottom:
        bottoms.push_back(c);
        break;
      case alLeft:
        lefts.push_back(c);
        break;
      case alRight:
        rights.push_back(c);
        break;
      case alClient:
        clients.push_back(c);
        break;
      default:
        break;
    }
  }
  if (tops.empty() && bottoms.empty() && lefts.empty() && rights.empty() && clients.empty()) return;
  auto by = [](auto key) { return [key](TControl* a, TControl* b) { return key(a) < key(b); }; };
  std::stable_sort(tops.begin(), tops.end(), by([](TControl* c) { return c->Top(); }));
  std::stable_sort(bottoms.begin(), bottoms.end(), by([](TControl* c) { return -c->Top(); }));
  std::stable_sort(lefts.begin(), lefts.end(), by([](TControl* c) { return c->Left(); }));
  std::stable_sort(rights.begin(), rights.end(), by([](TControl* c) { return -c->Left(); }));
  // Children are placed without asking this control to realign again.
  auto place = [](TControl* c, int l, int t, int w, int h) {
    c->Widget()->setGeometry(l, t, std::max(w, 0), std::max(h, 0));
    if (auto* wc = dynamic_cast<TWinControl*>(c)) wc->Realign();
  };
  for (TControl* c : tops) {
    place(c, r.Left, r.Top, r.Width(), c->Height());
    r.Top += c->Height();
  }
  for (TControl* c : bottoms) {
    place(c, r.Left, r.Bottom - c->Height(), r.Width(), c->Height());
    r.Bottom -= c->Height();
  }
  for (TControl* c : lefts) {
    place(c, r.Left, r.Top, c->Width(), r.Height());
    r.Left += c->Width();
  }
  for (TControl* c : rights) {
    place(c, r.Right - c->Width(), r.Top, c->Width(), r.Height());
    r.Right -= c->Width();
  }
  for (TControl* c : clients) place(c, r.Left, r.Top, r.Width(), r.Height());
}

bool TWinControl::DoKeyDown(uint16_t& key, TShiftState shift) {
  TForm* form = GetParentForm(this);
  if (form && form != this && form->KeyPreview()) {
    form->OnKeyDown(form, key, shift);
    if (key == 0) return true;
  }
  OnKeyDown(this, key, shift);
  return key == 0;
}

bool TWinControl::DoKeyUp(uint16_t& key, TShiftState shift) {
  TForm* form = GetParentForm(this);
  if (form && form != this && form->KeyPreview()) {
    form->OnKeyUp(form, key, shift);
    if (key == 0) return true;
  }
  OnKeyUp(this, key, shift);
  return key == 0;
}

bool TWinControl::DoKeyPress(std::string& text) {
  TForm* form = GetParentForm(this);
  for (char& byte : text) {
    char c = byte;
    if (form && form != this && form->KeyPreview()) {
      form->OnKeyPress(form, c);
      if (c == 0) return false;
    }
    OnKeyPress(this, c);
    if (c == 0) return false;
    byte = c;
  }
  return true;
}

bool TWinControl::QtEvent(QWidget* target, void* raw) {
  auto* e = static_cast<QEvent*>(raw);
  switch (e->type()) {
    case QEvent::KeyPress: {
      if (AlreadyHandledKey(target, e)) return false;
      auto* ke = static_cast<QKeyEvent*>(e);
      if (MovedFocusByTab(this, ke)) return true;
      uint16_t key = VirtualKey(ke);
      const TShiftState shift = ShiftState(ke->modifiers());
      if (key && DoKeyDown(key, shift)) return true;
      const std::string typed = TypedBytes(ke);
      if (typed.empty()) return false;
      std::string out = typed;
      if (!DoKeyPress(out)) return true;
      if (out != typed) return InsertTyped(out);
      return false;
    }
    case QEvent::KeyRelease: {
      if (AlreadyHandledKey(target, e)) return false;
      auto* ke = static_cast<QKeyEvent*>(e);
      uint16_t key = VirtualKey(ke);
      return key && DoKeyUp(key, ShiftState(ke->modifiers()));
    }
    case QEvent::FocusIn:
      if (TForm* form = GetParentForm(this);
          form && form != this && form->ActiveControl() != this) {
        form->SetActiveControl(this);
      }
      return false;
    case QEvent::Resize:
      if (target == Widget()) Realign();
      return false;
    case QEvent::MouseButtonPress: {
      auto* me = static_cast<QMouseEvent*>(e);
      if (me->button() == Qt::RightButton) {
        const QPoint p = target == Widget() ? me->position().toPoint()
                                            : target->mapTo(Widget(), me->position().toPoint());
        WPARAM keys = MK_RBUTTON;
        if (me->buttons() & Qt::LeftButton) keys |= MK_LBUTTON;
        if (me->modifiers() & Qt::ShiftModifier) keys |= MK_SHIFT;
        if (me->modifiers() & Qt::ControlModifier) keys |= MK_CONTROL;
        SendMessage(pHandle, WM_RBUTTONDOWN, keys, MAKELPARAM(p.x(), p.y()));
      }
      return TControl::QtEvent(target, raw);
    }
    default:
      return TControl::QtEvent(target, raw);
  }
}

bool TWinControl::SetProperty(const std::string& name, const std::string& value, TComponent* root) {
  using namespace layout_values;
  using C = TWinControl;
  static constexpr TPropertySetter<C> kProperties[] = {
      {"TabOrder", IntSetter<C, &C::SetTabOrder>},
      {"TabStop", BoolSetter<C, &C::SetTabStop>},
  };
  return SetFromTable(kProperties, *this, name, value, root) ||
         TControl::SetProperty(name, value, root);
}

bool TWinControl::BindEvent(const std::string& event, const THandler& handler) {
  using namespace layout_values;
  using C = TWinControl;
  static constexpr TEventBinder<C> kEvents[] = {
      {"OnKeyDown", EventBinder<C, &C::OnKeyDown>},   {"OnKeyUp", EventBinder<C, &C::OnKeyUp>},
      {"OnKeyPress", EventBinder<C, &C::OnKeyPress>}, {"OnEnter", EventBinder<C, &C::OnEnter>},
      {"OnExit", EventBinder<C, &C::OnExit>},
  };
  return BindFromTable(kEvents, *this, event, handler) || TControl::BindEvent(event, handler);
}

TForm* GetParentForm(TControl* control) {
  TControl* c = control;
  while (c && c->Parent()) c = c->Parent();
  return dynamic_cast<TForm*>(c);
}
