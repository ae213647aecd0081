// A small business module for the host's tests. One source builds five
// modules (see CMakeLists.txt), chosen by TEST_MODULE_* definitions: a good
// one with two businesses, and four broken ones.

#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "../support/layout_item.h"
#include "forms/formmdichild.h"
#include "forms/sortcompare.h"
#include "guicommon/guicommon.h"
#include "guicommon/list_output.h"
#include "guicommon/wait_box_guard.h"
#include "records/msysmgntdef.h"
#include "toolkit/toolkit.h"

#ifndef TEST_MODULE_FIRST_ID
#define TEST_MODULE_FIRST_ID 90001
#endif
#ifndef TEST_MODULE_COUNT
#define TEST_MODULE_COUNT 2
#endif

#define TEST_MODULE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Controls of every kind the script language drives.
TFormLayout TestLayout() {
  return TFormLayout{
      .Name = "frmHostTest",
      .Properties = {{"Caption", "测试业务"}},
      .Events = {},
      .Items = {
          Item("chkFlag", "TCheckBox", "", "标记", 8, 8, 80, 17, {}, {{"OnClick", "chkFlagClick"}}),
          Item("edtNumber", "TEdit", "", "", 96, 8, 120, 21, {{"MaxLength", "11"}},
               {{"OnKeyPress", "OnEditKeyPress"}}),
          Item("edtName", "TEdit", "", "", 224, 8, 160, 21),
          Item("cmbKind", "TComboBox", "", "", 8, 40, 120, 20, {{"Items", "甲|乙|丙"}}),
          Item("dtpDate", "TDateTimePicker", "", "", 136, 40, 100, 21,
               {{"Kind", "dtkDate"}, {"Format", "yyyy-MM-dd"}}),
          Item("dtpTime", "TDateTimePicker", "", "", 244, 40, 90, 21,
               {{"Kind", "dtkTime"}, {"Format", "HH:mm:ss"}}),
          Item("btnFill", "TBitBtn", "", "", 344, 36, 67, 26, {{"Glyph", "stock:query"}},
               {{"OnClick", "btnFillClick"}}),
          Item("lvstRows", "TListView", "", "", 8, 72, 400, 200,
               {{"ViewStyle", "vsReport"}, {"RowSelect", "true"}, {"ReadOnly", "true"}}),
          Item("BtnExit", "TBitBtn", "", "", 344, 280, 67, 26,
               {{"Glyph", "stock:close"}, {"Action", "actClose"}}),
      }};
}

class TfrmHostTest : public TfrmMDIChild {
 public:
  explicit TfrmHostTest(TComponent* Owner) : TfrmMDIChild(Owner, TDerivedConstruction{}) {
    THandlerTable handlers;
    PublishHandlers(handlers);
    handlers.Add("chkFlagClick", this, &TfrmHostTest::chkFlagClick);
    handlers.Add("btnFillClick", this, &TfrmHostTest::btnFillClick);
    ReadLayout(TestLayout(), handlers);
    EndLayout();
    // Saved and printed unless 标记 is ticked, which stands for a refusal.
    AttachListOutput(dynamic_cast<TListView*>(FindComponent("lvstRows")), [this](SListOutput& o) {
      o.sTitle = "测试业务";
      o.sList = "rows";
      o.fnPermit = [this](const SListExportRecord&) {
        if (!dynamic_cast<TCheckBox*>(FindComponent("chkFlag"))->Checked()) return true;
        ShowGUIMessage("没有导出的权限", "提示", 16);
        return false;
      };
    });
  }

  void chkFlagClick(TObject*) {
    auto* flag = dynamic_cast<TCheckBox*>(FindComponent("chkFlag"));
    if (flag->Checked()) ShowGUIMessage("已勾选", "提示", 64);
  }

  // Three rows under a wait box; refuses with a message and moves the focus
  // when no number was typed.
  void btnFillClick(TObject*) {
    auto* number = dynamic_cast<TEdit*>(FindComponent("edtNumber"));
    if (Trim(number->Text()).empty()) {
      ShowGUIMessage("请输入编号！", "提示", 64);
      number->SetFocus();
      return;
    }
    CWaitBoxGuard wait("正在查询，请稍候...");
    auto* rows = dynamic_cast<TListView*>(FindComponent("lvstRows"));
    rows->Items()->Clear();
    rows->Columns()->Clear();
    const struct {
      const char* caption;
      int width;
      intptr_t kind;
    } columns[] = {{"编号", 60, MBaseWindow::kColumnWholeNumber}, {"名称", 120, 0}};
    for (const auto& c : columns) {
      TListColumn* column = rows->Columns()->Add();
      column->SetCaption(c.caption);
      column->SetWidth(c.width);
      column->SetTag(c.kind);
    }
    const std::string typed = number->Text();
    const char* data[][2] = {{"2", "乙方"}, {"10", "甲方\t制表"}, {"1", typed.c_str()}};
    for (const auto& row : data) {
      TListItem* item = rows->Items()->Add();
      item->SetCaption(row[0]);
      item->SubItems()->Add(row[1]);
    }
  }
};

}  // namespace

TEST_MODULE_EXPORT int QueryCvsIntf(int, char* buffer) {
  if (buffer == nullptr) return -1;
  std::strcpy(buffer, "测试模块 1.0");
  return 0;
}

#ifndef TEST_MODULE_NO_GETMODULEID
TEST_MODULE_EXPORT int GetModuleId(int index) {
  if (index < 0) return TEST_MODULE_COUNT;
  return index < TEST_MODULE_COUNT ? TEST_MODULE_FIRST_ID + index : -1;
}
#endif

TEST_MODULE_EXPORT intptr_t CreateBusinessForm(intptr_t, const MSysmgntDef::SOperator* op) {
#if defined(TEST_MODULE_NULL_FORM)
  (void)op;
  return 0;
#elif defined(TEST_MODULE_THROWS)
  (void)op;
  throw std::runtime_error("初始化异常");
#else
  if (op == nullptr) return 0;
  auto* form = new TfrmHostTest(nullptr);
  // The operator's name, to show that the host's record arrived.
  dynamic_cast<TEdit*>(form->FindComponent("edtName"))->SetText(op->OP_NAME);
  return reinterpret_cast<intptr_t>(form);
#endif
}
