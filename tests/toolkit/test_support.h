#pragma once

#include "guicommon/presenter.h"
#include "toolkit/application.h"

// Every toolkit test runs with the recording presenter, so error boxes are
// recorded instead of shown.
class ToolkitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TApplication::Instance();
    previous_ = SetGUIPresenter(&recorder);
  }
  void TearDown() override {
    TApplication::Instance()->ProcessMessages();
    SetGUIPresenter(previous_);
  }
  CRecordingPresenter recorder;

 private:
  IGUIPresenter* previous_ = nullptr;
};
