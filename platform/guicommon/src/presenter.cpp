#include "guicommon/presenter.h"

#include <cstdio>

#include "guicommon/guicommon.h"
#include "tmclient/text_escape.h"

namespace {

// Used when nothing else is installed: a process without a display still
// leaves a trace of its messages.
const char* OrEmpty(const char* text);

class CStderrPresenter : public IGUIPresenter {
 public:
  int ShowMessage(const char* text, const char* caption, int) override {
    std::fprintf(stderr, "[%s] %s\n", tmclient::Escaped(OrEmpty(caption)).c_str(),
                 tmclient::Escaped(OrEmpty(text)).c_str());
    return 1;
  }
  void ShowWaitBox(const char*) override {}
  void UpdateWaitBox(const char*) override {}
  void CloseWaitBox() override {}
};

CStderrPresenter gBuiltinPresenter;
IGUIPresenter* gDefaultPresenter = nullptr;
IGUIPresenter* gInstalledPresenter = nullptr;

const char* OrEmpty(const char* text) {
  return text ? text : "";
}

}  // namespace

IGUIPresenter::~IGUIPresenter() = default;

bool IGUIPresenter::AskSaveFileName(const char*, std::string&) {
  return false;
}

int IGUIPresenter::AskPrintTarget(const char*, std::string&) {
  return kPrintCancelled;
}

void IGUIPresenter::ShowProgress(const char*, int64_t) {}

bool IGUIPresenter::UpdateProgress(int64_t) {
  return true;
}

void IGUIPresenter::CloseProgress() {}

IGUIPresenter* SetGUIPresenter(IGUIPresenter* presenter) {
  IGUIPresenter* previous = gInstalledPresenter;
  gInstalledPresenter = presenter;
  return previous;
}

IGUIPresenter* GetGUIPresenter() {
  if (gInstalledPresenter) return gInstalledPresenter;
  if (gDefaultPresenter) return gDefaultPresenter;
  return &gBuiltinPresenter;
}

IGUIPresenter* SetDefaultGUIPresenter(IGUIPresenter* presenter) {
  IGUIPresenter* previous = gDefaultPresenter;
  gDefaultPresenter = presenter;
  return previous;
}

CScopedGUIPresenter::CScopedGUIPresenter(IGUIPresenter* presenter)
    : pPrevious(SetGUIPresenter(presenter)) {}

CScopedGUIPresenter::~CScopedGUIPresenter() {
  SetGUIPresenter(pPrevious);
}

int ShowGUIMessage(const char* text, const char* caption, int flags) {
  return GetGUIPresenter()->ShowMessage(OrEmpty(text), OrEmpty(caption), flags);
}

void ShowWaitBox(const char* text) {
  GetGUIPresenter()->ShowWaitBox(OrEmpty(text));
}

void UpdateWaitBox(const char* text) {
  GetGUIPresenter()->UpdateWaitBox(OrEmpty(text));
}

void CloseWaitBox() {
  GetGUIPresenter()->CloseWaitBox();
}

int CRecordingPresenter::ShowMessage(const char* text, const char* caption, int flags) {
  messages.push_back({text, caption, flags});
  messageUnderWaitBox.push_back(waitBoxOpen);
  return 1;
}

void CRecordingPresenter::ShowWaitBox(const char* text) {
  waitTexts.emplace_back(text);
  waitBoxOpen = true;
  ++waitBoxShows;
}

void CRecordingPresenter::UpdateWaitBox(const char* text) {
  waitTexts.emplace_back(text);
}

void CRecordingPresenter::CloseWaitBox() {
  waitBoxOpen = false;
  ++waitBoxCloses;
}

bool CRecordingPresenter::AskSaveFileName(const char* caption, std::string& path) {
  questions.push_back(std::string("save ") + caption);
  if (saveAnswer) path = savePath;
  return saveAnswer;
}

int CRecordingPresenter::AskPrintTarget(const char* caption, std::string& path) {
  questions.push_back(std::string("print ") + caption);
  path = printPath;
  return printAnswer;
}

void CRecordingPresenter::ShowProgress(const char*, int64_t) {
  ++progressShows;
}

bool CRecordingPresenter::UpdateProgress(int64_t done) {
  return cancelAt < 0 || done < cancelAt;
}

void CRecordingPresenter::CloseProgress() {
  ++progressCloses;
}
