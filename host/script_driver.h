#pragma once

#include <cstddef>
#include <istream>
#include <span>
#include <string>
#include <vector>

#include <QPointer>

class CHostSession;
class CScriptOutput;
class QWidget;
class TComponent;
class TForm;
struct CCommandEntry;
struct CPickerPart;
struct CScriptLine;

// Runs a headless session: one command per script line (see docs/host.md
// for the language and the output formats), each followed by the handling
// of every pending event and posted message. A command that cannot run
// prints `error <TAB> LINE <TAB> REASON` and the session goes on.
class CScriptDriver {
 public:
  CScriptDriver(CHostSession& session, CScriptOutput& output);

  // Runs the script until `quit` or its end. A line longer than
  // kMaxScriptLineBytes, a script longer than kMaxScriptBytes and a read
  // error end it with an error line. Returns the number of error lines
  // printed.
  int Run(std::istream& script);
  static constexpr std::size_t kMaxScriptBytes = 1u << 20;
  static constexpr std::size_t kMaxScriptLineBytes = 64 * 1024;
  // Runs one line (numbered `lineNumber` in error lines); false on `quit`.
  bool RunLine(const std::string& line, int lineNumber);
  int Errors() const { return iErrors; }

  // Closes every window, as the operator would before leaving, and settles;
  // an error line numbered 0 when the windows do not settle.
  void CloseAll();

  // Handles every pending event and posted message, deferred deletes too,
  // round after round until a round runs no queued work (a queued call, a
  // posted message, a deferred delete, a layout request): the work that one
  // queues is done too. False when work was still queued after
  // kMaxSettleRounds rounds (something queues itself for ever).
  static bool Settle();
  static constexpr int kMaxSettleRounds = 1000;

  // A command's work: empty on success, else the reason it cannot run.
  using TCommand = std::string (CScriptDriver::*)(const std::vector<std::string>& args);

 private:
  std::string Open(const std::vector<std::string>& args);
  std::string Click(const std::vector<std::string>& args);
  std::string Type(const std::vector<std::string>& args);
  std::string Key(const std::vector<std::string>& args);
  std::string Set(const std::vector<std::string>& args);
  std::string Select(const std::vector<std::string>& args);
  std::string Date(const std::vector<std::string>& args);
  std::string Time(const std::vector<std::string>& args);
  std::string Header(const std::vector<std::string>& args);
  std::string RightClick(const std::vector<std::string>& args);
  std::string Menu(const std::vector<std::string>& args);
  std::string State(const std::vector<std::string>& args);
  std::string Focus(const std::vector<std::string>& args);
  std::string Dump(const std::vector<std::string>& args);
  std::string Clipboard(const std::vector<std::string>& args);
  std::string Shot(const std::vector<std::string>& args);
  std::string SaveAs(const std::vector<std::string>& args);
  std::string Print(const std::vector<std::string>& args);
  // Runs the current window's action `name` (actSaveAs, actPrint) with
  // `path` as the answer to its file question; a reason when the action
  // cannot run or no new file is at `path` afterwards.
  std::string RunFileAction(const char* name, const std::string& path);
  std::string Close(const std::vector<std::string>& args);
  std::string Quit(const std::vector<std::string>& args);
  std::string SetPicker(const std::vector<std::string>& args, const CPickerPart& part);

  // `timeout MS COMMAND ...`: runs the command, and presses Escape when a
  // remote call it made still waits MS milliseconds after it began.
  bool RunWithTimeout(const CScriptLine& parsed, int lineNumber);
  static constexpr const char* kTimeoutPrefix = "timeout";

  // The command table: name, argument count, usage, member.
  static std::span<const CCommandEntry> Commands();

  // The current window; null when it was closed or none was opened.
  TForm* Current() const;
  // The control NAME of the current window (searched through the
  // components it and its frames own), or a reason in `error`.
  template <class T>
  T* Find(const std::string& name, std::string& error) const;
  TComponent* FindByName(const std::string& name, std::string& error) const;
  // Prints an error line for `lineNumber` and counts it.
  void Fail(int lineNumber, const std::string& reason);

  CHostSession& rSession;
  CScriptOutput& rOutput;
  TForm* pCurrent = nullptr;
  QPointer<QWidget> pCurrentWidget;  // tells whether pCurrent still lives
  int iErrors = 0;
  bool bQuit = false;
};
