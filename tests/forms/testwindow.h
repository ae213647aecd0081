#pragma once

#include "forms/formmdichild.h"
#include "toolkit/toolkit.h"

// A small business window for the tests: edits with each key filter, a
// disabled edit, a labelled edit and combo boxes in a group box and a panel,
// an exit button, two list views (one whose column-click handler its layout binds), and a
// frame that owns a list view, an edit and a combo box of its own.
class TfrmTestChild : public TfrmMDIChild {
 public:
  explicit TfrmTestChild(TComponent* Owner);

  TGroupBox* grbConditions = nullptr;
  TEdit* edtNumber = nullptr;
  TEdit* edtDecimal = nullptr;
  TEdit* edtRange = nullptr;
  TEdit* edtText = nullptr;
  TEdit* edtEmail = nullptr;
  TEdit* edtDisabled = nullptr;
  TLabeledEdit* ledtName = nullptr;
  TComboBox* cmbType = nullptr;
  TPanel* pnlButtons = nullptr;
  TComboBox* cmbPanel = nullptr;
  TBitBtn* btnExit = nullptr;  // bound to actExit
  TListView* lvstResult = nullptr;
  TListView* lvstBound = nullptr;
  TFrame* fraDetail = nullptr;
  TListView* lvstFrame = nullptr;
  TEdit* edtFrame = nullptr;
  TComboBox* cmbFrame = nullptr;

  int boundColumnClicks = 0;
  bool* destroyed = nullptr;  // set when the window is destroyed

  void lvstBoundColumnClick(TObject* Sender, TListColumn* Column);
  // What the window is created with.
  TCreateParams WindowParams() {
    TCreateParams params;
    CreateParams(params);
    return params;
  }
  ~TfrmTestChild() override;
};

// Fills a report list view with columns (caption, kind) and rows of texts.
void FillList(TListView* listView, const std::vector<std::pair<std::string, intptr_t>>& columns,
              const std::vector<std::vector<std::string>>& rows);
// The first column's texts, top to bottom.
std::vector<std::string> Captions(TListView* listView);
