#include "tmclient/tmb_stream.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

#include "tmclient/qrs_datetime.h"
#include "tmclient/qrs_errormsg.h"
#include "tmclient/wire_tags.h"

static_assert(std::endian::native == std::endian::little,
              "the coding copies little-endian integers as they are in memory");

namespace wire = tmclient::wire;

namespace {

constexpr std::size_t kNoScope = std::numeric_limits<std::size_t>::max();

template <class T>
T Load(const char* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Length of a frame name, or 0 when it cannot be one.
std::size_t NameLength(const char* name) {
  if (name == nullptr) return 0;
  const std::size_t n = std::strlen(name);
  return n <= wire::kMaxNameSize ? n : 0;
}

}  // namespace

tmb_stream::tmb_stream() = default;
tmb_stream::~tmb_stream() = default;

bool tmb_stream::open() {
  // The buffer keeps its memory, so a stream reused for many frames stops
  // allocating once it has seen the largest.
  wlen_ = 0;
  wend_ = std::min(buf_.size(), kMaxFrameSize);
  base_ = rp_ = end_ = limit_ = nullptr;
  attached_ = false;
  shared_.reset();
  scopeOffset_ = kNoScope;
  state_ = State::kOk;
  mode_ = Mode::kWrite;
  failedAt_.clear();
  return true;
}

void tmb_stream::load(std::string_view bytes) {
  if (bytes.size() > kMaxFrameSize) {
    load(std::string());
    Fail("frame over size limit");
    return;
  }
  buf_.assign(bytes);  // reuses the buffer's memory when it is large enough
  StartReading(buf_.data(), buf_.size());
}

void tmb_stream::attach(std::string_view bytes) {
  if (bytes.size() > kMaxFrameSize) {
    load(std::string());
    Fail("frame over size limit");
    return;
  }
  StartReading(bytes.data(), bytes.size());
  attached_ = true;
}

void tmb_stream::load(std::shared_ptr<const std::string> frame) {
  if (frame && frame->size() > kMaxFrameSize) {
    load(std::string());
    Fail("frame over size limit");
    return;
  }
  if (!frame) {
    load(std::string_view());
    return;
  }
  StartReading(frame->data(), frame->size());
  shared_ = std::move(frame);
}

void tmb_stream::load(std::string&& bytes) {
  const bool tooLarge = bytes.size() > kMaxFrameSize;
  buf_ = tooLarge ? std::string() : std::move(bytes);
  StartReading(buf_.data(), buf_.size());
  if (tooLarge) Fail("frame over size limit");
}

void tmb_stream::StartReading(const char* begin, std::size_t size) {
  wlen_ = wend_ = 0;
  base_ = rp_ = begin;
  end_ = limit_ = begin + size;
  attached_ = false;
  // After the frame's bytes were taken: they may have been the shared frame's.
  shared_.reset();
  scopeOffset_ = kNoScope;
  state_ = State::kOk;
  mode_ = Mode::kRead;
  failedAt_.clear();
}

const std::string& tmb_stream::bytes() const {
  if (mode_ == Mode::kWrite) {
    buf_.resize(wlen_);
    wend_ = wlen_;
  }
  if (shared_) return *shared_;
  if (attached_) buf_.assign(base_, static_cast<std::size_t>(end_ - base_));
  return buf_;
}

std::size_t tmb_stream::remaining() const {
  return mode_ == Mode::kRead && state_ == State::kOk ? static_cast<std::size_t>(end_ - rp_) : 0;
}

[[gnu::cold]] bool tmb_stream::Fail(const char* what) {
  if (state_ == State::kFailed) return false;
  state_ = State::kFailed;
  limit_ = rp_;   // nothing is readable any more
  wend_ = wlen_;  // nor writable
  failedAt_ = what;
  if (mode_ == Mode::kRead) {
    if (scopeOffset_ != kNoScope) {
      const auto len = static_cast<unsigned char>(base_[scopeOffset_]);
      failedAt_ += " in ";
      failedAt_.append(base_ + scopeOffset_ + 1, len);
    }
    failedAt_ += " at offset ";
    failedAt_ += std::to_string(rp_ - base_);
  }
  return false;
}

// ---- writing ------------------------------------------------------------

bool tmb_stream::Writable(std::size_t n) {
  if (state_ != State::kOk) return false;
  if (mode_ != Mode::kWrite) return Fail("write on a stream being read");
  if (n > kMaxFrameSize - wlen_) return Fail("frame over size limit");
  if (wlen_ + n > buf_.size()) {
    // The buffer is kept at its full size and only wlen_ bytes are used, so
    // that values are stored with plain copies. A fresh stream starts at a
    // size that holds a request whole: every byte of it is zeroed first, and
    // a stream made per call pays that on every call.
    buf_.resize(std::max({buf_.size() * 2, wlen_ + n, buf_.capacity(), std::size_t{512}}));
    wend_ = std::min(buf_.size(), kMaxFrameSize);
  }
  return true;
}

void tmb_stream::PutTag(uint8_t tag) {
  buf_[wlen_++] = static_cast<char>(tag);
}

void tmb_stream::PutRaw(const void* p, std::size_t n) {
  std::memcpy(&buf_[wlen_], p, n);
  wlen_ += n;
}

bool tmb_stream::PutName(uint8_t tag, std::string_view name) {
  const std::size_t n = name.size();
  if (state_ == State::kOk && (n == 0 || n > wire::kMaxNameSize)) return Fail("bad frame name");
  if (!Writable(2 + n)) return false;
  PutTag(tag);
  PutTag(static_cast<uint8_t>(n));
  PutRaw(name.data(), n);
  return true;
}

bool tmb_stream::begin_stream(const char* name) {
  if (mode_ == Mode::kRead) return TakeName(wire::kStreamBegin, NameView(name), "stream begin");
  const std::size_t n = NameLength(name);
  if (state_ == State::kOk && n == 0) return Fail("bad frame name");
  if (!Writable(3 + n)) return false;
  PutTag(wire::kStreamBegin);
  PutTag(wire::kVersion);
  PutTag(static_cast<uint8_t>(n));
  PutRaw(name, n);
  return true;
}

bool tmb_stream::end_stream() {
  if (mode_ == Mode::kRead) {
    if (Take(wire::kStreamEnd, 0, "stream end") == nullptr) return false;
    if (rp_ != end_) return Fail("trailing bytes after stream end");
    return true;
  }
  if (!Writable(1)) return false;
  PutTag(wire::kStreamEnd);
  return true;
}

bool tmb_stream::begin_write_list(const char* name, int count) {
  if (state_ == State::kOk && count < 0) return Fail("negative list count");
  if (!PutName(wire::kListBegin, NameView(name)) || !Writable(4)) return false;
  const auto c = static_cast<uint32_t>(count);
  PutRaw(&c, 4);
  return true;
}

bool tmb_stream::end_write_list() {
  if (!Writable(1)) return false;
  PutTag(wire::kListEnd);
  return true;
}

void tmb_stream::WriteText(const std::string& v) {
  if (state_ == State::kOk && v.size() > kMaxFrameSize) {
    Fail("frame over size limit");
    return;
  }
  if (Writable(5 + v.size())) {
    PutTag(wire::kString);
    const auto n = static_cast<uint32_t>(v.size());
    PutRaw(&n, 4);
    PutRaw(v.data(), v.size());
  }
}

tmb_stream& tmb_stream::operator<<(const QRSErrorMsg& v) {
  const std::size_t texts = v.get_msg().size() + v.get_sub_msg().size();
  if (state_ == State::kOk && texts > kMaxFrameSize) {
    Fail("frame over size limit");
    return *this;
  }
  if (Writable(1 + 16 + texts)) {
    PutTag(wire::kErrorMsg);
    const int code = v.get_code();
    const auto len = static_cast<uint32_t>(v.get_msg().size());
    PutRaw(&code, 4);
    PutRaw(&len, 4);
    PutRaw(v.get_msg().data(), len);
    const int subCode = v.get_sub_code();
    const auto subLen = static_cast<uint32_t>(v.get_sub_msg().size());
    PutRaw(&subCode, 4);
    PutRaw(&subLen, 4);
    PutRaw(v.get_sub_msg().data(), subLen);
  }
  return *this;
}

// ---- reading ------------------------------------------------------------

// Consumes a tag and the n bytes after it; returns where those bytes start,
// or null (and fails) when the tag differs or the bytes are not there.
[[gnu::always_inline]] inline const char* tmb_stream::Take(uint8_t tag, std::size_t n,
                                                           const char* what) {
  if (Readable(1 + n) && static_cast<uint8_t>(*rp_) == tag) {
    const char* p = rp_ + 1;
    rp_ += 1 + n;
    return p;
  }
  ReadFailed(what);
  return nullptr;
}

// Called when a read found fewer bytes than it needs or another tag: says
// which, unless the stream had already failed.
[[gnu::cold]] bool tmb_stream::ReadFailed(const char* what) {
  if (state_ != State::kOk) return false;
  if (mode_ != Mode::kRead) return Fail("read on a stream being written");
  return Fail(what);
}

bool tmb_stream::TakeName(uint8_t tag, std::string_view name, const char* what) {
  const bool isStream = tag == wire::kStreamBegin;
  const char* p = Take(tag, isStream ? 2 : 1, what);
  if (p == nullptr) return false;
  if (isStream && static_cast<uint8_t>(*p++) != wire::kVersion) return Fail("stream version");
  // A name on the wire is never empty, so neither is the one expected.
  const std::size_t n = static_cast<unsigned char>(*p);
  if (n == 0 || n != name.size() || static_cast<std::size_t>(end_ - rp_) < n ||
      std::memcmp(rp_, name.data(), n) != 0) {
    return Fail(what);
  }
  if (!isStream) scopeOffset_ = static_cast<std::size_t>(p - base_);
  rp_ += n;
  return true;
}

bool tmb_stream::begin_read_list(std::string_view name, int& count) {
  if (!TakeName(wire::kListBegin, name, "list begin")) return false;
  if (static_cast<std::size_t>(end_ - rp_) < 4) return Fail("list count");
  const auto c = Load<uint32_t>(rp_);
  // Every element takes at least one byte, so a count beyond what follows
  // is a lie; this also keeps it within int.
  if (c > static_cast<std::size_t>(end_ - rp_ - 4)) return Fail("list count");
  rp_ += 4;
  count = static_cast<int>(c);
  return true;
}

bool tmb_stream::end_read_list() {
  return Take(wire::kListEnd, 0, "list end") != nullptr;
}

void tmb_stream::ReadTextFailed() {
  // Either the tag or the length field is wrong or missing, or the length
  // says more than the bytes that remain.
  if (Take(wire::kString, 4, "string") != nullptr) Fail("string length");
}

void tmb_stream::ReadDateTimeFailed() {
  // Either the tag or some of the bytes are wrong or missing, or the parts
  // are not a valid date and time.
  if (Take(wire::kDateTime, wire::kDateTimeSize, "datetime") != nullptr) Fail("datetime value");
}

tmb_stream& tmb_stream::operator>>(QRSErrorMsg& v) {
  const char* p = Take(wire::kErrorMsg, 8, "errormsg");
  if (p == nullptr) return *this;
  const int code = Load<int32_t>(p);
  auto n = Load<uint32_t>(p + 4);
  if (n > static_cast<std::size_t>(end_ - rp_)) {
    Fail("errormsg text length");
    return *this;
  }
  const char* msg = rp_;
  rp_ += n;
  const std::size_t msgLen = n;
  if (static_cast<std::size_t>(end_ - rp_) < 8) {
    Fail("errormsg second code");
    return *this;
  }
  const int subCode = Load<int32_t>(rp_);
  n = Load<uint32_t>(rp_ + 4);
  rp_ += 8;
  if (n > static_cast<std::size_t>(end_ - rp_)) {
    Fail("errormsg second text length");
    return *this;
  }
  v.set_code(code);
  v.set_msg(std::string(msg, msgLen));
  v.set_sub_code(subCode);
  v.set_sub_msg(std::string(rp_, n));
  rp_ += n;
  return *this;
}
