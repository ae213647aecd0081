#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "guicommon/presenter.h"

// Where the headless host writes: one output line per call, flushed at once
// so that a reader of the pipe sees every line as it happens.
class CScriptOutput {
 public:
  explicit CScriptOutput(std::ostream& out) : rOut(out) {}
  void Write(const std::vector<std::string>& fields);

 private:
  std::ostream& rOut;
};

// The answer of a message box's default button for its flags: the first
// button of the MB_... button group (or the second or third with
// MB_DEFBUTTON2 and MB_DEFBUTTON3): IDOK for MB_OK and MB_OKCANCEL, IDYES
// for the yes/no groups, IDABORT, IDRETRY, IDCANCEL for the others.
int DefaultButtonAnswer(int flags);

// The presenter of the headless host. It prints every box as it happens:
//   message <TAB> CAPTION <TAB> FLAGS <TAB> TEXT
//   wait <TAB> show|update|close <TAB> TEXT   (close: the text that was up)
// with the texts in UTF-8 and escaped, and answers each message box at
// once as its default button would.
class CScriptPresenter : public IGUIPresenter {
 public:
  explicit CScriptPresenter(CScriptOutput& output) : rOutput(output) {}
  int ShowMessage(const char* text, const char* caption, int flags) override;
  void ShowWaitBox(const char* text) override;
  void UpdateWaitBox(const char* text) override;
  void CloseWaitBox() override;
  // The save and print questions take the file given by AnswerNextFile, once;
  // without one they are cancelled. Each prints
  //   dialog <TAB> CAPTION <TAB> FILE|cancelled
  bool AskSaveFileName(const char* caption, std::string& path) override;
  int AskPrintTarget(const char* caption, std::string& path) override;
  // The answer of the next question (UTF-8; "" for none).
  void AnswerNextFile(std::string path) { strNextFile = std::move(path); }

  // Routes the toolkit's own error boxes (an exception out of an event
  // handler) to this presenter while it lives.
  void CatchToolkitBoxes();
  ~CScriptPresenter() override;

 private:
  CScriptOutput& rOutput;
  bool Answer(const char* caption, std::string& path);
  std::string strWaitText;  // GBK
  std::string strNextFile;
  bool bCatchingToolkitBoxes = false;
};
