#pragma once

#include <QObject>

class CHostSession;
class QMenu;

// The host's MDI frame, built on the toolkit application's main window: the
// menu "业务" (one entry per business: id and module file, and its window's
// caption once one was opened), the menu "窗口" (cascade, tile, close all,
// the open windows), "帮助" with the About box, and a status bar with the
// operator and the broker URL.
class CHostWindow : public QObject {
 public:
  explicit CHostWindow(CHostSession& session);
  // Opens a window of business `id`; a failure is shown in a box.
  void OpenBusiness(int id);

 private:
  void FillBusinessMenu();
  void FillWindowMenu();
  void ShowAbout();
  CHostSession& rSession;
  QMenu* pBusinessMenu;
  QMenu* pWindowMenu;
};
