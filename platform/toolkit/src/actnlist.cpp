#include "toolkit/actnlist.h"

#include <algorithm>

#include "toolkit/imglist.h"
#include "toolkit/layout.h"
#include "toolkit/stdctrls.h"

TAction::TAction(TComponent* owner) : TComponent(owner) {}

TAction::~TAction() {
  while (!buttons_.empty()) buttons_.back()->SetAction(nullptr);
  SetActionList(nullptr);
}

void TAction::SetActionList(TActionList* list) {
  if (list == list_) return;
  if (list_) {
    auto& v = list_->actions_;
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
  }
  list_ = list;
  if (list_) list_->actions_.push_back(this);
}

int TAction::Index() const {
  if (!list_) return -1;
  auto& v = list_->actions_;
  auto it = std::find(v.begin(), v.end(), this);
  return it == v.end() ? -1 : static_cast<int>(it - v.begin());
}

bool TAction::Execute() {
  if (!enabled_ || !OnExecute) return false;
  OnExecute(this);
  return true;
}

bool TAction::SetProperty(const std::string& name, const std::string& value, TComponent* root) {
  using namespace layout_values;
  if (name == "ImageIndex")
    SetImageIndex(ToInt(value));
  else if (name == "Caption")
    SetCaption(value);
  else if (name == "Enabled")
    SetEnabled(ToBool(value));
  else
    return TComponent::SetProperty(name, value, root);
  return true;
}

bool TAction::BindEvent(const std::string& event, const THandler& handler) {
  if (event == "OnExecute")
    layout_values::Bind(OnExecute, handler);
  else
    return TComponent::BindEvent(event, handler);
  return true;
}

TActionList::TActionList(TComponent* owner) : TComponent(owner) {}

TActionList::~TActionList() {
  for (TAction* a : actions_) a->list_ = nullptr;
}

TAction* TActionList::Actions(int index) const {
  if (index < 0 || index >= ActionCount()) return nullptr;
  return actions_[static_cast<size_t>(index)];
}

bool TActionList::SetProperty(const std::string& name, const std::string& value, TComponent* root) {
  if (name == "Images") {
    auto* images = dynamic_cast<TImageList*>(root ? root->FindComponent(value) : nullptr);
    if (!images) throw std::invalid_argument("no image list named " + value);
    SetImages(images);
    return true;
  }
  return TComponent::SetProperty(name, value, root);
}
