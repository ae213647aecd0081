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

int FittedColumnWidth(int currentWidth, size_t captionBytes, size_t cellBytes, int charWidth,
                      bool checkBoxes) {
  // A caption longer than any column could be still only asks for the
  // widest column an int can hold.
  const int64_t caption =
      static_cast<int64_t>(std::min<size_t>(captionBytes, std::numeric_limits<int>::max())) *
      charWidth;
  int64_t cell = static_cast<int64_t>(std::min(cellBytes, kMaxFittedCellBytes)) * charWidth;
  if (checkBoxes) cell += kCheckBoxMargin;
  const int needed = ClampToInt(std::max(caption, cell));
  return std::max(currentWidth, needed);
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
