#pragma once

#include "guicommon/guicommon.h"

// Shows the wait box on construction and closes it on destruction, so that
// every way out of a scope closes it, exceptions included. When showing the
// box throws, it is closed before the exception goes on.
class CWaitBoxGuard {
 public:
  explicit CWaitBoxGuard(const char* text) {
    try {
      ShowWaitBox(text);
    } catch (...) {
      Close();
      throw;
    }
  }
  ~CWaitBoxGuard() { Close(); }
  CWaitBoxGuard(const CWaitBoxGuard&) = delete;
  CWaitBoxGuard& operator=(const CWaitBoxGuard&) = delete;

 private:
  // A destructor must not throw; a failure to close has nowhere to go.
  static void Close() noexcept {
    try {
      CloseWaitBox();
    } catch (...) {
    }
  }
};
