// The log query window driven as an operator drives it: real clicks on the
// check boxes, the query button and the list's headers, real keys in the
// edits. The back office is the test far end, which decodes every request
// with the records' readers and answers with chosen rows.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "far_end.h"
#include "forms/formMicroPayLogQueryMain.h"
#include "guicommon/flat_datetime_picker.h"
#include "guicommon/presenter.h"
#include "qthelpers.h"
#include "tmclient/qrs_errormsg.h"
#include "tmclient/tmd_error.h"
#include "toolkit/actnlist.h"
#include "toolkit/render.h"
#include "toolkit/toolkit.h"
#include "tradekit/tradekit.h"

namespace {

using namespace MCustQryAccept;
using namespace MMicroPaymentDef;

constexpr int kInformation = 64;
constexpr int kError = 16;
const std::string kHint = "提示";

// The fields of the log request that the facade fills on every call.
constexpr uint64_t kConditionBits = (1u << 0) | (1u << 1) | (1u << 10) | (1u << 11) | (1u << 15);

SMpInfo LogRow(int64_t soNbr, int busiCode, int amount, const QRSDateTime& time,
               const std::string& remark) {
  SMpInfo r;
  r.set_SO_NBR(soNbr);
  r.set_BUSI_CODE(busiCode);
  r.set_PHONE_ID("13800138000");
  r.set_AMOUNT(amount);
  r.set_MPP_TRANSACTION_ID("MPP" + std::to_string(soNbr));
  r.set_MPP_TIME(time);
  r.set_REMARK(remark);
  return r;
}

SMpUserInfo UserRow(int64_t servId, short regType, short status) {
  SMpUserInfo r;
  r.set_SERV_ID(servId);
  r.set_PHONE_ID("13900139000");
  r.set_MP_PWD("******");
  r.set_REG_TYPE(regType);
  r.set_REG_NBR("11010519491231002X");
  r.set_FEE_LIMIT(-5);
  r.set_MP_STS(status);
  r.set_MP_CREATE_DATE(QRSDateTime(2025, 1, 2, 3, 4, 5));
  r.set_MPP_TRANS_ID("T" + std::to_string(servId));
  r.set_SO_NBR(servId + 7);
  r.set_REMARK("开户");
  return r;
}

// Today's date at a time of day, for the pickers and the stamps.
TDateTime At(int hour, int minute, int second) {
  return TDateTime::EncodeTime(hour, minute, second);
}

std::string Stamp(TDateTime date, TDateTime time) {
  return FormatDateTime("yyyymmdd", date) + FormatDateTime("hhnnss", time);
}

std::string StampOf(const QRSDateTime& t) {
  return t.toString("%Y%M%D%H%N%S");
}

class QueryWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    far_end::Reset();
    far_end::RouteBroker("TALMIRON");
    far_end::Answer([this](const std::string& interfaceName, const std::string& code,
                           std::string_view request, std::string& reply) {
      if (code == "BAEXPORT") return Record(request, reply);
      return Serve(interfaceName, request, reply);
    });
    form_ = new TfrmMicroPayLogQueryMain(nullptr);
    form_->OnDestroy = [this](TObject*) { destroyed_ = true; };
    MSysmgntDef::SOperator op;
    op.set_OP_ID(4711);
    op.set_ORG_ID(10086);
    EXPECT_TRUE(form_->Init(op));
    Application()->ProcessMessages();
  }
  void TearDown() override {
    if (!destroyed_) delete form_;
    Application()->ProcessMessages();
  }

  int Serve(const std::string& interfaceName, std::string_view request, std::string& reply) {
    interfaces.push_back(interfaceName);
    SQueryLogSoInfo soInfo;
    if (interfaceName == "MCustQryAccept_IBusiOrdmgnt") {
      SQuerySoInfoListIn in;
      if (!far_end::DecodeSoList(request, in, soInfo)) return tmclient::kErrTransport;
      soLists.push_back(in);
      if (result != 0) return result;
      reply = far_end::Frame(far_end::kSoListOut, [this](tmb_stream& s) {
        s << logRows << SMpAcctStatInfo() << 0 << QRSErrorMsg();
      });
    } else {
      SFetchInfoIn in;
      if (!far_end::DecodeFetch(request, in, soInfo)) return tmclient::kErrTransport;
      fetches.push_back(in);
      if (result != 0) return result;
      reply = far_end::Frame(far_end::kUserOut,
                             [this](tmb_stream& s) { s << userRows << QRSErrorMsg(); });
    }
    return 0;
  }

  // An export recorded: 0 and an empty error record, or `exportResult`.
  int Record(std::string_view request, std::string& reply) {
    SListExportIn in;
    SQueryLogSoInfo soInfo;
    if (!far_end::DecodeExport(request, in, soInfo)) return tmclient::kErrTransport;
    exports.push_back(in.LIST_NAME + " " + in.OUTPUT + " " + in.FORMAT + " " +
                      std::to_string(in.ROW_COUNT));
    QRSErrorMsg error;
    if (exportResult != 0) {
      error.set_code(exportResult);
      error.set_msg("没有导出的权限");
    }
    reply = far_end::Frame(far_end::kExportOut, [&](tmb_stream& s) { s << exportResult << error; });
    return exportResult;
  }

  void Click(TWinControl* control) {
    ClickControl(control);
    Application()->ProcessMessages();
  }
  void Query() { Click(form_->btnQuery); }

  // The boxes' states in the order chkSono, chkBusiType, chkSoDate, chkMobilno.
  std::vector<bool> Ticks() const {
    return {form_->chkSono->Checked(), form_->chkBusiType->Checked(), form_->chkSoDate->Checked(),
            form_->chkMobilno->Checked()};
  }
  std::vector<bool> Enabled() const {
    return {form_->chkSono->Enabled(), form_->chkBusiType->Enabled(), form_->chkSoDate->Enabled(),
            form_->chkMobilno->Enabled()};
  }

  std::vector<std::string> ColumnCaptions() const {
    std::vector<std::string> captions;
    TListColumns* columns = form_->lvstShow->Columns();
    for (int i = 0; i < columns->Count(); ++i) captions.push_back(columns->Items(i)->Caption());
    return captions;
  }
  std::vector<int> ColumnWidths() const {
    std::vector<int> widths;
    TListColumns* columns = form_->lvstShow->Columns();
    for (int i = 0; i < columns->Count(); ++i) widths.push_back(columns->Items(i)->Width());
    return widths;
  }
  std::vector<std::string> Captions() const {
    std::vector<std::string> captions;
    for (int i = 0; i < form_->lvstShow->Items()->Count(); ++i)
      captions.push_back(form_->lvstShow->CellText(i, 0));
    return captions;
  }
  std::vector<std::string> Row(int index) const {
    std::vector<std::string> cells;
    for (int c = 0; c < form_->lvstShow->Columns()->Count(); ++c)
      cells.push_back(form_->lvstShow->CellText(index, c));
    return cells;
  }

  // The one message shown since the last call, which must be `text` with the
  // caption "提示" and `flags`.
  void ExpectOneMessage(const std::string& text, int flags = kInformation) {
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, text);
    EXPECT_EQ(recorder.messages[0].caption, kHint);
    EXPECT_EQ(recorder.messages[0].flags, flags);
    recorder.messages.clear();
  }
  // A check that fails: its message, the focus, no request, an empty list.
  void ExpectRefused(const std::string& text, TWinControl* focus) {
    const size_t calls = far_end::Calls().size();
    const std::vector<std::string> columns = ColumnCaptions();
    Query();
    ExpectOneMessage(text);
    EXPECT_TRUE(focus->Focused()) << focus->Name();
    EXPECT_EQ(far_end::Calls().size(), calls);
    EXPECT_EQ(form_->lvstShow->Items()->Count(), 0);
    EXPECT_EQ(ColumnCaptions(), columns);
  }
  // A query that passes the checks and reaches the far end (what it shows
  // is forgotten).
  void ExpectSent() {
    const size_t calls = far_end::Calls().size();
    Query();
    EXPECT_EQ(far_end::Calls().size(), calls + 1);
    recorder.messages.clear();
  }
  // The facade's message of a failed call: `prefix`, then the error text.
  void ExpectFailure(const std::string& prefix) {
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text.substr(0, prefix.size()), prefix);
    EXPECT_GT(recorder.messages[0].text.size(), prefix.size());
    EXPECT_EQ(recorder.messages[0].caption, kHint);
    EXPECT_EQ(recorder.messages[0].flags, kError);
    recorder.messages.clear();
  }

  CRecordingPresenter recorder;
  CScopedGUIPresenter presenterScope{&recorder};
  TfrmMicroPayLogQueryMain* form_ = nullptr;
  bool destroyed_ = false;

  int result = 0;  // the far end's answer: 0 with the rows below, or this code
  SMpInfoList logRows;
  SMpUserInfoList userRows;
  std::vector<std::string> interfaces;
  std::vector<SQuerySoInfoListIn> soLists;
  std::vector<SFetchInfoIn> fetches;
  std::vector<std::string> exports;  // "LIST OUTPUT FORMAT ROWS" of each export recorded
  int exportResult = 0;
};

