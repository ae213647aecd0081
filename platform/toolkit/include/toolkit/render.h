#pragma once

#include <string>

#include "toolkit/export.h"

class TControl;

// Renders a control (a form: with its window frame and caption when it has
// one) with everything inside it to a PNG file, without a display. Pending
// events are handled first, so list views show their rows. False when the
// control is null or the file cannot be written.
TOOLKIT_API bool RenderToPng(TControl* control, const std::string& path);
