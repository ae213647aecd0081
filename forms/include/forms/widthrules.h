#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>

// Size decisions of the base window's list view, combo box and hint
// services, in pixels. Widths of texts are estimated or measured by the
// caller; these functions only combine them.
namespace MBaseWindow {

// Character width used to estimate column widths when the list view's font
// metrics cannot be read.
inline constexpr int kFallbackCharWidth = 16;
// Extra width of every column when the list view shows check boxes.
inline constexpr int kCheckBoxMargin = 16;
// Longest cell text, in bytes, that column fitting reads.
inline constexpr size_t kMaxFittedCellBytes = 127;

// The estimated width of one byte of text: the font's average character
// width plus 3 when the metrics were read, else kFallbackCharWidth.
int EstimatedCharWidth(bool metricsRead, int averageCharWidth);

// The width a column gets after a row arrives: the larger of its current
// width and what its caption and its newest cell need (both as byte counts,
// the cell capped at kMaxFittedCellBytes). Columns never shrink. Inline: it
// runs for every column on every change of a list view's rows.
inline int FittedColumnWidth(int currentWidth, size_t captionBytes, size_t cellBytes, int charWidth,
                             bool checkBoxes) {
  // A caption longer than any column could be still only asks for the
  // widest column an int can hold.
  constexpr int64_t kIntMax = std::numeric_limits<int>::max();
  const int64_t caption = static_cast<int64_t>(std::min<size_t>(captionBytes, kIntMax)) * charWidth;
  int64_t cell = static_cast<int64_t>(std::min(cellBytes, kMaxFittedCellBytes)) * charWidth;
  if (checkBoxes) cell += kCheckBoxMargin;
  const int64_t needed =
      std::clamp<int64_t>(std::max(caption, cell), std::numeric_limits<int>::min(), kIntMax);
  return std::max(currentWidth, static_cast<int>(needed));
}

// Margins of an opened combo box list.
inline constexpr int kDropDownMargin = 16;
inline constexpr int kDropDownScrollBar = 22;

// The width of a combo box's opened list: the wider of the box and its
// widest item, plus the margin, plus a scroll bar when there are more items
// than the list shows at once.
int DropDownWidth(int boxWidth, int widestItemWidth, int itemCount, int dropDownCount);

// Room a hinted control keeps beside its text before it counts as cut off.
inline constexpr int kHintTextMargin = 32;

// Whether a control `controlWidth` wide shows `text` cut off: the text is
// not empty and is wider than the control minus kHintTextMargin.
bool HintNeeded(bool textEmpty, int controlWidth, int textWidth);

// Where a hint of `width` x `height` goes for the pointer at (px, py), in
// screen coordinates: its bottom-left corner at the pointer.
struct SHintRect {
  int left, top, right, bottom;
};
SHintRect HintRectAt(int px, int py, int width, int height);

}  // namespace MBaseWindow
