// The stalled-call picture test, on a real X server (run under xvfb-run, no
// window manager needed): the windowed mpay-host with the real module queries
// a far end that holds its reply; while the call waits, a window of another
// client is laid over the host and taken away again, and the host must show
// its own picture in the uncovered area again within a second; then Escape
// must end the call with the window's failure box. Input reaches the host
// through xdotool (XTEST), as an operator's keyboard's would.
// Prints what it saw; exit status 0 when the host repainted in time. A second
// argument runs the host on a display scaled by that factor
// (QT_SCALE_FACTOR); the probe itself works in the X server's pixels.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>
#include <QWidget>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "tmclient/tcp_server.h"
#include "tmclient/tmd_error.h"

namespace {

constexpr int kRepaintLimitMs = 1000;

int Fail(const char* what, const QString& detail = {}) {
  std::fprintf(stderr, "xvfb_repaint_probe: %s %s\n", what, qPrintable(detail));
  return 1;
}

// Runs xdotool with `args`; its standard output, or a null string on failure.
QString Xdotool(const QStringList& args, int timeoutMs = 30000) {
  QProcess p;
  p.start(QStringLiteral("xdotool"), args);
  if (!p.waitForFinished(timeoutMs) || p.exitStatus() != QProcess::NormalExit ||
      p.exitCode() != 0) {
    p.kill();
    p.waitForFinished();
    return QString();
  }
  return QString::fromUtf8(p.readAllStandardOutput()) + QStringLiteral(" ");
}

QImage Grab(const QRect& r) {
  return QGuiApplication::primaryScreen()
      ->grabWindow(0, r.x(), r.y(), r.width(), r.height())
      .toImage()
      .convertToFormat(QImage::Format_RGB32);
}

bool Uniformly(const QImage& image, QRgb colour) {
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if ((image.pixel(x, y) & 0xFFFFFF) != (colour & 0xFFFFFF)) return false;
  return true;
}

// Handles this process's events for `ms` milliseconds.
void Pump(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(5);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) return Fail("usage: xvfb_repaint_probe MPAY_HOST [SCALE]");
  qputenv("QT_QPA_PLATFORM", "xcb");
  qunsetenv("QT_SCALE_FACTOR");
  QApplication app(argc, argv);

  // The far end: takes each request and holds it until the probe ends.
  std::mutex lock;
  std::condition_variable changed;
  bool ending = false;
  int requests = 0;
  tmclient::TcpServer held(
      [&](const std::string&, const std::string&, std::string_view, std::string&) {
        std::unique_lock l(lock);
        ++requests;
        changed.notify_all();
        changed.wait(l, [&] { return ending; });
        return tmclient::kErrServiceFailed;
      });
  if (!held.Start()) return Fail("the far end did not start");
  auto release = [&] {
    std::lock_guard l(lock);
    ending = true;
    changed.notify_all();
  };

  QTemporaryDir config;  // a first start: no saved frame
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
  env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
  if (argc == 3) env.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::fromLocal8Bit(argv[2]));
  env.insert(QStringLiteral("TMCLIENT_BROKER_TALMIRON"),
             QStringLiteral("tcp://127.0.0.1:%1").arg(held.port()));
  QProcess host;
  host.setProcessEnvironment(env);
  host.setProcessChannelMode(QProcess::ForwardedChannels);
  // The far end here signs nobody in: the operator comes from a file.
  const QString operatorFile = config.filePath(QStringLiteral("operator.conf"));
  {
    QFile file(operatorFile);
    if (!file.open(QIODevice::WriteOnly)) return Fail("cannot write the operator file");
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    file.write("OP_ID = 8001\n");
  }
  host.start(QString::fromLocal8Bit(argv[1]), {QStringLiteral("--operator"), operatorFile,
                                               QStringLiteral("--open"), QStringLiteral("10001")});
  int status = 1;
  [&] {
    const QString found = Xdotool({"search", "--sync", "--onlyvisible", "--name", "^mpay-host"});
    const QString window = found.section(QLatin1Char('\n'), 0, 0).trimmed();
    if (window.isEmpty()) return (void)Fail("the host's window did not show");
    // X, Y, WIDTH, HEIGHT of the frame.
    const QStringList geometry =
        Xdotool({"getwindowgeometry", "--shell", window}).split(QLatin1Char('\n'));
    auto value = [&](const char* name) {
      for (const QString& line : geometry)
        if (line.startsWith(QLatin1String(name) + QLatin1Char('=')))
          return line.section(QLatin1Char('='), 1).toInt();
      return -1;
    };
    const QRect frame(value("X"), value("Y"), value("WIDTH"), value("HEIGHT"));
    if (frame.width() < 400 || frame.height() < 400)
      return (void)Fail("unexpected frame geometry", Xdotool({"getwindowgeometry", window}));
    Pump(1000);  // the window's start-up focus moves
    // The date range of today, then 查询: four tabs to chkSoDate, seven on
    // to btnQuery.
    if (Xdotool({"windowfocus", "--sync", window}).isNull() ||
        Xdotool({"key", "--delay", "30", "Tab", "Tab", "Tab", "Tab", "space", "Tab", "Tab", "Tab",
                 "Tab", "Tab", "Tab", "Tab", "space"})
            .isNull())
      return (void)Fail("xdotool could not type");
    {
      std::unique_lock l(lock);
      if (!changed.wait_for(l, std::chrono::seconds(20), [&] { return requests > 0; }))
        return (void)Fail("the query did not reach the far end");
    }
    Pump(500);  // the wait box shows

    // An area of the (empty) result list, clear of the wait box.
    const QRect area(frame.x() + 20, frame.bottom() - 160, 240, 100);
    const QImage before = Grab(area);
    QWidget cover(nullptr, Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint |
                               Qt::WindowStaysOnTopHint);
    cover.setAutoFillBackground(true);
    cover.setPalette(QPalette(QColor(255, 0, 255)));
    cover.setGeometry(area);
    cover.show();
    QElapsedTimer shown;
    shown.start();
    while (!Uniformly(Grab(area), qRgb(255, 0, 255))) {
      if (shown.elapsed() > 5000) return (void)Fail("the cover did not show");
      Pump(20);
    }
    cover.hide();
    QCoreApplication::processEvents();
    QElapsedTimer uncovered;
    uncovered.start();
    bool repainted = false;
    while (!repainted && uncovered.elapsed() <= kRepaintLimitMs) {
      Pump(20);
      repainted = Grab(area) == before;
    }
    {
      std::lock_guard l(lock);
      if (requests != 1) return (void)Fail("the far end got requests:", QString::number(requests));
    }
    if (!repainted) {
      Grab(area).save(QStringLiteral("xvfb-repaint-after.png"));
      before.save(QStringLiteral("xvfb-repaint-before.png"));
      return (void)Fail("the host left the uncovered area unpainted while its call waited");
    }
    std::printf(
        "xvfb_repaint_probe: the host repainted the uncovered area in %lld ms while "
        "its call waited\n",
        static_cast<long long>(uncovered.elapsed()));
    // Escape gives the call up: the window's failure box opens.
    if (Xdotool({"key", "Escape"}).isNull() ||
        Xdotool({"search", "--sync", "--onlyvisible", "--name", "^提示$"}, 10000).isNull())
      return (void)Fail("Escape did not end the call with the failure box");
    status = 0;
  }();
  release();
  host.kill();
  host.waitForFinished(5000);
  return status;
}
