#pragma once

#include <utility>

#include "toolkit/application.h"

namespace toolkit_detail {

// Runs a handler on behalf of Qt: an exception that escapes it goes to the
// application's error box and never into Qt's event loop.
template <class F>
void Guarded(TObject* sender, F&& f) {
  try {
    std::forward<F>(f)();
  } catch (...) {
    TApplication::Instance()->HandleException(sender);
  }
}

}  // namespace toolkit_detail
