#pragma once

// A client's guard against a reply that is legal in its coding but far
// larger in rows than any server of ours sends: checked on the whole reply,
// and on a streamed reply's elements while they arrive, before a reader
// that reads them ahead (reply_progress.h) has taken more than the client
// takes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tmclient/export.h"
#include "tmclient/reply_progress.h"

namespace tmclient {

// How a walk over a stream's items ended: at the end of the bytes, at an
// item that is not all there or breaks the coding, or at a list of more
// elements than allowed.
enum class Walk { kEnd, kStopped, kOver };
// Steps `pos` over the whole items of `bytes` from `pos` on, checking each
// list's count against `maxCount`, without decoding them.
TMCLIENT_INTERNAL Walk WalkLists(std::string_view bytes, std::size_t& pos, uint64_t maxCount);
// Whether every list in the stream `bytes` has at most `maxCount` elements.
// A stream that breaks the coding passes (its reader fails on it anyway).
TMCLIENT_INTERNAL bool ListsWithin(std::string_view bytes, uint64_t maxCount);
// A call's result `rc` as its caller sees it: kErrReplyTooLarge, and no
// reply, when the reply that came has a list longer than `maxRows`.
TMCLIENT_INTERNAL int WithinRowLimit(int rc, std::string& reply, uint64_t maxRows);

// Passes a streamed reply's progress on to `watcher` while the elements
// that have arrived (the top-level structures at the start of the body, as
// a list's elements come) are at most `maxRows`; past that, tells it the
// reply is dropped and nothing more. The call then fails on the whole reply
// (WithinRowLimit). The same walk checks the lists' counts as the parts
// arrive, so that after the last byte only the head is left to check.
class TMCLIENT_INTERNAL RowCappedProgress final : public ReplyProgress {
 public:
  RowCappedProgress(ReplyProgress& watcher, uint64_t maxRows)
      : rWatcher(watcher), iMaxRows(maxRows) {}

  void Started(std::size_t headSize) override;
  void Arrived(std::string_view body) override;
  void Dropped() override;

  // As tmclient::WithinRowLimit on the call's reply, walking only what the
  // parts' walk has not: the head, and whatever came after the last part.
  int WithinRowLimit(int rc, std::string& reply) const;

 private:
  ReplyProgress& rWatcher;
  const uint64_t iMaxRows;
  std::size_t iHeadSize = 0;
  std::size_t iPos = 0;         // the body's bytes walked, whole items only
  int iDepth = 0;               // structures open at iPos
  uint64_t iElements = 0;       // top-level structures begun before iPos
  Walk iBodyWalk = Walk::kEnd;  // kEnd while the walk goes on
  bool bStreamed = false;       // the reply is the one started, nothing replaced it
  bool bOver = false;           // more elements than taken: the watcher was told it is dropped
  bool bElementsDone = false;   // the elements ended: nothing more to count
};

}  // namespace tmclient
