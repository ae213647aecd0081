#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string_view>
#include <vector>

#include "tmclient/tmb_reader.h"
#include "tmclient/tmb_writer.h"

// How every record and list goes onto a stream and comes back. The
// per-record operator<< and operator>> are these templates.
//
// A record: struct begin with its stream name, UsedMarker, Marker, then field
// k for every k whose Marker bit is set, in declaration order, then struct
// end. Only the masks tell which fields are there.
//
// A list: list begin with its name and the element count, the elements, list
// end.
namespace records {

// Writes a record. Runs to the end whatever happens to the stream; a failure
// shows in s.failed() afterwards.
template <class R>
tmb_writer& WriteRecord(tmb_writer& s, const R& r) {
  s.begin_write_struct(R::kStreamName);
  s << r.UsedMarker;
  s << r.Marker;
  const uint64_t present = r.Marker;
  R::ForEachField(r, [&s, present](int k, const auto& field) {
    if ((present >> k) & 1u) s << field;
    return true;
  });
  s.end_write_struct();
  return s;
}

// Reads a record into `r`, which should be freshly constructed: a field whose
// bit is clear keeps its value. Both masks are replaced as received (bits
// beyond the last field included). Stops at the first failure without ending
// the structure; what was read so far stays in `r`. Every read is inlined
// into one function per record type: the decoding of a whole list runs
// through it row after row.
template <class R>
[[gnu::flatten]] tmb_reader& ReadRecord(tmb_reader& s, R& r) {
  static constexpr std::string_view kName = R::kStreamName;
  s.begin_read_struct(kName);
  s >> r.UsedMarker;
  s >> r.Marker;
  if (s.failed()) return s;
  // After a failure every read does nothing, so the fields that follow and the
  // structure end leave `r` and the stream as they are.
  const uint64_t present = r.Marker;
  R::ForEachField(r, [&s, present](int k, auto& field) {
    if ((present >> k) & 1u) s >> field;
    return true;
  });
  s.end_read_struct();
  return s;
}

// Writes a list; a list too long to count in an int fails the stream.
template <class R>
tmb_writer& WriteList(tmb_writer& s, const std::vector<R>& list, const char* name) {
  const int count =
      list.size() > static_cast<std::size_t>(INT_MAX) ? -1 : static_cast<int>(list.size());
  s.begin_write_list(name, count);
  for (const R& r : list) s << r;
  s.end_write_list();
  return s;
}

// The element being read, freshly constructed at the end of a list: it is
// removed again unless kept once it has been read whole.
template <class R>
class PendingElement {
 public:
  explicit PendingElement(std::vector<R>& list) : vList(list) { vList.emplace_back(); }
  ~PendingElement() {
    if (!bKeep) vList.pop_back();
  }
  PendingElement(const PendingElement&) = delete;
  PendingElement& operator=(const PendingElement&) = delete;
  R& get() { return vList.back(); }
  void keep() { bKeep = true; }

 private:
  std::vector<R>& vList;
  bool bKeep = false;
};

// Appends `count` elements read from `s` to `list` (a list's elements,
// after its header). Each element is read into a freshly constructed record
// at the end of the list, which stays there only once it has been read
// whole: a failure or an exception removes it again. Stops at the first
// failure; the elements appended before it stay.
template <class R>
tmb_reader& ReadElements(tmb_reader& s, std::vector<R>& list, int count) {
  // Room for what the remaining bytes can hold at most, never for what an
  // untrusted count claims.
  constexpr std::size_t smallestRecord = 21 + std::string_view(R::kStreamName).size();
  list.reserve(list.size() +
               std::min(static_cast<std::size_t>(count), s.remaining() / smallestRecord));
  for (int i = 0; i < count; ++i) {
    PendingElement<R> element(list);
    s >> element.get();
    if (s.failed()) return s;
    element.keep();
  }
  return s;
}

// Appends the elements of a list to `list` (see ReadElements). Stops at the
// first failure without ending the list; the elements appended before it
// stay.
template <class R>
tmb_reader& ReadList(tmb_reader& s, std::vector<R>& list, std::string_view name) {
  int count = 0;
  s.begin_read_list(name, count);
  if (s.failed()) return s;
  ReadElements(s, list, count);
  s.end_read_list();
  return s;
}

}  // namespace records
