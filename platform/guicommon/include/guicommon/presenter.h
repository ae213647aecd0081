#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "guicommon/export.h"

// Where message and wait boxes go. The Qt presenter shows real dialogs; tests
// and the headless host install a CRecordingPresenter so that every box can be
// asserted and nothing blocks.
//
// Texts reach a presenter as NUL-terminated GBK bytes, never null (a null text
// passed to the entry points arrives as "").
class GUICOMMON_API IGUIPresenter {
 public:
  virtual ~IGUIPresenter();
  virtual int ShowMessage(const char* text, const char* caption, int flags) = 0;
  virtual void ShowWaitBox(const char* text) = 0;
  virtual void UpdateWaitBox(const char* text) = 0;
  virtual void CloseWaitBox() = 0;

  // Saving and printing a list. The built-in answers cancel and show no
  // progress.

  // Asks where to save a list (`caption`: GBK). `path` (UTF-8) comes in as
  // the suggested file name and goes out as the chosen one, whose extension
  // (".csv" or ".xlsx") says the format. False when the operator cancelled.
  virtual bool AskSaveFileName(const char* caption, std::string& path);
  // Asks where to print: kPrintCancelled, kPrintToPrinter (the caller shows
  // the system's print dialog) or kPrintToPdf with the file in `path`
  // (UTF-8).
  virtual int AskPrintTarget(const char* caption, std::string& path);
  static constexpr int kPrintCancelled = 0;
  static constexpr int kPrintToPrinter = 1;
  static constexpr int kPrintToPdf = 2;
  // A progress box over `total` steps (`text`: GBK) with a cancel button.
  virtual void ShowProgress(const char* text, int64_t total);
  // Moves it to `done`; false once the operator asked to cancel.
  virtual bool UpdateProgress(int64_t done);
  virtual void CloseProgress();
};

// Installs `presenter` (not owned; null restores the default) and returns the
// previous one (null when the default was in place).
GUICOMMON_API IGUIPresenter* SetGUIPresenter(IGUIPresenter* presenter);
// The presenter in use: the installed one, else the default. Never null.
GUICOMMON_API IGUIPresenter* GetGUIPresenter();

// Replaces the default presenter (not owned; null restores the built-in one,
// which writes messages to stderr and ignores wait boxes) and returns the
// previous default (null for the built-in one). The package's dialogs
// register themselves here when the library is loaded with its Qt part.
GUICOMMON_API IGUIPresenter* SetDefaultGUIPresenter(IGUIPresenter* presenter);

// Installs a presenter for the lifetime of the object and puts the previous
// one back afterwards.
class GUICOMMON_API CScopedGUIPresenter {
 public:
  explicit CScopedGUIPresenter(IGUIPresenter* presenter);
  ~CScopedGUIPresenter();
  CScopedGUIPresenter(const CScopedGUIPresenter&) = delete;
  CScopedGUIPresenter& operator=(const CScopedGUIPresenter&) = delete;

 private:
  IGUIPresenter* pPrevious;
};

// Keeps every call, in order, as GBK bytes. ShowMessage answers 1 (OK).
class GUICOMMON_API CRecordingPresenter : public IGUIPresenter {
 public:
  struct Message {
    std::string text, caption;
    int flags;
  };
  std::vector<Message> messages;
  std::vector<std::string> waitTexts;  // every ShowWaitBox / UpdateWaitBox text
  bool waitBoxOpen = false;
  // Whether a wait box was up when each message was shown (same index as
  // `messages`).
  std::vector<bool> messageUnderWaitBox;
  int waitBoxShows = 0, waitBoxCloses = 0;

  int ShowMessage(const char* text, const char* caption, int flags) override;
  void ShowWaitBox(const char* text) override;
  void UpdateWaitBox(const char* text) override;
  void CloseWaitBox() override;

  // Saving and printing: each question is recorded (`questions`: "save
  // CAPTION" or "print CAPTION") and answered with the values below;
  // UpdateProgress answers false from the step `cancelAt` on (-1: never).
  std::vector<std::string> questions;
  bool saveAnswer = false;
  std::string savePath;
  int printAnswer = kPrintCancelled;
  std::string printPath;
  int64_t cancelAt = -1;
  int progressShows = 0, progressCloses = 0;
  bool AskSaveFileName(const char* caption, std::string& path) override;
  int AskPrintTarget(const char* caption, std::string& path) override;
  void ShowProgress(const char* text, int64_t total) override;
  bool UpdateProgress(int64_t done) override;
  void CloseProgress() override;
};
