#include "module/micropaylog.h"

#include <memory>
#include <new>
#include <type_traits>

#include "forms/formMicroPayLogQueryMain.h"
#include "guicommon/guicommon.h"
#include "version_text.h"

// The exports have the types a host calls them through.
static_assert(std::is_same_v<decltype(&QueryCvsIntf), TQueryCvsIntf>);
static_assert(std::is_same_v<decltype(&GetModuleId), TGetModuleId>);
static_assert(std::is_same_v<decltype(&CreateBusinessForm), TCreateBusinessForm>);

namespace {

// The module's version identification, as the host shows it.
const char kVersionText[kVersionTextSize] = "micropaylog " MICROPAYLOG_VERSION;

constexpr int kBusinessIds[] = {kMicroPayLogBusinessId};
constexpr int kBusinessCount = static_cast<int>(std::size(kBusinessIds));

constexpr int kErrorIcon = 16;

}  // namespace

int QueryCvsIntf(int, char* buffer) {
  return micropaylog::CopyVersionText(kVersionText, sizeof kVersionText, buffer);
}

int GetModuleId(int index) {
  if (index < 0) return kBusinessCount;
  if (index < kBusinessCount) return kBusinessIds[index];
  return -1;
}

intptr_t CreateBusinessForm(intptr_t, const MSysmgntDef::SOperator* op) {
  if (op == nullptr) return 0;
  std::unique_ptr<TfrmMicroPayLogQueryMain> window;
  try {
    window.reset(new TfrmMicroPayLogQueryMain(nullptr));
  } catch (const std::bad_alloc&) {
    ShowGUIMessage("内存不足，无法创建对象!", "异常", kErrorIcon);
    return 0;
  }
  const MSysmgntDef::SOperator context = *op;
  // A window whose start-up failed goes with the exception: nobody holds it,
  // and without its lookup a later log query would have nothing to show the
  // business types with.
  window->Init(context);
  return reinterpret_cast<intptr_t>(static_cast<TForm*>(window.release()));
}
