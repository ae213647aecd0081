#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "guicommon/presenter.h"
#include "host_session.h"
#include "module_loader.h"
#include "operator_file.h"
#include "toolkit/application.h"
#include "toolkit/forms.h"
#include "toolkit/stdctrls.h"

namespace fs = std::filesystem;

namespace {

std::string TestModule(const char* name) {
  return std::string(HOST_TEST_MODULES_DIR) + "/libhostmod_" + name + ".so";
}

// A fresh folder, removed with the object.
class CScratchFolder {
 public:
  CScratchFolder() {
    std::string pattern = (fs::temp_directory_path() / "host-loader-XXXXXX").string();
    strPath = mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~CScratchFolder() {
    std::error_code ec;
    fs::remove_all(strPath, ec);
  }
  std::string Make(const std::string& relative, const char* content = nullptr) const {
    const fs::path path = fs::path(strPath) / relative;
    fs::create_directories(content ? path.parent_path() : path);
    if (content) std::ofstream(path) << content;
    return path.string();
  }
  std::string strPath;
};

TEST(ModuleLoader, ReadsVersionTextAndEveryId) {
  CLoadedModule module;
  std::string problem;
  ASSERT_TRUE(LoadModule(TestModule("good"), module, problem)) << problem;
  EXPECT_EQ(module.strFileName, "libhostmod_good.so");
  EXPECT_EQ(module.strVersion, "\xb2\xe2\xca\xd4\xc4\xa3\xbf\xe9 1.0");  // GBK "测试模块 1.0"
  EXPECT_EQ(module.vIds, (std::vector<int>{90001, 90002}));
  EXPECT_NE(module.pCreateBusinessForm, nullptr);
}

TEST(ModuleLoader, RefusesBrokenModulesNamingFileAndCause) {
  const struct {
    std::string path;
    std::vector<std::string> mentions;
  } cases[] = {
      {TestModule("nogetid"), {"libhostmod_nogetid.so", "GetModuleId"}},
      {TestModule("badcount"), {"libhostmod_badcount.so", "-5"}},
      {TestModule("missing"), {"libhostmod_missing.so"}},
  };
  for (const auto& c : cases) {
    CLoadedModule module;
    module.strFileName = "untouched";
    std::string problem;
    EXPECT_FALSE(LoadModule(c.path, module, problem)) << c.path;
    for (const std::string& text : c.mentions) {
      EXPECT_NE(problem.find(text), std::string::npos) << problem << " lacks " << text;
    }
    EXPECT_EQ(module.strFileName, "untouched") << "a refused module leaves the record alone";
  }
}

TEST(ModuleLoader, ANameWithoutAFolderIsAFileOfTheCurrentFolder) {
  const fs::path previous = fs::current_path();
  fs::current_path(HOST_TEST_MODULES_DIR);
  CLoadedModule module;
  std::string problem;
  EXPECT_TRUE(LoadModule("libhostmod_good.so", module, problem)) << problem;
  // Not a module of the current folder, though the library path has it.
  EXPECT_FALSE(LoadModule("libc.so.6", module, problem));
  fs::current_path(previous);
}

TEST(ModuleLoader, RefusesAFileThatIsNoLibrary) {
  CScratchFolder folder;
  const std::string path = folder.Make("libfake.so", "not an ELF file");
  CLoadedModule module;
  std::string problem;
  EXPECT_FALSE(LoadModule(path, module, problem));
  EXPECT_NE(problem.find("libfake.so"), std::string::npos) << problem;
}

TEST(ModuleLoader, FolderListsItsSharedObjectsInOrder) {
  CScratchFolder folder;
  const std::string b = folder.Make("libb.so", "");
  const std::string a = folder.Make("liba.so", "");
  folder.Make("notes.txt", "");
  folder.Make("libdir.so");  // a folder, not a module
  folder.Make("sub/libc.so", "");
  EXPECT_EQ(ModulesInFolder(folder.strPath), (std::vector<std::string>{a, b}));
  EXPECT_TRUE(ModulesInFolder(folder.strPath + "/absent").empty());
}

// The build tree's folder for the build tree's host only; an installed host
// never falls back to <prefix>/module.
TEST(ModuleLoader, TheModulesFolderIsTheOneFixedAtBuildTime) {
  CScratchFolder folder;
  const std::string exe = folder.strPath + "/bin/mpay-host";
  const std::string buildHost = folder.Make("build/host");
  const std::string buildModules = folder.Make("build/module");
  folder.Make("module");  // where a build tree's would be, beside an installed bin/
  EXPECT_EQ(DefaultModulesFolder(exe, buildHost, buildModules), "");
  const std::string installed = folder.Make("lib/mpay/modules");
  EXPECT_EQ(DefaultModulesFolder(exe, buildHost, buildModules), installed);
  EXPECT_EQ(DefaultModulesFolder(buildHost + "/mpay-host", buildHost, buildModules), buildModules);
}

// Code that another user may have written is never loaded: the folder or
// the library writable by others, or owned by another user.
TEST(ModuleLoader, RefusesCodeOthersMayWrite) {
  CScratchFolder folder;
  const std::string copy = folder.strPath + "/libhostmod_copy.so";
  fs::copy_file(TestModule("good"), copy);
  std::string problem;
  EXPECT_TRUE(TrustedForCode(folder.strPath, problem)) << problem;
  const std::pair<int, int> kModesAndOwners[] = {{0666, -1}, {0644, 65534}};
  for (const auto& [mode, owner] : kModesAndOwners) {
    ASSERT_EQ(::chmod(copy.c_str(), static_cast<mode_t>(mode)), 0);
    if (owner >= 0 && ::chown(copy.c_str(), static_cast<uid_t>(owner), -1) != 0) continue;
    CLoadedModule module;
    problem.clear();
    EXPECT_FALSE(LoadModule(copy, module, problem)) << mode;
    EXPECT_NE(problem.find(copy), std::string::npos) << problem;
    EXPECT_TRUE(module.vIds.empty());
  }
  ASSERT_EQ(::chmod(folder.strPath.c_str(), 0777), 0);
  EXPECT_FALSE(TrustedForCode(folder.strPath, problem));
  EXPECT_NE(problem.find(folder.strPath), std::string::npos) << problem;
}

// The session over the test modules: real windows in the toolkit's MDI
// area (offscreen), boxes recorded.
class HostSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Application()->ShowMainWindow();
    sOperator.set_OP_PASSWD("s3cr3t-pw");
  }
  void TearDown() override {
    for (int i = Application()->MDIChildCount() - 1; i >= 0; --i)
      Application()->MDIChildren(i)->Close();
    Application()->ProcessMessages();
  }
  CRecordingPresenter boxes;
  CScopedGUIPresenter scoped{&boxes};
  MSysmgntDef::SOperator sOperator = DemoOperator();
};

