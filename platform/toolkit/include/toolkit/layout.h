#pragma once

#include <any>
#include <cstddef>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/events.h"
#include "toolkit/export.h"
#include "toolkit/sysutils.h"

class TComponent;

// Layouts as data. A form class declares its layout once, next to the class,
// as a TFormLayout value; TForm::ReadLayout builds it:
//
//   const TFormLayout kfrmDemo = {
//       .Name = "frmDemo",
//       .Properties = {{"Caption", "演示"}, {"ClientWidth", "320"}},
//       .Items = {
//           {.Name = "chkA", .Class = "TCheckBox", .Caption = "条件",
//            .Left = 8, .Top = 8, .Width = 80, .Height = 17,
//            .Events = {{"OnClick", "chkAClick"}}},
//       }};
//
// Items are created in order, owned by the form; Parent names an item
// declared before (empty: the form). An item whose name the form already has
// (from a base layout) is not created again: its properties are changed.

using TLayoutValues = std::vector<std::pair<std::string, std::string>>;

struct TLayoutItem {
  std::string Name = {};
  std::string Class = {};   // a registered class name ("TEdit"); empty for an inherited item
  std::string Parent = {};  // empty: the form
  std::string Caption = {};
  int Left = 0;
  int Top = 0;
  int Width = -1;  // -1: the class's default size (and Left/Top unchanged)
  int Height = -1;
  int TabOrder = -1;              // -1: in creation order
  TLayoutValues Properties = {};  // property name -> value as text
  TLayoutValues Events = {};      // event name -> handler name
};

struct TFormLayout {
  std::string Name = {};          // the form's component name
  TLayoutValues Properties = {};  // of the form
  TLayoutValues Events = {};      // of the form
  std::vector<TLayoutItem> Items = {};
};

// A handler the layout can bind by name: one event closure of any event type.
class TOOLKIT_API THandler {
 public:
  template <class... A>
  THandler(TEvent<A...> event) : cEvent(std::move(event)) {}

  // The closure when it has exactly the event type E; null otherwise.
  template <class E>
  const E* As() const {
    return std::any_cast<E>(&cEvent);
  }

 private:
  std::any cEvent;
};

// The handlers a form class publishes, by name.
class TOOLKIT_API THandlerTable {
 public:
  template <class C, class M, class... A>
  void Add(const std::string& name, C* object, void (M::*method)(A...)) {
    Add(name, THandler(TEvent<A...>(object, method)));
  }
  void Add(const std::string& name, const THandler& handler);
  // Null when no handler has that name.
  const THandler* Find(const std::string& name) const;

 private:
  std::map<std::string, THandler> mHandlers;
};

// A layout that cannot be built. what() names the layout, the item and the
// cause, e.g. "layout frmDemo, chkA: no handler named 'chkAClik' for OnClick".
class TOOLKIT_API ELayoutError : public Exception {
 public:
  using Exception::Exception;
  ~ELayoutError() override;
};

// Classes a layout can create, by name. Every class of the toolkit is
// registered; a library adds its own classes once at load time.
using TComponentFactory = TComponent* (*)(TComponent* owner);
TOOLKIT_API void RegisterComponentClass(const std::string& name, TComponentFactory factory);
// Null for an unknown class name.
TOOLKIT_API TComponent* CreateComponentByClass(const std::string& name, TComponent* owner);

// Helpers for SetProperty / BindEvent implementations. A class keeps one
// table of its properties and one of its events, and hands what its tables
// do not name to its base class:
//
//   bool TFoo::SetProperty(const std::string& name, const std::string& value, TComponent* root) {
//     static constexpr TPropertySetter<TFoo> kProperties[] = {
//         {"Width", IntSetter<TFoo, &TFoo::SetWidth>},
//         {"Style", [](TFoo& c, const std::string& v, TComponent*) { ... }}};
//     return SetFromTable(kProperties, *this, name, value, root) ||
//            TBase::SetProperty(name, value, root);
//   }
namespace layout_values {
// Throw std::invalid_argument for text they cannot read.
TOOLKIT_API int ToInt(const std::string& text);
TOOLKIT_API bool ToBool(const std::string& text);
// Assigns the handler to `slot` when it has the event's type; throws
// std::invalid_argument otherwise.
template <class E>
void Bind(E& slot, const THandler& handler) {
  const E* e = handler.As<E>();
  if (!e) throw std::invalid_argument("the handler's parameters do not fit the event");
  slot = *e;
}

// One value of an enumeration by the name a layout writes for it.
template <class E>
struct TEnumName {
  const char* name;
  E value;
};
// The value `names` gives `text`; throws std::invalid_argument
// ("unknown <what> <text>") for a name the table lacks.
template <class E, size_t N>
E EnumFromName(const TEnumName<E> (&names)[N], const std::string& text, const char* what) {
  for (const TEnumName<E>& n : names)
    if (text == n.name) return n.value;
  throw std::invalid_argument(std::string("unknown ") + what + " " + text);
}

// What a '|'-separated list does with an empty piece after its last bar:
// "a|" is "a" and "" (kKeep) or "a" alone (kDrop). Pieces before it stay
// either way ("a||b" is "a", "", "b"), and an empty text has no pieces.
enum class TTrailingEmpty { kKeep, kDrop };
TOOLKIT_API std::vector<std::string> SplitAtBars(const std::string& text, TTrailingEmpty trailing);

// The component `root` owns under `name` (null root: none); null when none.
TOOLKIT_API TComponent* FindNamed(TComponent* root, const std::string& name);
// The component `root` owns under `name` when it is a T; throws
// std::invalid_argument ("no <what> named <name>") otherwise.
template <class T>
T* NamedComponent(TComponent* root, const std::string& name, const char* what) {
  auto* found = dynamic_cast<T*>(FindNamed(root, name));
  if (!found) throw std::invalid_argument(std::string("no ") + what + " named " + name);
  return found;
}

// One property of class C: a name and what setting it from text does.
template <class C>
struct TPropertySetter {
  const char* name;
  void (*set)(C& self, const std::string& value, TComponent* root);
};
// One event of class C: a name and how a handler is bound to it.
template <class C>
struct TEventBinder {
  const char* name;
  void (*bind)(C& self, const THandler& handler);
};

// Runs the table's setter of `name`; false when the table has none.
template <class C, size_t N>
bool SetFromTable(const TPropertySetter<C> (&table)[N], C& self, const std::string& name,
                  const std::string& value, TComponent* root) {
  for (const TPropertySetter<C>& p : table) {
    if (name == p.name) {
      p.set(self, value, root);
      return true;
    }
  }
  return false;
}
// Binds the handler to the table's event `event`; false when the table has none.
template <class C, size_t N>
bool BindFromTable(const TEventBinder<C> (&table)[N], C& self, const std::string& event,
                   const THandler& handler) {
  for (const TEventBinder<C>& e : table) {
    if (event == e.name) {
      e.bind(self, handler);
      return true;
    }
  }
  return false;
}

// Setters and binders made from a member: Set is a member function taking
// the value, Slot an event member.
template <class C, auto Set>
void IntSetter(C& self, const std::string& value, TComponent*) {
  (self.*Set)(ToInt(value));
}
template <class C, auto Set>
void BoolSetter(C& self, const std::string& value, TComponent*) {
  (self.*Set)(ToBool(value));
}
template <class C, auto Set>
void TextSetter(C& self, const std::string& value, TComponent*) {
  (self.*Set)(value);
}
template <class C, auto Slot>
void EventBinder(C& self, const THandler& handler) {
  Bind(self.*Slot, handler);
}
}  // namespace layout_values
