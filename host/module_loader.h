#pragma once

#include <string>
#include <vector>

#include "module/entry_points.h"

// Where the build tree keeps the host program and the modules (absolute).
inline constexpr char kBuildHostFolder[] = MPAY_BUILD_HOST_DIR;
inline constexpr char kBuildModulesFolder[] = MPAY_BUILD_MODULES_DIR;

// A module claiming more business ids than this is refused as broken.
constexpr int kMaxBusinessIds = 1000;

// One module that loaded and answered its entry points. The library stays
// loaded for the life of the process: its windows may outlive any scope of
// the host.
struct CLoadedModule {
  std::string strPath;      // as given or found
  std::string strFileName;  // the last path component
  std::string strVersion;   // QueryCvsIntf's text, GBK bytes as the module wrote them
  std::vector<int> vIds;    // GetModuleId(0 .. count-1), in that order
  TCreateBusinessForm pCreateBusinessForm = nullptr;
};

// Whether code may be loaded from `path` (a module or its folder): it
// belongs to root or to this process's user, and no other user may write to
// it (neither its group nor others). Links are followed. On refusal returns
// false and sets `problem` to a UTF-8 sentence naming the path and why.
bool TrustedForCode(const std::string& path, std::string& problem);

// Loads the module at `path`: the trust check above, dlopen, the three entry
// points, the version text, the business ids (a negative index gives their
// count, then 0 .. count-1). On failure returns false and sets `problem` to a
// UTF-8 sentence naming the file and what is wrong with it (the missing
// symbol, the count), and nothing of the module stays in use.
bool LoadModule(const std::string& path, CLoadedModule& module, std::string& problem);

// The paths of the regular files ending in ".so" directly inside `dir`,
// sorted by name; empty when the folder cannot be read.
std::vector<std::string> ModulesInFolder(const std::string& dir);

// The modules folder of a host whose program is `exePath`, fixed when it was
// built: the build tree's module folder (`buildModules`) for the program in
// the build tree's host folder (`buildHost`), else the installed layout
// (<prefix>/bin/mpay-host with <prefix>/lib/mpay/modules). Never another
// folder: an installed host does not look where a build tree would be.
// Empty when the folder does not exist.
std::string DefaultModulesFolder(const std::string& exePath,
                                 const std::string& buildHost = kBuildHostFolder,
                                 const std::string& buildModules = kBuildModulesFolder);
