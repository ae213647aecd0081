#include "toolkit/application.h"

#include <QApplication>
#include <QFont>
#include <QMainWindow>
#include <QMdiArea>
#include <QMessageBox>
#include <cstdio>

#include "handles.h"
#include "live_wait.h"
#include "mdi_forms.h"
#include "qt_app.h"
#include "toolkit/forms.h"
#include "toolkit/winapi.h"

namespace toolkit_detail {
namespace {

// The installed CJK fonts, in the order they are preferred.
const QStringList& CjkFamilies() {
  static const QStringList families = {QStringLiteral("WenQuanYi Micro Hei"),
                                       QStringLiteral("WenQuanYi Zen Hei"),
                                       QStringLiteral("Noto Sans CJK SC")};
  return families;
}

// The Windows family names that stand for them.
const QStringList& WindowsCjkNames() {
  static const QStringList names = {QStringLiteral("宋体"),          QStringLiteral("新宋体"),
                                    QStringLiteral("黑体"),          QStringLiteral("SimSun"),
                                    QStringLiteral("NSimSun"),       QStringLiteral("SimHei"),
                                    QStringLiteral("MS Sans Serif"), QStringLiteral("Tahoma")};
  return names;
}

}  // namespace

void EnsureQtApplication() {
  static bool ready = false;
  if (ready) return;
  ready = true;
  if (!QCoreApplication::instance()) {
    // A program that made no Qt application (a test, a tool): make one that
    // lives as long as the process.
    static int argc = 1;
    static char name[] = "toolkit";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
  }
  // Fonts asked for by a Windows CJK name elsewhere than through a window's
  // font (QtFamilies) still find the installed CJK font.
  for (const QString& name : WindowsCjkNames()) QFont::insertSubstitutions(name, CjkFamilies());
  // What Qt draws outside the windows' own controls (the MDI frame, its menus
  // and status bar, title bars, message boxes) uses the windows' default font
  // too, as on the system they were written for, where one CJK font shows
  // everything; nor does Qt then build a second font stack for its generic
  // default family.
  QApplication::setFont(TFont().ToQFont());
  // Remote calls made on this thread keep the windows alive while they wait.
  InstallLiveWait();
  if (!GbkCodecAvailable()) {
    std::fprintf(stderr, "toolkit: the GBK codec is not available; texts show as Latin-1\n");
  }
}

QStringList QtFamilies(const QString& family) {
  // Naming the installed fonts directly spares Qt a search for a family that
  // does not exist, and the fallback lists it would build for it.
  if (WindowsCjkNames().contains(family, Qt::CaseInsensitive)) return CjkFamilies();
  return {family, CjkFamilies().front()};
}

}  // namespace toolkit_detail

using namespace toolkit_detail;

namespace {

TMessageBoxProc gMessageBoxProc = nullptr;

}  // namespace

TApplication::TApplication() : TComponent(nullptr) {}
TApplication::~TApplication() = default;

TApplication* TApplication::Instance() {
  static TApplication* app = [] {
    EnsureQtApplication();
    return new TApplication;
  }();
  return app;
}

void TApplication::SetTitle(const std::string& title) {
  sTitle = title;
  if (pMainWindow) pMainWindow->setWindowTitle(GbkToQString(title));
}

QMainWindow* TApplication::MainWindow() {
  if (!pMainWindow) {
    pMainWindow = new QMainWindow;
    pMdiArea = new QMdiArea(pMainWindow);
    pMainWindow->setCentralWidget(pMdiArea);
    pMainWindow->setWindowTitle(GbkToQString(sTitle));
    pMainWindow->resize(1024, 720);
  }
  return pMainWindow;
}

void TApplication::ShowMainWindow() {
  MainWindow()->show();
}

QMdiArea* TApplication::MdiArea() {
  MainWindow();
  return pMdiArea;
}

int TApplication::MDIChildCount() const {
  return static_cast<int>(MdiChildForms().size());
}

TForm* TApplication::MDIChildren(int index) const {
  auto& forms = MdiChildForms();
  if (index < 0 || index >= static_cast<int>(forms.size())) return nullptr;
  return forms[static_cast<size_t>(index)];
}

void TApplication::ProcessMessages() {
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool TApplication::CallWaiting() const {
  return LiveWaitWaiting();
}

void TApplication::HoldPostedMessages() {
  HoldPosted();
}

void TApplication::ReleasePostedMessages() {
  ReleasePosted();
}

int TApplication::Run() {
  return QApplication::exec();
}

void TApplication::Terminate() {
  QCoreApplication::quit();
}

void TApplication::HandleException(TObject* sender) {
  try {
    throw;
  } catch (const std::exception& e) {
    if (OnException) {
      try {
        OnException(sender, e);
        return;
      } catch (...) {
        // A failing exception handler falls back to the error box.
      }
    }
    ShowException(e);
  } catch (...) {
    ShowException(Exception("unknown exception"));
  }
}

void TApplication::ShowException(const std::exception& e) {
  static const std::string kError = QStringToGbk(QStringLiteral("错误"));
  MessageBox(e.what(), sTitle.empty() ? kError.c_str() : sTitle.c_str(), MB_OK | MB_ICONERROR);
}

TMessageBoxProc TApplication::SetMessageBoxProc(TMessageBoxProc proc) {
  TMessageBoxProc previous = gMessageBoxProc;
  gMessageBoxProc = proc;
  return previous;
}

int TApplication::MessageBox(const char* text, const char* caption, int flags) {
  return (gMessageBoxProc ? gMessageBoxProc : &DefaultMessageBox)(text, caption, flags);
}

int TApplication::DefaultMessageBox(const char* text, const char* caption, int flags) {
  EnsureQtApplication();
  QMessageBox box;
  box.setObjectName(QStringLiteral("mpayMessageBox"));
  box.setWindowTitle(GbkToQString(caption ? caption : ""));
  box.setText(GbkToQString(text ? text : ""));
  switch (flags & 0xF0) {
    case MB_ICONERROR:
      box.setIcon(QMessageBox::Critical);
      break;
    case MB_ICONQUESTION:
      box.setIcon(QMessageBox::Question);
      break;
    case MB_ICONWARNING:
      box.setIcon(QMessageBox::Warning);
      break;
    case MB_ICONINFORMATION:
      box.setIcon(QMessageBox::Information);
      break;
    default:
      box.setIcon(QMessageBox::NoIcon);
      break;
  }
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
  return IDOK;
}
