#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "records/record_stream.h"
#include "tmclient/reply_progress.h"
#include "tmclient/tmb_reader.h"
#include "tmclient/wire_tags.h"

// Reading a reply's first list while the reply arrives. A streamed reply's
// head (the stream header and the list's header with its count) comes last;
// its elements come first, in order. ListReadAhead appends each element as
// soon as its bytes are all there, counting nothing before the header has
// confirmed it: Finish() then reads the header from the whole reply, takes
// the elements read ahead as read when they lie where the header says the
// list starts, and reads the rest as ReadList would. Whatever it read ahead
// is dropped again when the reply turns out to be another (Dropped, a new
// Started) or the call fails (Undo).
namespace records {

class ListAhead : public tmclient::ReplyProgress {
 public:
  // Drops every element read ahead.
  virtual void Undo() = 0;
  // Reads the list from the whole reply `s`, positioned at the list's
  // header, with the same outcome as ReadList.
  virtual tmb_reader& Finish(tmb_reader& s) = 0;
};

template <class R>
class ListReadAhead final : public ListAhead {
 public:
  ListReadAhead(std::vector<R>& list, std::string_view name)
      : vList(list), sName(name), iBase(list.size()) {}

  void Started(std::size_t headSize) override {
    Undo();
    bStreaming = headSize > 0;
  }
  void Arrived(std::string_view body) override {
    if (!bStreaming || body.size() < iBytes) return Stop();
    try {
      ReadWhole(body.substr(iBytes));
      iBodySize = body.size();
    } catch (...) {
      Stop();  // out of memory: Finish() reads what is left as ReadList would
    }
  }
  void Dropped() override { Undo(); }

  void Undo() override {
    vList.erase(vList.begin() + static_cast<std::ptrdiff_t>(iBase), vList.end());
    bStreaming = false;
    iBytes = iBodySize = 0;
  }

  tmb_reader& Finish(tmb_reader& s) override {
    int count = 0;
    s.begin_read_list(sName, count);
    if (s.failed()) {
      Undo();
      return s;
    }
    // The elements read ahead count only where the list's elements begin:
    // right after the header, which then fills the head exactly.
    if (s.remaining() != iBodySize) Undo();
    const std::size_t ahead = vList.size() - iBase;
    if (ahead > static_cast<std::size_t>(count)) {
      // More elements than the header counts: the list ends early, as
      // ReadList would find after `count` of them.
      vList.erase(vList.begin() + static_cast<std::ptrdiff_t>(iBase + count), vList.end());
      s.end_read_list();
      return s;
    }
    if (ahead > 0 && !s.skip(iBytes)) return s;
    ReadElements(s, vList, count - static_cast<int>(ahead));
    s.end_read_list();
    return s;
  }

 private:
  // Appends the whole elements at the front of `bytes`, up to the list's
  // end or the first element whose bytes are not all there yet.
  void ReadWhole(std::string_view bytes) {
    tmb_reader s;
    s.read(bytes);
    while (s.remaining() > 0 && static_cast<uint8_t>(bytes[bytes.size() - s.remaining()]) ==
                                    tmclient::wire::kStructBegin) {
      const std::size_t before = s.remaining();
      PendingElement<R> element(vList);
      s >> element.get();
      if (s.failed()) return;  // not all there yet, or not an element at all
      element.keep();
      iBytes += before - s.remaining();
    }
  }
  // Reads nothing more ahead; Finish() reads the rest.
  void Stop() { bStreaming = false; }

  std::vector<R>& vList;
  const std::string_view sName;
  const std::size_t iBase;    // elements the list had before
  std::size_t iBytes = 0;     // of the elements read ahead
  std::size_t iBodySize = 0;  // bytes after the head seen when they were read
  bool bStreaming = false;    // reading ahead
};

}  // namespace records
