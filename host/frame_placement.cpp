#include "frame_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QWidget>
#include <algorithm>

namespace {

const QString kScreen = QStringLiteral("frame/screen");
const QString kNormal = QStringLiteral("frame/normal");
const QString kMaximised = QStringLiteral("frame/maximised");

std::vector<CScreenArea> Screens() {
  std::vector<CScreenArea> areas;
  QScreen* primary = QGuiApplication::primaryScreen();
  if (primary != nullptr) areas.push_back({primary->name(), primary->availableGeometry()});
  for (QScreen* screen : QGuiApplication::screens()) {
    if (screen != primary) areas.push_back({screen->name(), screen->availableGeometry()});
  }
  return areas;
}

}  // namespace

bool LoadFramePlacement(QSettings& settings, CFramePlacement& placement) {
  const QVariant normal = settings.value(kNormal);
  if (!normal.canConvert<QRect>()) return false;
  const QRect rect = normal.toRect();
  if (rect.width() <= 0 || rect.height() <= 0) return false;
  placement.cNormal = rect;
  placement.strScreen = settings.value(kScreen).toString();
  placement.bMaximised = settings.value(kMaximised).toBool();
  return true;
}

void SaveFramePlacement(QSettings& settings, const CFramePlacement& placement) {
  settings.setValue(kScreen, placement.strScreen);
  settings.setValue(kNormal, placement.cNormal);
  settings.setValue(kMaximised, placement.bMaximised);
  settings.sync();
}

CFramePlacement PlacementOf(const QWidget* frame) {
  CFramePlacement p;
  if (const QScreen* screen = frame->screen()) p.strScreen = screen->name();
  p.cNormal = frame->normalGeometry().isValid() ? frame->normalGeometry() : frame->geometry();
  p.bMaximised = frame->isMaximized();
  return p;
}

QRect PlaceOn(const CFramePlacement& saved, const std::vector<CScreenArea>& screens) {
  if (screens.empty()) return saved.cNormal;
  const auto found = std::find_if(screens.begin(), screens.end(), [&](const CScreenArea& s) {
    return s.strName == saved.strScreen;
  });
  const QRect area = (found != screens.end() ? *found : screens.front()).cAvailable;
  QRect rect(saved.cNormal.topLeft(), saved.cNormal.size().boundedTo(area.size()));
  if (found == screens.end()) rect.moveCenter(area.center());
  // Inside the area: the right and bottom edges first, so that the top-left
  // corner (title bar, menus) is what stays in view.
  if (rect.right() > area.right()) rect.moveRight(area.right());
  if (rect.bottom() > area.bottom()) rect.moveBottom(area.bottom());
  if (rect.left() < area.left()) rect.moveLeft(area.left());
  if (rect.top() < area.top()) rect.moveTop(area.top());
  return rect;
}

void ShowFrame(QWidget* frame, const CFramePlacement* saved) {
  if (saved == nullptr) {
    frame->showMaximized();
    return;
  }
  // The normal rectangle first: it puts the frame on its screen, where it
  // is then maximised, and it is what un-maximising returns to.
  frame->setGeometry(PlaceOn(*saved, Screens()));
  if (saved->bMaximised)
    frame->showMaximized();
  else
    frame->show();
}
