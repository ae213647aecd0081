#pragma once

#include <QRect>
#include <QString>
#include <QStringList>
#include <vector>

class QSettings;
class QWidget;

// Where the windowed host's frame opens: maximised on the first start;
// afterwards with the size, place and state it was closed with, on the
// screen it was on when that screen is still there (else on the primary
// screen), kept in the user's settings (QSettings: $XDG_CONFIG_HOME/mpay/
// mpay-host.conf). Rectangles are in Qt's device-independent pixels, so a
// scaled display (QT_SCALE_FACTOR) keeps them.
struct CFramePlacement {
  QString strScreen;  // the name of the screen the frame was on
  QRect cNormal;      // its rectangle when not maximised
  bool bMaximised = false;
};

// The placement saved last; false on the first start or when what is saved
// does not read (the frame then opens maximised).
bool LoadFramePlacement(QSettings& settings, CFramePlacement& placement);
void SaveFramePlacement(QSettings& settings, const CFramePlacement& placement);

// The placement of `frame` now.
CFramePlacement PlacementOf(const QWidget* frame);

// One screen as the placement sees it.
struct CScreenArea {
  QString strName;
  QRect cAvailable;  // without panels and docks
};

// The rectangle to open with: `saved` on the screen of that name when it is
// among `screens`, else on the first (primary) one; moved inside the
// screen's available area where it sticks out and shrunk to it where larger.
// A screen that is not the saved one gets the rectangle at its centre.
QRect PlaceOn(const CFramePlacement& saved, const std::vector<CScreenArea>& screens);

// Shows `frame` as `saved` says, or maximised when it is null.
void ShowFrame(QWidget* frame, const CFramePlacement* saved);