const std::vector<std::string> kLogColumns = {"工单编号", "手机号码", "业务类型", "流水号",
                                              "时间戳",   "涉及金额", "备注"};
const std::vector<std::string> kUserColumns = {"用户编号",  "手机号码",   "交易密码", "证件类型",
                                               "证件号码",  "日消费限额", "生效标志", "开户时间",
                                               "MPP流水号", "最新工单号", "备注"};

TEST_F(QueryWindowTest, LayoutAsDesigned) {
  EXPECT_EQ(form_->Caption(), "小额支付日志查询");
  EXPECT_EQ(form_->Name(), "frmMicroPayLogQueryMain");
  struct Expected {
    TWinControl* control;
    TWinControl* parent;
    std::string caption;
    TRect rect;
    int tabOrder;
  };
  const Expected controls[] = {
      {form_->chkSono, form_->grbQryConds, "工单编号：", Bounds(62, 19, 73, 17), 0},
      {form_->edtSono, form_->grbQryConds, "", Bounds(141, 17, 156, 20), 1},
      {form_->chkBusiType, form_->grbQryConds, "业务类型：", Bounds(310, 19, 73, 17), 2},
      {form_->cmbBusiType, form_->grbQryConds, "[1332] 小额支付冻结", Bounds(388, 17, 190, 20), 3},
      {form_->chkSoDate, form_->grbQryConds, "受理日期：", Bounds(62, 49, 75, 17), 4},
      {form_->dtpBeginDate, form_->grbQryConds, "", Bounds(141, 47, 86, 20), 5},
      {form_->dtpBeginTime, form_->grbQryConds, "", Bounds(224, 47, 75, 20), 6},
      {form_->dtpEndDate, form_->grbQryConds, "", Bounds(141, 76, 86, 20), 7},
      {form_->dtpEndTime, form_->grbQryConds, "", Bounds(224, 76, 75, 20), 8},
      {form_->chkMobilno, form_->grbQryConds, "手机号码：", Bounds(310, 49, 73, 17), 9},
      {form_->edtMobilno, form_->grbQryConds, "", Bounds(388, 47, 190, 20), 10},
      {form_->btnQuery, form_->grbQryConds, "", Bounds(511, 73, 67, 26), 11},
      {form_->chkQryUser, form_->grbQryConds, "用户信息", Bounds(310, 78, 83, 17), 12},
      {form_->BtnExit, form_->pnlBottom, "", Bounds(533, 11, 67, 26), 0},
  };
  for (const Expected& e : controls) {
    ASSERT_NE(e.control, nullptr);
    EXPECT_EQ(e.control->Parent(), e.parent) << e.control->Name();
    if (dynamic_cast<TDateTimePicker*>(e.control) == nullptr) {
      EXPECT_EQ(e.control->Caption(), e.caption) << e.control->Name();
    }
    EXPECT_EQ(e.control->BoundsRect(), e.rect) << e.control->Name();
    EXPECT_EQ(e.control->TabOrder(), e.tabOrder) << e.control->Name();
  }
  EXPECT_EQ(form_->grbQryConds->Caption(), "日志查询条件");
  EXPECT_EQ(form_->grbQryConds->Align(), alTop);
  EXPECT_EQ(form_->grbQryConds->Width(), form_->ClientWidth());
  EXPECT_EQ(form_->grbQryConds->Height(), 105);
  EXPECT_EQ(form_->grbShow->Align(), alClient);
  EXPECT_EQ(form_->lvstShow->Align(), alClient);
  EXPECT_EQ(form_->pnlBottom->Align(), alBottom);
  EXPECT_EQ(form_->pnlBottom->Height(), 45);
  EXPECT_EQ(form_->pnlBottom->BevelOuter(), bvNone);
  EXPECT_TRUE(form_->pnlBottom->ParentColor());
  EXPECT_EQ(form_->grbQryConds->TabOrder(), 0);
  EXPECT_EQ(form_->grbShow->TabOrder(), 1);
  EXPECT_EQ(form_->pnlBottom->TabOrder(), 2);

  EXPECT_EQ(form_->edtSono->MaxLength(), 15);
  EXPECT_EQ(form_->edtMobilno->MaxLength(), 11);
  EXPECT_EQ(form_->cmbBusiType->ItemHeight(), 12);
  EXPECT_EQ(form_->cmbBusiType->Style(), csDropDown);
  for (TDateTimePicker* date : {form_->dtpBeginDate, form_->dtpEndDate}) {
    EXPECT_EQ(date->Kind(), dtkDate);
    EXPECT_EQ(date->Format(), "yyyy-MM-dd");
    EXPECT_EQ(date->DateMode(), dmComboBox);
    EXPECT_NE(dynamic_cast<TFlatDateTimePicker*>(date), nullptr);
  }
  for (TDateTimePicker* time : {form_->dtpBeginTime, form_->dtpEndTime}) {
    EXPECT_EQ(time->Kind(), dtkTime);
    EXPECT_EQ(time->Format(), "HH:mm:ss");
  }
  EXPECT_EQ(form_->btnQuery->NumGlyphs(), 3);
  EXPECT_EQ(form_->BtnExit->NumGlyphs(), 3);
  EXPECT_EQ(form_->BtnExit->Action(), form_->actClose);

  TListView* lv = form_->lvstShow;
  EXPECT_EQ(lv->ViewStyle(), vsReport);
  EXPECT_TRUE(lv->GridLines());
  EXPECT_TRUE(lv->RowSelect());
  EXPECT_TRUE(lv->ReadOnly());
  EXPECT_EQ(ColumnCaptions(), kLogColumns);
  EXPECT_EQ(ColumnWidths(), (std::vector<int>{80, 80, 80, 80, 80, 80, 128}));
}

