#include "module_loader.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

// The installed modules folder, relative to the program's own folder.
constexpr const char* kInstalledModules = "../lib/mpay/modules";

std::string FileNameOf(const std::string& path) {
  return fs::path(path).filename().string();
}

// A module's calls may throw across the C boundary; the host survives that
// and reports the module as broken.
template <class F>
bool Guarded(F&& call, std::string& what) {
  try {
    call();
    return true;
  } catch (const std::exception& e) {
    what = e.what();
  } catch (...) {
    what = "unknown exception";
  }
  return false;
}

// Fills the version text and the ids of `module` from its entry points.
bool ReadEntryPoints(TQueryCvsIntf queryCvsIntf, TGetModuleId getModuleId, CLoadedModule& module,
                     std::string& problem) {
  const std::string& file = module.strFileName;
  // The buffer's last byte stays NUL whatever the module writes before it.
  std::vector<char> version(kVersionTextSize + 1, '\0');
  int iCount = 0;
  std::vector<int> ids;
  std::string what;
  const bool ok = Guarded(
      [&] {
        if (queryCvsIntf(0, version.data()) != 0) version.assign(version.size(), '\0');
        iCount = getModuleId(-1);
        if (iCount < 0 || iCount > kMaxBusinessIds) return;
        for (int i = 0; i < iCount; ++i) ids.push_back(getModuleId(i));
      },
      what);
  if (!ok) {
    problem = "模块 " + file + " 的入口函数抛出异常：" + what;
    return false;
  }
  if (iCount < 0 || iCount > kMaxBusinessIds) {
    problem = "模块 " + file + " 已损坏：GetModuleId 报告 " + std::to_string(iCount) +
              " 个业务（应为 0 到 " + std::to_string(kMaxBusinessIds) + "）";
    return false;
  }
  module.strVersion.assign(version.data(), strnlen(version.data(), kVersionTextSize));
  module.vIds = std::move(ids);
  return true;
}

}  // namespace

// A library stays mapped even when it is refused: its static constructors
// may have registered things with the toolkit that unloading would leave
// dangling.
bool LoadModule(const std::string& path, CLoadedModule& module, std::string& problem) {
  CLoadedModule loaded;
  loaded.strPath = path;
  loaded.strFileName = FileNameOf(path);
  if (!TrustedForCode(path, problem)) return false;
  // A name without a slash would make dlopen search the library path: the
  // file meant is the one in the current folder.
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* error = dlerror();
    problem = "无法加载模块 " + loaded.strFileName + "：" + (error ? error : "dlopen failed");
    return false;
  }
  void* symbols[3] = {};
  static constexpr const char* kNames[3] = {kQueryCvsIntfName, kGetModuleIdName,
                                            kCreateBusinessFormName};
  for (int i = 0; i < 3; ++i) {
    dlerror();
    symbols[i] = dlsym(handle, kNames[i]);
    if (symbols[i] == nullptr) {
      problem = "模块 " + loaded.strFileName + " 缺少入口函数 " + kNames[i];
      return false;
    }
  }
  if (!ReadEntryPoints(reinterpret_cast<TQueryCvsIntf>(symbols[0]),
                       reinterpret_cast<TGetModuleId>(symbols[1]), loaded, problem)) {
    return false;
  }
  loaded.pCreateBusinessForm = reinterpret_cast<TCreateBusinessForm>(symbols[2]);
  module = std::move(loaded);
  return true;
}

std::vector<std::string> ModulesInFolder(const std::string& dir) {
  std::vector<std::string> paths;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& p = it->path();
    if (p.extension() == ".so" && it->is_regular_file(ec)) paths.push_back(p.string());
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

std::string DefaultModulesFolder(const std::string& exePath, const std::string& buildHost,
                                 const std::string& buildModules) {
  std::error_code ec;
  const fs::path exeDir = fs::weakly_canonical(fs::path(exePath).parent_path(), ec);
  const bool inBuildTree = !ec && exeDir == fs::weakly_canonical(buildHost, ec) && !ec;
  const fs::path dir =
      inBuildTree ? fs::path(buildModules) : (exeDir / kInstalledModules).lexically_normal();
  return fs::is_directory(dir, ec) ? dir.string() : std::string();
}

bool TrustedForCode(const std::string& path, std::string& problem) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return true;  // dlopen or the folder scan says why
  if (st.st_uid != 0 && st.st_uid != ::geteuid()) {
    problem = "拒绝加载 " + path + "：它属于其他用户（uid " + std::to_string(st.st_uid) + "）";
    return false;
  }
  if (st.st_mode & (S_IWGRP | S_IWOTH)) {
    problem = "拒绝加载 " + path + "：其他用户可以写入它";
    return false;
  }
  return true;
}
