#include "forms/sharedactions.h"

#include <array>
#include <cstring>

namespace MBaseWindow {

namespace {

#define MPAY_SHARED_ACTION_ROW_(NAME, IMAGE, LABEL) {#NAME, IMAGE, LABEL},
constexpr std::array<SSharedAction, kSharedActionCount> kActions{
    {MPAY_SHARED_ACTIONS(MPAY_SHARED_ACTION_ROW_)}};
#undef MPAY_SHARED_ACTION_ROW_

}  // namespace

std::span<const SSharedAction, kSharedActionCount> SharedActions() {
  return kActions;
}

const SSharedAction* FindSharedAction(const char* name) {
  if (name == nullptr) return nullptr;
  for (const SSharedAction& action : kActions)
    if (std::strcmp(action.name, name) == 0) return &action;
  return nullptr;
}

const char* ButtonImageLabel(int index) {
  for (const SSharedAction& action : kActions)
    if (action.imageIndex == index) return action.label;
  return "";
}

}  // namespace MBaseWindow
