// Renders a small form built from a layout to a PNG file, offscreen:
//   QT_QPA_PLATFORM=offscreen toolkit-render-demo demo.png

#include <cstdio>
#include <string>

#include "toolkit/toolkit.h"

namespace {

const TFormLayout kDemoLayout = {
    .Name = "frmDemo",
    .Properties = {{"Caption", "小额支付日志查询"},
                   {"ClientWidth", "616"},
                   {"ClientHeight", "480"},
                   {"Color", "16766925"},
                   {"FormStyle", "fsMDIChild"},
                   {"Visible", "true"}},
    .Items = {
        {.Name = "grbQryConds",
         .Class = "TGroupBox",
         .Caption = "日志查询条件",
         .Left = 0,
         .Top = 0,
         .Width = 616,
         .Height = 105,
         .Properties = {{"Align", "alTop"}}},
        {.Name = "chkSono",
         .Class = "TCheckBox",
         .Parent = "grbQryConds",
         .Caption = "工单编号：",
         .Left = 62,
         .Top = 19,
         .Width = 73,
         .Height = 17},
        {.Name = "edtSono",
         .Class = "TEdit",
         .Parent = "grbQryConds",
         .Left = 141,
         .Top = 17,
         .Width = 156,
         .Height = 20,
         .Properties = {{"Text", "100000000000123"}}},
        {.Name = "chkBusiType",
         .Class = "TCheckBox",
         .Parent = "grbQryConds",
         .Caption = "业务类型：",
         .Left = 310,
         .Top = 19,
         .Width = 73,
         .Height = 17,
         .Properties = {{"Checked", "true"}}},
        {.Name = "cmbBusiType",
         .Class = "TComboBox",
         .Parent = "grbQryConds",
         .Left = 388,
         .Top = 17,
         .Width = 190,
         .Height = 20,
         .Properties = {{"Items", "[1332] 小额支付冻结|[1333] 小额支付解冻"}, {"ItemIndex", "0"}}},
        {.Name = "chkSoDate",
         .Class = "TCheckBox",
         .Parent = "grbQryConds",
         .Caption = "受理日期：",
         .Left = 62,
         .Top = 49,
         .Width = 75,
         .Height = 17},
        {.Name = "dtpBeginDate",
         .Class = "TDateTimePicker",
         .Parent = "grbQryConds",
         .Left = 141,
         .Top = 47,
         .Width = 86,
         .Height = 20,
         .Properties = {{"Format", "yyyy-MM-dd"}, {"Date", "2026-12-07"}}},
        {.Name = "dtpBeginTime",
         .Class = "TDateTimePicker",
         .Parent = "grbQryConds",
         .Left = 224,
         .Top = 47,
         .Width = 75,
         .Height = 20,
         .Properties = {{"Kind", "dtkTime"}, {"Format", "HH:mm:ss"}, {"Time", "00:00:00"}}},
        {.Name = "chkMobilno",
         .Class = "TCheckBox",
         .Parent = "grbQryConds",
         .Caption = "手机号码：",
         .Left = 310,
         .Top = 49,
         .Width = 73,
         .Height = 17},
        {.Name = "edtMobilno",
         .Class = "TEdit",
         .Parent = "grbQryConds",
         .Left = 388,
         .Top = 47,
         .Width = 190,
         .Height = 20},
        {.Name = "chkQryUser",
         .Class = "TCheckBox",
         .Parent = "grbQryConds",
         .Caption = "用户信息",
         .Left = 310,
         .Top = 78,
         .Width = 83,
         .Height = 17},
        {.Name = "btnQuery",
         .Class = "TBitBtn",
         .Parent = "grbQryConds",
         .Left = 511,
         .Top = 73,
         .Width = 67,
         .Height = 26,
         .Properties = {{"Glyph", "stock:query"}}},
        {.Name = "grbShow",
         .Class = "TGroupBox",
         .Left = 0,
         .Top = 105,
         .Width = 616,
         .Height = 330,
         .Properties = {{"Align", "alClient"}}},
        {.Name = "lvstShow",
         .Class = "TListView",
         .Parent = "grbShow",
         .Left = 2,
         .Top = 14,
         .Width = 612,
         .Height = 314,
         .Properties = {{"Align", "alClient"},
                        {"ViewStyle", "vsReport"},
                        {"GridLines", "true"},
                        {"RowSelect", "true"},
                        {"ReadOnly", "true"},
                        {"Columns",
                         "工单编号:80|手机号码:80|业务类型:80|流水号:80|时间戳:80|"
                         "涉及金额:80|备注:128"}}},
        {.Name = "pnlBottom",
         .Class = "TPanel",
         .Left = 0,
         .Top = 435,
         .Width = 616,
         .Height = 45,
         .Properties = {{"Align", "alBottom"}, {"BevelOuter", "bvNone"}, {"ParentColor", "true"}}},
        {.Name = "BtnExit",
         .Class = "TBitBtn",
         .Parent = "pnlBottom",
         .Left = 533,
         .Top = 11,
         .Width = 67,
         .Height = 26,
         .Properties = {{"Glyph", "stock:close"}}},
    }};

class TfrmDemo : public TForm {
 public:
  explicit TfrmDemo(TComponent* owner) : TForm(owner) {
    ReadLayout(kDemoLayout, THandlerTable());
    EndLayout();
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE.png\n", argv[0]);
    return 2;
  }
  TApplication* app = Application();
  app->SetTitle("业务主窗口");
  app->ShowMainWindow();
  auto* form = new TfrmDemo(nullptr);
  auto* lv = static_cast<TListView*>(form->FindComponent("lvstShow"));
  const char* remarks[] = {"冻结", "解冻", "帐户存款"};
  for (int i = 0; i < 3; ++i) {
    TListItem* item = lv->Items()->Add();
    item->SubItems()->Add("1380013800" + std::to_string(i));
    item->SubItems()->Add(std::string("[133") + std::to_string(2 + i) + "] 小额支付" + remarks[i]);
    item->SubItems()->Add("MPP" + std::to_string(2026120700 + i));
    item->SubItems()->Add("2026/12/07 10:0" + std::to_string(i) + ":00");
    item->SubItems()->Add(std::to_string(15 * (i + 1)) + ".00");
    item->SubItems()->Add("测试备注");
    item->SetCaption(std::to_string(100000000000123 + i));
  }
  const bool ok = RenderToPng(form, argv[1]);
  delete form;
  if (!ok) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
