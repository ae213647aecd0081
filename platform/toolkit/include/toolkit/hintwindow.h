#pragma once

#include <string>

#include "toolkit/controls.h"
#include "toolkit/export.h"

class QLabel;

// A small window that shows a text over other controls.
class TOOLKIT_API THintWindow : public TWinControl {
 public:
  explicit THintWindow(TComponent* owner);
  ~THintWindow() override;
  // The rectangle (at 0, 0) the text needs when lines wrap at maxWidth.
  TRect CalcHintRect(int maxWidth, const std::string& hint);
  // Shows `hint` in `screenRect` (screen coordinates) and returns at once.
  void ActivateHint(const TRect& screenRect, const std::string& hint);
  // Hides the window.
  void ReleaseHandle() { Hide(); }
  // The Qt widget the hint window is made of.
  QLabel* Label() const;

 protected:
  std::string GetText() const override;
  void ApplyText(const std::string& text) override;
};
