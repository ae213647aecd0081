#include "tmclient/tmb_writer.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "tmclient/qrs_errormsg.h"
#include "tmclient/wire_tags.h"

static_assert(std::endian::native == std::endian::little,
              "the coding copies little-endian integers as they are in memory");

namespace wire = tmclient::wire;

tmb_writer::tmb_writer() = default;
tmb_writer::~tmb_writer() = default;

bool tmb_writer::open() {
  iLen = 0;
  iRoom = std::min(sBuf.size(), wire::kMaxFrameSize);
  pMisuse = nullptr;
  eState = State::kOk;
  sFailedAt.clear();
  return true;
}

void tmb_writer::close(const char* misuse) {
  iLen = iRoom = 0;
  pMisuse = misuse;
  eState = State::kClosed;
  sFailedAt.clear();
}

void tmb_writer::halt() {
  if (eState == State::kFailed) return;
  eState = State::kFailed;
  iRoom = iLen;
}

[[gnu::cold]] bool tmb_writer::Fail(const char* what) {
  if (eState == State::kFailed) return false;
  eState = State::kFailed;
  iRoom = iLen;  // nothing is writable any more
  sFailedAt = what;
  Failed();
  return false;
}

char* tmb_writer::Grow(std::size_t n) {
  if (eState == State::kClosed) {
    if (pMisuse != nullptr) Fail(pMisuse);
    return nullptr;
  }
  if (eState != State::kOk) return nullptr;
  if (n > wire::kMaxFrameSize - iLen) {
    Fail("frame over size limit");
    return nullptr;
  }
  // A fresh writer starts at a size that holds a request whole: every byte
  // of the buffer is zeroed when it grows, and a writer made per call pays
  // that on every call.
  sBuf.resize(std::max({sBuf.size() * 2, iLen + n, sBuf.capacity(), std::size_t{512}}));
  iRoom = std::min(sBuf.size(), wire::kMaxFrameSize);
  return sBuf.data() + iLen;
}

[[gnu::cold]] char* tmb_writer::BadName() {
  if (eState == State::kOk) {
    Fail("bad frame name");
  } else {
    Grow(0);  // a closed writer says why, if it was told
  }
  return nullptr;
}

bool tmb_writer::begin_stream(const char* name) {
  // Tag, version, name length, name.
  const std::string_view n = wire::NameView(name);
  if (n.size() - 1 >= wire::kMaxNameSize) return BadName() != nullptr;
  char* p = Room(3 + n.size());
  if (p == nullptr) return false;
  p[0] = static_cast<char>(wire::kStreamBegin);
  p[1] = static_cast<char>(wire::kVersion);
  p[2] = static_cast<char>(n.size());
  std::memcpy(p + 3, n.data(), n.size());
  iLen += 3 + n.size();
  return true;
}

bool tmb_writer::begin_write_list(const char* name, int count) {
  if (count < 0) {
    if (eState == State::kOk) return Fail("negative list count");
    return Grow(0) != nullptr;
  }
  char* p = PutName(wire::kListBegin, wire::NameView(name), 4);
  if (p == nullptr) return false;
  const auto c = static_cast<uint32_t>(count);
  std::memcpy(p, &c, 4);
  iLen += 4;
  return true;
}

tmb_writer& tmb_writer::operator<<(const QRSErrorMsg& v) {
  // Tag, i32 code, u32 length, text, i32 second code, u32 length, text.
  const std::string& msg = v.get_msg();
  const std::string& sub = v.get_sub_msg();
  char* p = Room(17 + msg.size() + sub.size());
  if (p == nullptr) return *this;
  const int32_t code = v.get_code();
  const auto len = static_cast<uint32_t>(msg.size());
  const int32_t subCode = v.get_sub_code();
  const auto subLen = static_cast<uint32_t>(sub.size());
  p[0] = static_cast<char>(wire::kErrorMsg);
  std::memcpy(p + 1, &code, 4);
  std::memcpy(p + 5, &len, 4);
  std::memcpy(p + 9, msg.data(), len);
  p += 9 + len;
  std::memcpy(p, &subCode, 4);
  std::memcpy(p + 4, &subLen, 4);
  std::memcpy(p + 8, sub.data(), subLen);
  iLen += 17 + msg.size() + sub.size();
  return *this;
}
