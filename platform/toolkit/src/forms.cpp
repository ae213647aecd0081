#include "toolkit/forms.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QStyle>
#include <QWidget>
#include <algorithm>

#include "mdi_forms.h"
#include "qt_app.h"
#include "toolkit/application.h"
#include "toolkit/layout.h"

using namespace toolkit_detail;

namespace toolkit_detail {
std::vector<TForm*>& MdiChildForms() {
  static std::vector<TForm*> forms;
  return forms;
}
}  // namespace toolkit_detail

TForm::TForm(TComponent* owner) : TWinControl(owner, MakeWidget<QWidget>()), cCanvas(Widget()) {
  Widget()->setAttribute(Qt::WA_DeleteOnClose, false);
  SetColor(clBtnFace);
  TControl::SetVisible(false);
  Widget()->resize(320, 240);
}

void TForm::BeforeDestruction() {
  RunOnDestroy();
  TWinControl::BeforeDestruction();
}

void TForm::RunOnDestroy() {
  if (bDestroyRun) return;
  bDestroyRun = true;
  try {
    OnDestroy(this);
  } catch (...) {
    // Destruction goes on whatever the handler does.
  }
}

TForm::~TForm() {
  RunOnDestroy();  // deleted directly, without BeforeDestruction
  MarkDestroying();
  DestroyComponents();
  auto& mdi = MdiChildForms();
  mdi.erase(std::remove(mdi.begin(), mdi.end(), this), mdi.end());
  if (pSubWindow) {
    auto* sub = static_cast<QMdiSubWindow*>(pSubWindow);
    QObject::disconnect(sub, &QObject::destroyed, nullptr, nullptr);
    sub->setWidget(nullptr);
    Widget()->setParent(nullptr);
    pSubWindow = nullptr;
    delete sub;
  }
}

TWindowState TForm::WindowState() const {
  QWidget* w = WindowWidget();
  if (!w) return iInitialState;
  if (w->isMinimized()) return wsMinimized;
  if (w->isMaximized()) return wsMaximized;
  return wsNormal;
}

void TForm::SetWindowState(TWindowState state) {
  QWidget* w = WindowWidget();
  if (!w) {
    iInitialState = state;
    return;
  }
  switch (state) {
    case wsMaximized:
      w->showMaximized();
      break;
    case wsMinimized:
      w->showMinimized();
      break;
    default:
      w->showNormal();
      break;
  }
}

void TForm::SetActiveControl(TWinControl* control) {
  if (control == pActiveControl) {
    if (control) control->Widget()->setFocus(Qt::OtherFocusReason);
    return;
  }
  TWinControl* old = pActiveControl;
  pActiveControl = control;
  if (old) old->OnExit(old);
  if (control) {
    control->Widget()->setFocus(Qt::OtherFocusReason);
    control->OnEnter(control);
  }
}

void TForm::ControlLeaving(TControl* control) {
  for (TControl* c = pActiveControl; c && c != this; c = c->Parent()) {
    if (c == control) {
      pActiveControl = nullptr;
      return;
    }
  }
}

void TForm::SelectNext(TWinControl* current, bool goForward, bool checkTabStop) {
  std::vector<TWinControl*> list;
  GetTabOrderList(list);
  const int n = static_cast<int>(list.size());
  if (n == 0) return;
  int start = -1;
  if (current) {
    auto it = std::find(list.begin(), list.end(), current);
    if (it != list.end()) start = static_cast<int>(it - list.begin());
  }
  if (start < 0) start = goForward ? n - 1 : 0;
  int i = start;
  for (int step = 0; step < n; ++step) {
    i = goForward ? (i + 1) % n : (i - 1 + n) % n;
    TWinControl* c = list[static_cast<size_t>(i)];
    if (c->CanFocus() && (!checkTabStop || c->TabStop())) {
      c->SetFocus();
      return;
    }
  }
}

void TForm::SetVisible(bool visible) {
  TControl::SetVisible(visible);
  if (QWidget* w = WindowWidget()) {
    if (visible) {
      if (pSubWindow) {
        if (!Widget()->isVisible()) Widget()->show();
      }
      w->show();
      FocusFirstTabStop();
    } else {
      w->hide();
    }
  }
}

