#pragma once

// Files that hold what must stay secret (a private key, broker credentials)
// or decide whom to trust (a CA file) are input like any other: a file that
// is missing, not a regular file, too large, or open to other users is
// refused, never taken with a warning. Texts name the file and what is wrong
// with it, never its contents.

#include <string>

#include "tmclient/export.h"

namespace tmclient {

enum class FileUse {
  kSecret,   // neither readable nor writable by others, nor writable by the group
  kTrusted,  // writable by its owner only
  kShared,   // not writable by users other than its owner and group
};

// Reads the whole file (at most 1 MiB). False with `why` when it is refused
// or cannot be read; `out` is then empty.
TMCLIENT_INTERNAL bool ReadCheckedFile(const std::string& path, FileUse use, std::string& out,
                                       std::string& why);

}  // namespace tmclient
