#pragma once

// A client's guard against a reply that is legal in its coding but far
// larger in rows than any server of ours sends.

#include <cstdint>
#include <string>
#include <string_view>

#include "tmclient/export.h"

namespace tmclient {

// Whether every list in the stream `bytes` has at most `maxCount` elements.
// Walks the items without decoding them; a stream that breaks the coding
// passes (its reader fails on it anyway).
TMCLIENT_INTERNAL bool ListsWithin(std::string_view bytes, uint64_t maxCount);
// A call's result `rc` as its caller sees it: kErrReplyTooLarge, and no
// reply, when the reply that came has a list longer than `maxRows`.
TMCLIENT_INTERNAL int WithinRowLimit(int rc, std::string& reply, uint64_t maxRows);

}  // namespace tmclient