TEST_F(HostSessionTest, OpensSeparateWindowsOfOneBusiness) {
  CHostSession session(sOperator);
  ASSERT_TRUE(session.AddModule(TestModule("good")));
  ASSERT_EQ(session.Businesses().size(), 2u);
  EXPECT_TRUE(session.Businesses()[0].strCaption.empty());
  std::string problem;
  TForm* first = session.OpenBusiness(90001, problem);
  TForm* second = session.OpenBusiness(90001, problem);
  ASSERT_NE(first, nullptr) << problem;
  ASSERT_NE(second, nullptr) << problem;
  EXPECT_NE(first, second);
  EXPECT_EQ(Application()->MDIChildCount(), 2);
  EXPECT_EQ(session.FindBusiness(90001)->strCaption,
            "\xb2\xe2\xca\xd4\xd2\xb5\xce\xf1");  // 测试业务
  EXPECT_TRUE(session.FindBusiness(90002)->strCaption.empty());
  // The module read the host's record during the call.
  EXPECT_EQ(dynamic_cast<TEdit*>(first->FindComponent("edtName"))->Text(), sOperator.OP_NAME);
  EXPECT_TRUE(boxes.messages.empty());
  EXPECT_FALSE(session.HadProblems());
}

TEST_F(HostSessionTest, ReportsModuleFailuresInABox) {
  CHostSession session(sOperator);
  EXPECT_FALSE(session.AddModule(TestModule("nogetid")));
  ASSERT_TRUE(session.AddModule(TestModule("nullform")));
  ASSERT_EQ(boxes.messages.size(), 1u);
  EXPECT_EQ(boxes.messages[0].flags, 16);
  EXPECT_NE(boxes.messages[0].text.find("GetModuleId"), std::string::npos);

  std::string problem;
  EXPECT_EQ(session.OpenBusiness(90101, problem), nullptr);
  EXPECT_NE(problem.find("libhostmod_nullform.so"), std::string::npos) << problem;
  ASSERT_EQ(boxes.messages.size(), 2u);
  EXPECT_EQ(Application()->MDIChildCount(), 0);

  problem.clear();
  EXPECT_EQ(session.OpenBusiness(12345, problem), nullptr);
  EXPECT_NE(problem.find("12345"), std::string::npos);
  EXPECT_EQ(boxes.messages.size(), 2u) << "an unknown id is the caller's to report";
  EXPECT_TRUE(session.HadProblems());
}

TEST_F(HostSessionTest, AboutAndStatusTellModulesOperatorAndBroker) {
  setenv("TMCLIENT_BROKER_TALMIRON", "tcp://127.0.0.1:47999", 1);
  CHostSession session(sOperator);
  ASSERT_TRUE(session.AddModule(TestModule("good")));
  ASSERT_TRUE(session.AddModule(TestModule("nullform")));
  const std::string about = session.AboutText();
  for (const char* text :
       {"libhostmod_good.so", "测试模块 1.0", "90001, 90002", "libhostmod_nullform.so",
        "90101, 90102", "TALMIRON：tcp://127.0.0.1:47999",
        "来自：the environment variable TMCLIENT_BROKER_TALMIRON"}) {
    EXPECT_NE(about.find(text), std::string::npos) << about << " lacks " << text;
  }
  const std::string status = session.StatusText();
  EXPECT_NE(status.find("8001 演示操作员"), std::string::npos) << status;
  EXPECT_NE(status.find("TALMIRON: tcp://127.0.0.1:47999"), std::string::npos) << status;
  EXPECT_EQ((about + status).find("s3cr3t"), std::string::npos);
  unsetenv("TMCLIENT_BROKER_TALMIRON");
}

}  // namespace
