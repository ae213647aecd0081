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

// Reads one frame of the stream coding (docs/wire-format.md): a view of the
// frame's bytes plus whatever keeps them alive.
//
// Every value carries a type tag; structures, lists and the stream carry
// names, and the reader checks them. Errors are sticky: the first one sets
// failed() and every later read does nothing (its target stays unchanged).
// The reader never trusts a count or a length that the remaining bytes cannot
// hold and never reads past the frame. Nothing throws except std::bad_alloc.
//
// Each read is one inline step: check, copy, advance; only recording why a
// read failed is out of line.
class TMCLIENT_API tmb_reader {
 public:
  tmb_reader();
  virtual ~tmb_reader();
  tmb_reader(const tmb_reader&) = delete;
  tmb_reader& operator=(const tmb_reader&) = delete;

  // Reads `bytes` from the start. `owner` keeps them alive and unchanged
  // while the reader holds it (until the next read() or close(), or the
  // reader's end); a null owner leaves that to the caller. A frame longer
  // than tmclient::wire::kMaxFrameSize leaves the reader failed.
  void read(std::string_view bytes, std::shared_ptr<const void> owner = nullptr);

  // True when no frame is being read or an error was recorded.
  bool failed() const { return eState != State::kOk; }
  // What the first failure was about ("" while none): the item being read,
  // the innermost structure or list, and the byte offset.
  const std::string& failed_at() const { return sFailedAt; }

  // Checks the stream header and its name.
  bool begin_stream(const char* name);
  // Checks the end marker and that no byte follows it.
  bool end_stream();

  // Checks a structure's header and its name (1 to 255 bytes).
  bool begin_read_struct(const char* name) {
    return begin_read_struct(tmclient::wire::NameView(name));
  }
  // The same with the length known beforehand (a name fixed at compile time
  // costs no strlen per record).
  bool begin_read_struct(std::string_view name) {
    return TakeName(tmclient::wire::kStructBegin, name, "struct begin");
  }
  bool end_read_struct() { return TakeTag(tmclient::wire::kStructEnd, "struct end"); }
  // `count` receives the element count (0 or more) when the list header is
  // read; it is left unchanged on failure. A count larger than the remaining
  // bytes could hold fails the reader.
  bool begin_read_list(const char* name, int& count) {
    return begin_read_list(tmclient::wire::NameView(name), count);
  }
  bool begin_read_list(std::string_view name, int& count);
  bool end_read_list() { return TakeTag(tmclient::wire::kListEnd, "list end"); }

  tmb_reader& operator>>(int& v) { return TakeFixed<int32_t>(v, tmclient::wire::kInt32, "int32"); }
  tmb_reader& operator>>(short& v) {
    return TakeFixed<int16_t>(v, tmclient::wire::kInt16, "int16");
  }
  tmb_reader& operator>>(int64_t& v) {
    return TakeFixed<int64_t>(v, tmclient::wire::kInt64, "int64");
  }
  tmb_reader& operator>>(uint64_t& v) {
    return TakeFixed<uint64_t>(v, tmclient::wire::kUInt64, "uint64");
  }
  // Tag, u32 length, then the bytes, which must all be there before anything
  // is allocated for them.
  tmb_reader& operator>>(std::string& v) {
    if (Readable(5) && Tag() == tmclient::wire::kString) {
      uint32_t n;
      std::memcpy(&n, pPos + 1, 4);
      if (n <= Left() - 5) {
        AssignText(v, pPos + 5, n);
        pPos += 5 + std::size_t{n};
      } else {
        FailAfter(5, "string length");
      }
    } else {
      ReadFailed("string");
    }
    return *this;
  }
  // Seven bytes of parts: all zero for the null value, else a valid date and
  // time.
  tmb_reader& operator>>(QRSDateTime& v) {
    constexpr std::size_t kSize = 1 + tmclient::wire::kDateTimeSize;
    if (Readable(kSize) && Tag() == tmclient::wire::kDateTime) {
      const auto* p = reinterpret_cast<const unsigned char*>(pPos + 1);
      const int year = p[0] | p[1] << 8;
      // The constructor gives the null value for invalid parts.
      const QRSDateTime t(year, p[2], p[3], p[4], p[5], p[6]);
      if (!t.isNull() || (year | p[2] | p[3] | p[4] | p[5] | p[6]) == 0) {
        pPos += kSize;
        v = t;
      } else {
        FailAfter(kSize, "datetime value");
      }
    } else {
      ReadFailed("datetime");
    }
    return *this;
  }
  tmb_reader& operator>>(QRSErrorMsg& v);