TEST_F(QueryWindowTest, InitPreparesLogQueryMode) {
  // Both wait box texts, and the box closed.
  EXPECT_EQ(recorder.waitTexts,
            (std::vector<std::string>{"正在获取基础数据，请稍后...", "正在初始化窗体，请稍后..."}));
  EXPECT_EQ(recorder.waitBoxCloses, 1);
  EXPECT_FALSE(recorder.waitBoxOpen);
  EXPECT_TRUE(recorder.messages.empty());

  TComboBox* combo = form_->cmbBusiType;
  ASSERT_EQ(combo->Items()->Count(), 6);
  EXPECT_EQ(combo->ItemIndex(), 0);
  EXPECT_EQ(combo->Text(), "[1332] 小额支付冻结");
  EXPECT_EQ(combo->Items()->Strings(5), "[1337] 小额支付帐户取款(转预存)");
  EXPECT_EQ(form_->dtpBeginDate->Date(), Today());
  EXPECT_EQ(form_->dtpEndDate->Date(), Today());
  EXPECT_EQ(FormatDateTime("hh:nn:ss", form_->dtpBeginTime->Time()), "00:00:00");
  EXPECT_EQ(FormatDateTime("hh:nn:ss", form_->dtpEndTime->Time()), "23:59:59");
  EXPECT_TRUE(form_->QueryLogMode());
  EXPECT_EQ(Ticks(), (std::vector<bool>{false, false, false, false}));
  EXPECT_FALSE(form_->chkQryUser->Checked());

  // The list's services run on this window, never on the null shared one.
  TListView* lv = form_->lvstShow;
  EXPECT_EQ(lv->OnColumnClick.Object(), form_);
  EXPECT_EQ(lv->OnCompare.Object(), form_);
  EXPECT_EQ(lv->OnChange.Object(), form_);
  EXPECT_EQ(frmMDIChild, nullptr);
}