void TForm::FocusFirstTabStop() {
  if (pActiveControl == nullptr) SelectNext(nullptr, true, true);
}

void TForm::ShowForm() {
  TControl::SetVisible(true);
  if (!bWindowCreated) {
    CreateWindowNow();
  } else {
    SetVisible(true);
  }
}

void TForm::CreateParams(TCreateParams& params) {
  params.Caption = sCaption;
  params.X = Left();
  params.Y = Top();
  params.Width = Width();
  params.Height = Height();
  params.Style = Visible() ? WS_VISIBLE : 0;
  if (iFormStyle == fsMDIChild) params.Style |= WS_CHILD;
  if (iInitialState == wsMaximized) params.Style |= WS_MAXIMIZE;
}

void TForm::CreateWindowNow() {
  if (bWindowCreated) return;
  TCreateParams p;
  CreateParams(p);
  bWindowCreated = true;
  QWidget* w = Widget();
  if (iFormStyle == fsMDIChild) {
    QMdiArea* area = TApplication::Instance()->MdiArea();
    auto* sub = new QMdiSubWindow;
    sub->setAttribute(Qt::WA_DeleteOnClose, false);
    sub->setWidget(w);
    area->addSubWindow(sub);
    sub->setWindowTitle(Q(sCaption));
    if (p.Width == Width() && p.Height == Height()) {
      // Not changed by CreateParams: the form's size is its client size.
      const int frame = sub->style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, sub);
      const int title = sub->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, sub);
      p.Width += 2 * frame;
      p.Height += title + frame;
    }
    sub->setGeometry(p.X, p.Y, std::max(p.Width, 1), std::max(p.Height, 1));
    pSubWindow = sub;
    QObject::connect(sub, &QObject::destroyed, [this] { pSubWindow = nullptr; });
    MdiChildForms().push_back(this);
    if (Visible()) {
      w->show();
      if (p.Style & WS_MAXIMIZE) {
        sub->showMaximized();
      } else {
        sub->show();
      }
    }
  } else {
    w->setWindowTitle(Q(sCaption));
    w->setGeometry(p.X, p.Y, std::max(p.Width, 1), std::max(p.Height, 1));
    if (Visible()) {
      if (p.Style & WS_MAXIMIZE) {
        w->showMaximized();
      } else {
        w->show();
      }
    }
  }
  // Tab moves through the controls in the layout's tab order.
  std::vector<TWinControl*> order;
  GetTabOrderList(order);
  QWidget* prev = nullptr;
  for (TWinControl* c : order) {
    if (!c->TabStop()) continue;
    if (prev) QWidget::setTabOrder(prev, c->Widget());
    prev = c->Widget();
  }
  Realign();
  if (Visible()) {
    OnShow(this);
    FocusFirstTabStop();
  }
}

QWidget* TForm::WindowWidget() const {
  if (pSubWindow) return pSubWindow;
  return bWindowCreated ? Widget() : nullptr;
}

TCloseAction TForm::DoClose() {
  TCloseAction action = iFormStyle == fsMDIChild ? caMinimize : caHide;
  bClosing = true;
  try {
    OnClose(this, action);
  } catch (...) {
    bClosing = false;
    throw;
  }
  bClosing = false;
  return action;
}

void TForm::ApplyCloseAction(TCloseAction action) {
  switch (action) {
    case caHide:
      SetVisible(false);
      break;
    case caMinimize:
      SetWindowState(wsMinimized);
      break;
    case caFree:
      Release();
      break;
    default:
      break;
  }
}

void TForm::Close() {
  ApplyCloseAction(DoClose());
}

void TForm::Release() {
  if (bReleasing) return;
  bReleasing = true;
  if (QWidget* w = WindowWidget()) w->hide();
  EnsureQtApplication();
  QPointer<QWidget> alive = Widget();
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [this, alive] {
        if (!alive) return;  // freed meanwhile by its owner
        BeforeDestruction();
        delete this;
      },
      Qt::QueuedConnection);
}

void TForm::WndProc(TMessage& m) {
  switch (m.Msg) {
    case WM_NEXTDLGCTL:
      if (m.LParam) {
        if (TWinControl* c = FindControl(reinterpret_cast<HWND>(m.WParam))) c->SetFocus();
      } else {
        SelectNext(pActiveControl, m.WParam == 0, true);
      }
      m.Result = 0;
      return;
    case WM_CLOSE:
      Close();
      return;
    default:
      TWinControl::WndProc(m);
  }
}

