#pragma once

#include <QObject>

class CHostSession;
struct CSignInDefaults;
class QAction;
class QLabel;
class QMenu;

// The host's MDI frame, built on the toolkit application's main window: the
// menu "文件" (另存为... Ctrl+S, 打印预览..., 打印... Ctrl+P: the active
// business window's actSaveAs, actPreview and actPrint, each enabled only
// while that action has a handler and allows running), the menu "业务" (one entry per business: id
// and module file, and its window's caption once one was opened), the menu "窗口" (cascade, tile,
// close all, the open windows), "操作员" (switch operator, sign out), "帮助" with the About box,
// and a status bar with the operator and the broker URL.
class CHostWindow : public QObject {
 public:
  explicit CHostWindow(CHostSession& session);
  // Opens a window of business `id`; a failure is shown in a box.
  void OpenBusiness(int id);
  // Shows the sign-in dialog; true once an operator signed in (the session's
  // operator and the status bar are theirs then), false when cancelled.
  bool SignIn(const CSignInDefaults& defaults);
  // Offers the sign-in dialog again once no box is open: the back office
  // refused a session that has ended. Calls that come while it is pending
  // change nothing.
  void OfferSignInAgain();

 protected:
  // Brings the 文件 entries up to date before a shortcut is looked up.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Enables each 文件 entry as its action allows now.
  void UpdateFileMenu();
  void RunFileAction(const char* name);
  // Closes every window first; false when one stays open.
  bool CloseWindows();
  void SwitchOperator();
  void SignOut();
  void UpdateStatus();
  void OfferWhenNoBoxIsOpen();
  void FillBusinessMenu();
  void FillWindowMenu();
  void ShowAbout();
  CHostSession& rSession;
  QMenu* pFileMenu;
  QAction* pSaveAs;
  QAction* pPreview;
  QAction* pPrint;
  QMenu* pBusinessMenu;
  QMenu* pWindowMenu;
  QLabel* pStatus;
  bool bOfferPending = false;
};
