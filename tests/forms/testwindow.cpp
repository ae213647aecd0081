#include "testwindow.h"

#include "../support/layout_item.h"

namespace {

TFormLayout TestLayout() {
  return TFormLayout{
      .Name = "frmTestChild",
      // A derived colour that the base window's wiring overrides.
      .Properties = {{"Caption", "测试业务窗口"}, {"Color", std::to_string(clWhite)}},
      .Events = {},
      .Items = {
          Item("grbConditions", "TGroupBox", "", "查询条件", 8, 8, 420, 150),
          Item("edtNumber", "TEdit", "grbConditions", "", 8, 24, 120, 21, {},
               {{"OnKeyPress", "OnEditKeyPress"}}),
          Item("edtDecimal", "TEdit", "grbConditions", "", 136, 24, 120, 21, {},
               {{"OnKeyPress", "OnEditKeyPressDeciPoint"}}),
          Item("edtRange", "TEdit", "grbConditions", "", 264, 24, 120, 21, {},
               {{"OnKeyPress", "OnEditKeyPressTraverse"}}),
          Item("edtText", "TEdit", "grbConditions", "", 8, 56, 120, 21, {},
               {{"OnKeyPress", "OnEditKeyPressTraverseChar"}}),
          Item("edtEmail", "TEdit", "grbConditions", "", 136, 56, 120, 21, {},
               {{"OnKeyPress", "OnEditKeyPressEmail"}}),
          Item("edtDisabled", "TEdit", "grbConditions", "", 264, 56, 100, 21),
          Item("ledtName", "TLabeledEdit", "grbConditions", "", 8, 110, 120, 21),
          Item("cmbType", "TComboBox", "grbConditions", "", 136, 110, 120, 20),
          Item("pnlButtons", "TPanel", "", "", 8, 166, 420, 40),
          Item("cmbPanel", "TComboBox", "pnlButtons", "", 8, 8, 120, 20),
          Item("btnExit", "TBitBtn", "pnlButtons", "", 136, 8, 80, 24,
               {{"Action", "actExit"}, {"TabStop", "False"}}),
          Item("lvstResult", "TListView", "", "", 8, 214, 600, 180),
          Item("lvstBound", "TListView", "", "", 8, 400, 300, 60, {},
               {{"OnColumnClick", "lvstBoundColumnClick"}}),
      }};
}

}  // namespace

TfrmTestChild::TfrmTestChild(TComponent* Owner) : TfrmMDIChild(Owner, TDerivedConstruction{}) {
  THandlerTable handlers;
  PublishHandlers(handlers);
  handlers.Add("lvstBoundColumnClick", this, &TfrmTestChild::lvstBoundColumnClick);
  ReadLayout(TestLayout(), handlers);
  auto find = [this]<class T>(T*& member, const char* name) {
    member = dynamic_cast<T*>(FindComponent(name));
  };
  find(grbConditions, "grbConditions");
  find(edtNumber, "edtNumber");
  find(edtDecimal, "edtDecimal");
  find(edtRange, "edtRange");
  find(edtText, "edtText");
  find(edtEmail, "edtEmail");
  find(edtDisabled, "edtDisabled");
  find(ledtName, "ledtName");
  find(cmbType, "cmbType");
  find(pnlButtons, "pnlButtons");
  find(cmbPanel, "cmbPanel");
  find(btnExit, "btnExit");
  find(lvstResult, "lvstResult");
  find(lvstBound, "lvstBound");
  edtDisabled->SetEnabled(false);
  ledtName->SetLabelCaption("姓名");
  lvstResult->SetViewStyle(vsReport);
  lvstBound->SetViewStyle(vsReport);

  // A frame owns its controls; the services reach them through the frame.
  fraDetail = new TFrame(this);
  fraDetail->SetName("fraDetail");
  fraDetail->SetParent(this);
  fraDetail->SetBounds(440, 8, 190, 200);
  lvstFrame = new TListView(fraDetail);
  lvstFrame->SetName("lvstFrame");
  lvstFrame->SetParent(fraDetail);
  lvstFrame->SetViewStyle(vsReport);
  lvstFrame->SetBounds(4, 4, 180, 100);
  edtFrame = new TEdit(fraDetail);
  edtFrame->SetName("edtFrame");
  edtFrame->SetParent(fraDetail);
  edtFrame->SetBounds(4, 110, 80, 21);
  cmbFrame = new TComboBox(fraDetail);
  cmbFrame->SetName("cmbFrame");
  cmbFrame->SetParent(fraDetail);
  cmbFrame->SetBounds(4, 140, 120, 20);
  EndLayout();
}

TfrmTestChild::~TfrmTestChild() {
  if (destroyed != nullptr) *destroyed = true;
}

void TfrmTestChild::lvstBoundColumnClick(TObject*, TListColumn*) {
  ++boundColumnClicks;
}

void FillList(TListView* listView, const std::vector<std::pair<std::string, intptr_t>>& columns,
              const std::vector<std::vector<std::string>>& rows) {
  for (const auto& [caption, kind] : columns) {
    TListColumn* column = listView->Columns()->Add();
    column->SetCaption(caption);
    column->SetTag(kind);
  }
  for (const auto& row : rows) {
    TListItem* item = listView->Items()->Add();
    for (size_t c = 1; c < row.size(); ++c) item->SubItems()->Add(row[c]);
    item->SetCaption(row[0]);
  }
}

std::vector<std::string> Captions(TListView* listView) {
  std::vector<std::string> captions;
  for (int i = 0; i < listView->Items()->Count(); ++i)
    captions.push_back(listView->Items()->Item(i)->Caption());
  return captions;
}