TEST_F(QueryWindowTest, CheckBoxRulesKeepTheNumberAlone) {
  Click(form_->chkBusiType);
  Click(form_->chkSoDate);
  Click(form_->chkMobilno);
  EXPECT_EQ(Ticks(), (std::vector<bool>{false, true, true, true}));
  Click(form_->chkSono);
  EXPECT_EQ(Ticks(), (std::vector<bool>{true, false, false, false}));
  for (TCheckBox* other : {form_->chkBusiType, form_->chkSoDate, form_->chkMobilno}) {
    Click(form_->chkSono);
    if (!form_->chkSono->Checked()) Click(form_->chkSono);
    Click(other);
    EXPECT_FALSE(form_->chkSono->Checked()) << other->Name();
    EXPECT_TRUE(other->Checked()) << other->Name();
  }
  // Unticking changes nothing else.
  Click(form_->chkMobilno);
  EXPECT_EQ(Ticks(), (std::vector<bool>{false, false, false, false}));
  EXPECT_TRUE(recorder.messages.empty());
}

TEST_F(QueryWindowTest, ModeSwitchBothWays) {
  Click(form_->chkSono);
  Click(form_->chkQryUser);
  EXPECT_FALSE(form_->QueryLogMode());
  EXPECT_EQ(Ticks(), (std::vector<bool>{false, false, false, true}));
  EXPECT_EQ(Enabled(), (std::vector<bool>{false, false, false, false}));
  for (TWinControl* stays : std::initializer_list<TWinControl*>{
           form_->edtSono, form_->edtMobilno, form_->cmbBusiType, form_->dtpBeginDate,
           form_->dtpBeginTime, form_->dtpEndDate, form_->dtpEndTime})
    EXPECT_TRUE(stays->Enabled()) << stays->Name();
  // Clicks on the disabled boxes change nothing.
  Click(form_->chkSono);
  Click(form_->chkMobilno);
  EXPECT_EQ(Ticks(), (std::vector<bool>{false, false, false, true}));
  // The columns wait for the next query.
  EXPECT_EQ(ColumnCaptions(), kLogColumns);

  Click(form_->chkQryUser);
  EXPECT_TRUE(form_->QueryLogMode());
  EXPECT_EQ(Ticks(), (std::vector<bool>{false, false, false, false}));
  EXPECT_EQ(Enabled(), (std::vector<bool>{true, true, true, true}));
  // Nothing is ticked now, so the next query fails the first check.
  ExpectRefused("必须选择至少一项查询条件！", form_->chkSono);
}

TEST_F(QueryWindowTest, ChecksRunInOrderWithTheirMessagesAndFocus) {
  ExpectRefused("必须选择至少一项查询条件！", form_->chkSono);

  // The mobile number: blanks only is no number; then its format.
  Click(form_->chkMobilno);
  Click(form_->chkBusiType);
  TypeText(form_->cmbBusiType, "9");  // no item: fails check 3, which comes later
  form_->edtMobilno->SetText("   ");
  ExpectRefused("你选择了用手机号码做条件，但没有输入号码值！", form_->edtMobilno);
  form_->edtMobilno->SetText("");
  TypeText(form_->edtMobilno, "1280013800");
  ExpectRefused("手机号码格式不正确！", form_->edtMobilno);
  TypeText(form_->edtMobilno, "0");
  EXPECT_EQ(form_->edtMobilno->Text(), "12800138000");
  ExpectRefused("手机号码格式不正确！", form_->edtMobilno);
  form_->edtMobilno->SetText("");
  TypeText(form_->edtMobilno, "13800138000");

  // The business type.
  ExpectRefused("你选择了用业务类型做条件，但没有选择业务！", form_->cmbBusiType);
  form_->cmbBusiType->SetItemIndex(2);
  ExpectSent();

  // The service-order number, ticked alone.
  Click(form_->chkSono);
  ExpectRefused("你选择了用工单号做条件，但没有输入工单值！", form_->edtSono);
  form_->edtSono->SetText(" \t ");
  ExpectRefused("你选择了用工单号做条件，但没有输入工单值！", form_->edtSono);

  // The time range compares the 14-character stamps: date first.
  Click(form_->chkSoDate);
  const TDateTime today = Today();
  const TDateTime yesterday(today.Value() - 1), tomorrow(today.Value() + 1);
  auto range = [&](TDateTime beginDate, TDateTime beginTime, TDateTime endDate, TDateTime endTime) {
    form_->dtpBeginDate->SetDate(beginDate);
    form_->dtpBeginTime->SetTime(beginTime);
    form_->dtpEndDate->SetDate(endDate);
    form_->dtpEndTime->SetTime(endTime);
  };
  range(today, At(0, 0, 0), today, At(23, 59, 59));
  ExpectSent();
  range(today, At(10, 0, 1), today, At(10, 0, 0));
  ExpectRefused("开始时间不能大于结束时间！", form_->dtpBeginDate);
  range(today, At(10, 0, 0), today, At(10, 0, 0));
  ExpectSent();
  range(yesterday, At(23, 0, 0), today, At(1, 0, 0));
  ExpectSent();
  range(tomorrow, At(0, 0, 0), today, At(23, 59, 59));
  ExpectRefused("开始时间不能大于结束时间！", form_->dtpBeginDate);
}