bool TForm::QtEvent(QWidget* target, void* raw) {
  auto* e = static_cast<QEvent*>(raw);
  if (target == Widget() && e->type() == QEvent::Close) {
    auto* ce = static_cast<QCloseEvent*>(e);
    if (bReleasing) return false;
    TCloseAction action = DoClose();
    switch (action) {
      case caHide:
        ce->accept();
        TControl::SetVisible(false);
        return false;
      case caFree:
        ce->accept();
        Release();
        return false;
      case caMinimize:
        ce->ignore();
        SetWindowState(wsMinimized);
        return true;
      default:
        ce->ignore();
        return true;
    }
  }
  return TWinControl::QtEvent(target, raw);
}

std::string TForm::GetText() const {
  return sCaption;
}

void TForm::ApplyText(const std::string& text) {
  sCaption = text;
  Widget()->setWindowTitle(Q(text));
  if (pSubWindow) pSubWindow->setWindowTitle(Q(text));
}

TRect TForm::ClientRect() const {
  return Bounds(0, 0, Width(), Height());
}

bool TForm::SetProperty(const std::string& name, const std::string& value, TComponent* root) {
  using namespace layout_values;
  using C = TForm;
  static constexpr TEnumName<TFormStyle> kFormStyles[] = {{"fsMDIChild", fsMDIChild},
                                                          {"fsNormal", fsNormal},
                                                          {"fsMDIForm", fsMDIForm},
                                                          {"fsStayOnTop", fsStayOnTop}};
  static constexpr TEnumName<TFormBorderStyle> kBorderStyles[] = {
      {"bsNone", bsNone},     {"bsSingle", bsSingle},         {"bsSizeable", bsSizeable},
      {"bsDialog", bsDialog}, {"bsToolWindow", bsToolWindow}, {"bsSizeToolWin", bsSizeToolWin}};
  static constexpr TEnumName<TPosition> kPositions[] = {{"poDesigned", poDesigned},
                                                        {"poDefault", poDefault},
                                                        {"poDefaultPosOnly", poDefaultPosOnly},
                                                        {"poDefaultSizeOnly", poDefaultSizeOnly},
                                                        {"poScreenCenter", poScreenCenter}};
  static constexpr TEnumName<TWindowState> kWindowStates[] = {
      {"wsMaximized", wsMaximized}, {"wsMinimized", wsMinimized}, {"wsNormal", wsNormal}};
  // Design-time values with no effect here.
  constexpr auto kIgnored = [](C&, const std::string&, TComponent*) {};
  static constexpr TPropertySetter<C> kProperties[] = {
      {"FormStyle", [](C& c, const std::string& v,
                       TComponent*) { c.iFormStyle = EnumFromName(kFormStyles, v, "form style"); }},
      {"KeyPreview", [](C& c, const std::string& v, TComponent*) { c.bKeyPreview = ToBool(v); }},
      {"BorderStyle",
       [](C& c, const std::string& v, TComponent*) {
         c.iBorderStyle = EnumFromName(kBorderStyles, v, "border style");
       }},
      {"Position", [](C& c, const std::string& v,
                      TComponent*) { c.iPosition = EnumFromName(kPositions, v, "position"); }},
      {"WindowState",
       [](C& c, const std::string& v, TComponent*) {
         c.SetWindowState(EnumFromName(kWindowStates, v, "window state"));
       }},
      {"BorderIcons", kIgnored},
      {"PixelsPerInch", kIgnored},
      {"TextHeight", kIgnored},
      {"OldCreateOrder", kIgnored},
  };
  return SetFromTable(kProperties, *this, name, value, root) ||
         TWinControl::SetProperty(name, value, root);
}

bool TForm::BindEvent(const std::string& event, const THandler& handler) {
  using namespace layout_values;
  using C = TForm;
  static constexpr TEventBinder<C> kEvents[] = {
      {"OnClose", EventBinder<C, &C::OnClose>},
      {"OnShow", EventBinder<C, &C::OnShow>},
      {"OnDestroy", EventBinder<C, &C::OnDestroy>},
  };
  return BindFromTable(kEvents, *this, event, handler) || TWinControl::BindEvent(event, handler);
}

