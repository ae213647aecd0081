// mpay-host: the MDI host of the business modules, windowed or headless.

#include <QApplication>
#include <QMainWindow>
#include <QSettings>
#include <cstdio>
#include <iostream>
#include <sstream>

#include "bounded_file.h"
#include "frame_placement.h"
#include "guicommon/presenter.h"
#include "host_options.h"
#include "host_session.h"
#include "host_window.h"
#include "module_loader.h"
#include "operator_file.h"
#include "script_driver.h"
#include "script_presenter.h"
#include "service/operator_auth.h"
#include "sign_in.h"
#include "sign_in_dialog.h"
#include "tmclient/session.h"
#include "toolkit/application.h"

namespace {

constexpr int kExitProblem = 1;
constexpr int kExitUsage = 2;

void LoadModules(const CHostOptions& options, CHostSession& session) {
  std::vector<std::string> paths = options.vModules;
  if (paths.empty()) {
    const std::string folder =
        DefaultModulesFolder(QCoreApplication::applicationFilePath().toStdString());
    std::string problem;
    if (!folder.empty() && !TrustedForCode(folder, problem)) {
      session.Report(problem);
      return;
    }
    paths = ModulesInFolder(folder);
    if (paths.empty()) {
      session.Report("没有找到模块（模块目录：" + (folder.empty() ? std::string("无") : folder) +
                     "）");
    }
  }
  for (const std::string& path : paths) session.AddModule(path);
}

int RunHeadless(const CHostOptions& options, CHostSession& session, CScriptOutput& output,
                std::istream& script) {
  // The frame's own events are handled with the first command's, as the
  // windowed host opens --open windows before its event loop runs: the frame
  // and the first window are laid out and drawn once, together.
  Application()->ShowMainWindow();
  CScriptDriver driver(session, output);
  for (const int id : options.vOpenIds) driver.RunLine("open " + std::to_string(id), 0);
  driver.Run(script);
  // The windows go before the process does, as the operator would close them.
  driver.CloseAll();
  return driver.Errors() > 0 || session.HadProblems() ? kExitProblem : 0;
}

// Headless --login: signs in with the password of --password-file or
// MPAY_PASSWORD and says as whom on standard output.
bool SignInHeadless(const CHostOptions& options, CHostSession& session) {
  std::string password, text;
  if (!service::HeadlessPassword(options.strPasswordFile, password, text)) {
    std::fprintf(stderr, "mpay-host: %s\n", text.c_str());
    return false;
  }
  MSysmgntDef::SOperator op;
  const int result = SignInOperator(options.strLogin, password, op, text);
  password.assign(password.size(), '\0');
  if (result != 0) {
    std::fprintf(stderr, "mpay-host: sign-in as %s failed: %s\n", options.strLogin.c_str(),
                 text.c_str());
    return false;
  }
  std::printf("mpay-host: signed in as %s (OP_ID %d%s)\n", options.strLogin.c_str(), op.OP_ID,
              options.bDemoOperator ? ", the demo database's operator" : "");
  std::fflush(stdout);
  session.SetOperator(std::move(op));
  return true;
}

// What the sign-in dialog comes up with: --login, and its password when one
// is at hand.
CSignInDefaults DialogDefaults(const CHostOptions& options) {
  CSignInDefaults defaults;
  defaults.strLogin = options.strLogin;
  defaults.bDemo = options.bDemoOperator;
  std::string unused;
  if (!options.strLogin.empty())
    service::HeadlessPassword(options.strPasswordFile, defaults.strPassword, unused);
  return defaults;
}

}  // namespace

int main(int argc, char** argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  CHostOptions options;
  std::string text;
  switch (ParseHostOptions(arguments, options, text)) {
    case TParseResult::kHelp:
      // Without an application the parser cannot know the program's name.
      for (size_t at; (at = text.find("<executable_name>")) != std::string::npos;)
        text.replace(at, 17, "mpay-host");
      std::fputs(text.c_str(), stdout);
      return 0;
    case TParseResult::kError:
      std::fprintf(stderr, "mpay-host: %s (see --help)\n", text.c_str());
      return kExitUsage;
    case TParseResult::kRun:
      break;
  }

  std::istringstream scriptFile;
  if (!options.strScript.empty()) {
    std::string script;
    if (!ReadBoundedFile(options.strScript, {CScriptDriver::kMaxScriptBytes, false}, script,
                         text)) {
      std::fprintf(stderr, "mpay-host: the script %s: %s\n", options.strScript.c_str(),
                   text.c_str());
      return kExitProblem;
    }
    scriptFile.str(std::move(script));
  }
  MSysmgntDef::SOperator sOperator = DemoOperator();
  if (!options.strOperatorFile.empty() &&
      !ReadOperatorFile(options.strOperatorFile, sOperator, text)) {
    std::fprintf(stderr, "mpay-host: operator file %s\n", text.c_str());
    return kExitProblem;
  }

  // Headless: Qt's offscreen platform, so that no window reaches a display.
  if (options.bHeadless) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Lives as long as the process, as the toolkit's own would: module
  // windows may still hold Qt objects when main returns.
  new QApplication(argc, argv);
  Application()->SetTitle(kHostTitle);

  CScriptOutput output(std::cout);
  CScriptPresenter presenter(output);
  if (options.bHeadless) {
    SetGUIPresenter(&presenter);
    presenter.CatchToolkitBoxes();
  }
  CHostSession session(std::move(sOperator));
  LoadModules(options, session);
  CHostWindow frame(session);

  int status = 0;
  if (options.bHeadless) {
    // Where the calls go, and who decided it, before any is made.
    std::fprintf(stderr, "mpay-host: %s\n", ModuleBrokerText().c_str());
    if (!options.strLogin.empty() && !SignInHeadless(options, session)) return kExitProblem;
    status =
        RunHeadless(options, session, output, options.strScript.empty() ? std::cin : scriptFile);
  } else {
    // Signed in before the main window shows, unless the operator comes
    // from a file; a session the back office ends later brings the dialog back.
    if (options.strOperatorFile.empty()) {
      if (!frame.SignIn(DialogDefaults(options))) return 0;
      tmclient::SetSessionRefusedHandler([&frame] { frame.OfferSignInAgain(); });
    }
    // The frame as the operator left it (per user), maximised the first time.
    QSettings settings(QStringLiteral("mpay"), QStringLiteral("mpay-host"));
    CFramePlacement placement;
    const bool placed = LoadFramePlacement(settings, placement);
    ShowFrame(Application()->MainWindow(), placed ? &placement : nullptr);
    for (const int id : options.vOpenIds) frame.OpenBusiness(id);
    status = Application()->Run();
    SaveFramePlacement(settings, PlacementOf(Application()->MainWindow()));
    if (status == 0 && session.HadProblems()) status = kExitProblem;
    tmclient::SetSessionRefusedHandler({});
  }
  SetGUIPresenter(nullptr);
  return status;
}
