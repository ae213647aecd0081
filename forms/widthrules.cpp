#include "forms/widthrules.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace MBaseWindow {

namespace {

int ClampToInt(int64_t value) {
  return static_cast<int>(
      std::clamp<int64_t>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

}  // namespace

int EstimatedCharWidth(bool metricsRead, int averageCharWidth) {
  return metricsRead ? averageCharWidth + 3 : kFallbackCharWidth;
}

int DropDownWidth(int boxWidth, int widestItemWidth, int itemCount, int dropDownCount) {
  int64_t width = std::max(boxWidth, widestItemWidth);
  width += kDropDownMargin;
  if (itemCount > dropDownCount) width += kDropDownScrollBar;
  return ClampToInt(width);
}

bool HintNeeded(bool textEmpty, int controlWidth, int textWidth) {
  return !textEmpty && controlWidth < static_cast<int64_t>(textWidth) + kHintTextMargin;
}

SHintRect HintRectAt(int px, int py, int width, int height) {
  return {px, py - height, px + width, py};
}

}  // namespace MBaseWindow
