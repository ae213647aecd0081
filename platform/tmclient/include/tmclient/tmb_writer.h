#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "tmclient/export.h"
#include "tmclient/qrs_datetime.h"
#include "tmclient/wire_tags.h"

class QRSErrorMsg;

// Writes one frame of the stream coding (docs/wire-format.md) into a buffer
// of its own, which it keeps from one frame to the next.
//
// Errors are sticky: the first one sets failed() and every later write does
// nothing. A name must be 1 to 255 bytes, a list count 0 or more, and the
// frame at most tmclient::wire::kMaxFrameSize bytes. Nothing throws except
// std::bad_alloc.
//
// Each write is one inline step: room for its bytes, then plain copies; only
// growing the buffer and recording a failure are out of line.
class TMCLIENT_API tmb_writer {
 public:
  tmb_writer();
  virtual ~tmb_writer();
  tmb_writer(const tmb_writer&) = delete;
  tmb_writer& operator=(const tmb_writer&) = delete;

  // Starts an empty frame. The buffer keeps its memory, so a writer reused
  // for many frames stops allocating once it has seen the largest. Always
  // true.
  bool open();

  // True when no frame is open or an error was recorded.
  bool failed() const { return eState != State::kOk; }
  // What the first failure was about ("" while none).
  const std::string& failed_at() const { return sFailedAt; }

  // The stream header with its name.
  bool begin_stream(const char* name);
  // The end marker.
  bool end_stream() { return PutTag(tmclient::wire::kStreamEnd); }

  bool begin_write_struct(const char* name) {
    return begin_write_struct(tmclient::wire::NameView(name));
  }
  // The same with the length known beforehand.
  bool begin_write_struct(std::string_view name) {
    return PutName(tmclient::wire::kStructBegin, name, 0) != nullptr;
  }
  bool end_write_struct() { return PutTag(tmclient::wire::kStructEnd); }
  // `count` must be 0 or more.
  bool begin_write_list(const char* name, int count);
  bool end_write_list() { return PutTag(tmclient::wire::kListEnd); }

  tmb_writer& operator<<(int v) { return PutFixed<int32_t>(v, tmclient::wire::kInt32); }
  tmb_writer& operator<<(short v) { return PutFixed<int16_t>(v, tmclient::wire::kInt16); }
  tmb_writer& operator<<(const int64_t& v) { return PutFixed<int64_t>(v, tmclient::wire::kInt64); }
  tmb_writer& operator<<(const uint64_t& v) {
    return PutFixed<uint64_t>(v, tmclient::wire::kUInt64);
  }
  // Tag, u32 length, the bytes.
  tmb_writer& operator<<(const std::string& v) {
    if (char* p = Room(5 + v.size())) {
      const auto n = static_cast<uint32_t>(v.size());
      p[0] = static_cast<char>(tmclient::wire::kString);
      std::memcpy(p + 1, &n, 4);
      std::memcpy(p + 5, v.data(), v.size());
      iLen += 5 + v.size();
    }
    return *this;
  }
  // Tag, u16 year, then month, day, hour, minute, second in a byte each.
  tmb_writer& operator<<(const QRSDateTime& v) {
    if (char* room = Room(1 + tmclient::wire::kDateTimeSize)) {
      auto* p = reinterpret_cast<unsigned char*>(room);
      const auto year = static_cast<uint16_t>(v.year());
      p[0] = tmclient::wire::kDateTime;
      std::memcpy(p + 1, &year, 2);
      p[3] = static_cast<unsigned char>(v.month());
      p[4] = static_cast<unsigned char>(v.day());
      p[5] = static_cast<unsigned char>(v.hour());
      p[6] = static_cast<unsigned char>(v.minute());
      p[7] = static_cast<unsigned char>(v.second());
      iLen += 1 + tmclient::wire::kDateTimeSize;
    }
    return *this;
  }
  tmb_writer& operator<<(const QRSErrorMsg& v);

  // The bytes of the frame written so far (empty when none is open), in
  // place. Valid until the next write or open().
  std::string_view written() const { return std::string_view(sBuf.data(), iLen); }

 protected:
  // Writes nothing until the next open(): every write fails, with `misuse` as
  // the reason when it is given, else silently. Forgets what was written.
  void close(const char* misuse);
  // Stops writing without a reason of its own (another part of the same
  // frame failed). No effect once failed.
  void halt();
  // Called once when the writer fails; nothing here.
  virtual void Failed() {}

 private:
  enum class State : uint8_t { kClosed, kOk, kFailed };

  // Where the next n bytes go, or null when they cannot be written. The
  // buffer is kept at its full size and only iLen bytes of it are used;
  // iRoom is its size (within the frame limit) while writing goes well and
  // iLen otherwise, so one comparison says all, and only growing the buffer
  // or failing takes the call.
  char* Room(std::size_t n) { return n <= iRoom - iLen ? sBuf.data() + iLen : Grow(n); }
  char* Grow(std::size_t n);

  template <class T, class V>
  tmb_writer& PutFixed(const V& v, uint8_t tag) {
    static_assert(sizeof(T) == sizeof(V));
    if (char* p = Room(1 + sizeof(T))) {
      p[0] = static_cast<char>(tag);
      std::memcpy(p + 1, &v, sizeof(T));
      iLen += 1 + sizeof(T);
    }
    return *this;
  }
  bool PutTag(uint8_t tag) {
    char* p = Room(1);
    if (p == nullptr) return false;
    *p = static_cast<char>(tag);
    ++iLen;
    return true;
  }
  // A tag and a name (1 to 255 bytes), with `extra` more bytes of room after
  // them; returns where those go, or null.
  char* PutName(uint8_t tag, std::string_view name, std::size_t extra) {
    const std::size_t n = name.size();
    if (n - 1 >= tmclient::wire::kMaxNameSize) return BadName();
    char* p = Room(2 + n + extra);
    if (p == nullptr) return nullptr;
    p[0] = static_cast<char>(tag);
    p[1] = static_cast<char>(n);
    std::memcpy(p + 2, name.data(), n);
    iLen += 2 + n;
    return p + 2 + n;
  }
  char* BadName();
  bool Fail(const char* what);

  std::string sBuf;  // kept at its full size; the first iLen bytes are the frame
  std::size_t iLen = 0;
  std::size_t iRoom = 0;          // see Room()
  const char* pMisuse = nullptr;  // reason a write fails while closed
  State eState = State::kClosed;
  std::string sFailedAt;
};
