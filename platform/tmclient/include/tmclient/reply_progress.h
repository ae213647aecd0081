#pragma once

#include <cstddef>
#include <string_view>

#include "tmclient/export.h"

namespace tmclient {

// Told of a streamed reply while it arrives, so that its reader can start on
// it before the last byte: a tcp server sends a large reply in parts, with
// its head (the stream header and the first list's header, whose count the
// server knows only at the end) last (docs/wire-format.md, "Streamed
// replies"). Whatever it is told counts only if the call succeeds: the
// caller drops what it read ahead when the call ends with a library code.
//
// Called on the thread doing the call's I/O (the caller's, or the library's
// while a wait hook waits), one call at a time, never after the call has
// ended for its caller (an abandoned call stops telling it first). Must not
// throw.
class TMCLIENT_API ReplyProgress {
 public:
  virtual ~ReplyProgress();

  // A streamed reply starts: its first `headSize` bytes will come last.
  // Whatever arrived before is not part of the reply.
  virtual void Started(std::size_t headSize) = 0;
  // The reply's bytes after its head, as far as they have arrived: the
  // same bytes as before and more, from the first on. Valid during the call.
  virtual void Arrived(std::string_view body) = 0;
  // What arrived since Started is not the reply after all: a whole reply or
  // an error replaces it.
  virtual void Dropped() = 0;
};

}  // namespace tmclient
