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

  TActionList* ActionList() const { return list_; }
  // Places the action at the end of `list` (null: in none).
  void SetActionList(TActionList* list);
  int Index() const;
  int ImageIndex() const { return imageIndex_; }
  void SetImageIndex(int index) { imageIndex_ = index; }
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption) { caption_ = caption; }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value) { enabled_ = value; }

  // Runs OnExecute (directly); false when the action has no handler or is
  // disabled.
  bool Execute();

  TNotifyEvent OnExecute;

  bool SetProperty(const std::string& name, const std::string& value, TComponent* root) override;
  bool BindEvent(const std::string& event, const THandler& handler) override;
  // Joins `parent` when it is an action list; any other parent is ignored.
  bool SetLayoutParent(TComponent* parent) override;

 private:
  friend class TActionList;
  TActionList* list_ = nullptr;
  int imageIndex_ = -1;
  std::string caption_;
  bool enabled_ = true;
};

// An ordered list of actions (not owning them) with their images; Images()
// becomes null when the image list is destroyed.
class TOOLKIT_API TActionList : public TComponent {
 public:
  explicit TActionList(TComponent* owner);
  ~TActionList() override;
  TImageList* Images() const { return images_; }
  void SetImages(TImageList* images);
  int ActionCount() const { return static_cast<int>(actions_.size()); }
  // Null outside 0..ActionCount()-1.
  TAction* Actions(int index) const;

  bool SetProperty(const std::string& name, const std::string& value, TComponent* root) override;

 protected:
  void Notification(TComponent* component) override;

 private:
  friend class TAction;
  TImageList* images_ = nullptr;
  std::vector<TAction*> actions_;
};
