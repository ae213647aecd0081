#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/export.h"
#include "toolkit/sysutils.h"

class THandler;

// Root of the toolkit's classes. Type tests are dynamic_cast.
class TOOLKIT_API TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject();
};

// A name, an owner and a pointer-sized tag. An owner destroys what it owns,
// the last owned first; a component destroyed on its own leaves its owner.
class TOOLKIT_API TComponent : public TObject {
 public:
  explicit TComponent(TComponent* owner);
  ~TComponent() override;

  TComponent* Owner() const { return pOwner; }

  const std::string& Name() const { return sName; }
  // Throws EComponentError when the owner already has a component of that
  // name (names compare without case, as FindComponent does).
  void SetName(const std::string& name);

  intptr_t Tag() const { return iTag; }
  void SetTag(intptr_t tag) { iTag = tag; }

  int ComponentCount() const { return static_cast<int>(vComponents.size()); }
  // Null outside 0..ComponentCount()-1.
  TComponent* Components(int index) const;
  // Position in the owner's list; -1 without an owner.
  int ComponentIndex() const;
  // The owned component with that name (ASCII case ignored); null when none.
  TComponent* FindComponent(const std::string& name) const;

  void InsertComponent(TComponent* component);  // takes ownership
  void RemoveComponent(TComponent* component);  // gives it up; the caller owns it

  // True once destruction has begun.
  bool Destroying() const { return bDestroying; }

  // Links this component and `component` so that each is told (through
  // Notification) when the other is destroyed; a component that keeps a
  // pointer to another it does not own asks for this once per pointer.
  // RemoveFreeNotification undoes one such request. Null: nothing.
  void FreeNotification(TComponent* component);
  void RemoveFreeNotification(TComponent* component);

  // Layout support: joins `parent` as a layout item naming it does (a
  // control is placed in it, an action joins its action list, a menu item
  // its menu). False when `parent` cannot hold the component; the default
  // takes no parent and ignores it.
  virtual bool SetLayoutParent(TComponent* parent);

  // Runs once after a layout has been read into the component.
  virtual void Loaded();
  // Runs while the component is still whole, right before it is deleted by
  // its owner or released (a windowed control sends WM_DESTROY here).
  virtual void BeforeDestruction();

  // Layout support: sets a property given as text. `root` resolves names of
  // other components (an action, a popup menu). Returns false for an unknown
  // property; throws std::invalid_argument for a value it cannot take.
  virtual bool SetProperty(const std::string& name, const std::string& value, TComponent* root);
  // Layout support: binds a handler to an event by the event's name. Returns
  // false for an unknown event; throws std::invalid_argument when the
  // handler's parameters do not fit the event.
  virtual bool BindEvent(const std::string& event, const THandler& handler);

 protected:
  // `component`, linked by FreeNotification, is being destroyed: forget
  // every pointer to it. It is no longer whole; compare its address only.
  virtual void Notification(TComponent* component);
  void MarkDestroying() { bDestroying = true; }
  // Destroys every owned component now, the last first.
  void DestroyComponents();

 private:
  TComponent* pOwner = nullptr;
  std::string sName;
  intptr_t iTag = 0;
  std::vector<TComponent*> vComponents;
  std::vector<TComponent*> vLinked;  // FreeNotification, once per request
  bool bDestroying = false;
};

class TOOLKIT_API EComponentError : public Exception {
 public:
  using Exception::Exception;
  ~EComponentError() override;
};

// An ordered list of GBK strings.
class TOOLKIT_API TStrings {
 public:
  virtual ~TStrings();
  virtual int Count() const = 0;
  // "" outside 0..Count()-1.
  virtual std::string Strings(int index) const = 0;
  // Out-of-range indexes are ignored by Put and Delete; Insert clamps.
  virtual void Put(int index, const std::string& text) = 0;
  virtual void Insert(int index, const std::string& text) = 0;
  virtual void Delete(int index) = 0;
  virtual void Clear() = 0;

  // Appends; returns the new string's index.
  int Add(const std::string& text);
  // Appends the texts in order. A list that keeps its strings together (a
  // list view row's sub-items) takes them in one change.
  virtual void AddStrings(std::span<const std::string_view> texts);
  // First index of an exact (byte) match; -1 when none.
  int IndexOf(const std::string& text) const;
  std::string operator[](int index) const { return Strings(index); }
  // Lines joined with "\n".
  std::string Text() const;
};

class TOOLKIT_API TStringList : public TStrings {
 public:
  ~TStringList() override;
  int Count() const override { return static_cast<int>(vItems.size()); }
  std::string Strings(int index) const override;
  void Put(int index, const std::string& text) override;
  void Insert(int index, const std::string& text) override;
  void Delete(int index) override;
  void Clear() override { vItems.clear(); }

 private:
  std::vector<std::string> vItems;
};
