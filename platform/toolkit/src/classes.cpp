#include "toolkit/classes.h"

#include <algorithm>

#include "tmclient/text_compare.h"

TObject::~TObject() = default;
EComponentError::~EComponentError() = default;

TComponent::TComponent(TComponent* owner) {
  if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  destroying_ = true;
  // Each linked component forgets this one first, then hears of its end.
  std::vector<TComponent*> linked = std::move(linked_);
  linked_.clear();
  for (TComponent* other : linked) std::erase(other->linked_, this);
  std::sort(linked.begin(), linked.end());
  linked.erase(std::unique(linked.begin(), linked.end()), linked.end());
  for (TComponent* other : linked) other->Notification(this);
  DestroyComponents();
  if (owner_) owner_->RemoveComponent(this);
}

void TComponent::DestroyComponents() {
  while (!components_.empty()) {
    TComponent* last = components_.back();
    if (!last->destroying_) last->BeforeDestruction();
    // BeforeDestruction may have freed others; take the last again.
    if (components_.empty() || components_.back() != last) continue;
    components_.pop_back();
    last->owner_ = nullptr;
    delete last;
  }
}

void TComponent::SetName(const std::string& name) {
  if (name == name_) return;
  if (owner_ && !name.empty()) {
    TComponent* other = owner_->FindComponent(name);
    if (other && other != this) {
      throw EComponentError("a component named " + name + " already exists");
    }
  }
  name_ = name;
}

TComponent* TComponent::Components(int index) const {
  if (index < 0 || index >= ComponentCount()) return nullptr;
  return components_[static_cast<size_t>(index)];
}

int TComponent::ComponentIndex() const {
  if (!owner_) return -1;
  auto& list = owner_->components_;
  auto it = std::find(list.begin(), list.end(), this);
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

TComponent* TComponent::FindComponent(const std::string& name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : components_) {
    if (tmclient::EqualIgnoringCase(c->name_, name)) return c;
  }
  return nullptr;
}

void TComponent::InsertComponent(TComponent* component) {
  if (!component || component->owner_ == this) return;
  if (component->owner_) component->owner_->RemoveComponent(component);
  components_.push_back(component);
  component->owner_ = this;
}

void TComponent::RemoveComponent(TComponent* component) {
  auto it = std::find(components_.begin(), components_.end(), component);
  if (it == components_.end()) return;
  components_.erase(it);
  component->owner_ = nullptr;
}

void TComponent::FreeNotification(TComponent* component) {
  if (!component || component == this) return;
  linked_.push_back(component);
  component->linked_.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
  if (!component) return;
  auto mine = std::find(linked_.begin(), linked_.end(), component);
  if (mine == linked_.end()) return;
  linked_.erase(mine);
  auto& theirs = component->linked_;
  theirs.erase(std::find(theirs.begin(), theirs.end(), this));
}

void TComponent::Notification(TComponent*) {}

bool TComponent::SetLayoutParent(TComponent*) {
  return true;
}

void TComponent::Loaded() {}

void TComponent::BeforeDestruction() {
  destroying_ = true;
}

bool TComponent::SetProperty(const std::string& name, const std::string& value, TComponent*) {
  if (name == "Tag") {
    try {
      tag_ = static_cast<intptr_t>(StrToInt64(value));
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
  return items_[static_cast<size_t>(index)];
}

void TStringList::Put(int index, const std::string& text) {
  if (index < 0 || index >= Count()) return;
  items_[static_cast<size_t>(index)] = text;
}

void TStringList::Insert(int index, const std::string& text) {
  index = std::clamp(index, 0, Count());
  items_.insert(items_.begin() + index, text);
}

void TStringList::Delete(int index) {
  if (index < 0 || index >= Count()) return;
  items_.erase(items_.begin() + index);
}
