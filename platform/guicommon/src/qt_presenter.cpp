// Message and wait boxes as Qt dialogs, and the package's registrations with
// the form toolkit.

#include "guicommon/qt_presenter.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdio>

#include "guicommon/flat_datetime_picker.h"
#include "guicommon/guicommon.h"
#include "tmclient/text_escape.h"
#include "toolkit/application.h"
#include "toolkit/layout.h"
#include "toolkit/qtext.h"
#include "toolkit/winapi.h"

namespace {

bool HaveGuiApplication() {
  return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

class CQtPresenter : public IGUIPresenter {
 public:
  int ShowMessage(const char* text, const char* caption, int flags) override {
    if (!HaveGuiApplication()) {
      // No display in this process: leave a trace instead of a dialog.
      std::fprintf(stderr, "[%s] %s\n", tmclient::Escaped(caption ? caption : "").c_str(),
                   tmclient::Escaped(text ? text : "").c_str());
      return IDOK;
    }
    return TApplication::DefaultMessageBox(text, caption, flags);
  }

  void ShowWaitBox(const char* text) override {
    if (!HaveGuiApplication()) return;
    if (!pBox) {
      pBox = new QWidget(nullptr, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
      pBox->setObjectName(QStringLiteral("mpayWaitBox"));
      pBox->setAttribute(Qt::WA_DeleteOnClose, false);
      auto* layout = new QVBoxLayout(pBox);
      pLabel = new QLabel(pBox);
      pLabel->setObjectName(QStringLiteral("mpayWaitText"));
      pLabel->setAlignment(Qt::AlignCenter);
      pLabel->setMinimumSize(280, 60);
      pBox->setStyleSheet(QStringLiteral(
          "QWidget#mpayWaitBox { background: #F1FAFF; border: 1px solid #7A9CC6; }"));
      layout->addWidget(pLabel);
    }
    SetText(text);
    pBox->adjustSize();
    if (QWidget* anchor = QApplication::activeWindow()) {
      pBox->move(anchor->geometry().center() - pBox->rect().center());
    }
    pBox->show();
    pBox->raise();
    PaintNow();
  }

  void UpdateWaitBox(const char* text) override {
    if (!pBox || !pBox->isVisible()) return;
    SetText(text);
    PaintNow();
  }

  void CloseWaitBox() override {
    if (pBox) pBox->hide();
  }

 private:
  void SetText(const char* text) { pLabel->setText(GbkToQString(text)); }
  // The caller blocks right after this (a remote call): paint now. Syncing
  // with the window system makes a newly shown box exposed, so that it can
  // paint; the caller's posted messages stay queued meanwhile.
  void PaintNow() {
    TApplication* app = TApplication::Instance();
    app->HoldPostedMessages();
    QGuiApplication::sync();
    pBox->repaint();
    app->ReleasePostedMessages();
  }

  QPointer<QWidget> pBox;
  QLabel* pLabel = nullptr;
};

// At load time: the Qt dialogs become the default presenter, the toolkit's
// error boxes go through the presenter, and layouts know the package's
// controls.
struct PackageRegistration {
  PackageRegistration() {
    SetDefaultGUIPresenter(QtGUIPresenter());
    TApplication::SetMessageBoxProc(&ShowGUIMessage);
    RegisterComponentClass("TFlatDateTimePicker", [](TComponent* owner) -> TComponent* {
      return new TFlatDateTimePicker(owner);
    });
  }
} gPackageRegistration;

}  // namespace

IGUIPresenter* QtGUIPresenter() {
  static CQtPresenter presenter;
  return &presenter;
}
