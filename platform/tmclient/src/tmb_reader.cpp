#include "tmclient/tmb_reader.h"

#include <bit>
#include <cstring>
#include <limits>

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

}  // namespace

tmb_reader::tmb_reader() = default;
tmb_reader::~tmb_reader() = default;

void tmb_reader::read(std::string_view bytes, std::shared_ptr<const void> owner) {
  const bool tooLarge = bytes.size() > wire::kMaxFrameSize;
  if (tooLarge) {
    bytes = std::string_view();
    owner.reset();
  }
  pOwner = std::move(owner);
  pBase = pPos = bytes.data();
  pEnd = pLimit = bytes.data() + bytes.size();
  iScope = kNoScope;
  pMisuse = nullptr;
  eState = State::kOk;
  sFailedAt.clear();
  if (tooLarge) Fail("frame over size limit");
}

void tmb_reader::close(const char* misuse) {
  pOwner.reset();
  pBase = pPos = pEnd = pLimit = nullptr;
  iScope = kNoScope;
  pMisuse = misuse;
  eState = State::kClosed;
  sFailedAt.clear();
}

void tmb_reader::halt() {
  if (eState == State::kFailed) return;
  eState = State::kFailed;
  pLimit = pPos;
}

[[gnu::cold]] bool tmb_reader::Fail(const char* what) {
  if (eState == State::kFailed) return false;
  const bool reading = eState == State::kOk;
  eState = State::kFailed;
  pLimit = pPos;  // nothing is readable any more
  sFailedAt = what;
  if (reading) {
    if (iScope != kNoScope) {
      const auto len = static_cast<unsigned char>(pBase[iScope]);
      sFailedAt += " in ";
      sFailedAt.append(pBase + iScope + 1, len);
    }
    sFailedAt += " at offset ";
    sFailedAt += std::to_string(pPos - pBase);
  }
  Failed();
  return false;
}

[[gnu::cold]] bool tmb_reader::ReadFailed(const char* what) {
  if (eState == State::kClosed) return pMisuse != nullptr ? Fail(pMisuse) : false;
  return Fail(what);
}

[[gnu::cold]] bool tmb_reader::FailAfter(std::size_t n, const char* what) {
  pPos += n;
  return Fail(what);
}

[[gnu::cold]] bool tmb_reader::NameFailed(uint8_t tag, const char* what) {
  if (Readable(2) && Tag() == tag) return FailAfter(2, what);
  return ReadFailed(what);
}

bool tmb_reader::begin_stream(const char* name) {
  // Tag, version, name length, name; the stream's name is no scope.
  if (!Readable(3) || Tag() != wire::kStreamBegin) return ReadFailed("stream begin");
  if (static_cast<uint8_t>(pPos[1]) != wire::kVersion) return FailAfter(3, "stream version");
  const std::string_view expected = wire::NameView(name);
  // A name on the wire is never empty, so neither is the one expected.
  const std::size_t n = static_cast<unsigned char>(pPos[2]);
  if (n == 0 || n != expected.size() || Left() - 3 < n ||
      std::memcmp(pPos + 3, expected.data(), n) != 0) {
    return FailAfter(3, "stream begin");
  }
  pPos += 3 + n;
  return true;
}

bool tmb_reader::end_stream() {
  if (!TakeTag(wire::kStreamEnd, "stream end")) return false;
  if (pPos != pEnd) return Fail("trailing bytes after stream end");
  return true;
}

bool tmb_reader::begin_read_list(std::string_view name, int& count) {
  if (!TakeName(wire::kListBegin, name, "list begin")) return false;
  if (Left() < 4) return Fail("list count");
  const auto c = Load<uint32_t>(pPos);
  // Every element takes at least one byte, so a count beyond what follows
  // is a lie; this also keeps it within int.
  if (c > Left() - 4) return Fail("list count");
  pPos += 4;
  count = static_cast<int>(c);
  return true;
}

tmb_reader& tmb_reader::operator>>(QRSErrorMsg& v) {
  // Tag, i32 code, u32 length, text, i32 second code, u32 length, text.
  if (!Readable(9) || Tag() != wire::kErrorMsg) {
    ReadFailed("errormsg");
    return *this;
  }
  const int code = Load<int32_t>(pPos + 1);
  const auto msgLen = Load<uint32_t>(pPos + 5);
  pPos += 9;
  if (msgLen > Left()) {
    Fail("errormsg text length");
    return *this;
  }
  const char* msg = pPos;
  pPos += msgLen;
  if (Left() < 8) {
    Fail("errormsg second code");
    return *this;
  }
  const int subCode = Load<int32_t>(pPos);
  const auto subLen = Load<uint32_t>(pPos + 4);
  pPos += 8;
  if (subLen > Left()) {
    Fail("errormsg second text length");
    return *this;
  }
  v.set_code(code);
  v.set_msg(std::string(msg, msgLen));
  v.set_sub_code(subCode);
  v.set_sub_msg(std::string(pPos, subLen));
  pPos += subLen;
  return *this;
}
