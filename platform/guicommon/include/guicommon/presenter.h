#pragma once

#include <string>
#include <vector>

#include "guicommon/export.h"

// Where message and wait boxes go. The Qt presenter shows real dialogs; tests
// and the headless host install a RecordingPresenter so that every box can be
// asserted and nothing blocks.
class GUICOMMON_API IGUIPresenter {
 public:
  virtual ~IGUIPresenter();
  virtual int ShowMessage(const char* text, const char* caption, int flags) = 0;
  virtual void ShowWaitBox(const char* text) = 0;
  virtual void UpdateWaitBox(const char* text) = 0;
  virtual void CloseWaitBox() = 0;
};

// Installs `presenter` (not owned; null restores the default) and returns the
// previous one.
GUICOMMON_API IGUIPresenter* SetGUIPresenter(IGUIPresenter* presenter);
GUICOMMON_API IGUIPresenter* GetGUIPresenter();

// Keeps every call, in order, as GBK bytes.
class GUICOMMON_API CRecordingPresenter : public IGUIPresenter {
 public:
  struct Message {
    std::string text, caption;
    int flags;
  };
  std::vector<Message> messages;
  std::vector<std::string> waitTexts;  // every ShowWaitBox / UpdateWaitBox text
  bool waitBoxOpen = false;
  int waitBoxShows = 0, waitBoxCloses = 0;

  int ShowMessage(const char* text, const char* caption, int flags) override;
  void ShowWaitBox(const char* text) override;
  void UpdateWaitBox(const char* text) override;
  void CloseWaitBox() override;
};
