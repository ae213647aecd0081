#include "toolkit/layout.h"

#include <map>

#include "registry.h"
#include "toolkit/classes.h"

ELayoutError::~ELayoutError() = default;

void THandlerTable::Add(const std::string& name, const THandler& handler) {
  mHandlers.insert_or_assign(name, handler);
}

const THandler* THandlerTable::Find(const std::string& name) const {
  auto it = mHandlers.find(name);
  return it == mHandlers.end() ? nullptr : &it->second;
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
