// The yardstick of bench_host: what a Qt developer's own program does to
// show the same kind of window. A main window with an MDI area, one
// maximised sub-window with a dozen widgets, shown and painted; then it quits.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QTimeEdit>
#include <QTimer>

namespace {

// Quits once the widget it watches has painted for the first time: a timer
// alone would quit before the platform's first expose, and nothing would be
// drawn at all.
class QuitAfterFirstPaint : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && !bQuitting) {
      bQuitting = true;
      QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  bool bQuitting = false;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QMainWindow main;
  auto* area = new QMdiArea;
  main.setCentralWidget(area);
  main.resize(1024, 720);

  auto* form = new QWidget;
  auto* conditions = new QGroupBox(QStringLiteral("日志查询条件"), form);
  conditions->setGeometry(0, 0, 616, 105);
  const char* checks[] = {"工单编号：", "业务类型：", "受理日期：", "手机号码：", "用户信息"};
  int y = 19;
  for (const char* text : checks) {
    (new QCheckBox(QString::fromUtf8(text), conditions))->move(62, y);
    y += 15;
  }
  (new QLineEdit(conditions))->setGeometry(141, 17, 156, 20);
  (new QLineEdit(conditions))->setGeometry(388, 47, 190, 20);
  auto* types = new QComboBox(conditions);
  types->setGeometry(388, 17, 190, 20);
  types->addItems({QStringLiteral("[1332] 小额支付冻结"), QStringLiteral("[1333] 小额支付解冻")});
  (new QDateEdit(QDate::currentDate(), conditions))->setGeometry(141, 47, 86, 20);
  (new QTimeEdit(conditions))->setGeometry(224, 47, 75, 20);
  (new QPushButton(QStringLiteral("查询"), conditions))->setGeometry(511, 73, 67, 26);
  auto* model = new QStandardItemModel(0, 7, form);
  model->setHorizontalHeaderLabels({QStringLiteral("工单编号"), QStringLiteral("手机号码"),
                                    QStringLiteral("业务类型"), QStringLiteral("流水号"),
                                    QStringLiteral("时间戳"), QStringLiteral("涉及金额"),
                                    QStringLiteral("备注")});
  auto* table = new QTableView(form);
  table->setModel(model);
  table->setGeometry(2, 120, 612, 314);
  auto* close = new QPushButton(QStringLiteral("关闭"), form);
  close->setGeometry(533, 446, 67, 26);

  QMdiSubWindow* sub = area->addSubWindow(form);
  sub->setWindowTitle(QStringLiteral("小额支付日志查询"));
  // The close button is painted after the conditions and the table.
  QuitAfterFirstPaint quitter;
  close->installEventFilter(&quitter);
  main.show();
  sub->showMaximized();
  QTimer::singleShot(10000, &app, &QCoreApplication::quit);  // a platform that never paints
  return app.exec();
}
