#pragma once

// The one comparison of texts that ignores case (component names, the texts
// of code tables): ASCII letters only, so the answer is the same in every
// locale. Texts are GBK: the second byte of a double-byte character is
// compared as it is even where it reads as a letter (0x8141 and 0x8161 are
// different characters).

#include <string_view>

#include "tmclient/export.h"

namespace tmclient {

// Below, equal to or above 0 as `a` sorts before, with or after `b` (bytes
// unsigned, a prefix first).
TMCLIENT_API int CompareIgnoringCase(std::string_view a, std::string_view b);
inline bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareIgnoringCase(a, b) == 0;
}

}  // namespace tmclient
