#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "tmclient/export.h"
#include "tmclient/qrs_datetime.h"
#include "tmclient/wire_tags.h"

class QRSErrorMsg;

// A marshalling stream: one request or one reply of a remote call.
//
// A stream is either being written (after open(), empty) or being read (after
// load() hands it the bytes of a frame). Every value carries a type tag;
// structures, lists and the stream itself carry names, and readers check
// them. The byte coding is described in docs/wire-format.md.
//
// Errors are sticky: the first one sets failed() and every later operation
// does nothing (a read leaves its target unchanged). A reader never trusts a
// count or a length that the remaining bytes cannot hold, and never reads past
// the buffer. Writing in read mode or reading in write mode is an error too.
// Nothing throws except std::bad_alloc.
class TMCLIENT_API tmb_stream {
 public:
  tmb_stream();
  ~tmb_stream();
  tmb_stream(const tmb_stream&) = delete;
  tmb_stream& operator=(const tmb_stream&) = delete;

  // Makes the stream an empty, open stream for writing. Always true.
  bool open();
  // Puts the stream in read mode over a copy of `bytes` (a frame received
  // from the far end). The stream is open afterwards; a frame longer than
  // kMaxFrameSize leaves it failed.
  void load(std::string_view bytes);
  void load(std::string&& bytes);
  // Read mode over `bytes` in place, without copying them: the caller keeps
  // them alive and unchanged until the stream is loaded, opened or destroyed.
  void attach(std::string_view bytes);
  // Read mode over a frame shared with whoever received it, without a copy.
  // The stream holds its reference until it is loaded, opened or destroyed;
  // the owner leaves the string unchanged while anyone else holds one, and
  // may reuse it afterwards (a client object refills one reply buffer call
  // after call). A null frame reads as an empty one; a frame longer than
  // kMaxFrameSize leaves the stream failed.
  void load(std::shared_ptr<const std::string> frame);

  // True when the stream is not open or has recorded an error.
  bool failed() const { return state_ != State::kOk; }
  // What the first failure was about ("" while none): the item being coded,
  // the innermost structure or list, and the byte offset, for logs and dumps.
  const std::string& failed_at() const { return failedAt_; }

  // Writing: the stream header with its name. Reading: checks it.
  bool begin_stream(const char* name);
  // Writing: the end marker. Reading: checks the end marker and that no byte
  // follows it.
  bool end_stream();

  // Names are 1 to 255 bytes; a null, empty or longer name fails the stream.
  bool begin_write_struct(const char* name) { return begin_write_struct(NameView(name)); }
  // The same with the length known beforehand.
  bool begin_write_struct(std::string_view name) {
    const std::size_t n = name.size();
    if (n - 1 < tmclient::wire::kMaxNameSize && Fits(2 + n)) {
      char* p = buf_.data() + wlen_;
      p[0] = static_cast<char>(tmclient::wire::kStructBegin);
      p[1] = static_cast<char>(n);
      std::memcpy(p + 2, name.data(), n);
      wlen_ += 2 + n;
      return true;
    }
    return PutName(tmclient::wire::kStructBegin, name);
  }
  bool end_write_struct() { return PutTagOnly(tmclient::wire::kStructEnd); }
  bool begin_read_struct(const char* name) { return begin_read_struct(NameView(name)); }
  // The same with the length known beforehand (a name fixed at compile time
  // costs no strlen per record).
  bool begin_read_struct(std::string_view name) {
    if (NameAhead(tmclient::wire::kStructBegin, name)) {
      scopeOffset_ = static_cast<std::size_t>(rp_ + 1 - base_);
      rp_ += 2 + name.size();
      return true;
    }
    return TakeName(tmclient::wire::kStructBegin, name, "struct begin");
  }
  bool end_read_struct() {
    if (Readable(1) && static_cast<uint8_t>(*rp_) == tmclient::wire::kStructEnd) {
      ++rp_;
      return true;
    }
    return ReadFailed("struct end");
  }
  // `count` must be 0 or more.
  bool begin_write_list(const char* name, int count);
  bool end_write_list();
  // `count` receives the element count (0 or more) when the list header is
  // read; it is left unchanged on failure. A count larger than the remaining
  // bytes could hold fails the stream.
  bool begin_read_list(const char* name, int& count) {
    return begin_read_list(NameView(name), count);
  }
  bool begin_read_list(std::string_view name, int& count);
  bool end_read_list();

