#include "forms/formMicroPayLogQueryMain.h"

#include <string>

#include "guicommon/guicommon.h"
#include "guicommon/guiforms.h"
#include "guicommon/list_output.h"
#include "guicommon/wait_box_guard.h"
#include "ledgerkit/ledger_kit.h"
#include "querywindowcolumns.h"
#include "querywindowlayout.h"
#include "toolkit/comctrls.h"
#include "toolkit/extctrls.h"
#include "toolkit/layout.h"
#include "toolkit/stdctrls.h"
#include "tradekit/tradekit.h"

using namespace MMicroPaymentDef;

namespace {

constexpr char kHintCaption[] = "提示";
constexpr int kInformationIcon = 64;

// The business types of the log query, in the order the combo box lists them.
struct SBusiType {
  int code;
  const char* name;
};
constexpr SBusiType kBusiTypes[] = {
    {1332, "小额支付冻结"},     {1333, "小额支付解冻"},     {1334, "小额支付帐户信息修改"},
    {1335, "小额支付帐户改号"}, {1336, "小额支付帐户存款"}, {1337, "小额支付帐户取款(转预存)"},
};

// The 14-character stamp "yyyymmddHHmmss" of a date picker's date and a time
// picker's time; stamps compare as text.
std::string Stamp(const TDateTimePicker* date, const TDateTimePicker* time) {
  return FormatDateTime("yyyymmdd", date->Date()) + FormatDateTime("HHmmss", time->Time());
}

void Notify(const char* text) {
  ShowGUIMessage(text, kHintCaption, kInformationIcon);
}

}  // namespace

