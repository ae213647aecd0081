#pragma once

#include <deque>
#include <string>
#include <vector>

#include "module_loader.h"
#include "records/msysmgntdef.h"

class TForm;

// One business a module offers: its id, the module, and the caption of its
// window once one was opened (GBK; empty before).
struct CBusiness {
  int iId = 0;
  const CLoadedModule* pModule = nullptr;
  std::string strCaption;
};

// What the host knows: the operator, the modules that loaded and their
// businesses. The same session serves the windowed host and the headless
// driver. It keeps no reference to the windows it opens: they free
// themselves when closed.
class CHostSession {
 public:
  explicit CHostSession(MSysmgntDef::SOperator sOperator);

  // Loads one module and adds its businesses. On failure shows the problem
  // in an error box (and on stderr), remembers it, and returns false.
  bool AddModule(const std::string& path);
  // Shows and remembers a problem of the host's own (no module found).
  void Report(const std::string& problem);

  // Opens a new window of business `id` with CreateBusinessForm(0,
  // &operator): returns it once it is in the MDI area. Returns null and
  // sets `problem` (UTF-8) when there is no such business, or when the
  // module made no window or threw; module failures are also shown in an
  // error box.
  TForm* OpenBusiness(int id, std::string& problem);

  // The business `id` (the first module's, when two offer it); null if none.
  const CBusiness* FindBusiness(int id) const;

  const MSysmgntDef::SOperator& Operator() const { return sOperator; }
  // The operator the next windows open with (after a sign-in).
  void SetOperator(MSysmgntDef::SOperator op) { sOperator = std::move(op); }
  const std::deque<CLoadedModule>& Modules() const { return qModules; }
  const std::vector<CBusiness>& Businesses() const { return vBusinesses; }
  // True once any module or host problem was reported.
  bool HadProblems() const { return bHadProblems; }

  // The About box's text (UTF-8): every module with its version text and
  // ids, and where the broker's URL came from.
  std::string AboutText() const;
  // The status line (UTF-8): the operator's id and name and the URL that the
  // broker name TALMIRON resolves to. Never the password.
  std::string StatusText() const;

 private:
  void ShowProblem(const std::string& problem);
  MSysmgntDef::SOperator sOperator;
  std::deque<CLoadedModule> qModules;  // addresses stay put as modules are added
  std::vector<CBusiness> vBusinesses;
  bool bHadProblems = false;
};

// The broker name the modules bind to, and the host signs in at.
inline constexpr const char* kModuleBroker = "TALMIRON";

// The URL kModuleBroker resolves to now, or "（未配置）" (UTF-8) when it
// cannot be resolved; `origin`, if given, says where the URL came from
// (ASCII; "" when unresolved).
std::string ModuleBrokerUrl(std::string* origin = nullptr);
// "broker TALMIRON is URL (from ORIGIN)", or why it cannot be resolved: the
// first line of a headless run's standard error (ASCII).
std::string ModuleBrokerText();

// The host's caption for its own boxes and its main window.
inline constexpr const char* kHostTitle = "mpay-host";
