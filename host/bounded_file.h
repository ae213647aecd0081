#pragma once

#include <cstddef>
#include <string>

// Files the host reads whole (the operator file, a script): a regular file
// only, never one that blocks the reader (a FIFO, a device) or that has no
// end (/dev/zero), at most `iMaxBytes` long.
struct CFileLimits {
  std::size_t iMaxBytes = 0;
  // Refused when users other than its owner may read or write it, as an SSH
  // key is: for files that hold a password.
  bool bOwnerOnly = false;
};

// Reads the file at `path` into `text`. On failure returns false and sets
// `error` to why (without the path), e.g. "not a regular file", "larger
// than 65536 bytes", "cannot be read: Permission denied".
bool ReadBoundedFile(const std::string& path, const CFileLimits& limits, std::string& text,
                     std::string& error);