TEST_F(QueryWindowTest, TabWalksTheTabOrderAndTheNumberEditsLetItGo) {
  const std::vector<TWinControl*> order = {
      form_->chkSono,    form_->edtSono,      form_->chkBusiType,  form_->cmbBusiType,
      form_->chkSoDate,  form_->dtpBeginDate, form_->dtpBeginTime, form_->dtpEndDate,
      form_->dtpEndTime, form_->chkMobilno,   form_->edtMobilno,   form_->btnQuery,
      form_->chkQryUser, form_->lvstShow,     form_->BtnExit};
  TypeText(form_->edtSono, "123");
  TypeText(form_->edtMobilno, "138");
  form_->chkSono->SetFocus();
  for (size_t i = 1; i < order.size(); ++i) {
    PressTab(order[i - 1]);
    EXPECT_EQ(form_->ActiveControl(), order[i]) << "after " << order[i - 1]->Name();
  }
  for (size_t i = order.size() - 1; i > 0; --i) {
    PressTab(order[i], true);
    EXPECT_EQ(form_->ActiveControl(), order[i - 1]) << "back from " << order[i]->Name();
  }
  Application()->ProcessMessages();
  EXPECT_EQ(form_->ActiveControl(), form_->chkSono);
  EXPECT_EQ(form_->edtSono->Text(), "123");
  EXPECT_EQ(form_->edtMobilno->Text(), "138");
}

TEST_F(QueryWindowTest, TypedBusinessTypeCountsOnlyWhenItIsAnItem) {
  Click(form_->chkBusiType);
  TypeText(form_->cmbBusiType, "x");  // after the shown item's text
  EXPECT_EQ(form_->cmbBusiType->ItemIndex(), -1);
  ExpectRefused("你选择了用业务类型做条件，但没有选择业务！", form_->cmbBusiType);
  form_->cmbBusiType->SetText("");
  TypeText(form_->cmbBusiType, "[1334] 小额支付帐户信息修改");
  EXPECT_EQ(form_->cmbBusiType->ItemIndex(), 2);
  ExpectSent();
  ASSERT_EQ(soLists.size(), 1u);
  EXPECT_EQ(soLists[0].BUSI_CODE, 1334);
}

TEST_F(QueryWindowTest, RequestsCarryTheTickedConditions) {
  // The date range alone: the stamps, and "no condition" for the rest.
  Click(form_->chkSoDate);
  ExpectSent();
  ASSERT_EQ(soLists.size(), 1u);
  EXPECT_EQ(interfaces.back(), "MCustQryAccept_IBusiOrdmgnt");
  const SQuerySoInfoListIn& byDate = soLists.back();
  EXPECT_EQ(byDate.Marker, kConditionBits);
  EXPECT_EQ(byDate.UsedMarker, kConditionBits);
  EXPECT_EQ(byDate.SO_NBR, 0);
  EXPECT_EQ(byDate.BUSI_CODE, 0);
  EXPECT_EQ(byDate.PHONE_ID, "");
  EXPECT_EQ(StampOf(byDate.BEGIN_SO_DATE), Stamp(Today(), At(0, 0, 0)));
  EXPECT_EQ(StampOf(byDate.END_SO_DATE), Stamp(Today(), At(23, 59, 59)));

  // The number alone, typed: the key filter drops what is no digit, the
  // maximum length stops at 15, and leading zeros do not matter.
  Click(form_->chkSono);
  TypeText(form_->edtSono, "00012a3456789012345");
  EXPECT_EQ(form_->edtSono->Text(), "000123456789012");
  ExpectSent();
  EXPECT_EQ(soLists.back().SO_NBR, 123456789012);
  EXPECT_TRUE(soLists.back().BEGIN_SO_DATE.isNull());
  EXPECT_TRUE(soLists.back().END_SO_DATE.isNull());
  EXPECT_EQ(soLists.back().Marker, kConditionBits);
  form_->edtSono->SetText("");
  TypeText(form_->edtSono, "999999999999999");
  ExpectSent();
  EXPECT_EQ(soLists.back().SO_NBR, 999999999999999);

  // Business type, mobile number and dates together.
  Click(form_->chkBusiType);
  Click(form_->chkMobilno);
  Click(form_->chkSoDate);
  form_->cmbBusiType->SetItemIndex(5);
  TypeText(form_->edtMobilno, "13912345678");
  form_->dtpBeginDate->SetDate(TDateTime::EncodeDate(2026, 2, 28));
  form_->dtpBeginTime->SetTime(At(8, 5, 9));
  ExpectSent();
  const SQuerySoInfoListIn& all = soLists.back();
  EXPECT_EQ(all.SO_NBR, 0);
  EXPECT_EQ(all.BUSI_CODE, 1337);
  EXPECT_EQ(all.PHONE_ID, "13912345678");
  EXPECT_EQ(StampOf(all.BEGIN_SO_DATE), "20260228080509");
  EXPECT_EQ(StampOf(all.END_SO_DATE), Stamp(Today(), At(23, 59, 59)));

  // The user query sends the number only.
  Click(form_->chkQryUser);
  ExpectSent();
  EXPECT_EQ(interfaces.back(), "MCustQryAccept_ICustQryAccept");
  ASSERT_EQ(fetches.size(), 1u);
  EXPECT_EQ(fetches[0].PHONE_ID, "13912345678");
  EXPECT_EQ(fetches[0].QUERY_TYPE, 1);
  EXPECT_EQ(fetches[0].Marker, (1u << 4) | (1u << 18));
  EXPECT_EQ(soLists.size(), 4u);
}