  // The whole frame being read (empty when none), whatever has been read of
  // it. Valid while the reader holds it.
  std::string_view frame() const {
    return std::string_view(pBase, static_cast<std::size_t>(pEnd - pBase));
  }
  // Bytes not yet read; 0 once failed or when no frame is being read.
  std::size_t remaining() const { return Left(); }
  // Passes over the next `n` bytes, which the caller has read by other means
  // (a list's elements read while the reply arrived). False, and the reader
  // failed, when fewer remain.
  bool skip(std::size_t n) {
    if (!Readable(n)) return ReadFailed("skipped bytes");
    pPos += n;
    return true;
  }

 protected:
  // Reads nothing until the next read(): every read fails, with `misuse` as
  // the reason when it is given, else silently.
  void close(const char* misuse);
  // Stops reading without a reason of its own (another part of the same
  // frame failed). No effect once failed.
  void halt();
  // Called once when the reader fails; nothing here.
  virtual void Failed() {}

 private:
  enum class State : uint8_t { kClosed, kOk, kFailed };

  // The bytes left: pLimit is the frame's end while reading goes well and
  // the read position otherwise, so one subtraction says both.
  std::size_t Left() const { return static_cast<std::size_t>(pLimit - pPos); }
  bool Readable(std::size_t n) const { return Left() >= n; }
  uint8_t Tag() const { return static_cast<uint8_t>(*pPos); }

  template <class T, class V>
  tmb_reader& TakeFixed(V& v, uint8_t tag, const char* what) {
    static_assert(sizeof(T) == sizeof(V));
    if (Readable(1 + sizeof(T)) && Tag() == tag) {
      // Through a local: a value stored as its own type is known not to
      // overwrite the read position, which then stays in a register.
      V value;
      std::memcpy(&value, pPos + 1, sizeof(T));
      pPos += 1 + sizeof(T);
      v = value;
    } else {
      ReadFailed(what);
    }
    return *this;
  }
  bool TakeTag(uint8_t tag, const char* what) {
    if (!Readable(1) || Tag() != tag) return ReadFailed(what);
    ++pPos;
    return true;
  }
  // A structure's or list's tag followed by exactly `name` (1 to 255 bytes).
  bool TakeName(uint8_t tag, std::string_view name, const char* what) {
    const std::size_t n = name.size();
    if (n - 1 < tmclient::wire::kMaxNameSize && Readable(2 + n) && Tag() == tag &&
        static_cast<uint8_t>(pPos[1]) == n && std::memcmp(pPos + 2, name.data(), n) == 0) {
      iScope = static_cast<std::size_t>(pPos + 1 - pBase);
      pPos += 2 + n;
      return true;
    }
    return NameFailed(tag, what);
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

  // Records why a read cannot be done (or nothing when the reader has
  // already failed or was closed silently). Always false.
  bool ReadFailed(const char* what);
  // The same after passing over the `n` bytes that were read of the item.
  bool FailAfter(std::size_t n, const char* what);
  // A name that is not the one expected: fails at the tag when the tag is
  // wrong or missing, else after the tag and the length.
  bool NameFailed(uint8_t tag, const char* what);
  bool Fail(const char* what);

  std::shared_ptr<const void> pOwner;  // keeps the frame alive, when not the caller
  const char* pBase = nullptr;         // the frame
  const char* pPos = nullptr;          // read position
  const char* pEnd = nullptr;          // end of the frame
  const char* pLimit = nullptr;        // pEnd while reading without failure, else pPos
  std::size_t iScope = 0;              // offset of the innermost struct/list name
  const char* pMisuse = nullptr;       // reason a read fails while closed
  State eState = State::kClosed;
  std::string sFailedAt;
};
