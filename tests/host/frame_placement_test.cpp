// Where the host's frame opens: the rectangle rules, and a real frame saved
// and opened again through the settings (offscreen; also run with
// QT_SCALE_FACTOR=1.5).
#include "frame_placement.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMainWindow>
#include <QSettings>
#include <QTemporaryDir>
#include <memory>

#include "toolkit/application.h"

namespace {

TEST(FramePlacement, OpensOnItsScreenOrCentredOnThePrimaryAndAlwaysInView) {
  const std::vector<CScreenArea> screens = {{"left", QRect(0, 0, 1920, 1050)},
                                            {"right", QRect(1920, 0, 1280, 1000)}};
  struct Case {
    const char* what;
    CFramePlacement saved;
    QRect expected;
  };
  const Case cases[] = {
      {"as it was", {"right", QRect(2000, 100, 800, 600)}, QRect(2000, 100, 800, 600)},
      {"screen gone: centred on the primary",
       {"gone", QRect(5000, 100, 800, 600)},
       QRect(560, 225, 800, 600)},
      {"larger than its screen: shrunk into it",
       {"right", QRect(1900, -20, 2000, 1200)},
       QRect(1920, 0, 1280, 1000)},
      {"sticking out: moved in", {"left", QRect(1500, 900, 800, 600)}, QRect(1120, 450, 800, 600)},
  };
  for (const Case& c : cases) EXPECT_EQ(PlaceOn(c.saved, screens), c.expected) << c.what;
}

class FrameRoundTrip : public ::testing::Test {
 protected:
  void SetUp() override { Application(); }  // makes the Qt application
  std::unique_ptr<QMainWindow> Open(bool firstStart) {
    auto frame = std::make_unique<QMainWindow>();
    CFramePlacement saved;
    EXPECT_EQ(LoadFramePlacement(settings, saved), !firstStart);
    ShowFrame(frame.get(), firstStart ? nullptr : &saved);
    QApplication::processEvents();
    return frame;
  }
  void Close(QMainWindow* frame) { SaveFramePlacement(settings, PlacementOf(frame)); }

  QTemporaryDir dir;
  QSettings settings{dir.filePath("mpay-host.conf"), QSettings::IniFormat};
};

TEST_F(FrameRoundTrip, MaximisedFirstThenAsTheOperatorLeftIt) {
  auto frame = Open(true);
  EXPECT_TRUE(frame->isMaximized());
  frame->showNormal();
  frame->setGeometry(30, 20, 320, 240);
  QApplication::processEvents();
  Close(frame.get());

  frame = Open(false);
  EXPECT_FALSE(frame->isMaximized());
  EXPECT_EQ(frame->geometry(), QRect(30, 20, 320, 240));
  frame->showMaximized();
  QApplication::processEvents();
  Close(frame.get());

  frame = Open(false);
  EXPECT_TRUE(frame->isMaximized());
  frame->showNormal();
  QApplication::processEvents();
  EXPECT_EQ(frame->geometry(), QRect(30, 20, 320, 240));  // what un-maximising gives back
}

}  // namespace
