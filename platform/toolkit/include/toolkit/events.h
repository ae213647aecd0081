#pragma once

#include <cstdint>
#include <functional>
#include <type_traits>
#include <utility>

#include "toolkit/types.h"

class TObject;
class TListItem;
class TListColumn;

// An event slot: empty, or a closure (an object with one of its member
// functions, or any callable). Calling an empty event does nothing.
//
// Events that the toolkit raises from user input (a click, a key, a menu
// command) run inside the toolkit's dispatcher: an exception that escapes the
// handler is shown in the application's error box and goes no further. Events
// raised by a setter called from code (SetChecked, Click) run directly, and an
// exception reaches that caller.
template <class... Args>
class TEvent {
 public:
  TEvent() = default;
  TEvent(std::nullptr_t) {}

  template <class C, class M>
  requires std::is_base_of_v<M, C> TEvent(C* object, void (M::*method)(Args...))
      : fnCall([object, method](Args... args) { (object->*method)(std::forward<Args>(args)...); }),
        pObject(object) {}

  template <class F>
  requires(!std::is_same_v<std::decay_t<F>, TEvent> && std::is_invocable_v<F&, Args...> &&
           !std::is_same_v<std::decay_t<F>, std::nullptr_t>) TEvent(F f)
      : fnCall(std::move(f)) {}

  // True when a handler is bound ("has a handler").
  bool Assigned() const { return static_cast<bool>(fnCall); }
  explicit operator bool() const { return Assigned(); }

  // The object a member-function handler is bound to; null otherwise.
  const void* Object() const { return pObject; }

  void operator()(Args... args) const {
    if (fnCall) fnCall(std::forward<Args>(args)...);
  }

 private:
  std::function<void(Args...)> fnCall;
  const void* pObject = nullptr;
};

enum TCloseAction { caNone, caHide, caFree, caMinimize };
enum TItemChange { ctText, ctImage, ctState };

using TNotifyEvent = TEvent<TObject*>;
// Key code by reference: setting it to 0 swallows the key.
using TKeyEvent = TEvent<TObject*, uint16_t&, TShiftState>;
// One byte of typed text by reference: setting it to 0 drops it.
using TKeyPressEvent = TEvent<TObject*, char&>;
using TMouseMoveEvent = TEvent<TObject*, TShiftState, int, int>;
using TMouseEvent = TEvent<TObject*, TMouseButton, TShiftState, int, int>;
using TCloseEvent = TEvent<TObject*, TCloseAction&>;
using TLVColumnClickEvent = TEvent<TObject*, TListColumn*>;
// Result by reference: negative, 0 or positive; it starts at 0 ("equal").
using TLVCompareEvent = TEvent<TObject*, TListItem*, TListItem*, intptr_t, int&>;
using TLVChangeEvent = TEvent<TObject*, TListItem*, TItemChange>;
