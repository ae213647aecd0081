#pragma once

#include <cstdint>
#include <string>

#include "tmclient/export.h"

namespace tmclient {

// Copies the process's session into `out`, keeping out's memory, unless
// `version` (the caller's, 0 at first) says that `out` holds it already:
// then it takes no lock.
TMCLIENT_INTERNAL void CurrentSessionInto(std::string& out, uint64_t& version);
// Tells the session-refused handler when `result` says so.
TMCLIENT_INTERNAL void NoteCallResult(int result);

}  // namespace tmclient
