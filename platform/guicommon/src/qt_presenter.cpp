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
    if (!box_) {
      box_ = new QWidget(nullptr, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
      box_->setObjectName(QStringLiteral("mpayWaitBox"));
      box_->setAttribute(Qt::WA_DeleteOnClose, false);
      auto* layout = new QVBoxLayout(box_);
      label_ = new QLabel(box_);
      label_->setObjectName(QStringLiteral("mpayWaitText"));
      label_->setAlignment(Qt::AlignCenter);
      label_->setMinimumSize(280, 60);
      box_->setStyleSheet(QStringLiteral(
          "QWidget#mpayWaitBox { background: #F1FAFF; border: 1px solid #7A9CC6; }"));
      layout->addWidget(label_);
    }
    SetText(text);
    box_->adjustSize();
    if (QWidget* anchor = QApplication::activeWindow()) {
      box_->move(anchor->geometry().center() - box_->rect().center());
    }
    box_->show();
    box_->raise();
    PaintNow();
  }

  void UpdateWaitBox(const char* text) override {
    if (!box_ || !box_->isVisible()) return;
    SetText(text);
    PaintNow();
  }

  void CloseWaitBox() override {
    if (box_) box_->hide();
  }

 private:
  void SetText(const char* text) { label_->setText(GbkToQString(text)); }
  // The caller blocks right after this (a remote call): paint now. Syncing
  // with the window system makes a newly shown box exposed, so that it can
  // paint; the caller's posted messages stay queued meanwhile.
  void PaintNow() {
    TApplication* app = TApplication::Instance();
    app->HoldPostedMessages();
    QGuiApplication::sync();
    box_->repaint();
    app->ReleasePostedMessages();
  }

  QPointer<QWidget> box_;
  QLabel* label_ = nullptr;
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
