#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

// A fresh folder under the build tree (or /tmp), removed with the object.
class TempDir {
 public:
  TempDir() {
    const char* base = std::getenv("MPAY_BUILD_DIR");
    std::string tmpl = std::string(base ? base : "/tmp") + "/bo-test-XXXXXX";
    strPath = mkdtemp(tmpl.data()) ? tmpl : std::string();
  }
  ~TempDir() {
    std::error_code ec;
    if (!strPath.empty()) std::filesystem::remove_all(strPath, ec);
  }
  std::string File(const std::string& name) const { return strPath + "/" + name; }

 private:
  std::string strPath;
};
