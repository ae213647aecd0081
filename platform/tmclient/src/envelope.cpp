#include "envelope.h"

#include <cstring>

#include "tmclient/session.h"
#include "tmclient/tmd_error.h"

namespace tmclient::envelope {
namespace {

void PutU64(std::string& out, uint64_t v) {
  char b[8];
  for (int i = 0; i < 8; ++i) b[i] = static_cast<char>(v >> (8 * i));
  out.append(b, 8);
}

uint64_t GetU64(const char* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}

}  // namespace

void PutU32(std::string& out, uint32_t v) {
  char b[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
               static_cast<char>(v >> 24)};
  out.append(b, 4);
}

uint32_t GetU32(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return uint32_t(u[0]) | uint32_t(u[1]) << 8 | uint32_t(u[2]) << 16 | uint32_t(u[3]) << 24;
}

int EncodeRequestHeader(uint32_t callId, std::string_view interfaceName,
                        std::string_view serviceCode, std::string_view session, std::string& out) {
  if (interfaceName.empty() || serviceCode.empty()) return kErrBadRequest;
  if (interfaceName.size() > kMaxNameSize || serviceCode.size() > kMaxNameSize ||
      session.size() > kMaxSessionSize)
    return kErrRequestTooLarge;
  // One growth of `out`, then the bytes in place: a header is written for
  // every call.
  const std::size_t at = out.size();
  out.resize(at + 1 + 4 + 3 + interfaceName.size() + serviceCode.size() + session.size());
  char* p = out.data() + at;
  *p++ = static_cast<char>(kSessionRequest);
  for (int i = 0; i < 4; ++i) *p++ = static_cast<char>(callId >> (8 * i));
  for (const std::string_view text : {interfaceName, serviceCode, session}) {
    *p++ = static_cast<char>(text.size());
    if (!text.empty()) std::memcpy(p, text.data(), text.size());
    p += text.size();
  }
  return 0;
}

bool DecodeRequest(std::string_view body, Request& out) {
  if (body.size() < 1 + 4 + 1) return false;
  const auto kind = static_cast<uint8_t>(body[0]);
  if (kind != kRequest && kind != kSessionRequest) return false;
  out.callId = GetU32(body.data() + 1);
  // Call id 0 is kept for errors about no call in particular.
  if (out.callId == 0) return false;
  std::size_t pos = 5;
  auto name = [&](std::string_view& v) {
    if (pos >= body.size()) return false;
    std::size_t n = static_cast<unsigned char>(body[pos++]);
    if (n == 0 || n > body.size() - pos) return false;
    v = body.substr(pos, n);
    pos += n;
    return true;
  };
  if (!name(out.interfaceName) || !name(out.serviceCode)) return false;
  out.session = {};
  if (kind == kSessionRequest) {
    // The session's length byte, then that many bytes (none for no session).
    if (pos >= body.size()) return false;
    std::size_t n = static_cast<unsigned char>(body[pos++]);
    if (n > body.size() - pos) return false;
    out.session = body.substr(pos, n);
    pos += n;
  }
  out.stream = body.substr(pos);
  return true;
}

void EncodeReplyHeader(uint32_t callId, int32_t result, std::string& out) {
  out.push_back(static_cast<char>(kReply));
  PutU32(out, callId);
  PutU32(out, static_cast<uint32_t>(result));
}

void EncodeError(uint32_t callId, int32_t code, std::string& out) {
  out.push_back(static_cast<char>(kError));
  PutU32(out, callId);
  PutU32(out, static_cast<uint32_t>(code));
}

void EncodeStreamStart(uint32_t callId, uint32_t headSize, std::string& out) {
  out.push_back(static_cast<char>(kStreamStart));
  PutU32(out, callId);
  PutU32(out, headSize);
}

void EncodeStreamPartHeader(uint32_t callId, std::string& out) {
  out.push_back(static_cast<char>(kStreamPart));
  PutU32(out, callId);
}

void EncodeStreamFinishHeader(uint32_t callId, int32_t result, std::string& out) {
  out.push_back(static_cast<char>(kStreamFinish));
  PutU32(out, callId);
  PutU32(out, static_cast<uint32_t>(result));
}

void EncodePartHeader(const PartHeader& part, std::string& out) {
  out.push_back(static_cast<char>(kReplyPart));
  PutU32(out, part.callId);
  PutU32(out, static_cast<uint32_t>(part.result));
  PutU32(out, part.index);
  PutU32(out, part.count);
  PutU64(out, part.total);
}

bool DecodeReplyHeader(std::string_view body, ReplyHeader& out) {
  if (body.empty()) return false;
  const char* p = body.data();
  switch (static_cast<uint8_t>(p[0])) {
    case kReply:
      if (body.size() < kReplyHeaderSize) return false;
      out.kind = kReply;
      out.headerSize = kReplyHeaderSize;
      break;
    case kError:
      if (body.size() != kErrorSize) return false;
      out.kind = kError;
      out.headerSize = kErrorSize;
      break;
    case kReplyPart:
      if (body.size() < kPartHeaderSize) return false;
      out.kind = kReplyPart;
      out.headerSize = kPartHeaderSize;
      out.part.index = GetU32(p + 9);
      out.part.count = GetU32(p + 13);
      out.part.total = GetU64(p + 17);
      break;
    case kStreamStart:
      if (body.size() != kStreamStartSize) return false;
      out.kind = kStreamStart;
      out.headerSize = kStreamStartSize;
      break;
    case kStreamPart:
      if (body.size() < kStreamPartHeaderSize) return false;
      out.kind = kStreamPart;
      out.headerSize = kStreamPartHeaderSize;
      break;
    case kStreamFinish:
      if (body.size() < kStreamFinishHeaderSize) return false;
      out.kind = kStreamFinish;
      out.headerSize = kStreamFinishHeaderSize;
      break;
    default:
      return false;
  }
  out.callId = GetU32(p + 1);
  out.result = out.kind == kStreamPart ? 0 : static_cast<int32_t>(GetU32(p + 5));
  out.part.callId = out.callId;
  out.part.result = out.result;
  return true;
}

}  // namespace tmclient::envelope
