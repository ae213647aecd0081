#pragma once

#include <cstdint>
#include <span>

// The shared actions every business window inherits and the button images
// that show them. Actions carry no caption: each image carries its own label.
namespace MBaseWindow {

struct SSharedAction {
  const char* name;   // component name, e.g. "actQuery"
  int imageIndex;     // index in the button image list
  const char* label;  // what the button image says (GBK)
};

inline constexpr int kSharedActionCount = 73;

// The actions in the order of the base window's action list.
std::span<const SSharedAction, kSharedActionCount> SharedActions();

// The action at `name`, or null when no shared action has that name.
const SSharedAction* FindSharedAction(const char* name);

// Button images: 210 x 27 pixels on one background colour (a form colour
// value, 0x00BBGGRR). Index 14 belongs to no action and stays blank.
inline constexpr int kButtonImageCount = 74;
inline constexpr int kButtonImageWidth = 210;
inline constexpr int kButtonImageHeight = 27;
inline constexpr uint32_t kButtonImageBackground = 15851989;
inline constexpr int kUnusedButtonImage = 14;

// The label drawn on image `index`: the label of the action that uses it,
// or an empty text for the unused image and for indexes out of range.
const char* ButtonImageLabel(int index);

// The base window's colour and its hint window (0x00BBGGRR). The hint
// window is found by its component name, never kept in a member.
inline constexpr uint32_t kBaseWindowColor = 16766925;
inline constexpr uint32_t kHintWindowColor = 16775921;
inline constexpr const char* kHintWindowName = "HCN76F2E4C7A4954525905AE433DE29E7FD";

}  // namespace MBaseWindow
