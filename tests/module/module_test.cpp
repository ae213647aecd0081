// The module library as a host meets it: loaded with dlopen, its entry points
// found with dlsym, its windows driven with real input.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <stdexcept>
#include <string>

#include "allocation_failure.h"
#include "far_end.h"
#include "guicommon/presenter.h"
#include "module/micropaylog.h"
#include "qthelpers.h"
#include "records/record_stream.h"
#include "tmclient/qrs_errormsg.h"
#include "toolkit/toolkit.h"

namespace {

using namespace MMicroPaymentDef;

class ModuleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    handle_ = dlopen(MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) return;
    queryCvsIntf_ = reinterpret_cast<TQueryCvsIntf>(dlsym(handle_, "QueryCvsIntf"));
    getModuleId_ = reinterpret_cast<TGetModuleId>(dlsym(handle_, "GetModuleId"));
    createBusinessForm_ =
        reinterpret_cast<TCreateBusinessForm>(dlsym(handle_, "CreateBusinessForm"));
  }

  void SetUp() override {
    ASSERT_NE(handle_, nullptr) << dlerror();
    ASSERT_NE(queryCvsIntf_, nullptr);
    ASSERT_NE(getModuleId_, nullptr);
    ASSERT_NE(createBusinessForm_, nullptr);
    far_end::Reset();
    far_end::RouteBroker("TALMIRON");
    far_end::Answer([this](const std::string&, const std::string&, std::string_view request,
                           std::string& reply) {
      MCustQryAccept::SQuerySoInfoListIn in;
      MCustQryAccept::SQueryLogSoInfo soInfo;
      if (!far_end::DecodeSoList(request, in, soInfo)) return -9970;
      soInfos.push_back(soInfo);
      reply = far_end::Frame(far_end::kSoListOut, [](tmb_stream& s) {
        s << SMpInfoList{far_end::SampleInfo(0)} << SMpAcctStatInfo() << 0 << QRSErrorMsg();
      });
      return 0;
    });
  }

  void TearDown() override {
    while (Application()->MDIChildCount() > 0) delete Application()->MDIChildren(0);
    Application()->ProcessMessages();
  }

  static MSysmgntDef::SOperator Operator() {
    MSysmgntDef::SOperator op;
    op.set_OP_ID(4711);
    op.set_OP_NAME("李四");
    op.set_ORG_ID(10086);
    op.set_REGION_CODE(20);
    op.set_COUNTY_CODE(21);
    op.set_CREATE_DATE(QRSDateTime(2020, 1, 2, 3, 4, 5));
    return op;
  }

  static std::string Bytes(const MSysmgntDef::SOperator& op) {
    tmb_stream s;
    s.open();
    records::WriteRecord(s, op);
    return std::string(s.bytes());
  }

  TForm* Create(intptr_t reserved, const MSysmgntDef::SOperator* op) {
    return reinterpret_cast<TForm*>(createBusinessForm_(reserved, op));
  }

  template <class T>
  static T* Control(TForm* form, const char* name) {
    return dynamic_cast<T*>(form->FindComponent(name));
  }

  // Ticks the date range and presses the query button, as an operator does.
  static void QueryToday(TForm* form) {
    Application()->ProcessMessages();
    ClickControl(Control<TCheckBox>(form, "chkSoDate"));
    ClickControl(Control<TBitBtn>(form, "btnQuery"));
  }

  CRecordingPresenter recorder;
  CScopedGUIPresenter presenterScope{&recorder};
  std::vector<MCustQryAccept::SQueryLogSoInfo> soInfos;

  static void* handle_;
  static TQueryCvsIntf queryCvsIntf_;
  static TGetModuleId getModuleId_;
  static TCreateBusinessForm createBusinessForm_;
};
void* ModuleTest::handle_ = nullptr;
TQueryCvsIntf ModuleTest::queryCvsIntf_ = nullptr;
TGetModuleId ModuleTest::getModuleId_ = nullptr;
TCreateBusinessForm ModuleTest::createBusinessForm_ = nullptr;

// Names of the symbols the library defines for others, as nm lists them.
std::set<std::string> ExportedSymbols() {
  std::set<std::string> names;
  FILE* nm = popen("nm -D --defined-only " MODULE_PATH, "r");
  if (nm == nullptr) return names;
  char line[4096];
  while (std::fgets(line, sizeof line, nm) != nullptr) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    const std::size_t blank = text.rfind(' ');
    names.insert(blank == std::string::npos ? text : text.substr(blank + 1));
  }
  pclose(nm);
  return names;
}

TEST_F(ModuleTest, ExportsTheEntryPointsAndTheBaseWindowOnly) {
  const std::set<std::string> names = ExportedSymbols();
  for (const char* name :
       {"QueryCvsIntf", "GetModuleId", "CreateBusinessForm", "frmMDIChild", "_ZTV12TfrmMDIChild",
        "_ZTI12TfrmMDIChild", "_ZTS12TfrmMDIChild", "_ZN12TfrmMDIChildC1EP10TComponent"})
    EXPECT_EQ(names.count(name), 1u) << name;
  for (const std::string& name : names) {
    const bool entryPoint =
        name == "QueryCvsIntf" || name == "GetModuleId" || name == "CreateBusinessForm";
    const bool baseWindow = name == "frmMDIChild" || name.starts_with("_ZN12TfrmMDIChild") ||
                            name.starts_with("_ZNK12TfrmMDIChild") ||
                            name.ends_with("12TfrmMDIChild");
    EXPECT_TRUE(entryPoint || baseWindow) << name;
    EXPECT_EQ(name.find("TfrmMicroPayLogQueryMain"), std::string::npos) << name;
  }
  auto** shared = static_cast<void**>(dlsym(handle_, "frmMDIChild"));
  ASSERT_NE(shared, nullptr);
  EXPECT_EQ(*shared, nullptr);
}

