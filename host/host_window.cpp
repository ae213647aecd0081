#include "host_window.h"

#include <QAction>
#include <QLabel>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>

#include "guicommon/guicommon.h"
#include "host_session.h"
#include "toolkit/application.h"
#include "toolkit/forms.h"
#include "toolkit/qtext.h"
#include "toolkit/winapi.h"

CHostWindow::CHostWindow(CHostSession& session) : rSession(session) {
  QMainWindow* main = Application()->MainWindow();
  QMenuBar* bar = main->menuBar();
  pBusinessMenu = bar->addMenu(QStringLiteral("业务"));
  pWindowMenu = bar->addMenu(QStringLiteral("窗口"));
  QMenu* help = bar->addMenu(QStringLiteral("帮助"));
  help->addAction(QStringLiteral("关于"), this, [this] { ShowAbout(); });
  // Captions change as windows open and close: the menus are filled when
  // they are about to show.
  connect(pBusinessMenu, &QMenu::aboutToShow, this, [this] { FillBusinessMenu(); });
  connect(pWindowMenu, &QMenu::aboutToShow, this, [this] { FillWindowMenu(); });
  FillBusinessMenu();
  FillWindowMenu();
  main->statusBar()->addWidget(new QLabel(QString::fromStdString(session.StatusText())));
}

void CHostWindow::OpenBusiness(int id) {
  std::string problem;
  if (rSession.OpenBusiness(id, problem) == nullptr && rSession.FindBusiness(id) == nullptr) {
    // Module failures were shown by the session; an unknown id is ours.
    ShowGUIMessage(QStringToGbk(QString::fromStdString(problem)).c_str(), kHostTitle, MB_ICONERROR);
  }
}

void CHostWindow::FillBusinessMenu() {
  pBusinessMenu->clear();
  for (const CBusiness& business : rSession.Businesses()) {
    QString text = QString::number(business.iId);
    if (!business.strCaption.empty())
      text += QStringLiteral("  ") + GbkToQString(business.strCaption);
    text += QStringLiteral("  (") + QString::fromStdString(business.pModule->strFileName) +
            QLatin1Char(')');
    const int id = business.iId;
    pBusinessMenu->addAction(text, this, [this, id] { OpenBusiness(id); });
  }
  if (rSession.Businesses().empty()) {
    pBusinessMenu->addAction(QStringLiteral("（没有业务）"))->setEnabled(false);
  }
}

void CHostWindow::FillWindowMenu() {
  QMdiArea* area = Application()->MdiArea();
  pWindowMenu->clear();
  pWindowMenu->addAction(QStringLiteral("层叠"), area, &QMdiArea::cascadeSubWindows);
  pWindowMenu->addAction(QStringLiteral("平铺"), area, &QMdiArea::tileSubWindows);
  pWindowMenu->addAction(QStringLiteral("全部关闭"), area, &QMdiArea::closeAllSubWindows);
  const QList<QMdiSubWindow*> windows = area->subWindowList();
  if (!windows.isEmpty()) pWindowMenu->addSeparator();
  int number = 0;
  for (QMdiSubWindow* window : windows) {
    QAction* action =
        pWindowMenu->addAction(QStringLiteral("%1 %2").arg(++number).arg(window->windowTitle()),
                               area, [area, window] { area->setActiveSubWindow(window); });
    action->setCheckable(true);
    action->setChecked(window == area->activeSubWindow());
  }
}

void CHostWindow::ShowAbout() {
  QMessageBox::about(Application()->MainWindow(), QStringLiteral("关于"),
                     QString::fromStdString(rSession.AboutText()));
}
