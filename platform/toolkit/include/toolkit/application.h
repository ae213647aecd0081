#pragma once

#include <exception>
#include <string>

#include "toolkit/classes.h"
#include "toolkit/events.h"
#include "toolkit/export.h"

class QMainWindow;
class QMdiArea;
class TForm;

using TExceptionEvent = TEvent<TObject*, const std::exception&>;

// Shows a message box; the toolkit's error boxes go through it.
using TMessageBoxProc = int (*)(const char* text, const char* caption, int flags);

// The one application object of the process. It owns the Qt application (made
// on first use when the program made none) and a main window with an MDI
// area, where forms with fsMDIChild open as sub-windows.
class TOOLKIT_API TApplication : public TComponent {
 public:
  // The application; made on first use.
  static TApplication* Instance();

  const std::string& Title() const { return sTitle; }
  void SetTitle(const std::string& title);

  QMainWindow* MainWindow();
  QMdiArea* MdiArea();
  // Shows the main window (made on first use).
  void ShowMainWindow();
  int MDIChildCount() const;
  // Null outside 0..MDIChildCount()-1.
  TForm* MDIChildren(int index) const;

  // Handles every pending event and posted message, then returns.
  void ProcessMessages();
  // While held (calls nest), messages posted with PostMessage wait in their
  // queue, in order; a window that must paint at once (a wait box) syncs with
  // the window system without running its caller's posted messages.
  void HoldPostedMessages();
  void ReleasePostedMessages();
  // True while a remote call made on this thread waits (the live wait): the
  // event loop runs, paint and timers go on, the user's input is dropped,
  // posted messages are held, no window closes, and Escape gives the call up
  // (the broker client's kErrCallAbandoned). Installed when the application
  // is made; a call that ends within 10 ms never starts the loop.
  bool CallWaiting() const;
  // Runs the event loop until Terminate; returns the exit code.
  int Run();
  void Terminate();

  // Called inside a catch block: OnException when bound, else ShowException.
  void HandleException(TObject* sender);
  // Shows the exception's message (GBK) in an error box, caption Title().
  void ShowException(const std::exception& e);

  // Where error boxes go; null restores the default (a Qt message box).
  // Returns the previous procedure.
  static TMessageBoxProc SetMessageBoxProc(TMessageBoxProc proc);
  static int MessageBox(const char* text, const char* caption, int flags);
  // The default procedure: a modal Qt message box (object name
  // "mpayMessageBox") with the caption and text as given (GBK, null as
  // empty), the icon of the MB_ICON... bits of flags and an OK button; returns
  // IDOK once it is closed.
  static int DefaultMessageBox(const char* text, const char* caption, int flags);

  TExceptionEvent OnException;

 private:
  TApplication();
  ~TApplication() override;
  std::string sTitle;
  QMainWindow* pMainWindow = nullptr;
  QMdiArea* pMdiArea = nullptr;
};

// Shorthand for TApplication::Instance().
inline TApplication* Application() {
  return TApplication::Instance();
}
