#pragma once

#include <cstddef>

namespace micropaylog {

// Copies `version` (a text buffer of `size` bytes, NUL-terminated at the
// latest in its last byte) into `buffer` without its leading and trailing
// blanks (0x20 only: tabs and other white space stay), with the terminating
// NUL. `buffer` must hold `size` bytes. 0, or -1 for a null buffer (nothing
// written).
int CopyVersionText(const char* version, std::size_t size, char* buffer);

}  // namespace micropaylog
