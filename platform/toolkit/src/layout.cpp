#include "toolkit/layout.h"

#include <map>

#include "toolkit/actnlist.h"
#include "toolkit/forms.h"
#include "toolkit/menus.h"

ELayoutError::~ELayoutError() = default;

void THandlerTable::Add(const std::string& name, const THandler& handler) {
  handlers_.insert_or_assign(name, handler);
}

const THandler* THandlerTable::Find(const std::string& name) const {
  auto it = handlers_.find(name);
  return it == handlers_.end() ? nullptr : &it->second;
}

namespace toolkit_detail {
void AddToolkitClasses(std::map<std::string, TComponentFactory>& registry);
}

namespace {

std::map<std::string, TComponentFactory>& Registry() {
  static std::map<std::string, TComponentFactory> registry = [] {
    std::map<std::string, TComponentFactory> r;
    toolkit_detail::AddToolkitClasses(r);
    return r;
  }();
  return registry;
}

}  // namespace

void RegisterComponentClass(const std::string& name, TComponentFactory factory) {
  Registry()[name] = factory;
}

TComponent* CreateComponentByClass(const std::string& name, TComponent* owner) {
  auto& r = Registry();
  auto it = r.find(name);
  return it == r.end() ? nullptr : it->second(owner);
}

namespace layout_values {

int ToInt(const std::string& text) {
  try {
    return StrToInt(text);
  } catch (const EConvertError&) {
    throw std::invalid_argument("'" + text + "' is not a number");
  }
}

bool ToBool(const std::string& text) {
  if (text == "true" || text == "True" || text == "1") return true;
  if (text == "false" || text == "False" || text == "0") return false;
  throw std::invalid_argument("'" + text + "' is not true or false");
}

std::vector<std::string> SplitAtBars(const std::string& text, TTrailingEmpty trailing) {
  std::vector<std::string> pieces;
  if (text.empty()) return pieces;
  size_t start = 0;
  while (start < text.size() || (start == text.size() && trailing == TTrailingEmpty::kKeep)) {
    size_t bar = text.find('|', start);
    if (bar == std::string::npos) bar = text.size();
    pieces.push_back(text.substr(start, bar - start));
    start = bar + 1;
  }
  return pieces;
}

TComponent* FindNamed(TComponent* root, const std::string& name) {
  return root ? root->FindComponent(name) : nullptr;
}

}  // namespace layout_values

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
    if (auto* control = dynamic_cast<TControl*>(c)) {
      auto* winParent = dynamic_cast<TWinControl*>(parent);
      if (!winParent) Fail(layout, item.Name, "parent " + item.Parent + " cannot hold controls");
      control->SetParent(winParent);
      if (item.Width >= 0 && item.Height >= 0) {
        control->SetBounds(item.Left, item.Top, item.Width, item.Height);
      }
      if (!item.Caption.empty()) control->SetCaption(item.Caption);
      if (item.TabOrder >= 0) {
        if (auto* w = dynamic_cast<TWinControl*>(control)) w->SetTabOrder(item.TabOrder);
      }
    } else {
      if (auto* action = dynamic_cast<TAction*>(c)) {
        if (auto* list = dynamic_cast<TActionList*>(parent)) action->SetActionList(list);
      } else if (auto* menuItem = dynamic_cast<TMenuItem*>(c)) {
        if (auto* menu = dynamic_cast<TPopupMenu*>(parent)) {
          menu->Items()->Add(menuItem);
        } else if (auto* parentItem = dynamic_cast<TMenuItem*>(parent)) {
          parentItem->Add(menuItem);
        }
      }
      if (!item.Caption.empty()) {
        ApplyProperties(layout, item.Name, c, {{"Caption", item.Caption}}, this);
      }
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
  if (loadedDone_) return;
  loadedDone_ = true;
  for (int i = 0; i < ComponentCount(); ++i) Components(i)->Loaded();
  Loaded();
  CreateWindowNow();
}
