#pragma once

// Qt's keys and buttons as the toolkit's handlers see them (winapi.cpp).

#include <QtCore/qnamespace.h>
#include <cstdint>
#include <string>

#include "toolkit/types.h"

class QKeyEvent;

namespace toolkit_detail {

// Platform key code of a Qt key event (0 when it has none); the shift state.
uint16_t VirtualKey(const QKeyEvent* event);
TShiftState ShiftState(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons = {});
// The bytes a key press types (GBK), control characters included.
std::string TypedBytes(const QKeyEvent* event);

}  // namespace toolkit_detail