TEST_F(QueryWindowTest, EveryCombinationSendsItsConditionsAndNothingElse) {
  form_->cmbBusiType->SetItemIndex(3);
  TypeText(form_->edtMobilno, "15012345678");
  TypeText(form_->edtSono, "42");
  const std::string begin = Stamp(Today(), At(0, 0, 0)), end = Stamp(Today(), At(23, 59, 59));
  // Bit 0 business type, bit 1 date range, bit 2 mobile number.
  for (int combination = 1; combination < 8; ++combination) {
    const bool busi = combination & 1, date = combination & 2, mobile = combination & 4;
    for (TCheckBox* box : {form_->chkBusiType, form_->chkSoDate, form_->chkMobilno})
      if (box->Checked()) Click(box);
    if (busi) Click(form_->chkBusiType);
    if (date) Click(form_->chkSoDate);
    if (mobile) Click(form_->chkMobilno);
    ExpectSent();
    const SQuerySoInfoListIn& in = soLists.back();
    EXPECT_EQ(in.Marker, kConditionBits) << combination;
    EXPECT_EQ(in.SO_NBR, 0) << combination;
    EXPECT_EQ(in.BUSI_CODE, busi ? 1335 : 0) << combination;
    EXPECT_EQ(StampOf(in.BEGIN_SO_DATE), date ? begin : "00000000000000") << combination;
    EXPECT_EQ(StampOf(in.END_SO_DATE), date ? end : "00000000000000") << combination;
    EXPECT_EQ(in.PHONE_ID, mobile ? "15012345678" : "") << combination;
  }
  // The number stands alone, whatever the other fields hold.
  Click(form_->chkSono);
  ExpectSent();
  EXPECT_EQ(soLists.back().SO_NBR, 42);
  EXPECT_EQ(soLists.back().BUSI_CODE, 0);
  EXPECT_EQ(soLists.back().PHONE_ID, "");
  EXPECT_TRUE(soLists.back().BEGIN_SO_DATE.isNull());
}

TEST_F(QueryWindowTest, ANumberThatDoesNotConvertStopsBeforeTheRequest) {
  Click(form_->chkSono);
  form_->edtSono->SetText("12 3");  // set by code: typing keeps blanks out
  Query();
  EXPECT_TRUE(far_end::Calls().empty());
  ASSERT_EQ(recorder.messages.size(), 1u);
  EXPECT_EQ(recorder.messages[0].flags, kError);
  EXPECT_NE(recorder.messages[0].text.find("12 3"), std::string::npos);
  EXPECT_FALSE(destroyed_);
}

TEST_F(QueryWindowTest, LogRowsShowEveryCell) {
  logRows = {LogRow(202612070000001, 1337, -150, QRSDateTime(2026, 12, 7, 9, 30, 5), "营业厅受理"),
             LogRow(9007199254740993, 2000, 2147483647, QRSDateTime(), ""),
             LogRow(-1, 1332, 0, QRSDateTime(1999, 1, 31, 23, 59, 59), "退款 (部分)")};
  Click(form_->chkSoDate);
  Query();
  EXPECT_TRUE(recorder.messages.empty());
  EXPECT_EQ(recorder.waitBoxCloses, 2);  // Init's and the query's
  EXPECT_EQ(ColumnCaptions(), kLogColumns);
  ASSERT_EQ(form_->lvstShow->Items()->Count(), 3);
  EXPECT_EQ(Row(0), (std::vector<std::string>{
                        "202612070000001", "13800138000", "[1337] 小额支付帐户取款(转预存)",
                        "MPP202612070000001", "2026/12/07 09:30:05", "-1.50", "营业厅受理"}));
  EXPECT_EQ(Row(1), (std::vector<std::string>{"9007199254740993", "13800138000", "2000",
                                              "MPP9007199254740993", "0000/00/00 00:00:00",
                                              "21474836.47", ""}));
  EXPECT_EQ(Row(2), (std::vector<std::string>{"-1", "13800138000", "[1332] 小额支付冻结", "MPP-1",
                                              "1999/01/31 23:59:59", "0.00", "退款 (部分)"}));
  // The columns were fitted to the rows, never narrower than 100.
  for (int width : ColumnWidths()) EXPECT_GE(width, 100);

  const char* dir = std::getenv("MPAY_BUILD_DIR");
  EXPECT_TRUE(RenderToPng(form_, std::string(dir ? dir : ".") + "/query-window-log.png"));

  // Header clicks sort the rows through the base window's services.
  ClickColumnHeader(form_->lvstShow, 2);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"202612070000001", "-1", "9007199254740993"}));
  ClickColumnHeader(form_->lvstShow, 2);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"9007199254740993", "-1", "202612070000001"}));
}

