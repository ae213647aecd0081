#pragma once

#include <string>
#include <vector>

#include "toolkit/classes.h"
#include "toolkit/controls.h"
#include "toolkit/events.h"
#include "toolkit/export.h"

class QMenu;
class TPopupMenu;

// A menu command or sub-menu. Items are components (owned by their owner);
// a parent item lists them without owning them, and an item that dies leaves
// its parent's list.
class TOOLKIT_API TMenuItem : public TComponent {
 public:
  explicit TMenuItem(TComponent* owner);
  ~TMenuItem() override;

  const std::string& Caption() const { return sCaption; }
  void SetCaption(const std::string& caption);
  bool Enabled() const { return bEnabled; }
  void SetEnabled(bool value);
  bool Visible() const { return bVisible; }
  void SetVisible(bool value);

  int Count() const { return static_cast<int>(vItems.size()); }
  // Null outside 0..Count()-1.
  TMenuItem* Items(int index) const;
  TMenuItem* Parent() const { return pParent; }
  // Places `item` at `index` (clamped to 0..Count()); an item in another
  // menu leaves it first.
  void Insert(int index, TMenuItem* item);
  void Add(TMenuItem* item) { Insert(Count(), item); }
  void Remove(TMenuItem* item);
  int IndexOf(const TMenuItem* item) const;

  // Runs OnClick (directly).
  void Click();

  TNotifyEvent OnClick;

  bool SetProperty(const std::string& name, const std::string& value, TComponent* root) override;
  bool BindEvent(const std::string& event, const THandler& handler) override;
  // Joins `parent` when it is a popup menu or a menu item; any other parent
  // is ignored.
  bool SetLayoutParent(TComponent* parent) override;

 private:
  friend class TPopupMenu;
  void Changed();
  std::string sCaption;
  bool bEnabled = true;
  bool bVisible = true;
  TMenuItem* pParent = nullptr;
  TPopupMenu* pMenu = nullptr;  // set on the root item only
  std::vector<TMenuItem*> vItems;
};

// A context menu shown on a right click on a control that names it. The menu
// and the controls naming it may die in any order (they are linked by the
// components' free notification): a control's PopupMenu() becomes null when
// its menu is destroyed, and a destroyed component is no longer the menu's
// PopupComponent() (TContextPopup).
class TOOLKIT_API TPopupMenu : public TContextPopup {
 public:
  explicit TPopupMenu(TComponent* owner);
  ~TPopupMenu() override;
  // The root item: its children are the menu's commands.
  TMenuItem* Items() { return pRoot; }
  // Shows the menu at a screen point and returns at once.
  void Popup(int x, int y) override;
  // The Qt menu, rebuilt from the items when they change.
  QMenu* Menu();

 private:
  friend class TMenuItem;
  void Rebuild();
  TMenuItem* pRoot;
  QMenu* pMenu = nullptr;
  bool bDirty = true;
};
