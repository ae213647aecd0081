#pragma once

#include <string>
#include <vector>

#include "toolkit/classes.h"
#include "toolkit/events.h"
#include "toolkit/export.h"

class TActionList;
class TImageList;

// A command that buttons share. A button forgets an action that is
// destroyed (its Action() becomes null, through the component's free
// notification).
class TOOLKIT_API TAction : public TComponent {
 public:
  explicit TAction(TComponent* owner);
  ~TAction() override;

  TActionList* ActionList() const { return pList; }
  // Places the action at the end of `list` (null: in none).
  void SetActionList(TActionList* list);
  int Index() const;
  int ImageIndex() const { return iImageIndex; }
  void SetImageIndex(int index) { iImageIndex = index; }
  const std::string& Caption() const { return sCaption; }
  void SetCaption(const std::string& caption) { sCaption = caption; }
  bool Enabled() const { return bEnabled; }
  void SetEnabled(bool value) { bEnabled = value; }

  // Runs OnExecute (directly); false when the action has no handler or is
  // disabled.
  bool Execute();
  // Runs OnUpdate (directly), which sets whether the action can run now
  // (Enabled); false when the action has no such handler. Whoever offers
  // the action (a menu, a shortcut) asks before it does.
  bool Update();

  TNotifyEvent OnExecute;
  TNotifyEvent OnUpdate;

  bool SetProperty(const std::string& name, const std::string& value, TComponent* root) override;
  bool BindEvent(const std::string& event, const THandler& handler) override;
  // Joins `parent` when it is an action list; any other parent is ignored.
  bool SetLayoutParent(TComponent* parent) override;

 private:
  friend class TActionList;
  TActionList* pList = nullptr;
  int iImageIndex = -1;
  std::string sCaption;
  bool bEnabled = true;
};

// An ordered list of actions (not owning them) with their images; Images()
// becomes null when the image list is destroyed.
class TOOLKIT_API TActionList : public TComponent {
 public:
  explicit TActionList(TComponent* owner);
  ~TActionList() override;
  TImageList* Images() const { return pImages; }
  void SetImages(TImageList* images);
  int ActionCount() const { return static_cast<int>(vActions.size()); }
  // Null outside 0..ActionCount()-1.
  TAction* Actions(int index) const;

  bool SetProperty(const std::string& name, const std::string& value, TComponent* root) override;

 protected:
  void Notification(TComponent* component) override;

 private:
  friend class TAction;
  TImageList* pImages = nullptr;
  std::vector<TAction*> vActions;
};
