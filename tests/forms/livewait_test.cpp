// The query window while its call waits on a far end that holds the reply: a
// real tcp server on loopback, real QTest clicks and keys. The window goes on
// painting, a second click sends nothing, Escape gives the call up, and the
// next query gets its own answer.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>

#include "far_end.h"
#include "forms/formMicroPayLogQueryMain.h"
#include "guicommon/presenter.h"
#include "paint_counter.h"
#include "qthelpers.h"
#include "tmclient/broker_resolver.h"
#include "tmclient/tcp_server.h"
#include "tmclient/tmd_error.h"
#include "toolkit/qtext.h"
#include "toolkit/toolkit.h"

namespace {

using MMicroPaymentDef::SMpUserInfo;
using MMicroPaymentDef::SMpUserInfoList;

SMpUserInfoList Users(int count, int64_t firstId) {
  SMpUserInfoList rows;
  for (int i = 0; i < count; ++i) {
    SMpUserInfo u = far_end::SampleUser(i);
    u.set_SERV_ID(firstId + i);
    rows.push_back(u);
  }
  return rows;
}

class LiveWaitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Start());
    setenv(tmclient::BrokerEnvironmentVariable("TALMIRON").c_str(),
           ("tcp://127.0.0.1:" + std::to_string(server_.port())).c_str(), 1);
    form_ = new TfrmMicroPayLogQueryMain(nullptr);
    MSysmgntDef::SOperator op;
    op.set_OP_ID(4711);
    ASSERT_TRUE(form_->Init(op));
    Application()->MainWindow()->show();
    ClickControl(form_->chkQryUser);
    form_->edtMobilno->SetText("13900139000");
    Application()->ProcessMessages();
    recorder.waitBoxShows = 0;  // Init's
  }
  void TearDown() override {
    Release();
    delete form_;
    Application()->ProcessMessages();
    server_.Stop();
  }

  // The far end: answers each request with rows whose ids tell the requests
  // apart (request k: k rows from id 100 k), after the test lets it go when
  // bHold.
  int Serve(std::string_view, std::string& reply) {
    std::unique_lock lock(mLock);
    const int k = ++iRequests;
    cvChanged.notify_all();
    cvChanged.wait(lock, [&] { return !bHold || bReleased; });
    reply = far_end::Frame(far_end::kUserOut,
                           [&](tmb_stream& s) { s << Users(k, 100 * k) << QRSErrorMsg(); });
    return 0;
  }
  void Release() {
    std::lock_guard lock(mLock);
    bReleased = true;
    cvChanged.notify_all();
  }
  int Requests() {
    std::lock_guard lock(mLock);
    return iRequests;
  }
  // Runs `step` once the far end holds the first request, from inside the
  // wait of the click that is going on then.
  void OnceHeld(std::function<void()> step) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [this, poll, step] {
      if (Requests() == 0) return;
      poll->deleteLater();
      poll->stop();
      step();
    });
    poll->start(5);
  }
  std::vector<int64_t> ShownIds() const {
    std::vector<int64_t> ids;
    for (int i = 0; i < form_->lvstShow->Items()->Count(); ++i)
      ids.push_back(std::stoll(form_->lvstShow->CellText(i, 0)));
    return ids;
  }

  std::mutex mLock;
  std::condition_variable cvChanged;
  int iRequests = 0;
  bool bHold = true, bReleased = false;
  tmclient::TcpServer server_{[this](const std::string&, const std::string&,
                                     std::string_view request,
                                     std::string& reply) { return Serve(request, reply); }};
  CRecordingPresenter recorder;
  CScopedGUIPresenter presenterScope{&recorder};
  TfrmMicroPayLogQueryMain* form_ = nullptr;
};

TEST_F(LiveWaitTest, AStalledCallPaintsDropsASecondClickAndEscapeGivesItUp) {
  PaintCounter paints;
  form_->Widget()->installEventFilter(&paints);
  int paintsWhileWaiting = -1, requestsAfterSecondClick = -1;
  bool waiting = false;
  QElapsedTimer sinceEscape;
  OnceHeld([&] {
    waiting = Application()->CallWaiting();
    const int before = paints.paints;
    form_->Widget()->update();
    QTimer::singleShot(50, [&, before] {
      paintsWhileWaiting = paints.paints - before;
      ClickControl(form_->btnQuery);
      QTimer::singleShot(50, [&] {
        requestsAfterSecondClick = Requests();
        sinceEscape.start();
        QTest::keyClick(form_->btnQuery->Widget(), Qt::Key_Escape);
      });
    });
  });
  ClickControl(form_->btnQuery);
  const qint64 escapeMs = sinceEscape.elapsed();

  EXPECT_TRUE(waiting);
  EXPECT_GT(paintsWhileWaiting, 0);
  EXPECT_EQ(requestsAfterSecondClick, 1);
  EXPECT_LT(escapeMs, 100);
  EXPECT_FALSE(Application()->CallWaiting());
  ASSERT_EQ(recorder.messages.size(), 1u);
  EXPECT_EQ(recorder.messages[0].text, QStringToGbk(QStringLiteral("查询小额支付用户信息失败\n")) +
                                           tmd_getErrorMsg(tmclient::kErrCallAbandoned));
  EXPECT_EQ(recorder.waitBoxShows, 1);
  EXPECT_FALSE(recorder.waitBoxOpen);
  EXPECT_EQ(form_->lvstShow->Items()->Count(), 0);

  // The held reply comes late, on the connection given up with the call; the
  // next query is answered on its own.
  recorder.messages.clear();
  Release();
  ClickControl(form_->btnQuery);
  Application()->ProcessMessages();
  EXPECT_EQ(Requests(), 2);
  EXPECT_TRUE(recorder.messages.empty());
  EXPECT_EQ(ShownIds(), (std::vector<int64_t>{200, 201}));
}

TEST_F(LiveWaitTest, ACallThatEndsWhileInputArrivesShowsItsReplyAsBefore) {
  const std::string typed = form_->edtMobilno->Text();
  TWinControl* focusBefore = nullptr;
  TWinControl* focusWhileWaiting = nullptr;
  OnceHeld([&] {
    // Keys and clicks of an impatient operator, and a message posted to the
    // window (it waits for the call's end), then the reply.
    focusBefore = form_->ActiveControl();
    PostMessage(form_->Handle(), WM_NEXTDLGCTL, 0, 0);
    QTest::keyClicks(form_->edtMobilno->Widget(), "77");
    ClickControl(form_->chkQryUser);
    ClickControl(form_->btnQuery);
    QTimer::singleShot(20, [&] {
      focusWhileWaiting = form_->ActiveControl();
      Release();
    });
  });
  ClickControl(form_->btnQuery);
  EXPECT_EQ(focusWhileWaiting, focusBefore);
  Application()->ProcessMessages();
  EXPECT_NE(form_->ActiveControl(), focusBefore);

  EXPECT_EQ(Requests(), 1);
  EXPECT_TRUE(recorder.messages.empty());
  EXPECT_EQ(ShownIds(), (std::vector<int64_t>{100}));
  EXPECT_EQ(form_->edtMobilno->Text(), typed);
  EXPECT_TRUE(form_->chkQryUser->Checked());
  EXPECT_EQ(recorder.waitBoxShows, 1);
  EXPECT_FALSE(recorder.waitBoxOpen);
}

}  // namespace