TfrmMicroPayLogQueryMain::TfrmMicroPayLogQueryMain(TComponent* Owner)
    : TfrmMDIChild(Owner, TDerivedConstruction{}) {
  THandlerTable handlers;
  PublishHandlers(handlers);
#define MPAY_QUERY_WINDOW_HANDLER_ADD_(NAME) \
  handlers.Add(#NAME, this, &TfrmMicroPayLogQueryMain::NAME);
  MPAY_QUERY_WINDOW_HANDLERS(MPAY_QUERY_WINDOW_HANDLER_ADD_)
#undef MPAY_QUERY_WINDOW_HANDLER_ADD_
  ReadLayout(QueryWindowLayout(), handlers);
#define MPAY_QUERY_WINDOW_CONTROL_BIND_(T, NAME) NAME = dynamic_cast<T*>(FindComponent(#NAME));
  MPAY_QUERY_WINDOW_CONTROLS(MPAY_QUERY_WINDOW_CONTROL_BIND_)
#undef MPAY_QUERY_WINDOW_CONTROL_BIND_
  EndLayout();
}

TfrmMicroPayLogQueryMain::~TfrmMicroPayLogQueryMain() = default;

bool TfrmMicroPayLogQueryMain::Init(const MSysmgntDef::SOperator& op) {
  CWaitBoxGuard waitBox("正在获取基础数据，请稍后...");
  LoadBaseData();
  cMicroPayLogQry.Init(op);
  sOperatorText = std::to_string(op.OP_ID) + " " + op.OP_NAME;
  UpdateWaitBox("正在初始化窗体，请稍后...");
  pBusiTypeLookup->FillComboBox(cmbBusiType);
  InitControls();
  return true;
}

void TfrmMicroPayLogQueryMain::LoadBaseData() {
  {
    CLedgerKit ledgerKit;
    ledgerKit.Initialize(0, 0, 0, 0, 0);
  }
  BuildBusiTypeList();
  using TLookup = CAutoLookup<TCNameCodeInfoList, decltype(&TCNameCodeInfo::GetCode),
                              decltype(&TCNameCodeInfo::GetName)>;
  pBusiTypeLookup =
      std::make_unique<TLookup>(lstBusiType, &TCNameCodeInfo::GetCode, &TCNameCodeInfo::GetName);
}

void TfrmMicroPayLogQueryMain::BuildBusiTypeList() {
  for (const SBusiType& type : kBusiTypes) lstBusiType.emplace_back(type.name, type.code);
}

void TfrmMicroPayLogQueryMain::InitControls() {
  // The base window's list services, bound with this window: the shared
  // frmMDIChild they were once taken from is never set.
  lvstShow->OnColumnClick = TLVColumnClickEvent(this, &TfrmMDIChild::OnListViewColumnClick);
  lvstShow->OnCompare = TLVCompareEvent(this, &TfrmMDIChild::OnListViewCompare);
  lvstShow->OnChange = TLVChangeEvent(this, &TfrmMDIChild::OnListViewChange);
  AttachListOutput(lvstShow, [this](SListOutput& output) { DescribeListOutput(output); });
  OnEditPaste(edtMobilno);
  OnEditPaste(edtSono);
  dtpBeginDate->SetDate(Today());
  dtpEndDate->SetDate(Today());
  bQryLog = true;
}

void TfrmMicroPayLogQueryMain::chkSonoClick(TObject*) {
  if (!chkSono->Checked()) return;
  chkBusiType->SetChecked(false);
  chkSoDate->SetChecked(false);
  chkMobilno->SetChecked(false);
}

void TfrmMicroPayLogQueryMain::chkBusiTypeClick(TObject*) {
  if (chkBusiType->Checked()) chkSono->SetChecked(false);
}

void TfrmMicroPayLogQueryMain::chkSoDateClick(TObject*) {
  if (chkSoDate->Checked()) chkSono->SetChecked(false);
}

void TfrmMicroPayLogQueryMain::chkMobilnoClick(TObject*) {
  if (chkMobilno->Checked()) chkSono->SetChecked(false);
}

void TfrmMicroPayLogQueryMain::chkQryUserClick(TObject*) {
  const bool userMode = chkQryUser->Checked();
  bQryLog = !userMode;
  for (TCheckBox* box : {chkBusiType, chkSono, chkSoDate}) {
    box->SetEnabled(!userMode);
    box->SetChecked(false);
  }
  chkMobilno->SetEnabled(!userMode);
  chkMobilno->SetChecked(userMode);
}

bool TfrmMicroPayLogQueryMain::HasQueryCondition() const {
  return chkSono->Checked() || chkBusiType->Checked() || chkMobilno->Checked() ||
         chkSoDate->Checked();
}

bool TfrmMicroPayLogQueryMain::CheckQueryConditions() {
  auto refuse = [](const char* text, TWinControl* focus) {
    Notify(text);
    focus->SetFocus();
    return false;
  };
  if (!HasQueryCondition()) return refuse("必须选择至少一项查询条件！", chkSono);
  if (chkMobilno->Checked()) {
    const std::string number = Trim(edtMobilno->Text());
    if (number.empty()) return refuse("你选择了用手机号码做条件，但没有输入号码值！", edtMobilno);
    if (!CheckMsisdn(number.c_str())) return refuse("手机号码格式不正确！", edtMobilno);
  }
  if (chkBusiType->Checked() && cmbBusiType->ItemIndex() < 0)
    return refuse("你选择了用业务类型做条件，但没有选择业务！", cmbBusiType);
  if (chkSono->Checked() && Trim(edtSono->Text()).empty())
    return refuse("你选择了用工单号做条件，但没有输入工单值！", edtSono);
  if (chkSoDate->Checked() && Stamp(dtpBeginDate, dtpBeginTime) > Stamp(dtpEndDate, dtpEndTime))
    return refuse("开始时间不能大于结束时间！", dtpBeginDate);
  return true;
}

void TfrmMicroPayLogQueryMain::btnQueryClick(TObject*) {
  ClearListView();
  if (!CheckQueryConditions()) return;
  InitListColumns();
  if (bQryLog) {
    MpQryCondList cond;
    BuildQueryCond(cond);
    sListName = "log";
    sListConditions = DescribeConditions(&cond);
    SMpInfoList list;
    if (cMicroPayLogQry.QueryMpSoList(cond, list)) ShowLogList(list);
  } else {
    SMpUserInfoList list;
    const std::string phoneId = edtMobilno->Text();
    sListName = "user";
    sListConditions = DescribeConditions(nullptr);
    if (cMicroPayLogQry.QueryMppUser(phoneId, list)) ShowUserList(list);
  }
}

void TfrmMicroPayLogQueryMain::ClearListView() {
  lvstShow->Items()->BeginUpdate();
  lvstShow->Items()->Clear();
  lvstShow->Items()->EndUpdate();
}

bool TfrmMicroPayLogQueryMain::InitListColumns() {
  if (bQryLog)
    SetListColumns(lvstShow->Columns(), LogColumns());
  else
    SetListColumns(lvstShow->Columns(), UserColumns());
  return true;
}

void TfrmMicroPayLogQueryMain::BuildQueryCond(MpQryCondList& cond) {
  cond.SO_NBR = 0;
  cond.BUSI_CODE = 0;
  cond.PHONE_ID.clear();
  if (chkSono->Checked()) cond.SO_NBR = StrToInt64(edtSono->Text());
  if (chkBusiType->Checked()) cond.BUSI_CODE = ExtractItemCode(cmbBusiType->Text().c_str());
  if (chkSoDate->Checked()) {
    cond.BEGIN_SO_DATE = QRSDateTime(Stamp(dtpBeginDate, dtpBeginTime));
    cond.END_SO_DATE = QRSDateTime(Stamp(dtpEndDate, dtpEndTime));
  }
  if (chkMobilno->Checked()) cond.PHONE_ID = edtMobilno->Text();
}

void TfrmMicroPayLogQueryMain::ShowLogList(SMpInfoList& list) {
  if (list.empty()) {
    Notify("没有符合条件的记录！");
    return;
  }
  AddListRows(lvstShow->Items(), LogColumns(), list, SCellContext{pBusiTypeLookup.get()});
}

void TfrmMicroPayLogQueryMain::ShowUserList(SMpUserInfoList& list) {
  if (list.empty()) {
    Notify("没有符合条件的记录！");
    return;
  }
  AddListRows(lvstShow->Items(), UserColumns(), list, SCellContext{pBusiTypeLookup.get()});
}

std::string TfrmMicroPayLogQueryMain::DescribeConditions(const MpQryCondList* cond) const {
  if (cond == nullptr) return "手机号码=" + edtMobilno->Text();
  std::string text;
  auto add = [&text](const char* name, const std::string& value) {
    if (!text.empty()) text += "; ";
    text += name;
    text += "=";
    text += value;
  };
  if (chkSono->Checked()) add("工单编号", std::to_string(cond->SO_NBR));
  if (chkBusiType->Checked()) add("业务类型", cmbBusiType->Text());
  if (chkSoDate->Checked()) {
    const std::string pattern = "%Y-%M-%D %H:%N:%S";
    add("受理时间",
        cond->BEGIN_SO_DATE.toString(pattern) + " 至 " + cond->END_SO_DATE.toString(pattern));
  }
  if (chkMobilno->Checked()) add("手机号码", cond->PHONE_ID);
  return text;
}

void TfrmMicroPayLogQueryMain::DescribeListOutput(SListOutput& output) {
  output.sTitle = Caption();
  output.sList = sListName;
  output.sConditions = sListConditions;
  output.sOperator = sOperatorText;
  output.vKinds = sListName == "user" ? ColumnKinds(UserColumns()) : ColumnKinds(LogColumns());
  output.fnPermit = [this](const SListExportRecord& record) { return PermitListExport(record); };
}

bool TfrmMicroPayLogQueryMain::PermitListExport(const SListExportRecord& record) {
  return cMicroPayLogQry.RecordListExport(record.sList, record.sConditions, record.iRows,
                                          record.sFormat, record.bPrinted);
}
