#include "list_limit.h"

#include <cstring>

#include "tmclient/service_handler.h"
#include "tmclient/tmd_error.h"
#include "tmclient/wire_tags.h"

namespace tmclient {

bool ListsWithin(std::string_view bytes, uint64_t maxCount) {
  const char* p = bytes.data();
  const char* const end = p + bytes.size();
  // Skips `n` bytes; false when fewer remain.
  auto skip = [&](std::size_t n) {
    if (static_cast<std::size_t>(end - p) < n) return false;
    p += n;
    return true;
  };
  auto u32 = [&](uint32_t& v) {
    if (end - p < 4) return false;
    std::memcpy(&v, p, 4);
    p += 4;
    return true;
  };
  auto name = [&] { return p < end && skip(1 + static_cast<uint8_t>(*p)); };
  auto text = [&] {
    uint32_t n = 0;
    return u32(n) && skip(n);
  };
  while (p < end) {
    bool ok = true;
    switch (static_cast<uint8_t>(*p++)) {
      case wire::kInt16:
        ok = skip(2);
        break;
      case wire::kInt32:
        ok = skip(4);
        break;
      case wire::kInt64:
      case wire::kUInt64:
        ok = skip(8);
        break;
      case wire::kString:
        ok = text();
        break;
      case wire::kDateTime:
        ok = skip(wire::kDateTimeSize);
        break;
      case wire::kErrorMsg:
        ok = skip(4) && text() && skip(4) && text();
        break;
      case wire::kStreamBegin:
        ok = skip(1) && name();
        break;
      case wire::kStructBegin:
        ok = name();
        break;
      case wire::kListBegin: {
        uint32_t count = 0;
        if (!name() || !u32(count)) return true;
        if (count > maxCount) return false;
        break;
      }
      case wire::kStreamEnd:
      case wire::kStructEnd:
      case wire::kListEnd:
        break;
      default:
        return true;
    }
    if (!ok) return true;
  }
  return true;
}

int WithinRowLimit(int rc, std::string& reply, uint64_t maxRows) {
  if (IsLibraryError(rc) || ListsWithin(reply, maxRows)) return rc;
  reply.clear();
  return kErrReplyTooLarge;
}

}  // namespace tmclient
