#include "toolkit/classes.h"

#include <algorithm>

#include "tmclient/text_compare.h"

TObject::~TObject() = default;
EComponentError::~EComponentError() = default;

TComponent::TComponent(TComponent* owner) {
  if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  bDestroying = true;
  // Each linked component forgets this one first, then hears of its end.
  std::vector<TComponent*> linked = std::move(vLinked);
  vLinked.clear();
  for (TComponent* other : linked) std::erase(other->vLinked, this);
  std::sort(linked.begin(), linked.end());
  linked.erase(std::unique(linked.begin(), linked.end()), linked.end());
  for (TComponent* other : linked) other->Notification(this);
  DestroyComponents();
  if (pOwner) pOwner->RemoveComponent(this);
}

void TComponent::DestroyComponents() {
  while (!vComponents.empty()) {
    TComponent* last = vComponents.back();
    if (!last->bDestroying) last->BeforeDestruction();
    // BeforeDestruction may have freed others; take the last again.
    if (vComponents.empty() || vComponents.back() != last) continue;
    vComponents.pop_back();
    last->pOwner = nullptr;
    delete last;
  }
}

void TComponent::SetName(const std::string& name) {
  if (name == sName) return;
  if (pOwner && !name.empty()) {
    TComponent* other = pOwner->FindComponent(name);
    if (other && other != this) {
      throw EComponentError("a component named " + name + " already exists");
    }
  }
  sName = name;
}

TComponent* TComponent::Components(int index) const {
  if (index < 0 || index >= ComponentCount()) return nullptr;
  return vComponents[static_cast<size_t>(index)];
}

int TComponent::ComponentIndex() const {
  if (!pOwner) return -1;
  auto& list = pOwner->vComponents;
  auto it = std::find(list.begin(), list.end(), this);
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

TComponent* TComponent::FindComponent(const std::string& name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : vComponents) {
    if (tmclient::EqualIgnoringCase(c->sName, name)) return c;
  }
  return nullptr;
}

void TComponent::InsertComponent(TComponent* component) {
  if (!component || component->pOwner == this) return;
  if (component->pOwner) component->pOwner->RemoveComponent(component);
  vComponents.push_back(component);
  component->pOwner = this;
}

void TComponent::RemoveComponent(TComponent* component) {
  auto it = std::find(vComponents.begin(), vComponents.end(), component);
  if (it == vComponents.end()) return;
  vComponents.erase(it);
  component->pOwner = nullptr;
}

void TComponent::FreeNotification(TComponent* component) {
  if (!component || component == this) return;
  vLinked.push_back(component);
  component->vLinked.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
  if (!component) return;
  auto mine = std::find(vLinked.begin(), vLinked.end(), component);
  if (mine == vLinked.end()) return;
  vLinked.erase(mine);
  auto& theirs = component->vLinked;
  theirs.erase(std::find(theirs.begin(), theirs.end(), this));
}

void TComponent::Notification(TComponent*) {}

bool TComponent::SetLayoutParent(TComponent*) {
  return true;
}

void TComponent::Loaded() {}

void TComponent::BeforeDestruction() {
  bDestroying = true;
}

bool TComponent::SetProperty(const std::string& name, const std::string& value, TComponent*) {
  if (name == "Tag") {
    try {
      iTag = static_cast<intptr_t>(StrToInt64(value));
    } catch (const EConvertError&) {
      throw std::invalid_argument("not a number: " + value);
    }
    return true;
  }
  return false;
}

bool TComponent::BindEvent(const std::string&, const THandler&) {
  return false;
}

TStrings::~TStrings() = default;

int TStrings::Add(const std::string& text) {
  const int index = Count();
  Insert(index, text);
  return index;
}

void TStrings::AddStrings(std::span<const std::string_view> texts) {
  for (const std::string_view text : texts) Insert(Count(), std::string(text));
}

int TStrings::IndexOf(const std::string& text) const {
  for (int i = 0; i < Count(); ++i) {
    if (Strings(i) == text) return i;
  }
  return -1;
}

std::string TStrings::Text() const {
  std::string out;
  for (int i = 0; i < Count(); ++i) {
    if (i) out.push_back('\n');
    out += Strings(i);
  }
  return out;
}

TStringList::~TStringList() = default;

std::string TStringList::Strings(int index) const {
  if (index < 0 || index >= Count()) return {};
  return vItems[static_cast<size_t>(index)];
}

void TStringList::Put(int index, const std::string& text) {
  if (index < 0 || index >= Count()) return;
  vItems[static_cast<size_t>(index)] = text;
}

void TStringList::Insert(int index, const std::string& text) {
  index = std::clamp(index, 0, Count());
  vItems.insert(vItems.begin() + index, text);
}

void TStringList::Delete(int index) {
  if (index < 0 || index >= Count()) return;
  vItems.erase(vItems.begin() + index);
}
