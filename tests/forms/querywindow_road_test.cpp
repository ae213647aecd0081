// The whole road of both queries: clicks and keys on the window, the facade
// and the proxies, tcp to a real mpay-backoffice on a demo database of its
// own, SQL, the reply, and the rows the list view shows. Every shown cell is
// checked against the database.
//
// This file is not compiled to GBK (the process helpers need <chrono>, which
// cannot be); Chinese texts are converted to GBK at run time instead.
#include <gtest/gtest.h>

#include <QString>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "../support/sign_in.h"
#include "backoffice/sqlite_db.h"
#include "child_process.h"
#include "forms/formMicroPayLogQueryMain.h"
#include "guicommon/presenter.h"
#include "qthelpers.h"
#include "test_db.h"
#include "tmclient/broker_resolver.h"
#include "toolkit/qtext.h"
#include "toolkit/toolkit.h"
#include "tradekit/tradekit.h"

namespace {

using backoffice::Database;
using backoffice::Statement;
using Rows = std::vector<std::vector<std::string>>;

std::string Gbk(const char* utf8) {
  return QStringToGbk(QString::fromUtf8(utf8));
}

// yyyymmddhhmmss as "yyyy/mm/dd hh:mm:ss".
std::string ShownStamp(int64_t stamp) {
  const std::string d = std::to_string(stamp);
  if (d.size() != 14) return "?" + d;
  return d.substr(0, 4) + "/" + d.substr(4, 2) + "/" + d.substr(6, 2) + " " + d.substr(8, 2) + ":" +
         d.substr(10, 2) + ":" + d.substr(12, 2);
}

// Fen as yuan with two decimals.
std::string ShownAmount(int64_t fen) {
  char text[32];
  const int64_t magnitude = fen < 0 ? -fen : fen;
  std::snprintf(text, sizeof text, "%s%lld.%02lld", fen < 0 ? "-" : "",
                static_cast<long long>(magnitude / 100), static_cast<long long>(magnitude % 100));
  return text;
}

std::string ShownBusiType(int64_t code) {
  static const std::map<int64_t, const char*> kNames = {
      {1332, "小额支付冻结"},     {1333, "小额支付解冻"},     {1334, "小额支付帐户信息修改"},
      {1335, "小额支付帐户改号"}, {1336, "小额支付帐户存款"}, {1337, "小额支付帐户取款(转预存)"}};
  const auto found = kNames.find(code);
  if (found == kNames.end()) return std::to_string(code);
  return "[" + std::to_string(code) + "] " + Gbk(found->second);
}

std::string ShownStatus(int64_t status) {
  const char* word = status == 0 ? "历史" : status == 1 ? "正常" : status == 2 ? "已删除" : "未知";
  return "[" + std::to_string(status) + "] " + Gbk(word);
}

std::string ShownCertificate(int64_t code) {
  char name[kItemNameSize] = {};
  GetItemName(kItemCertificate, static_cast<int>(code), name);
  return "[" + std::to_string(code) + "] " + name;
}

class QueryWindowRoad : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    server_ = new Backoffice;
    db_ = dir_->File("mpay.db");
    ChildProcess init;
    ready_ = init.Start({BACKOFFICE_EXE, "--init-demo", db_, "--rows", "6000"}) &&
             init.Wait() == 0 && server_->Start(db_, 0);
    if (ready_) {
      setenv(tmclient::BrokerEnvironmentVariable("TALMIRON").c_str(), server_->Url().c_str(), 1);
      ready_ = SignIn("TALMIRON");
    }
  }
  static void TearDownTestSuite() {
    unsetenv(tmclient::BrokerEnvironmentVariable("TALMIRON").c_str());
    delete server_;
    delete dir_;
  }

  void SetUp() override {
    ASSERT_TRUE(ready_) << server_->proc.output();
    form_ = new TfrmMicroPayLogQueryMain(nullptr);
    MSysmgntDef::SOperator op;
    op.set_OP_ID(4711);
    form_->Init(op);
    Application()->ProcessMessages();
    ASSERT_TRUE(recorder.messages.empty()) << recorder.messages[0].text;
  }
  void TearDown() override {
    delete form_;
    Application()->ProcessMessages();
  }

  void Click(TWinControl* control) {
    ClickControl(control);
    Application()->ProcessMessages();
  }

  Rows Shown() const {
    Rows rows;
    TListView* lv = form_->lvstShow;
    for (int r = 0; r < lv->Items()->Count(); ++r) {
      rows.emplace_back();
      for (int c = 0; c < lv->Columns()->Count(); ++c) rows.back().push_back(lv->CellText(r, c));
    }
    return rows;
  }

  // The log rows the database holds for `where` with the parameters `bind`
  // gives, as the window must show them.
  static Rows ExpectedLog(const std::string& where, const std::function<void(Statement&)>& bind) {
    Database d(db_, Database::Mode::kReadOnly);
    Statement s = d.Prepare(
        "SELECT so_nbr, phone_id, busi_code, mpp_transaction_id, so_date, amount, remark "
        "FROM mp_so_log WHERE " +
        where + " ORDER BY so_date, so_nbr");
    bind(s);
    Rows rows;
    while (s.Step())
      rows.push_back({std::to_string(s.Int(0)), std::string(s.Text(1)), ShownBusiType(s.Int(2)),
                      std::string(s.Text(3)), ShownStamp(s.Int(4)), ShownAmount(s.Int(5)),
                      std::string(s.Text(6))});
    return rows;
  }

  static Rows ExpectedUsers(const std::string& phone) {
    Database d(db_, Database::Mode::kReadOnly);
    Statement s = d.Prepare(
        "SELECT serv_id, phone_id, mp_pwd, reg_type, reg_nbr, fee_limit, mp_sts, mp_create_date, "
        "mpp_trans_id, so_nbr, remark FROM mp_user WHERE phone_id = ?1 "
        "ORDER BY mp_create_date, serv_id");
    s.Bind(1, phone);
    Rows rows;
    while (s.Step())
      rows.push_back({std::to_string(s.Int(0)), std::string(s.Text(1)),
                      s.Text(2).empty() ? "" : "******", ShownCertificate(s.Int(3)),
                      std::string(s.Text(4)), ShownAmount(s.Int(5)), ShownStatus(s.Int(6)),
                      ShownStamp(s.Int(7)), std::string(s.Text(8)), std::to_string(s.Int(9)),
                      std::string(s.Text(10))});
    return rows;
  }

  // The number with the most log rows among those with a user record.
  static std::string BusiestUserPhone() {
    Database d(db_, Database::Mode::kReadOnly);
    Statement s = d.Prepare(
        "SELECT l.phone_id FROM mp_so_log l JOIN mp_user u ON u.phone_id = l.phone_id "
        "GROUP BY l.phone_id ORDER BY count(*) DESC LIMIT 1");
    return s.Step() ? std::string(s.Text(0)) : std::string();
  }

  CRecordingPresenter recorder;
  CScopedGUIPresenter presenterScope{&recorder};
  TfrmMicroPayLogQueryMain* form_ = nullptr;

  static TempDir* dir_;
  static Backoffice* server_;
  static std::string db_;
  static bool ready_;
};
TempDir* QueryWindowRoad::dir_ = nullptr;
Backoffice* QueryWindowRoad::server_ = nullptr;
std::string QueryWindowRoad::db_;
bool QueryWindowRoad::ready_ = false;

