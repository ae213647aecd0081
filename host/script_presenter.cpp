#include "script_presenter.h"

#include <utility>

#include "script_text.h"
#include "toolkit/application.h"
#include "toolkit/qtext.h"

namespace {

CScriptPresenter* gToolkitBoxTarget = nullptr;

int ToolkitBox(const char* text, const char* caption, int flags) {
  return gToolkitBoxTarget->ShowMessage(text ? text : "", caption ? caption : "", flags);
}

std::string Field(const char* gbk) {
  return EscapeField(GbkToQString(gbk).toStdString());
}

}  // namespace

void CScriptOutput::Write(const std::vector<std::string>& fields) {
  rOut << OutputLine(fields);
  rOut.flush();
}

int DefaultButtonAnswer(int flags) {
  // Button groups in MB_... order, each with its buttons' answers (IDOK 1,
  // IDCANCEL 2, IDABORT 3, IDRETRY 4, IDIGNORE 5, IDYES 6, IDNO 7,
  // IDTRYAGAIN 10, IDCONTINUE 11).
  static constexpr int kAnswers[][3] = {
      {1, 1, 1}, {1, 2, 2}, {3, 4, 5}, {6, 7, 2}, {6, 7, 7}, {4, 2, 2}, {2, 10, 11},
  };
  int group = flags & 0x0F;
  int button = (flags >> 8) & 0x0F;  // MB_DEFBUTTON2 0x100, MB_DEFBUTTON3 0x200
  if (group >= 7) group = 0;
  if (button > 2) button = 0;
  return kAnswers[group][button];
}

int CScriptPresenter::ShowMessage(const char* text, const char* caption, int flags) {
  rOutput.Write({"message", Field(caption), std::to_string(flags), Field(text)});
  return DefaultButtonAnswer(flags);
}

bool CScriptPresenter::Answer(const char* caption, std::string& path) {
  const bool answered = !strNextFile.empty();
  if (answered) path = std::exchange(strNextFile, {});
  rOutput.Write({"dialog", Field(caption), answered ? EscapeField(path) : "cancelled"});
  return answered;
}

bool CScriptPresenter::AskSaveFileName(const char* caption, std::string& path) {
  return Answer(caption, path);
}

int CScriptPresenter::AskPrintTarget(const char* caption, std::string& path) {
  return Answer(caption, path) ? kPrintToPdf : kPrintCancelled;
}

void CScriptPresenter::ShowWaitBox(const char* text) {
  strWaitText = text;
  rOutput.Write({"wait", "show", Field(text)});
}

void CScriptPresenter::UpdateWaitBox(const char* text) {
  strWaitText = text;
  rOutput.Write({"wait", "update", Field(text)});
}

void CScriptPresenter::CloseWaitBox() {
  rOutput.Write({"wait", "close", Field(strWaitText.c_str())});
  strWaitText.clear();
}

void CScriptPresenter::CatchToolkitBoxes() {
  gToolkitBoxTarget = this;
  TApplication::SetMessageBoxProc(&ToolkitBox);
  bCatchingToolkitBoxes = true;
}

CScriptPresenter::~CScriptPresenter() {
  if (bCatchingToolkitBoxes) {
    TApplication::SetMessageBoxProc(nullptr);
    gToolkitBoxTarget = nullptr;
  }
}
