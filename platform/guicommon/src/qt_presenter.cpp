// Message and wait boxes as Qt dialogs, and the package's registrations with
// the form toolkit.

#include "guicommon/qt_presenter.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QProgressDialog>
#include <QSettings>
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

  bool AskSaveFileName(const char* caption, std::string& path) override {
    if (!HaveGuiApplication()) return false;
    // The last folder saved to, per user; the format by the filter chosen
    // unless the name already says it.
    QSettings settings(QStringLiteral("mpay"), QStringLiteral("mpay-host"));
    const QString folder = settings.value(kLastFolderKey).toString();
    const QString xlsx = QStringLiteral("Excel 工作簿 (*.xlsx)");
    const QString csv = QStringLiteral("CSV 文件 (*.csv)");
    QFileDialog dialog(QApplication::activeWindow(), GbkToQString(caption));
    dialog.setObjectName(QStringLiteral("mpaySaveDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilters({xlsx, csv});
    dialog.setDefaultSuffix(QStringLiteral("xlsx"));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&](const QString& filter) {
      dialog.setDefaultSuffix(filter == csv ? QStringLiteral("csv") : QStringLiteral("xlsx"));
    });
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) dialog.setDirectory(folder);
    dialog.selectFile(QString::fromStdString(path));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    QString chosen = dialog.selectedFiles().first();
    const QString suffix = QFileInfo(chosen).suffix().toLower();
    if (suffix != QLatin1String("csv") && suffix != QLatin1String("xlsx"))
      chosen +=
          dialog.selectedNameFilter() == csv ? QStringLiteral(".csv") : QStringLiteral(".xlsx");
    settings.setValue(kLastFolderKey, QFileInfo(chosen).absolutePath());
    path = chosen.toStdString();
    return true;
  }

  int AskPrintTarget(const char*, std::string&) override {
    return HaveGuiApplication() ? kPrintToPrinter : kPrintCancelled;
  }

  void ShowProgress(const char* text, int64_t total) override {
    if (!HaveGuiApplication()) return;
    delete pProgress;
    pProgress = new QProgressDialog(GbkToQString(text), QStringLiteral("取消"), 0,
                                    static_cast<int>(std::min<int64_t>(total, INT32_MAX)),
                                    QApplication::activeWindow());
    pProgress->setObjectName(QStringLiteral("mpayProgress"));
    pProgress->setWindowModality(Qt::ApplicationModal);
    // Short jobs end before anyone could read the box.
    pProgress->setMinimumDuration(total >= kProgressRows ? 0 : 2000);
    pProgress->setValue(0);
  }

  bool UpdateProgress(int64_t done) override {
    if (!pProgress) return true;
    pProgress->setValue(static_cast<int>(std::min<int64_t>(done, pProgress->maximum())));
    return !pProgress->wasCanceled();
  }

  void CloseProgress() override { delete pProgress; }

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
  QPointer<QProgressDialog> pProgress;
  static constexpr const char* kLastFolderKey = "export/lastFolder";
  // Lists of at least this many rows show their progress at once.
  static constexpr int64_t kProgressRows = 5000;
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
