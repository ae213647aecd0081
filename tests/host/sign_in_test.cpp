// The host's sign-in dialog and its 操作员 menu, driven by mouse and key
// events against a real back office (in this process, on 127.0.0.1, with
// sign-in required): refusals shown in the dialog, switching operator and
// signing out through the menu, and the dialog offered again after the
// window's failure box when the back office ends the session.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "backoffice/authenticator.h"
#include "backoffice/demo_data.h"
#include "backoffice/demo_operators.h"
#include "backoffice/server.h"
#include "backoffice/service.h"
#include "backoffice/sqlite_operator_store.h"
#include "guicommon/guicommon.h"
#include "host_session.h"
#include "host_window.h"
#include "sign_in_dialog.h"
#include "test_db.h"
#include "tmclient/session.h"
#include "tmclient/tmb_stream.h"
#include "tmclient/tmd_client_object.h"
#include "toolkit/application.h"
#include "wire_helpers.h"

namespace {

using namespace backoffice;

// A back office with the demo operators, serving tcp:// on loopback, which
// the host's broker name resolves to; made once for the suite (adding the
// operators hashes their passwords).
class HostSignInTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pDir = new TempDir;
    const std::string db = pDir->File("demo.db");
    DemoOptions demo;
    demo.rows = 200;
    GenerateDemo(db, demo);
    pOperators = new SqliteOperatorStore(db);
    AddDemoOperators(*pOperators);
    pAuth = new Authenticator(*pOperators, AuthPolicy());
    ServiceConfig config;
    config.dbPath = db;
    config.connections = 1;
    pService = new Service(config, nullptr, pAuth);
    pEndpoint = MakeTcpEndpoint("tcp://127.0.0.1:0", 2, *pService).release();
    std::string error;
    ASSERT_TRUE(pEndpoint->Start(error)) << error;
    ::setenv("TMCLIENT_BROKER_TALMIRON", pEndpoint->Describe().c_str(), 1);
    Application();  // the toolkit's application and main window
  }
  static void TearDownTestSuite() {
    pEndpoint->Stop();
    delete pEndpoint;
    delete pService;
    delete pAuth;
    delete pOperators;
    delete pDir;
  }
  void TearDown() override { tmclient::SetSession(""); }

  // Runs `act` on the next sign-in dialog that comes up modal, once; true
  // in `done` afterwards.
  void OnNextDialog(std::function<void(CSignInDialog&)> act, bool& done) {
    done = false;
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, act = std::move(act), &done] {
      auto* dialog = dynamic_cast<CSignInDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr || !dialog->isVisible()) return;
      poll->stop();
      poll->deleteLater();
      act(*dialog);
      done = true;
    });
    poll->start(10);
  }

  // Types into the dialog's fields (what is there first is selected and
  // replaced) and signs in with the button or the Enter key.
  static void Type(QDialog& dialog, const char* login, const char* password, bool enter) {
    auto* edtLogin = dialog.findChild<QLineEdit*>("edtLogin");
    auto* edtPassword = dialog.findChild<QLineEdit*>("edtPassword");
    if (login != nullptr) {
      edtLogin->selectAll();
      QTest::keyClicks(edtLogin, QString::fromUtf8(login));
    }
    edtPassword->selectAll();
    QTest::keyClicks(edtPassword, QString::fromUtf8(password));
    if (enter) {
      QTest::keyClick(edtPassword, Qt::Key_Return);
    } else {
      QTest::mouseClick(dialog.findChild<QPushButton*>("btnSignIn"), Qt::LeftButton);
    }
  }

  // Opens the 操作员 menu on the menu bar and clicks `item`, as the mouse would.
  static void ClickOperatorMenu(const QString& item) {
    QMenuBar* bar = Application()->MainWindow()->menuBar();
    QMenu* menu = nullptr;
    for (QAction* a : bar->actions())
      if (a->text() == QStringLiteral("操作员")) menu = a->menu();
    ASSERT_NE(menu, nullptr);
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(menu->menuAction()).center());
    ASSERT_TRUE(QTest::qWaitFor([menu] { return menu->isVisible(); }, 2000));
    for (QAction* a : menu->actions()) {
      if (a->text() != item) continue;
      QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(a).center());
      return;
    }
    ADD_FAILURE() << "no item " << item.toStdString();
  }

  // The log query through the host's broker name: 0, or the refusal.
  static int LogQuery() {
    CTmdClientObject client;
    if (client.bind_openBroker("TALMIRON") != 0) return -1;
    tmb_stream in, out;
    in.open();
    in.begin_stream(kLogRequestStream);
    in << wire::LogIn(1, 0, "", 0, 0) << wire::Operator();
    in.end_stream();
    return client.call_server(kLogInterface, kLogServiceCode, nullptr, in, out);
  }

  static bool Live(const std::string& token) {
    Caller caller;
    return pAuth->Verify(token, "", caller) == 0;
  }

  static TempDir* pDir;
  static SqliteOperatorStore* pOperators;
  static Authenticator* pAuth;
  static Service* pService;
  static Endpoint* pEndpoint;
};
TempDir* HostSignInTest::pDir = nullptr;
SqliteOperatorStore* HostSignInTest::pOperators = nullptr;
Authenticator* HostSignInTest::pAuth = nullptr;
Service* HostSignInTest::pService = nullptr;
Endpoint* HostSignInTest::pEndpoint = nullptr;

