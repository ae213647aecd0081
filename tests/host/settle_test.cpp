// The headless driver's settling: queued work that queues more is done to its
// end, and work that queues itself for ever is given up on after the bound.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPointer>
#include <limits>

#include "script_driver.h"
#include "toolkit/application.h"

namespace {

// A queued call that queues the next one until `left` reaches 0.
void QueueChain(int* left) {
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [left] {
        if (--*left > 0) QueueChain(left);
      },
      Qt::QueuedConnection);
}

TEST(Settle, DoesQueuedWorkToItsEndAndGivesUpOnWorkWithoutEnd) {
  Application();
  int left = 25;  // far more links than a fixed few rounds would see out
  QueueChain(&left);
  QPointer<QObject> doomed = new QObject;
  doomed->deleteLater();
  EXPECT_TRUE(CScriptDriver::Settle());
  EXPECT_EQ(left, 0);
  EXPECT_TRUE(doomed.isNull());

  left = std::numeric_limits<int>::max();
  QueueChain(&left);
  EXPECT_FALSE(CScriptDriver::Settle());
  left = 1;  // the next link is the last
  EXPECT_TRUE(CScriptDriver::Settle());
  EXPECT_EQ(left, 0);
}

}  // namespace