TEST_F(QueryWindowTest, UserRowsShowEveryCell) {
  userRows = {UserRow(1000000001, 1, 0), UserRow(1000000002, 2, 1), UserRow(1000000003, 42, 2),
              UserRow(1000000004, 1, 7)};
  Click(form_->chkQryUser);
  TypeText(form_->edtMobilno, "13900139000");
  Query();
  EXPECT_TRUE(recorder.messages.empty());
  EXPECT_EQ(ColumnCaptions(), kUserColumns);
  ASSERT_EQ(form_->lvstShow->Items()->Count(), 4);
  EXPECT_EQ(Row(0),
            (std::vector<std::string>{"1000000001", "13900139000", "******", "[1] 居民身份证",
                                      "11010519491231002X", "-0.05", "[0] 历史",
                                      "2025/01/02 03:04:05", "T1000000001", "1000000008", "开户"}));
  EXPECT_EQ(Row(1)[3], "[2] 护照");
  EXPECT_EQ(Row(1)[6], "[1] 正常");
  EXPECT_EQ(Row(2)[3], "[42] ");  // a code without a name
  EXPECT_EQ(Row(2)[6], "[2] 已删除");
  // A status without a word is unknown, whatever name the row left behind.
  EXPECT_EQ(Row(3)[3], "[1] 居民身份证");
  EXPECT_EQ(Row(3)[6], "[7] 未知");

  const char* dir = std::getenv("MPAY_BUILD_DIR");
  EXPECT_TRUE(RenderToPng(form_, std::string(dir ? dir : ".") + "/query-window-user.png"));
}

TEST_F(QueryWindowTest, EmptyAndFailedRepliesLeaveTheNewColumnsOverAnEmptyList) {
  // A user query fails: the eleven columns are already there, 100 wide.
  Click(form_->chkQryUser);
  TypeText(form_->edtMobilno, "13900139000");
  result = tmclient::kErrTransport;
  Query();
  ExpectFailure("查询小额支付用户信息失败\n");
  EXPECT_EQ(ColumnCaptions(), kUserColumns);
  EXPECT_EQ(ColumnWidths(), std::vector<int>(11, 100));
  EXPECT_EQ(form_->lvstShow->Items()->Count(), 0);
  EXPECT_FALSE(recorder.waitBoxOpen);

  // A log query with rows, then one that fails: the rows go.
  Click(form_->chkQryUser);
  Click(form_->chkSoDate);
  result = 0;
  logRows = {LogRow(1, 1332, 100, QRSDateTime(2026, 1, 1, 0, 0, 0), "")};
  Query();
  EXPECT_EQ(form_->lvstShow->Items()->Count(), 1);
  result = tmclient::kErrTransport;
  Query();
  ExpectFailure("查询小额支付日志失败\n");
  EXPECT_EQ(form_->lvstShow->Items()->Count(), 0);
  EXPECT_FALSE(recorder.waitBoxOpen);

  // An empty reply: its message, the log columns over an empty list.
  Click(form_->chkQryUser);
  result = 0;
  userRows.clear();
  Query();
  ExpectOneMessage("没有符合条件的记录！");
  EXPECT_EQ(ColumnCaptions(), kUserColumns);
  EXPECT_EQ(form_->lvstShow->Items()->Count(), 0);
  Click(form_->chkQryUser);
  Click(form_->chkSoDate);
  logRows.clear();
  Query();
  ExpectOneMessage("没有符合条件的记录！");
  EXPECT_EQ(ColumnCaptions(), kLogColumns);
  EXPECT_EQ(ColumnWidths(), std::vector<int>(7, 100));
  EXPECT_EQ(recorder.waitBoxShows, recorder.waitBoxCloses);
}

