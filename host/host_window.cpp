#include "host_window.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QTimer>

#include "file_actions.h"
#include "guicommon/guicommon.h"
#include "host_session.h"
#include "sign_in.h"
#include "sign_in_dialog.h"
#include "toolkit/actnlist.h"
#include "toolkit/application.h"
#include "toolkit/forms.h"
#include "toolkit/qtext.h"
#include "toolkit/winapi.h"

CHostWindow::CHostWindow(CHostSession& session) : rSession(session) {
  QMainWindow* main = Application()->MainWindow();
  QMenuBar* bar = main->menuBar();
  pFileMenu = bar->addMenu(QStringLiteral("文件"));
  pSaveAs = pFileMenu->addAction(QStringLiteral("另存为..."), this,
                                 [this] { RunFileAction("actSaveAs"); });
  pSaveAs->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  pPreview = pFileMenu->addAction(QStringLiteral("打印预览..."), this,
                                  [this] { RunFileAction("actPreview"); });
  pPrint =
      pFileMenu->addAction(QStringLiteral("打印..."), this, [this] { RunFileAction("actPrint"); });
  pPrint->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
  connect(pFileMenu, &QMenu::aboutToShow, this, [this] { UpdateFileMenu(); });
  // A disabled entry's shortcut is not looked up at all: the entries are
  // brought up to date before every shortcut is (and when the active window
  // changes, for whoever looks at the menu bar).
  QCoreApplication::instance()->installEventFilter(this);
  connect(Application()->MdiArea(), &QMdiArea::subWindowActivated, this,
          [this] { UpdateFileMenu(); });
  UpdateFileMenu();
  pBusinessMenu = bar->addMenu(QStringLiteral("业务"));
  pWindowMenu = bar->addMenu(QStringLiteral("窗口"));
  QMenu* op = bar->addMenu(QStringLiteral("操作员"));
  op->addAction(QStringLiteral("切换操作员…"), this, [this] { SwitchOperator(); });
  op->addAction(QStringLiteral("退出登录"), this, [this] { SignOut(); });
  QMenu* help = bar->addMenu(QStringLiteral("帮助"));
  help->addAction(QStringLiteral("关于"), this, [this] { ShowAbout(); });
  // Captions change as windows open and close: the menus are filled when
  // they are about to show.
  connect(pBusinessMenu, &QMenu::aboutToShow, this, [this] { FillBusinessMenu(); });
  connect(pWindowMenu, &QMenu::aboutToShow, this, [this] { FillWindowMenu(); });
  FillBusinessMenu();
  FillWindowMenu();
  pStatus = new QLabel(QString::fromStdString(session.StatusText()));
  main->statusBar()->addWidget(pStatus);
}

void CHostWindow::UpdateFileMenu() {
  TForm* form = ActiveBusinessForm();
  pSaveAs->setEnabled(RunnableAction(form, "actSaveAs") != nullptr);
  pPreview->setEnabled(RunnableAction(form, "actPreview") != nullptr);
  pPrint->setEnabled(RunnableAction(form, "actPrint") != nullptr);
}

void CHostWindow::RunFileAction(const char* name) {
  TAction* action = RunnableAction(ActiveBusinessForm(), name);
  if (action == nullptr) return;
  // Run from the menu, as the toolkit's dispatcher runs a handler: what it
  // throws ends in the error box, never in Qt's event loop.
  try {
    action->Execute();
  } catch (const std::exception& e) {
    ShowGUIMessage(e.what(), kHostTitle, MB_ICONERROR);
  }
}

bool CHostWindow::eventFilter(QObject*, QEvent* event) {
  if (event->type() == QEvent::ShortcutOverride) {
    const auto* key = static_cast<QKeyEvent*>(event);
    const QKeySequence pressed(key->keyCombination());
    if (pressed == pSaveAs->shortcut() || pressed == pPrint->shortcut()) UpdateFileMenu();
  }
  return false;
}

void CHostWindow::UpdateStatus() {
  pStatus->setText(QString::fromStdString(rSession.StatusText()));
}

bool CHostWindow::SignIn(const CSignInDefaults& defaults) {
  CSignInDialog dialog(Application()->MainWindow(), defaults);
  if (dialog.exec() != QDialog::Accepted) return false;
  rSession.SetOperator(dialog.Operator());
  UpdateStatus();
  return true;
}

bool CHostWindow::CloseWindows() {
  QMdiArea* area = Application()->MdiArea();
  area->closeAllSubWindows();
  return area->subWindowList().isEmpty();
}

void CHostWindow::SwitchOperator() {
  if (!CloseWindows()) return;
  SignOutOperator();
  if (!SignIn({})) QApplication::quit();
}

void CHostWindow::SignOut() {
  if (!CloseWindows()) return;
  SignOutOperator();
  QApplication::quit();
}

void CHostWindow::OfferSignInAgain() {
  if (bOfferPending) return;
  bOfferPending = true;
  QTimer::singleShot(0, this, [this] { OfferWhenNoBoxIsOpen(); });
}

void CHostWindow::OfferWhenNoBoxIsOpen() {
  // After the window's own failure box: while a box is open, a little later.
  if (QApplication::activeModalWidget() != nullptr) {
    QTimer::singleShot(200, this, [this] { OfferWhenNoBoxIsOpen(); });
    return;
  }
  CSignInDefaults defaults;
  const std::string before = rSession.Operator().LOGIN_NAME;
  defaults.strLogin = GbkToQString(before).toStdString();
  defaults.strNote = "登录已失效，请重新登录。";
  const bool signedIn = SignIn(defaults);
  bOfferPending = false;
  // The open windows hold the operator they were opened for.
  if (signedIn && rSession.Operator().LOGIN_NAME != before) CloseWindows();
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