TEST_F(QueryWindowRoad, EveryShownCellIsTheDatabases) {
  const std::string phone = BusiestUserPhone();
  ASSERT_EQ(phone.size(), 11u);

  // One number's whole log.
  Click(form_->chkMobilno);
  TypeText(form_->edtMobilno, phone);
  Click(form_->btnQuery);
  ASSERT_TRUE(recorder.messages.empty()) << recorder.messages[0].text;
  const Rows log = ExpectedLog("phone_id = ?1", [&](Statement& s) { s.Bind(1, phone); });
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(Shown(), log);

  // A business type over the last 60 days, for every number.
  Click(form_->chkMobilno);
  Click(form_->chkBusiType);
  Click(form_->chkSoDate);
  form_->cmbBusiType->SetItemIndex(4);  // [1336]
  form_->dtpBeginDate->SetDate(TDateTime(Today().Value() - 60));
  Click(form_->btnQuery);
  ASSERT_TRUE(recorder.messages.empty()) << recorder.messages[0].text;
  const int64_t begin =
      std::stoll(FormatDateTime("yyyymmdd", form_->dtpBeginDate->Date()) + "000000");
  const int64_t end = std::stoll(FormatDateTime("yyyymmdd", Today()) + "235959");
  const Rows deposits =
      ExpectedLog("busi_code = 1336 AND so_date BETWEEN ?1 AND ?2", [&](Statement& s) {
        s.Bind(1, begin);
        s.Bind(2, end);
      });
  ASSERT_FALSE(deposits.empty());
  EXPECT_EQ(Shown(), deposits);

  // The same number's user record.
  Click(form_->chkQryUser);
  Click(form_->btnQuery);
  ASSERT_TRUE(recorder.messages.empty()) << recorder.messages[0].text;
  const Rows users = ExpectedUsers(phone);
  ASSERT_FALSE(users.empty());
  EXPECT_EQ(Shown(), users);
  EXPECT_EQ(recorder.waitBoxShows, recorder.waitBoxCloses);
}

TEST_F(QueryWindowRoad, ANumberWithoutRowsIsToldSo) {
  Click(form_->chkMobilno);
  TypeText(form_->edtMobilno, "19999999999");
  Click(form_->btnQuery);
  ASSERT_EQ(recorder.messages.size(), 1u);
  EXPECT_EQ(recorder.messages[0].text, Gbk("没有符合条件的记录！"));
  EXPECT_EQ(form_->lvstShow->Items()->Count(), 0);
}

}  // namespace
