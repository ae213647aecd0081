// The frame's 文件 menu through real input: the menu opened with the mouse,
// Ctrl+S and Ctrl+P pressed, the save dialog typed into; entries off while
// the active window has nothing to save; a refusal leaves no file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <functional>

#include "../backoffice/test_db.h"
#include "guicommon/presenter.h"
#include "host_session.h"
#include "host_window.h"
#include "input_events.h"
#include "toolkit/application.h"
#include "toolkit/forms.h"
#include "toolkit/stdctrls.h"

namespace {

std::string TestModule() {
  return std::string(HOST_TEST_MODULES_DIR) + "/libhostmod_good.so";
}

class HostExportTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pDir = new TempDir;
    // The dialog's last folder is kept per user: here, in the test's folder.
    ::setenv("XDG_CONFIG_HOME", pDir->File("config").c_str(), 1);
    Application();
  }
  static void TearDownTestSuite() { delete pDir; }

  void SetUp() override {
    ASSERT_TRUE(session.AddModule(TestModule()));
    std::string problem;
    pForm = session.OpenBusiness(90001, problem);
    ASSERT_NE(pForm, nullptr) << problem;
    QMainWindow* main = Application()->MainWindow();
    main->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(main));
    main->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(main));
  }
  void TearDown() override { Application()->MdiArea()->closeAllSubWindows(); }

  // Fills the window's list as its button does.
  void Fill() {
    dynamic_cast<TEdit*>(pForm->FindComponent("edtNumber"))->SetText("7");
    QWidget* button = dynamic_cast<TControl*>(pForm->FindComponent("btnFill"))->Widget();
    QTest::mouseClick(button, Qt::LeftButton);
    // The wait box took the focus; offscreen, no window manager gives it
    // back to the frame.
    Application()->MainWindow()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Application()->MainWindow()));
  }
  // Ctrl+key pressed in the window's list, entering Qt where the window
  // system's keys do (as the headless host's keys), so that the shortcut
  // map sees it as an operator's.
  void PressInFrame(int key) {
    QWidget* list = dynamic_cast<TControl*>(pForm->FindComponent("lvstRows"))->Widget();
    list->setFocus();
    PressKeyInWindow(list, Qt::Key(key), Qt::ControlModifier);
  }
  // Runs `act` on the save dialog once it is up.
  static void OnSaveDialog(std::function<void(QFileDialog&)> act) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, act = std::move(act)] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr || !dialog->isVisible()) return;
      poll->stop();
      poll->deleteLater();
      act(*dialog);
    });
    poll->start(10);
  }
  static void TypeName(QFileDialog& dialog, const std::string& name) {
    auto* edit = dialog.findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(edit, nullptr);
    edit->selectAll();
    QTest::keyClicks(edit, QString::fromStdString(name));
    // Enter, as the operator ends the name (a completer's list that came up
    // takes the first one).
    for (int i = 0; i < 3 && dialog.isVisible(); ++i) {
      QTest::keyClick(edit, Qt::Key_Return);
      QApplication::processEvents();
    }
  }
  static QMenu* FileMenu() {
    for (QAction* a : Application()->MainWindow()->menuBar()->actions())
      if (a->text() == QStringLiteral("文件")) return a->menu();
    return nullptr;
  }
  static mode_t Mode(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
  }

  static inline TempDir* pDir = nullptr;
  MSysmgntDef::SOperator sOperator;
  CHostSession session{sOperator};
  CHostWindow frame{session};
  TForm* pForm = nullptr;
};

TEST_F(HostExportTest, ShortcutMenuAndDialogSaveTheActiveWindowsList) {
  QMenu* menu = FileMenu();
  ASSERT_NE(menu, nullptr);
  const QList<QAction*> items = menu->actions();
  ASSERT_EQ(items.size(), 3);
  EXPECT_EQ(items[0]->text(), QStringLiteral("另存为..."));
  EXPECT_EQ(items[0]->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
  EXPECT_EQ(items[1]->text(), QStringLiteral("打印预览..."));
  EXPECT_EQ(items[2]->text(), QStringLiteral("打印..."));
  EXPECT_EQ(items[2]->shortcut(), QKeySequence(QStringLiteral("Ctrl+P")));

  // An empty list: every entry off, and Ctrl+S asks nothing.
  QMenuBar* bar = Application()->MainWindow()->menuBar();
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(menu->menuAction()).center());
  ASSERT_TRUE(QTest::qWaitFor([menu] { return menu->isVisible(); }, 2000));
  for (QAction* item : items) EXPECT_FALSE(item->isEnabled()) << item->text().toStdString();
  menu->hide();  // (Escape would leave the menu bar taking the keys)
  CRecordingPresenter recorder;
  {
    CScopedGUIPresenter scope(&recorder);
    PressInFrame(Qt::Key_S);
    EXPECT_TRUE(recorder.questions.empty());
  }

  // With rows: Ctrl+S, the name typed into the dialog (XLSX by default).
  Fill();
  const std::string first = pDir->File("first");
  OnSaveDialog([&](QFileDialog& dialog) { TypeName(dialog, first); });
  PressInFrame(Qt::Key_S);
  EXPECT_EQ(Mode(first + ".xlsx"), 0600u);

  // The menu, opened with the mouse; the dialog starts in the last folder.
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(menu->menuAction()).center());
  ASSERT_TRUE(QTest::qWaitFor([menu] { return menu->isVisible(); }, 2000));
  for (QAction* item : items) EXPECT_TRUE(item->isEnabled()) << item->text().toStdString();
  QString folder;
  OnSaveDialog([&](QFileDialog& dialog) {
    folder = dialog.directory().absolutePath();
    TypeName(dialog, "second.csv");
  });
  QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(items[0]).center());
  EXPECT_EQ(folder.toStdString(), pDir->File("").substr(0, pDir->File("").size() - 1));
  EXPECT_EQ(Mode(pDir->File("second.csv")), 0600u);

  // A refusal: its box, no file. Ctrl+P prints to the PDF the presenter
  // names. (The dialog took the focus; offscreen, nobody gives it back.)
  Application()->MainWindow()->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Application()->MainWindow()));
  CScopedGUIPresenter scope(&recorder);
  auto* flag = dynamic_cast<TCheckBox*>(pForm->FindComponent("chkFlag"));
  flag->SetChecked(true);
  recorder.messages.clear();
  recorder.printAnswer = IGUIPresenter::kPrintToPdf;
  recorder.printPath = pDir->File("refused.pdf");
  PressInFrame(Qt::Key_P);
  ASSERT_EQ(recorder.messages.size(), 1u);
  EXPECT_EQ(recorder.messages[0].flags, 16);
  EXPECT_EQ(Mode(recorder.printPath), 0u);
  flag->SetChecked(false);
  recorder.printPath = pDir->File("printed.pdf");
  PressInFrame(Qt::Key_P);
  EXPECT_EQ(Mode(recorder.printPath), 0600u);
}

}  // namespace
