#include "list_limit.h"

#include <cstring>

#include "tmclient/service_handler.h"
#include "tmclient/tmd_error.h"
#include "tmclient/wire_tags.h"

namespace tmclient {
namespace {

enum class Item { kWhole, kPart, kBad };

// Steps `pos` over the item at `bytes[pos]` when it is all there, giving its
// tag and, for a list's begin, its count. Inlined into the walks: it runs
// for every item of every reply, and a call with its results in memory
// costs as much as the step itself.
[[gnu::always_inline]] inline Item SkipItem(std::string_view bytes, std::size_t& pos, uint8_t& tag,
                                            uint32_t& count) {
  const char* p = bytes.data() + pos;
  const char* const end = bytes.data() + bytes.size();
  if (p == end) return Item::kPart;
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
  tag = static_cast<uint8_t>(*p++);
  bool whole = true;
  switch (tag) {
    case wire::kInt16:
      whole = skip(2);
      break;
    case wire::kInt32:
      whole = skip(4);
      break;
    case wire::kInt64:
    case wire::kUInt64:
      whole = skip(8);
      break;
    case wire::kString:
      whole = text();
      break;
    case wire::kDateTime:
      whole = skip(wire::kDateTimeSize);
      break;
    case wire::kErrorMsg:
      whole = skip(4) && text() && skip(4) && text();
      break;
    case wire::kStreamBegin:
      whole = skip(1) && name();
      break;
    case wire::kStructBegin:
      whole = name();
      break;
    case wire::kListBegin:
      whole = name() && u32(count);
      break;
    case wire::kStreamEnd:
    case wire::kStructEnd:
    case wire::kListEnd:
      break;
    default:
      return Item::kBad;
  }
  if (!whole) return Item::kPart;
  pos = static_cast<std::size_t>(p - bytes.data());
  return Item::kWhole;
}

}  // namespace

Walk WalkLists(std::string_view bytes, std::size_t& pos, uint64_t maxCount) {
  while (pos < bytes.size()) {
    uint8_t tag = 0;
    uint32_t count = 0;
    if (SkipItem(bytes, pos, tag, count) != Item::kWhole) return Walk::kStopped;
    if (tag == wire::kListBegin && count > maxCount) return Walk::kOver;
  }
  return Walk::kEnd;
}

bool ListsWithin(std::string_view bytes, uint64_t maxCount) {
  std::size_t pos = 0;
  // A stream that breaks the coding passes: its reader fails on it.
  return WalkLists(bytes, pos, maxCount) != Walk::kOver;
}

int WithinRowLimit(int rc, std::string& reply, uint64_t maxRows) {
  // Every element of a list takes at least its tag's byte, so a reply of at
  // most maxRows bytes cannot hold a longer list; a count that claims one
  // breaks the coding, which its reader fails on (it reserves room for no
  // more elements than the bytes can hold). Most replies are that small.
  if (IsLibraryError(rc) || reply.size() <= maxRows || ListsWithin(reply, maxRows)) return rc;
  reply.clear();
  return kErrReplyTooLarge;
}

void RowCappedProgress::Started(std::size_t headSize) {
  iHeadSize = headSize;
  iPos = 0;
  iDepth = 0;
  iElements = 0;
  bOver = bElementsDone = false;
  bStreamed = true;
  iBodyWalk = Walk::kEnd;
  rWatcher.Started(headSize);
}

void RowCappedProgress::Arrived(std::string_view body) {
  if (bOver) return;
  // One walk of the body, item by item as the bytes come: it counts the
  // elements for the watcher and checks every list's count for the call.
  while (iBodyWalk == Walk::kEnd && iPos < body.size()) {
    uint8_t tag = 0;
    uint32_t count = 0;
    std::size_t next = iPos;
    const Item item = SkipItem(body, next, tag, count);
    if (item == Item::kPart) break;  // the rest of it comes later
    if (item == Item::kBad) {
      iBodyWalk = Walk::kStopped;
      bElementsDone = true;
      break;
    }
    if (tag == wire::kListBegin && count > iMaxRows) {
      // The call fails on it (unless the head breaks the coding): the
      // watcher reads no further.
      iBodyWalk = Walk::kOver;
      break;
    }
    if (!bElementsDone) {
      if (tag == wire::kStructBegin && iDepth++ == 0) ++iElements;
      if (tag == wire::kStructEnd) --iDepth;
      // The elements end where something other than a structure starts at
      // the top (the list's end, the totals).
      if (iDepth < 0 || (iDepth == 0 && tag != wire::kStructEnd)) bElementsDone = true;
    }
    iPos = next;
  }
  if (iElements > iMaxRows || iBodyWalk == Walk::kOver) {
    bOver = true;
    rWatcher.Dropped();
    return;
  }
  rWatcher.Arrived(body);
}

void RowCappedProgress::Dropped() {
  bStreamed = false;
  rWatcher.Dropped();
}

int RowCappedProgress::WithinRowLimit(int rc, std::string& reply) const {
  if (IsLibraryError(rc)) return rc;
  bool within = true;
  std::size_t pos = 0;
  if (!bStreamed || bOver || reply.size() < iHeadSize + iPos) {
    within = ListsWithin(reply, iMaxRows);
  } else if (const Walk head =
                 WalkLists(std::string_view(reply).substr(0, iHeadSize), pos, iMaxRows);
             head == Walk::kOver) {
    within = false;
  } else if (head == Walk::kStopped) {
    // An item runs on past the head: the body's walk does not start where
    // the whole reply's would.
    within = ListsWithin(reply, iMaxRows);
  } else if (iBodyWalk == Walk::kEnd) {
    // The same walk as over the whole reply, from where the parts' walk
    // stopped: the bytes that came after the last part, if any.
    std::size_t rest = 0;
    within =
        WalkLists(std::string_view(reply).substr(iHeadSize + iPos), rest, iMaxRows) != Walk::kOver;
  }  // else the walk stopped at bytes that break the coding: the reply passes
  if (within) return rc;
  reply.clear();
  return kErrReplyTooLarge;
}

}  // namespace tmclient
