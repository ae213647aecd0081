#pragma once

#include <string>

#include "tmclient/export.h"

namespace tmclient {

// Copies the process's session into `out`, keeping out's memory.
TMCLIENT_INTERNAL void CurrentSessionInto(std::string& out);
// Tells the session-refused handler when `result` says so.
TMCLIENT_INTERNAL void NoteCallResult(int result);

}  // namespace tmclient