// Saved and printed lists, read back by other programs: Python's csv module
// and openpyxl (cells written out as GBK), pdftotext.
class QueryWindowOutputTest : public QueryWindowTest {
 protected:
  void SetUp() override {
    QueryWindowTest::SetUp();
    char name[] = "/tmp/query-output-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir = name;
  }
  void TearDown() override {
    EXPECT_EQ(std::system(("rm -rf " + dir).c_str()), 0);
    QueryWindowTest::TearDown();
  }
  bool Enabled(TAction* action) {
    action->Update();
    return action->Enabled();
  }
  // Runs `action` with the file `name` as the presenter's answer.
  void Run(TAction* action, const std::string& name) {
    recorder.saveAnswer = true;
    recorder.savePath = recorder.printPath = dir + "/" + name;
    recorder.printAnswer = IGUIPresenter::kPrintToPdf;
    EXPECT_TRUE(action->Execute());
  }
  // What `command` prints (GBK text).
  std::string ReadBack(const std::string& command) {
    const std::string out = dir + "/out.txt";
    EXPECT_EQ(std::system(("(" + command + ") > " + out).c_str()), 0);
    std::ifstream in(out, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }
  std::string Python(const std::string& code, const std::string& name) {
    std::ofstream(dir + "/read.py") << "import sys, csv, openpyxl\n"
                                       "out = open(sys.stdout.fileno(), 'w', encoding='gbk')\n"
                                    << code;
    return ReadBack("/usr/bin/python3 " + dir + "/read.py " + dir + "/" + name);
  }
  bool Exists(const std::string& name) const {
    struct stat st {};
    return ::stat((dir + "/" + name).c_str(), &st) == 0;
  }
  std::string dir;
};

TEST_F(QueryWindowOutputTest, SavedAndPrintedListsHoldTheCellsAsShown) {
  EXPECT_FALSE(Enabled(form_->actSaveAs));  // no rows yet
  EXPECT_FALSE(Enabled(form_->actPrint));
  logRows = {
      LogRow(202612070000001, 1337, -150, QRSDateTime(2026, 12, 7, 9, 30, 5), "营业厅,\"受理\""),
      LogRow(7, 1332, 123456, QRSDateTime(), "两行\r\n备注"),
      LogRow(42, 1333, 0, QRSDateTime(1999, 1, 31, 23, 59, 59), "")};
  Click(form_->chkSoDate);
  Query();
  ClickColumnHeader(form_->lvstShow, 5);  // by amount: the shown order is saved
  ASSERT_EQ(form_->lvstShow->Items()->Count(), 3);
  EXPECT_TRUE(Enabled(form_->actSaveAs));
  EXPECT_TRUE(Enabled(form_->actPreview));
  EXPECT_TRUE(Enabled(form_->actPrint));

  std::string shown;
  for (const std::string& caption : ColumnCaptions()) shown += caption + "|";
  shown += "\n";
  for (int r = 0; r < 3; ++r) {
    for (const std::string& cell : Row(r)) shown += cell + "|";
    shown += "\n";
  }
  Run(form_->actSaveAs, "list.csv");
  EXPECT_EQ(Python("for row in csv.reader(open(sys.argv[1], encoding='utf-8-sig', newline='')):\n"
                   "  out.write(''.join(c + '|' for c in row) + '\\n')\n",
                   "list.csv"),
            shown);
  struct stat st {};
  ASSERT_EQ(::stat((dir + "/list.csv").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // XLSX: the same cells, amounts as numbers of two decimals, times as
  // dates (a time that is no date stays text), everything else text.
  Run(form_->actSaveAs, "list.xlsx");
  std::string typed;
  for (const std::string& caption : ColumnCaptions()) typed += "str:" + caption + "|";
  typed += "\n";
  for (int r = 0; r < 3; ++r) {
    const std::vector<std::string> cells = Row(r);
    for (size_t c = 0; c < cells.size(); ++c) {
      if (cells[c].empty())
        typed += "NoneType:|";
      else if (c == 5)
        typed += "float:" + cells[c] + "|";
      else if (c == 4 && cells[c][0] != '0')
        typed += "datetime:" + cells[c] + "|";
      else
        typed += "str:" + cells[c] + "|";
    }
    typed += "\n";
  }
  EXPECT_EQ(Python("for row in openpyxl.load_workbook(sys.argv[1]).active.iter_rows():\n"
                   "  for c in row:\n"
                   "    v = c.value\n"
                   "    t = type(v).__name__\n"
                   "    if t in ('int', 'float'): t, v = 'float', '%.2f' % v\n"
                   "    if t == 'str': v = v.replace('_x000D_', '\\r')\n"
                   "    if t == 'datetime': v = v.strftime('%Y/%m/%d %H:%M:%S')\n"
                   "    out.write(t + ':' + ('' if v is None else str(v)) + '|')\n"
                   "  out.write('\\n')\n",
                   "list.xlsx"),
            typed);

  // The PDF: the header on the page, the captions, every row (the text
  // comes back without its blanks).
  Run(form_->actPrint, "list.pdf");
  const std::string text =
      ReadBack("pdftotext " + dir + "/list.pdf - | tr -d ' ' | iconv -f UTF-8 -t GBK");
  for (const char* expected : {"小额支付日志查询", "第1页/共1页", "涉及金额", "4711",
                               "202612070000001", "1234.56", "营业厅", "1999/01/31"})
    EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
  EXPECT_TRUE(recorder.messages.empty());
  // Each recorded before it was written.
  EXPECT_EQ(exports,
            (std::vector<std::string>{"log saved csv 3", "log saved xlsx 3", "log printed pdf 3"}));

  // Refused by the back office: its failure box, and no file.
  exportResult = 1009;
  Run(form_->actSaveAs, "refused.csv");
  EXPECT_FALSE(Exists("refused.csv"));
  ASSERT_EQ(recorder.messages.size(), 1u);
  EXPECT_EQ(recorder.messages[0].text.rfind("导出列表失败\n", 0), 0u);
  EXPECT_EQ(recorder.messages[0].flags, kError);
}

TEST_F(QueryWindowOutputTest, CancelAndFailuresLeaveNoFile) {
  for (int i = 0; i < 3000; ++i)
    logRows.push_back(LogRow(i, 1332, i, QRSDateTime(2026, 1, 1, 0, 0, 0), "备注"));
  Click(form_->chkSoDate);
  Query();
  ASSERT_EQ(form_->lvstShow->Items()->Count(), 3000);
  recorder.cancelAt = 2048;
  for (const char* name : {"list.csv", "list.xlsx", "list.pdf"}) {
    Run(std::string(name) == "list.pdf" ? form_->actPrint : form_->actSaveAs, name);
    EXPECT_FALSE(Exists(name)) << name;
  }
  EXPECT_EQ(std::system(("test -z \"$(ls -A " + dir + ")\"").c_str()), 0);  // no temporary file
  EXPECT_TRUE(recorder.messages.empty());
  recorder.cancelAt = -1;

  // A folder that is not there: a box that says why, and no file.
  Run(form_->actSaveAs, "missing/list.xlsx");
  ASSERT_EQ(recorder.messages.size(), 1u);
  EXPECT_NE(recorder.messages[0].text.find("No such file"), std::string::npos);
  EXPECT_EQ(recorder.messages[0].flags, kError);
}

TEST_F(QueryWindowTest, TheCloseButtonFreesTheWindow) {
  Click(form_->BtnExit);
  Application()->ProcessMessages();
  EXPECT_TRUE(destroyed_);
}

}  // namespace