TEST_F(ModuleTest, VersionTextAndBusinessIds) {
  char buffer[kVersionTextSize];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(queryCvsIntf_(0, buffer), 0);
  const std::string version = buffer;
  EXPECT_TRUE(version.starts_with("micropaylog ")) << version;
  EXPECT_NE(version.back(), ' ');
  EXPECT_EQ(queryCvsIntf_(12345, buffer), 0);
  EXPECT_EQ(std::string(buffer), version);
  EXPECT_EQ(queryCvsIntf_(0, nullptr), -1);

  EXPECT_EQ(getModuleId_(-1), 1);
  EXPECT_EQ(getModuleId_(-100), 1);
  EXPECT_EQ(getModuleId_(0), 10001);
  EXPECT_EQ(getModuleId_(1), -1);
  EXPECT_EQ(getModuleId_(7), -1);
}

TEST_F(ModuleTest, NoOperatorNoWindow) {
  EXPECT_EQ(createBusinessForm_(0, nullptr), 0);
  EXPECT_EQ(createBusinessForm_(99, nullptr), 0);
  EXPECT_TRUE(recorder.messages.empty());
  EXPECT_EQ(recorder.waitBoxShows, 0);
  EXPECT_EQ(Application()->MDIChildCount(), 0);
}

TEST_F(ModuleTest, EveryCallOpensAWindowOfItsOwnThatKeepsNothingOfTheRecord) {
  MSysmgntDef::SOperator op = Operator();
  const std::string before = Bytes(op);
  TForm* first = Create(0, &op);
  TForm* second = Create(-7, &op);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  EXPECT_EQ(Bytes(op), before);
  EXPECT_EQ(Application()->MDIChildCount(), 2);
  for (TForm* form : {first, second}) {
    EXPECT_EQ(form->Caption(), "小额支付日志查询");
    EXPECT_EQ(Control<TComboBox>(form, "cmbBusiType")->Items()->Count(), 6);
  }
  EXPECT_EQ(recorder.waitBoxShows, 2);
  EXPECT_EQ(recorder.waitBoxCloses, 2);
  EXPECT_FALSE(recorder.waitBoxOpen);

  // The host's record changes; the windows ask with what they were given.
  op.set_OP_ID(1);
  op.set_ORG_ID(2);
  QueryToday(second);
  QueryToday(first);
  ASSERT_EQ(soInfos.size(), 2u);
  for (const auto& soInfo : soInfos) {
    EXPECT_EQ(soInfo.OP_ID, 4711);
    EXPECT_EQ(soInfo.SO_ORG_ID, 10086);
  }
  EXPECT_EQ(Control<TListView>(first, "lvstShow")->Items()->Count(), 1);
  EXPECT_EQ(Control<TListView>(second, "lvstShow")->Items()->Count(), 1);

  // Closing one leaves the other.
  Control<TBitBtn>(second, "BtnExit")->Click();
  Application()->ProcessMessages();
  ASSERT_EQ(Application()->MDIChildCount(), 1);
  EXPECT_EQ(Application()->MDIChildren(0), first);
  EXPECT_TRUE(recorder.messages.empty()) << recorder.messages[0].text;
}

TEST_F(ModuleTest, NoMemoryForTheWindowIsToldAndGivesNone) {
  const MSysmgntDef::SOperator op = Operator();
  allocation_failure::FailAt(1);  // the window object itself
  EXPECT_EQ(createBusinessForm_(0, &op), 0);
  EXPECT_TRUE(allocation_failure::Failed());
  ASSERT_EQ(recorder.messages.size(), 1u);
  EXPECT_EQ(recorder.messages[0].text, "内存不足，无法创建对象!");
  EXPECT_EQ(recorder.messages[0].caption, "异常");
  EXPECT_EQ(recorder.messages[0].flags, 16);
  EXPECT_EQ(recorder.waitBoxShows, 0);
  EXPECT_EQ(Application()->MDIChildCount(), 0);
}

// A presenter that fails while the window starts up.
class CFailingPresenter : public CRecordingPresenter {
 public:
  void UpdateWaitBox(const char* text) override {
    CRecordingPresenter::UpdateWaitBox(text);
    throw std::runtime_error("wait box gone");
  }
};

TEST_F(ModuleTest, AStartUpFailureReachesTheHostWithTheWaitBoxClosed) {
  CFailingPresenter failing;
  CScopedGUIPresenter scope(&failing);
  const MSysmgntDef::SOperator op = Operator();
  EXPECT_THROW(createBusinessForm_(0, &op), std::runtime_error);
  EXPECT_EQ(failing.waitBoxShows, 1);
  EXPECT_EQ(failing.waitBoxCloses, 1);
  EXPECT_FALSE(failing.waitBoxOpen);
  Application()->ProcessMessages();
  EXPECT_EQ(Application()->MDIChildCount(), 0);
}

}  // namespace
