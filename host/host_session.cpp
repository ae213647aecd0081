#include "host_session.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "guicommon/guicommon.h"
#include "tmclient/broker_resolver.h"
#include "toolkit/application.h"
#include "toolkit/forms.h"
#include "toolkit/qtext.h"
#include "toolkit/winapi.h"

namespace {

std::string Utf8(const std::string& gbk) {
  return GbkToQString(gbk).toStdString();
}

std::vector<TForm*> MdiChildren() {
  std::vector<TForm*> forms;
  TApplication* app = Application();
  for (int i = 0; i < app->MDIChildCount(); ++i) forms.push_back(app->MDIChildren(i));
  return forms;
}

}  // namespace

CHostSession::CHostSession(MSysmgntDef::SOperator op) : sOperator(std::move(op)) {}

void CHostSession::ShowProblem(const std::string& problem) {
  bHadProblems = true;
  std::fprintf(stderr, "mpay-host: %s\n", problem.c_str());
  ShowGUIMessage(QStringToGbk(QString::fromStdString(problem)).c_str(), kHostTitle, MB_ICONERROR);
}

void CHostSession::Report(const std::string& problem) {
  ShowProblem(problem);
}

bool CHostSession::AddModule(const std::string& path) {
  CLoadedModule module;
  std::string problem;
  if (!LoadModule(path, module, problem)) {
    ShowProblem(problem);
    return false;
  }
  qModules.push_back(std::move(module));
  const CLoadedModule& added = qModules.back();
  for (const int id : added.vIds) vBusinesses.push_back({id, &added, {}});
  return true;
}

const CBusiness* CHostSession::FindBusiness(int id) const {
  for (const CBusiness& business : vBusinesses) {
    if (business.iId == id) return &business;
  }
  return nullptr;
}

TForm* CHostSession::OpenBusiness(int id, std::string& problem) {
  auto* business = const_cast<CBusiness*>(FindBusiness(id));
  if (business == nullptr) {
    problem = "没有业务 " + std::to_string(id);
    return nullptr;
  }
  const std::string& file = business->pModule->strFileName;
  const std::vector<TForm*> before = MdiChildren();
  intptr_t window = 0;
  try {
    window = business->pModule->pCreateBusinessForm(0, &sOperator);
  } catch (const std::exception& e) {
    // Exception texts of the modules are GBK, as everything they show.
    problem =
        "模块 " + file + " 创建业务 " + std::to_string(id) + " 的窗口时出错：" + Utf8(e.what());
  } catch (...) {
    problem = "模块 " + file + " 创建业务 " + std::to_string(id) + " 的窗口时出错";
  }
  if (problem.empty() && window == 0) {
    problem = "模块 " + file + " 没有创建业务 " + std::to_string(id) + " 的窗口";
  }
  // The reference is opaque; the window is the MDI child that was not
  // there before.
  TForm* form = nullptr;
  if (problem.empty()) {
    for (TForm* child : MdiChildren()) {
      if (std::find(before.begin(), before.end(), child) == before.end()) form = child;
    }
    if (form == nullptr) {
      problem = "模块 " + file + " 为业务 " + std::to_string(id) + " 创建的窗口不在主窗口中";
    }
  }
  if (!problem.empty()) {
    ShowProblem(problem);
    return nullptr;
  }
  business->strCaption = form->Caption();
  return form;
}

std::string CHostSession::AboutText() const {
  std::string text = "小额支付业务主机 mpay-host\n";
  if (qModules.empty()) text += "\n没有加载模块。\n";
  for (const CLoadedModule& module : qModules) {
    text += "\n" + module.strFileName + "\n  版本：" +
            (module.strVersion.empty() ? std::string("（空）") : Utf8(module.strVersion)) +
            "\n  业务：";
    for (size_t i = 0; i < module.vIds.size(); ++i) {
      text += (i ? ", " : "") + std::to_string(module.vIds[i]);
    }
    text += "\n";
  }
  std::string origin;
  const std::string url = ModuleBrokerUrl(&origin);
  text += "\n" + std::string(kModuleBroker) + "：" + url;
  if (!origin.empty()) text += "\n  来自：" + origin;
  return text + "\n";
}

std::string CHostSession::StatusText() const {
  return "操作员 " + std::to_string(sOperator.OP_ID) + " " + Utf8(sOperator.OP_NAME) + "    " +
         kModuleBroker + ": " + ModuleBrokerUrl();
}

std::string ModuleBrokerUrl(std::string* origin) {
  std::string url, from;
  if (tmclient::ResolveBroker(kModuleBroker, url, &from) != 0) url = "（未配置）";
  if (origin) *origin = from;
  return url;
}

std::string ModuleBrokerText() {
  std::string url, origin;
  std::string text = "broker ";
  text += kModuleBroker;
  if (tmclient::ResolveBroker(kModuleBroker, url, &origin) != 0)
    return text + " cannot be resolved (see above)";
  return text + " is " + url + " (from " + origin + ")";
}