  tmb_stream& operator<<(int v) { return PutFixed<int32_t>(v, tmclient::wire::kInt32); }
  tmb_stream& operator<<(short v) { return PutFixed<int16_t>(v, tmclient::wire::kInt16); }
  tmb_stream& operator<<(const int64_t& v) { return PutFixed<int64_t>(v, tmclient::wire::kInt64); }
  tmb_stream& operator<<(const uint64_t& v) {
    return PutFixed<uint64_t>(v, tmclient::wire::kUInt64);
  }
  tmb_stream& operator<<(const std::string& v) {
    // Tag, u32 length, the bytes. A text that fits needs no other check: the
    // room never passes the frame limit.
    if (v.size() < kMaxFrameSize && Fits(5 + v.size())) {
      char* p = buf_.data() + wlen_;
      p[0] = static_cast<char>(tmclient::wire::kString);
      const auto n = static_cast<uint32_t>(v.size());
      std::memcpy(p + 1, &n, 4);
      std::memcpy(p + 5, v.data(), v.size());
      wlen_ += 5 + v.size();
    } else {
      WriteText(v);
    }
    return *this;
  }
  tmb_stream& operator<<(const QRSDateTime& v) {
    if (Fits(1 + tmclient::wire::kDateTimeSize) || Writable(1 + tmclient::wire::kDateTimeSize)) {
      auto* p = reinterpret_cast<unsigned char*>(buf_.data() + wlen_);
      const auto year = static_cast<uint16_t>(v.year());
      p[0] = tmclient::wire::kDateTime;
      std::memcpy(p + 1, &year, 2);
      p[3] = static_cast<unsigned char>(v.month());
      p[4] = static_cast<unsigned char>(v.day());
      p[5] = static_cast<unsigned char>(v.hour());
      p[6] = static_cast<unsigned char>(v.minute());
      p[7] = static_cast<unsigned char>(v.second());
      wlen_ += 1 + tmclient::wire::kDateTimeSize;
    }
    return *this;
  }
  tmb_stream& operator<<(const QRSErrorMsg& v);

  tmb_stream& operator>>(int& v) { return ReadFixed<int32_t>(v, tmclient::wire::kInt32, "int32"); }
  tmb_stream& operator>>(short& v) {
    return ReadFixed<int16_t>(v, tmclient::wire::kInt16, "int16");
  }
  tmb_stream& operator>>(int64_t& v) {
    return ReadFixed<int64_t>(v, tmclient::wire::kInt64, "int64");
  }
  tmb_stream& operator>>(uint64_t& v) {
    return ReadFixed<uint64_t>(v, tmclient::wire::kUInt64, "uint64");
  }
  tmb_stream& operator>>(std::string& v) {
    // Tag, u32 length, then the bytes, which must all be there before
    // anything is allocated for them.
    if (Readable(5) && static_cast<uint8_t>(*rp_) == tmclient::wire::kString) {
      uint32_t n;
      std::memcpy(&n, rp_ + 1, 4);
      if (n <= static_cast<std::size_t>(limit_ - rp_) - 5) {
        AssignText(v, rp_ + 5, n);
        rp_ += 5 + std::size_t{n};
        return *this;
      }
    }
    ReadTextFailed();
    return *this;
  }
  tmb_stream& operator>>(QRSDateTime& v) {
    // Seven bytes of parts: all zero for the null value, else a valid date
    // and time.
    if (Readable(1 + tmclient::wire::kDateTimeSize) &&
        static_cast<uint8_t>(*rp_) == tmclient::wire::kDateTime) {
      const auto* p = reinterpret_cast<const unsigned char*>(rp_ + 1);
      const int year = p[0] | p[1] << 8;
      // The constructor gives the null value for invalid parts.
      const QRSDateTime t(year, p[2], p[3], p[4], p[5], p[6]);
      if (!t.isNull() || (year | p[2] | p[3] | p[4] | p[5] | p[6]) == 0) {
        v = t;
        rp_ += 1 + tmclient::wire::kDateTimeSize;
        return *this;
      }
    }
    ReadDateTimeFailed();
    return *this;
  }
  tmb_stream& operator>>(QRSErrorMsg& v);

  // The bytes written so far (write mode) or loaded (read mode). Valid until
  // the next operation on the stream.
  const std::string& bytes() const;
  // Read mode: bytes not yet consumed; 0 otherwise.
  std::size_t remaining() const;
  // Read mode: passes over the next `n` bytes, which the caller has read by
  // other means (a list's elements read while the reply arrived). False, and
  // the stream failed, when fewer remain.
  bool skip(std::size_t n) {
    if (Readable(n)) {
      rp_ += n;
      return true;
    }
    return ReadFailed("skipped bytes");
  }
  // Write mode: the bytes written so far, in place, without the trimming
  // that bytes() does, so that a stream reused through open() keeps its
  // buffer ready for the next frame. Valid until the next operation on the
  // stream. Empty in any other mode.
  std::string_view written() const {
    return mode_ == Mode::kWrite ? std::string_view(buf_.data(), wlen_) : std::string_view();
  }

  // The largest frame a stream writes or accepts, in bytes.
  static constexpr std::size_t kMaxFrameSize = 256u * 1024u * 1024u;

