#include "toolkit/actnlist.h"

#include <algorithm>

#include "toolkit/imglist.h"
#include "toolkit/layout.h"

TAction::TAction(TComponent* owner) : TComponent(owner) {}

TAction::~TAction() {
  SetActionList(nullptr);
}

void TAction::SetActionList(TActionList* list) {
  if (list == pList) return;
  if (pList) {
    auto& v = pList->vActions;
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
  }
  pList = list;
  if (pList) pList->vActions.push_back(this);
}

int TAction::Index() const {
  if (!pList) return -1;
  auto& v = pList->vActions;
  auto it = std::find(v.begin(), v.end(), this);
  return it == v.end() ? -1 : static_cast<int>(it - v.begin());
}

bool TAction::Execute() {
  if (!bEnabled || !OnExecute) return false;
  OnExecute(this);
  return true;
}

bool TAction::Update() {
  if (!OnUpdate) return false;
  OnUpdate(this);
  return true;
}

bool TAction::SetProperty(const std::string& name, const std::string& value, TComponent* root) {
  using namespace layout_values;
  using C = TAction;
  static constexpr TPropertySetter<C> kProperties[] = {
      {"ImageIndex", IntSetter<C, &C::SetImageIndex>},
      {"Caption", TextSetter<C, &C::SetCaption>},
      {"Enabled", BoolSetter<C, &C::SetEnabled>},
  };
  return SetFromTable(kProperties, *this, name, value, root) ||
         TComponent::SetProperty(name, value, root);
}

bool TAction::BindEvent(const std::string& event, const THandler& handler) {
  using namespace layout_values;
  static constexpr TEventBinder<TAction> kEvents[] = {
      {"OnExecute", EventBinder<TAction, &TAction::OnExecute>},
      {"OnUpdate", EventBinder<TAction, &TAction::OnUpdate>},
  };
  return BindFromTable(kEvents, *this, event, handler) || TComponent::BindEvent(event, handler);
}

TActionList::TActionList(TComponent* owner) : TComponent(owner) {}

TActionList::~TActionList() {
  for (TAction* a : vActions) a->pList = nullptr;
}

bool TAction::SetLayoutParent(TComponent* parent) {
  if (auto* list = dynamic_cast<TActionList*>(parent)) SetActionList(list);
  return true;
}

void TActionList::SetImages(TImageList* images) {
  if (images == pImages) return;
  RemoveFreeNotification(pImages);
  pImages = images;
  FreeNotification(pImages);
}

void TActionList::Notification(TComponent* component) {
  if (component == pImages) pImages = nullptr;
  TComponent::Notification(component);
}

TAction* TActionList::Actions(int index) const {
  if (index < 0 || index >= ActionCount()) return nullptr;
  return vActions[static_cast<size_t>(index)];
}

bool TActionList::SetProperty(const std::string& name, const std::string& value, TComponent* root) {
  using namespace layout_values;
  static constexpr TPropertySetter<TActionList> kProperties[] = {
      {"Images",
       [](TActionList& c, const std::string& v, TComponent* root) {
         c.SetImages(NamedComponent<TImageList>(root, v, "image list"));
       }},
  };
  return SetFromTable(kProperties, *this, name, value, root) ||
         TComponent::SetProperty(name, value, root);
}
