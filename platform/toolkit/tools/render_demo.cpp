// Renders a small form built from a layout to a PNG file, offscreen:
//   QT_QPA_PLATFORM=offscreen toolkit-render-demo demo.png

#include <cstdio>
#include <string>

#include "demo_layout.h"
#include "toolkit/toolkit.h"

namespace {

// The window around the demo layout: its size, colour and style.
const TFormLayout kDemoWindow = {.Name = "frmDemo",
                                 .Properties = {{"ClientWidth", "616"},
                                                {"ClientHeight", "480"},
                                                {"Color", "16766925"},
                                                {"FormStyle", "fsMDIChild"},
                                                {"Visible", "true"}}};

class TfrmDemo : public TForm {
 public:
  explicit TfrmDemo(TComponent* owner) : TForm(owner) {
    THandlerTable handlers;
    handlers.Add("chkSonoClick", this, &TfrmDemo::chkSonoClick);
    handlers.Add("OnEditKeyPress", this, &TfrmDemo::OnEditKeyPress);
    ReadLayout(kDemoWindow, THandlerTable());
    ReadLayout(DemoQueryLayout(), handlers);
    EndLayout();
  }

 private:
  // The order number can be typed while its condition is ticked.
  void chkSonoClick(TObject* sender) {
    auto* edit = static_cast<TControl*>(FindComponent("edtSono"));
    edit->SetEnabled(static_cast<TCheckBox*>(sender)->Checked());
  }
  void OnEditKeyPress(TObject*, char& key) {
    if ((key < '0' || key > '9') && key != '\b') key = 0;
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