 private:
  enum class State : uint8_t { kClosed, kOk, kFailed };
  enum class Mode : uint8_t { kNone, kWrite, kRead };

  // True when writing without failure and n more bytes fit in the buffer as
  // it is: wend_ is the buffer's end (within the frame limit) then, and wlen_
  // otherwise, so one comparison says all. Else Writable() decides, and grows
  // the buffer.
  bool Fits(std::size_t n) const { return n <= wend_ - wlen_; }
  template <class T, class V>
  tmb_stream& PutFixed(const V& v, uint8_t tag) {
    static_assert(sizeof(T) == sizeof(V));
    if (Fits(1 + sizeof(T)) || Writable(1 + sizeof(T))) {
      char* p = buf_.data() + wlen_;
      p[0] = static_cast<char>(tag);
      std::memcpy(p + 1, &v, sizeof(T));
      wlen_ += 1 + sizeof(T);
    }
    return *this;
  }
  bool PutTagOnly(uint8_t tag) {
    if (Fits(1) || Writable(1)) {
      buf_.data()[wlen_++] = static_cast<char>(tag);
      return true;
    }
    return false;
  }
  // True when reading and at least n bytes remain: limit_ is the end of the
  // frame while reading goes well and rp_ otherwise, so one comparison says
  // both.
  bool Readable(std::size_t n) const { return static_cast<std::size_t>(limit_ - rp_) >= n; }
  // True when the next bytes are `tag` and exactly `name` (1 to 255 bytes).
  bool NameAhead(uint8_t tag, std::string_view name) const {
    const std::size_t n = name.size();
    return n - 1 < tmclient::wire::kMaxNameSize && Readable(2 + n) &&
           static_cast<uint8_t>(rp_[0]) == tag && static_cast<uint8_t>(rp_[1]) == n &&
           std::memcmp(rp_ + 2, name.data(), n) == 0;
  }
  static std::string_view NameView(const char* name) {
    return name == nullptr ? std::string_view() : std::string_view(name);
  }
  // Sets a text from the frame. A string that has room of its own keeps its
  // memory; an empty one (a field of a record just made) is built afresh
  // around the text, with one allocation of the text's size when it does not
  // fit inline. If that allocation fails the string is still empty.
  static void AssignText(std::string& v, const char* p, std::size_t n) {
    const std::size_t kInline = std::string().capacity();  // a constant once optimised
    if (v.empty() && (n > v.capacity() || v.capacity() == kInline)) {
      std::destroy_at(&v);
      try {
        std::construct_at(&v, p, n);
      } catch (...) {
        std::construct_at(&v);
        throw;
      }
    } else if (n <= v.capacity()) {
      v.assign(p, n);
    } else {
      v = std::string(p, n);
    }
  }
  // A tag and a fixed-width value; the common case stays inline.
  template <class T, class V>
  tmb_stream& ReadFixed(V& v, uint8_t tag, const char* what) {
    static_assert(sizeof(T) == sizeof(V));
    if (Readable(1 + sizeof(T)) && static_cast<uint8_t>(*rp_) == tag) {
      std::memcpy(&v, rp_ + 1, sizeof(T));
      rp_ += 1 + sizeof(T);
    } else {
      ReadFailed(what);
    }
    return *this;
  }
  // The uncommon case of a read: records why it cannot be done (or nothing
  // when the stream has already failed). Always false.
  bool ReadFailed(const char* what);
  // The same for a text and a date-time.
  void ReadTextFailed();
  void ReadDateTimeFailed();
  void StartReading(const char* begin, std::size_t size);
  bool Fail(const char* what);
  bool Writable(std::size_t n);
  void PutTag(uint8_t tag);
  void PutRaw(const void* p, std::size_t n);
  bool PutName(uint8_t tag, std::string_view name);
  void WriteText(const std::string& v);
  const char* Take(uint8_t tag, std::size_t n, const char* what);
  bool TakeName(uint8_t tag, std::string_view name, const char* what);

  mutable std::string buf_;                    // write: capacity-sized, wlen_ used; read: the frame
  std::shared_ptr<const std::string> shared_;  // read: the frame, when shared
  std::size_t wlen_ = 0;
  mutable std::size_t wend_ = 0;  // see Fits()
  const char* base_ = nullptr;    // read: the frame (in buf_, or the caller's bytes)
  const char* rp_ = nullptr;      // read position
  const char* end_ = nullptr;     // end of the frame
  const char* limit_ = nullptr;   // end_ while reading without failure, else rp_
  bool attached_ = false;         // reading the caller's bytes in place
  std::size_t scopeOffset_ = 0;   // read: offset of the innermost struct/list name
  State state_ = State::kClosed;
  Mode mode_ = Mode::kNone;
  std::string failedAt_;
};
