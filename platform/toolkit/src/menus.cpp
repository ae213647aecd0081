#include "toolkit/menus.h"

#include <QAction>
#include <QMenu>
#include <algorithm>

#include "guarded.h"
#include "qt_app.h"
#include "toolkit/application.h"
#include "toolkit/layout.h"

using namespace toolkit_detail;

namespace {

// Whether `item` is among the items below `parent`, at any depth. Compares
// addresses only, so `item` may be a dead item.
bool Holds(const TMenuItem* parent, const TMenuItem* item) {
  for (int i = 0; i < parent->Count(); ++i) {
    const TMenuItem* child = parent->Items(i);
    if (child == item || Holds(child, item)) return true;
  }
  return false;
}

}  // namespace

TMenuItem::TMenuItem(TComponent* owner) : TComponent(owner) {}

TMenuItem::~TMenuItem() {
  MarkDestroying();
  DestroyComponents();
  for (TMenuItem* child : vItems) child->pParent = nullptr;
  vItems.clear();
  if (pParent) pParent->Remove(this);
}

void TMenuItem::Changed() {
  for (TMenuItem* i = this; i; i = i->pParent) {
    if (i->pMenu) i->pMenu->bDirty = true;
  }
}

void TMenuItem::SetCaption(const std::string& caption) {
  sCaption = caption;
  Changed();
}

void TMenuItem::SetEnabled(bool value) {
  bEnabled = value;
  Changed();
}

void TMenuItem::SetVisible(bool value) {
  bVisible = value;
  Changed();
}

TMenuItem* TMenuItem::Items(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return vItems[static_cast<size_t>(index)];
}

void TMenuItem::Insert(int index, TMenuItem* item) {
  if (!item || item == this) return;
  if (item->pParent) item->pParent->Remove(item);
  index = std::clamp(index, 0, Count());
  vItems.insert(vItems.begin() + index, item);
  item->pParent = this;
  Changed();
}

void TMenuItem::Remove(TMenuItem* item) {
  auto it = std::find(vItems.begin(), vItems.end(), item);
  if (it == vItems.end()) return;
  vItems.erase(it);
  item->pParent = nullptr;
  Changed();
}

int TMenuItem::IndexOf(const TMenuItem* item) const {
  auto it = std::find(vItems.begin(), vItems.end(), item);
  return it == vItems.end() ? -1 : static_cast<int>(it - vItems.begin());
}

bool TMenuItem::SetLayoutParent(TComponent* parent) {
  if (auto* menu = dynamic_cast<TPopupMenu*>(parent)) {
    menu->Items()->Add(this);
  } else if (auto* item = dynamic_cast<TMenuItem*>(parent)) {
    item->Add(this);
  }
  return true;
}

void TMenuItem::Click() {
  OnClick(this);
}

bool TMenuItem::SetProperty(const std::string& name, const std::string& value, TComponent* root) {
  using namespace layout_values;
  using C = TMenuItem;
  static constexpr TPropertySetter<C> kProperties[] = {
      {"Caption", TextSetter<C, &C::SetCaption>},
      {"Enabled", BoolSetter<C, &C::SetEnabled>},
      {"Visible", BoolSetter<C, &C::SetVisible>},
  };
  return SetFromTable(kProperties, *this, name, value, root) ||
         TComponent::SetProperty(name, value, root);
}

bool TMenuItem::BindEvent(const std::string& event, const THandler& handler) {
  using namespace layout_values;
  static constexpr TEventBinder<TMenuItem> kEvents[] = {
      {"OnClick", EventBinder<TMenuItem, &TMenuItem::OnClick>},
  };
  return BindFromTable(kEvents, *this, event, handler) || TComponent::BindEvent(event, handler);
}

TPopupMenu::TPopupMenu(TComponent* owner) : TContextPopup(owner), pRoot(new TMenuItem(nullptr)) {
  pRoot->pMenu = this;
}

TPopupMenu::~TPopupMenu() {
  MarkDestroying();
  DestroyComponents();
  delete pRoot;
  delete pMenu;
}

void TPopupMenu::Rebuild() {
  EnsureQtApplication();
  if (!pMenu) pMenu = new QMenu;
  pMenu->clear();
  // Menus nest one level per item with children.
  std::function<void(QMenu*, TMenuItem*)> fill = [&](QMenu* qm, TMenuItem* parent) {
    for (int i = 0; i < parent->Count(); ++i) {
      TMenuItem* item = parent->Items(i);
      if (!item->Visible()) continue;
      if (item->Count() > 0) {
        QMenu* sub = qm->addMenu(Q(item->Caption()));
        fill(sub, item);
        continue;
      }
      if (item->Caption() == "-") {
        qm->addSeparator();
        continue;
      }
      QAction* a = qm->addAction(Q(item->Caption()));
      a->setEnabled(item->Enabled());
      // The item may have left the menu (or died) since the menu was built.
      QObject::connect(a, &QAction::triggered, [this, item] {
        if (Holds(pRoot, item)) Guarded(item, [item] { item->Click(); });
      });
    }
  };
  fill(pMenu, pRoot);
  bDirty = false;
}

QMenu* TPopupMenu::Menu() {
  if (bDirty || !pMenu) Rebuild();
  return pMenu;
}

void TPopupMenu::Popup(int x, int y) {
  Menu()->popup(QPoint(x, y));
}

// ---- TControl's popup menu ----

TPopupMenu* TControl::PopupMenu() const {
  return dynamic_cast<TPopupMenu*>(pPopupMenu);
}

void TControl::SetPopupMenu(TPopupMenu* menu) {
  SetContextPopup(menu);
}
