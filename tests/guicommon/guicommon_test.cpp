#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

#include "guicommon/guicommon.h"
#include "guicommon/presenter.h"
#include "guicommon/wait_box_guard.h"

namespace {

constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

TEST(GUIPresenter, RoutesEveryEntryPointToTheInstalledPresenter) {
  CRecordingPresenter recorder;
  CScopedGUIPresenter scope(&recorder);

  ShowWaitBox("正在获取基础数据，请稍后...");
  UpdateWaitBox("正在初始化窗体，请稍后...");
  EXPECT_EQ(ShowGUIMessage("初始化失败", "提示", 16), 1);
  CloseWaitBox();
  ShowGUIMessage(nullptr, nullptr, 64);

  ASSERT_EQ(recorder.messages.size(), 2u);
  EXPECT_EQ(recorder.messages[0].text, "\xB3\xF5\xCA\xBC\xBB\xAF\xCA\xA7\xB0\xDC");  // GBK
  EXPECT_EQ(recorder.messages[0].caption, "提示");
  EXPECT_EQ(recorder.messages[0].flags, 16);
  EXPECT_EQ(recorder.messages[1].text, "");
  EXPECT_EQ(recorder.messages[1].caption, "");
  EXPECT_EQ(recorder.messageUnderWaitBox, (std::vector<bool>{true, false}));
  EXPECT_EQ(recorder.waitTexts,
            (std::vector<std::string>{"正在获取基础数据，请稍后...", "正在初始化窗体，请稍后..."}));
  EXPECT_EQ(recorder.waitBoxShows, 1);
  EXPECT_EQ(recorder.waitBoxCloses, 1);
  EXPECT_FALSE(recorder.waitBoxOpen);
}

TEST(GUIPresenter, ScopesNestAndRestoreTheDefault) {
  IGUIPresenter* start = GetGUIPresenter();
  CRecordingPresenter outer, inner, fallback;
  {
    CScopedGUIPresenter a(&outer);
    {
      CScopedGUIPresenter b(&inner);
      ShowGUIMessage("inner", "", 0);
    }
    ShowGUIMessage("outer", "", 0);
  }
  EXPECT_EQ(GetGUIPresenter(), start);
  EXPECT_EQ(inner.messages.size(), 1u);
  EXPECT_EQ(outer.messages.size(), 1u);

  IGUIPresenter* previousDefault = SetDefaultGUIPresenter(&fallback);
  ShowGUIMessage("fallback", "", 0);
  EXPECT_EQ(SetDefaultGUIPresenter(previousDefault), &fallback);
  EXPECT_EQ(fallback.messages.size(), 1u);
  EXPECT_EQ(GetGUIPresenter(), start);
}

// Throws from the chosen wait box call, after recording it.
class CThrowingPresenter : public CRecordingPresenter {
 public:
  bool throwOnShow = false, throwOnClose = false;
  void ShowWaitBox(const char* text) override {
    CRecordingPresenter::ShowWaitBox(text);
    if (throwOnShow) throw std::runtime_error("show");
  }
  void CloseWaitBox() override {
    CRecordingPresenter::CloseWaitBox();
    if (throwOnClose) throw std::runtime_error("close");
  }
};

TEST(CWaitBoxGuard, ClosesOnEveryWayOut) {
  CThrowingPresenter recorder;
  CScopedGUIPresenter scope(&recorder);

  { CWaitBoxGuard guard("a"); }
  EXPECT_EQ(recorder.waitBoxCloses, 1);

  EXPECT_THROW(
      {
        CWaitBoxGuard guard("b");
        throw std::logic_error("work");
      },
      std::logic_error);
  EXPECT_EQ(recorder.waitBoxCloses, 2);

  recorder.throwOnShow = true;
  EXPECT_THROW(CWaitBoxGuard("c"), std::runtime_error);
  EXPECT_EQ(recorder.waitBoxCloses, 3);
  EXPECT_FALSE(recorder.waitBoxOpen);

  // A failing close is swallowed rather than ending the process.
  recorder.throwOnShow = false;
  recorder.throwOnClose = true;
  EXPECT_NO_THROW({ CWaitBoxGuard guard("d"); });
  EXPECT_EQ(recorder.waitBoxCloses, 4);
}

TEST(CheckMsisdn, AcceptsOnlyMainlandMobileNumbers) {
  for (const char* good : {"13800138000", "19912345678", "15000000000"})
    EXPECT_TRUE(CheckMsisdn(good)) << good;
  for (const char* bad : {"", "1380013800", "138001380001", "12800138000", "23800138000",
                          "1380013800a", " 3800138000", "13800 38000", "+8613800138"})
    EXPECT_FALSE(CheckMsisdn(bad)) << bad;
  EXPECT_FALSE(CheckMsisdn(nullptr));
}

TEST(CurrencyToString, ShowsFenAsYuanWithTwoDecimals) {
  EXPECT_EQ(CurrencyToString(0), "0.00");
  EXPECT_EQ(CurrencyToString(5), "0.05");
  EXPECT_EQ(CurrencyToString(-5), "-0.05");
  EXPECT_EQ(CurrencyToString(-1205), "-12.05");
  EXPECT_EQ(CurrencyToString(100000), "1000.00");
  EXPECT_EQ(CurrencyToString(kMax), "92233720368547758.07");
  EXPECT_EQ(CurrencyToString(kMin), "-92233720368547758.08");
}

TEST(StringToCurrency, RoundTripsEdgeValues) {
  for (int64_t v :
       {int64_t{0}, int64_t{1}, int64_t{-1}, int64_t{99}, int64_t{-100}, int64_t{123456789},
        int64_t{std::numeric_limits<int32_t>::min()}, kMax, kMax - 1, kMin, kMin + 1})
    EXPECT_EQ(StringToCurrency(CurrencyToString(v)), v) << v;
}

TEST(StringToCurrency, ReadsLooserForms) {
  EXPECT_EQ(StringToCurrency("  12 "), 1200);
  EXPECT_EQ(StringToCurrency("12.5"), 1250);
  EXPECT_EQ(StringToCurrency("+.05"), 5);
  EXPECT_EQ(StringToCurrency("7."), 700);
  EXPECT_EQ(StringToCurrency("-0.00"), 0);
}

TEST(StringToCurrency, ThrowsOnUnreadableOrTooLargeText) {
  for (const char* bad :
       {"", " ", "-", ".", "abc", "1.234", "1,00", "1.2.3", "12 3", "0x10", "92233720368547758.08",
        "-92233720368547758.09", "99999999999999999999", "\xD4\xAA"})
    EXPECT_THROW(StringToCurrency(bad), std::invalid_argument) << bad;
}

TEST(GetLocalIP, GivesADottedIPv4Address) {
  const std::string ip = GetLocalIP();
  in_addr parsed{};
  EXPECT_EQ(inet_pton(AF_INET, ip.c_str(), &parsed), 1) << ip;
}

}  // namespace
