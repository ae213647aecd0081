#pragma once

// The envelope around one stream on the network: what a request or a reply
// frame carries besides the stream's own bytes. docs/wire-format.md
// describes it byte by byte; on the wire, never change a value.
//
// Over tcp each body is preceded by its length (u32, little-endian). Over
// NATS the message payload is the body.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tmclient/export.h"
#include "tmclient/session.h"

namespace tmclient::envelope {

// First byte of every body.
enum Kind : uint8_t {
  kRequest = 0x51,         // 'Q' a request without a session (clients before sessions)
  kSessionRequest = 0x41,  // 'A' a request with the caller's session (may be empty)
  kReply = 0x52,           // 'R' the whole reply
  kReplyPart = 0x50,       // 'P' one part of a reply carried in several messages
  kError = 0x45,           // 'E' the server could not produce or send the reply
  // tcp only: a reply sent while the server is still producing it.
  kStreamStart = 0x48,   // 'H' the parts that follow carry the reply after its head
  kStreamPart = 0x53,    // 'S' the reply's next bytes
  kStreamFinish = 0x46,  // 'F' the result and the head: the streamed reply is whole
};

constexpr std::size_t kLengthPrefixSize = 4;
// kind, call id, result
constexpr std::size_t kReplyHeaderSize = 1 + 4 + 4;
// kind, call id, result, part index, part count, total length
constexpr std::size_t kPartHeaderSize = 1 + 4 + 4 + 4 + 4 + 8;
// kind, call id, code
constexpr std::size_t kErrorSize = 1 + 4 + 4;
// kind, call id, head size
constexpr std::size_t kStreamStartSize = 1 + 4 + 4;
// kind, call id
constexpr std::size_t kStreamPartHeaderSize = 1 + 4;
// kind, call id, result
constexpr std::size_t kStreamFinishHeaderSize = 1 + 4 + 4;
// Interface names and service codes are at most this long.
constexpr std::size_t kMaxNameSize = 255;
// The most a request body carries besides its stream: kind, call id, both
// names and the session, each with its length. A server's frame limit is its
// largest request stream plus this.
constexpr std::size_t kMaxRequestHeaderSize = 1 + 4 + 2 * (1 + kMaxNameSize) + 1 + kMaxSessionSize;

// Whether a body starting with `first` may be a request, of either kind.
inline bool IsRequestKind(char first) {
  const auto kind = static_cast<uint8_t>(first);
  return kind == kSessionRequest || kind == kRequest;
}

struct Request {
  uint32_t callId = 0;
  std::string_view interfaceName;
  std::string_view serviceCode;
  std::string_view session;  // "" for none, and for a kRequest body
  std::string_view stream;   // the request stream's bytes
  // Not on the wire: the server's own view of the caller (CallContext::peer),
  // set by the server transport after decoding.
  std::string_view peer;
};

// The header of a request body (kSessionRequest, call id, both names, the
// session); the stream's bytes follow it. 0, or kErrBadRequest for an empty
// name, kErrRequestTooLarge for a name longer than kMaxNameSize or a session
// longer than kMaxSessionSize (nothing is appended then).
TMCLIENT_INTERNAL int EncodeRequestHeader(uint32_t callId, std::string_view interfaceName,
                                          std::string_view serviceCode, std::string_view session,
                                          std::string& out);
// Parses a request body of either kind. False when the body is not a
// well-formed request (call id 0 and empty names included); `out` then refers
// to nothing useful. The views point into `body`.
TMCLIENT_INTERNAL bool DecodeRequest(std::string_view body, Request& out);

TMCLIENT_INTERNAL void EncodeReplyHeader(uint32_t callId, int32_t result, std::string& out);
TMCLIENT_INTERNAL void EncodeError(uint32_t callId, int32_t code, std::string& out);
void EncodeStreamStart(uint32_t callId, uint32_t headSize, std::string& out);
void EncodeStreamPartHeader(uint32_t callId, std::string& out);
void EncodeStreamFinishHeader(uint32_t callId, int32_t result, std::string& out);

struct PartHeader {
  uint32_t callId = 0;
  int32_t result = 0;
  uint32_t index = 0;
  uint32_t count = 0;
  uint64_t total = 0;  // length of the whole reply stream
};
TMCLIENT_INTERNAL void EncodePartHeader(const PartHeader& part, std::string& out);

// What the first bytes of a reply body say. `headerSize` is where the stream's
// bytes begin (0 for kError). False for an unknown kind or a short body.
struct ReplyHeader {
  Kind kind = kReply;
  uint32_t callId = 0;
  // kReply, kReplyPart, kStreamFinish: the server's result; kError: a
  // library code; kStreamStart: the size of the head that kStreamFinish brings
  int32_t result = 0;
  PartHeader part;  // kReplyPart only
  std::size_t headerSize = 0;
};
TMCLIENT_INTERNAL bool DecodeReplyHeader(std::string_view body, ReplyHeader& out);

TMCLIENT_INTERNAL void PutU32(std::string& out, uint32_t v);
uint32_t GetU32(const char* p);

}  // namespace tmclient::envelope
