#pragma once

#include <memory>

#include "forms/formmdichild.h"
#include "forms/lookup.h"
#include "records/mmicropaymentdef.h"
#include "records/msysmgntdef.h"
#include "service/micro_pay_log_qry.h"

class TBitBtn;
class TCheckBox;
class TComboBox;
class TDateTimePicker;
class TEdit;
class TGroupBox;
class TListView;
class TPanel;
struct SListExportRecord;
struct SListOutput;

// The query window's controls as C(class, NAME) and the handlers its layout
// binds by name as H(NAME), each in layout order: the members, their binding
// and the published handlers all come from these two lists.
#define MPAY_QUERY_WINDOW_CONTROLS(C) \
  C(TGroupBox, grbQryConds)           \
  C(TCheckBox, chkSono)               \
  C(TEdit, edtSono)                   \
  C(TCheckBox, chkBusiType)           \
  C(TComboBox, cmbBusiType)           \
  C(TCheckBox, chkSoDate)             \
  C(TDateTimePicker, dtpBeginDate)    \
  C(TDateTimePicker, dtpBeginTime)    \
  C(TDateTimePicker, dtpEndDate)      \
  C(TDateTimePicker, dtpEndTime)      \
  C(TCheckBox, chkMobilno)            \
  C(TEdit, edtMobilno)                \
  C(TBitBtn, btnQuery)                \
  C(TCheckBox, chkQryUser)            \
  C(TGroupBox, grbShow)               \
  C(TListView, lvstShow)              \
  C(TPanel, pnlBottom)                \
  C(TBitBtn, BtnExit)
#define MPAY_QUERY_WINDOW_HANDLERS(H) \
  H(chkSonoClick)                     \
  H(chkBusiTypeClick)                 \
  H(chkSoDateClick)                   \
  H(chkMobilnoClick)                  \
  H(chkQryUserClick)                  \
  H(btnQueryClick)

// The micro-payment log query window "小额支付日志查询". In log query mode
// the operator combines a service-order number (alone), a business type, an
// acceptance time range and a mobile number; in user query mode (while
// chkQryUser is ticked) a mobile number only. The query button checks the
// conditions, asks the back office through the facade and fills lvstShow.
class TfrmMicroPayLogQueryMain : public TfrmMDIChild {
 public:
  // Builds the window from its layout and opens it; log query mode is
  // selected by Init.
  explicit TfrmMicroPayLogQueryMain(TComponent* Owner);
  ~TfrmMicroPayLogQueryMain() override;

  // Behind a wait box: builds the business types and their lookup, hands the
  // operator's context to the facade, fills cmbBusiType, binds the result
  // list's services, sets both dates to today and selects log query mode.
  // The wait box is closed on every way out; an exception goes on to the
  // caller. True when it returns.
  bool Init(const MSysmgntDef::SOperator& op);

  // Owned by the window through its layout; bound by name when it is read.
#define MPAY_QUERY_WINDOW_CONTROL_MEMBER_(T, NAME) T* NAME = nullptr;
  MPAY_QUERY_WINDOW_CONTROLS(MPAY_QUERY_WINDOW_CONTROL_MEMBER_)
#undef MPAY_QUERY_WINDOW_CONTROL_MEMBER_

  // Handlers the layout binds. A ticked service-order number stands alone;
  // the other three conditions combine.
  void chkSonoClick(TObject* Sender);
  void chkBusiTypeClick(TObject* Sender);
  void chkSoDateClick(TObject* Sender);
  void chkMobilnoClick(TObject* Sender);
  // Switches between log query mode (unticked) and user query mode.
  void chkQryUserClick(TObject* Sender);
  // Empties the list, checks the conditions, rebuilds the columns of the
  // current mode and runs the query.
  void btnQueryClick(TObject* Sender);

  // True when the query may run; otherwise the operator was told why (caption
  // "提示", information icon) and the focus moved to the control to mend.
  bool CheckQueryConditions();
  void ClearListView();
  // The seven log columns or the eleven user columns, each 100 wide. True.
  bool InitListColumns();
  // The log query's conditions from the ticked boxes; the others keep their
  // "no condition" values. Throws EConvertError when edtSono holds no number.
  void BuildQueryCond(MpQryCondList& cond);
  // One row per record, or "没有符合条件的记录！" for none.
  void ShowLogList(MMicroPaymentDef::SMpInfoList& list);
  void ShowUserList(MMicroPaymentDef::SMpUserInfoList& list);

  // True in log query mode.
  bool QueryLogMode() const {
    return bQryLog;
  }

 private:
  // What saving and printing lvstShow need (AttachListOutput).
  void DescribeListOutput(SListOutput& output);
  // Records the export before anything is written or printed.
  bool PermitListExport(const SListExportRecord& record);
  // The conditions of the query about to run, as the audit and the printed
  // pages show them (GBK).
  std::string DescribeConditions(const MpQryCondList* cond) const;
  void LoadBaseData();
  void BuildBusiTypeList();
  void InitControls();
  bool HasQueryCondition() const;

  CMicroPayLogQry cMicroPayLogQry;
  TCNameCodeInfoList lstBusiType;
  std::unique_ptr<CBasicLookup<TCNameCodeInfoList>> pBusiTypeLookup;
  bool bQryLog = false;
  // The operator ("OP_ID OP_NAME", GBK), and the list the last query filled:
  // its name and its conditions.
  std::string sOperatorText;
  std::string sListName;
  std::string sListConditions;
};