TEST_F(HostSignInTest, DialogSignsInOrSaysWhyAndStaysOpen) {
  struct Case {
    const char* what;
    CSignInDefaults defaults;
    const char* login;  // typed over the default; null: left as it is
    const char* password;
    bool enter;  // the Enter key, else the button
    bool accepted;
    const char* message;  // in the dialog afterwards
  };
  const Case cases[] = {
      {"wrong password", {}, kDemoLogin, "demo12345", false, false, "[1010]"},
      {"unknown login: the same answer", {}, "nobody", kDemoPassword, true, false, "[1010]"},
      {"expired operator", {}, kDemoExpiredLogin, kDemoExpiredPassword, true, false, "[1012]"},
      {"the demo's operator filled in",
       {kDemoLogin, kDemoPassword, true, ""},
       nullptr,
       kDemoPassword,
       false,
       true,
       "演示"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CSignInDialog dialog(nullptr, c.defaults);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    Type(dialog, c.login, c.password, c.enter);
    EXPECT_EQ(dialog.result() == QDialog::Accepted, c.accepted);
    EXPECT_EQ(dialog.isVisible(), !c.accepted);
    EXPECT_TRUE(
        dialog.findChild<QLabel*>("lblMessage")->text().contains(QString::fromUtf8(c.message)));
    // The password never stays in the field; after a refusal it waits there.
    auto* edtPassword = dialog.findChild<QLineEdit*>("edtPassword");
    EXPECT_TRUE(edtPassword->text().isEmpty());
    if (!c.accepted) {
      EXPECT_EQ(dialog.focusWidget(), edtPassword);
      EXPECT_EQ(tmclient::CurrentSession(), "");
    } else {
      EXPECT_EQ(dialog.Operator().OP_ID, 1001);
      EXPECT_TRUE(Live(tmclient::CurrentSession()));
    }
  }
}

// Switch operator and sign out through the menu close the windows first and
// end the old session at the back office; a session the back office ends
// brings the dialog back once the window's failure box is closed.
TEST_F(HostSignInTest, OperatorMenuAndASessionEndedByTheBackOffice) {
  CHostSession session{MSysmgntDef::SOperator()};
  CHostWindow frame(session);
  QMainWindow* main = Application()->MainWindow();
  main->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(main));
  QLabel* status = main->statusBar()->findChild<QLabel*>();
  ASSERT_NE(status, nullptr);

  bool done = false;
  OnNextDialog([](CSignInDialog& d) { Type(d, kDemoLogin, kDemoPassword, true); }, done);
  ASSERT_TRUE(frame.SignIn({}));
  EXPECT_TRUE(done);
  EXPECT_TRUE(status->text().contains(QStringLiteral("操作员 1001")));
  const std::string demoSession = tmclient::CurrentSession();

  // 切换操作员…: the open window closes, demo's session ends, logonly's begins.
  Application()->MdiArea()->addSubWindow(new QWidget)->show();
  OnNextDialog([](CSignInDialog& d) { Type(d, kDemoLogOnlyLogin, kDemoLogOnlyPassword, false); },
               done);
  ClickOperatorMenu(QStringLiteral("切换操作员…"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 10000));
  EXPECT_TRUE(Application()->MdiArea()->subWindowList().isEmpty());
  EXPECT_EQ(session.Operator().OP_ID, 1002);
  EXPECT_TRUE(status->text().contains(QStringLiteral("操作员 1002")));
  EXPECT_FALSE(Live(demoSession));
  const std::string logOnlySession = tmclient::CurrentSession();
  ASSERT_TRUE(Live(logOnlySession));

  // The back office ends the session: the call is refused, the library
  // tells the host, and the dialog waits for the window's failure box.
  tmclient::SetSessionRefusedHandler([&frame] { frame.OfferSignInAgain(); });
  Caller caller;
  ASSERT_EQ(pAuth->SignOut(logOnlySession, caller), 0);
  EXPECT_EQ(LogQuery(), kRcNoSession);
  QTimer::singleShot(500, [] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box != nullptr) QTest::mouseClick(box->buttons().value(0), Qt::LeftButton);
  });
  QString note, login;
  bool boxOpenMeanwhile = false;
  OnNextDialog(
      [&](CSignInDialog& d) {
        for (QWidget* w : QApplication::topLevelWidgets())
          boxOpenMeanwhile |= qobject_cast<QMessageBox*>(w) != nullptr && w->isVisible();
        note = d.findChild<QLabel*>("lblMessage")->text();
        login = d.findChild<QLineEdit*>("edtLogin")->text();
        Type(d, nullptr, kDemoLogOnlyPassword, true);
      },
      done);
  ShowGUIMessage("refused", "window", 0);  // the window's failure box
  ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 10000));
  EXPECT_FALSE(boxOpenMeanwhile);
  EXPECT_TRUE(note.contains(QStringLiteral("登录已失效")));
  EXPECT_EQ(login, QString::fromUtf8(kDemoLogOnlyLogin));
  EXPECT_EQ(LogQuery(), 0);
  tmclient::SetSessionRefusedHandler({});

  // 退出登录: the session ends at the back office and the process forgets it.
  const std::string last = tmclient::CurrentSession();
  Application()->MdiArea()->addSubWindow(new QWidget)->show();
  ClickOperatorMenu(QStringLiteral("退出登录"));
  EXPECT_TRUE(Application()->MdiArea()->subWindowList().isEmpty());
  EXPECT_EQ(tmclient::CurrentSession(), "");
  EXPECT_FALSE(Live(last));
}

}  // namespace