TFrame::TFrame(TComponent* owner) : TWinControl(owner, MakeWidget<QWidget>()) {}
TFrame::~TFrame() = default;

// ---- Reading a layout ----

namespace {

[[noreturn]] void Fail(const TFormLayout& layout, const std::string& item, const std::string& why) {
  throw ELayoutError("layout " + layout.Name + ", " + (item.empty() ? "form" : item) + ": " + why);
}

void ApplyProperties(const TFormLayout& layout, const std::string& item, TComponent* c,
                     const TLayoutValues& values, TComponent* root) {
  for (const auto& [name, value] : values) {
    bool known;
    try {
      known = c->SetProperty(name, value, root);
    } catch (const std::invalid_argument& e) {
      Fail(layout, item, "property " + name + ": " + e.what());
    }
    if (!known) Fail(layout, item, "unknown property " + name);
  }
}

void BindEvents(const TFormLayout& layout, const std::string& item, TComponent* c,
                const TLayoutValues& events, const THandlerTable& handlers) {
  for (const auto& [event, handlerName] : events) {
    const THandler* h = handlers.Find(handlerName);
    if (!h) Fail(layout, item, "no handler named '" + handlerName + "' for " + event);
    bool known;
    try {
      known = c->BindEvent(event, *h);
    } catch (const std::invalid_argument&) {
      Fail(layout, item, "handler '" + handlerName + "' does not fit " + event);
    }
    if (!known) Fail(layout, item, "unknown event " + event);
  }
}

}  // namespace

void TForm::ReadLayout(const TFormLayout& layout, const THandlerTable& handlers) {
  if (!layout.Name.empty()) SetName(layout.Name);
  ApplyProperties(layout, "", this, layout.Properties, this);

  std::vector<TComponent*> made;
  made.reserve(layout.Items.size());
  for (const TLayoutItem& item : layout.Items) {
    TComponent* c = FindComponent(item.Name);
    if (!c) {
      if (item.Class.empty()) Fail(layout, item.Name, "no inherited component of that name");
      c = CreateComponentByClass(item.Class, this);
      if (!c) Fail(layout, item.Name, "unknown class " + item.Class);
      try {
        c->SetName(item.Name);
      } catch (const EComponentError& e) {
        delete c;
        Fail(layout, item.Name, e.what());
      }
    }
    made.push_back(c);
    TComponent* parent = item.Parent.empty() ? this : FindComponent(item.Parent);
    if (!parent) Fail(layout, item.Name, "unknown parent " + item.Parent);
    if (!c->SetLayoutParent(parent)) {
      Fail(layout, item.Name, "parent " + item.Parent + " cannot hold controls");
    }
    if (auto* control = dynamic_cast<TControl*>(c)) {
      if (item.Width >= 0 && item.Height >= 0) {
        control->SetBounds(item.Left, item.Top, item.Width, item.Height);
      }
      if (!item.Caption.empty()) control->SetCaption(item.Caption);
      if (item.TabOrder >= 0) {
        if (auto* w = dynamic_cast<TWinControl*>(control)) w->SetTabOrder(item.TabOrder);
      }
    } else if (!item.Caption.empty()) {
      ApplyProperties(layout, item.Name, c, {{"Caption", item.Caption}}, this);
    }
  }
  // Properties may name any component of the layout, so they come after all
  // components exist; handlers come last.
  for (size_t i = 0; i < made.size(); ++i) {
    const TLayoutItem& item = layout.Items[i];
    ApplyProperties(layout, item.Name, made[i], item.Properties, this);
  }
  BindEvents(layout, "", this, layout.Events, handlers);
  for (size_t i = 0; i < made.size(); ++i) {
    const TLayoutItem& item = layout.Items[i];
    BindEvents(layout, item.Name, made[i], item.Events, handlers);
  }
}

void TForm::EndLayout() {
  if (bLoadedDone) return;
  bLoadedDone = true;
  for (int i = 0; i < ComponentCount(); ++i) Components(i)->Loaded();
  Loaded();
  CreateWindowNow();
}
