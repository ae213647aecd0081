#include "tcp_reply_reader.h"

#include <algorithm>
#include <cstring>

#include "envelope.h"
#include "tmclient/service_handler.h"
#include "tmclient/tmd_error.h"

namespace tmclient {

int IoToCode(net::Io io) {
  switch (io) {
    case net::Io::kOk:
      return 0;
    case net::Io::kTimeout:
      return kErrTimeout;
    case net::Io::kClosed:
      return kErrConnectionLost;
    case net::Io::kError:
      break;
  }
  return kErrTransport;
}

namespace {

// Replies up to this size get their memory at once, from the length the
// server announced; beyond it, memory grows with the bytes that have
// arrived (never more than twice them), whatever length was announced.
constexpr std::size_t kEagerReplySize = 1u << 20;

// Reads the frames of one reply: small ones come whole with the first read
// and are taken from a buffer; the bulk of a large one is read straight to
// where it belongs.
class FrameReader {
 public:
  // `mayBlock`: the first read may wait in the socket's own read timeout,
  // which the deadline of this call has not yet cut short.
  FrameReader(net::Stream& in, net::Clock::time_point deadline, bool mayBlock)
      : cIn(in), tDeadline(deadline), bMayBlock(mayBlock) {}

  // Exactly `size` bytes into `data`.
  net::Io Read(char* data, std::size_t size) {
    std::size_t n = std::min(size, iHave - iPos);
    std::memcpy(data, aBuf + iPos, n);
    iPos += n;
    if (n == size) return net::Io::kOk;
    data += n;
    size -= n;
    if (size >= sizeof aBuf / 2) return cIn.RecvAll(data, size, tDeadline);
    iPos = iHave = 0;
    while (iHave < size) {
      std::size_t got = 0;
      net::Io io = cIn.RecvSome(aBuf + iHave, sizeof aBuf - iHave, tDeadline, bMayBlock, got);
      bMayBlock = false;
      if (io != net::Io::kOk) return io;
      iHave += got;
    }
    std::memcpy(data, aBuf, size);
    iPos = size;
    return net::Io::kOk;
  }
  // Received bytes not taken yet.
  std::size_t pending() const { return iHave - iPos; }

 private:
  net::Stream& cIn;
  const net::Clock::time_point tDeadline;
  bool bMayBlock;
  char aBuf[16 * 1024];
  std::size_t iPos = 0, iHave = 0;
};

}  // namespace

int ReadTcpReply(net::Stream& stream, uint32_t callId, std::size_t maxReplySize,
                 net::Clock::time_point deadline, bool mayBlock, std::string& reply,
                 ReplyProgress* progress) {
  FrameReader in(stream, deadline, mayBlock);
  bool streaming = false;  // between a stream start and its finish
  std::size_t headSize = 0;
  // Appends the next `n` bytes of the frame to `reply`. An announced length
  // is believed up to kEagerReplySize at once; beyond that, memory grows only
  // as bytes actually arrive.
  auto readMore = [&](std::size_t n) {
    std::size_t got = reply.size();
    const std::size_t total = got + n;
    while (got < total) {
      const std::size_t next = std::min(total, std::max(got + kEagerReplySize, 2 * got));
      reply.resize(next);
      if (net::Io io = in.Read(reply.data() + got, next - got); io != net::Io::kOk) {
        reply.clear();
        return IoToCode(io);
      }
      got = next;
    }
    return 0;
  };
  while (true) {
    char h[envelope::kLengthPrefixSize + envelope::kReplyHeaderSize];
    if (net::Io io = in.Read(h, envelope::kLengthPrefixSize); io != net::Io::kOk)
      return IoToCode(io);
    const uint32_t length = envelope::GetU32(h);
    // Judge the length before waiting for anything else.
    if (length > maxReplySize + envelope::kReplyHeaderSize) return kErrReplyTooLarge;
    if (length < envelope::kStreamPartHeaderSize) return kErrBadReplyFrame;
    if (net::Io io = in.Read(h + envelope::kLengthPrefixSize, envelope::kStreamPartHeaderSize);
        io != net::Io::kOk)
      return IoToCode(io);
    const auto kind = static_cast<uint8_t>(h[envelope::kLengthPrefixSize]);
    if (kind != envelope::kStreamPart) {
      if (length < envelope::kReplyHeaderSize) return kErrBadReplyFrame;
      if (net::Io io = in.Read(h + envelope::kLengthPrefixSize + envelope::kStreamPartHeaderSize,
                               envelope::kReplyHeaderSize - envelope::kStreamPartHeaderSize);
          io != net::Io::kOk)
        return IoToCode(io);
    }
    std::string_view body(h + envelope::kLengthPrefixSize, kind == envelope::kStreamPart
                                                               ? envelope::kStreamPartHeaderSize
                                                               : envelope::kReplyHeaderSize);
    envelope::ReplyHeader hdr;
    if (!envelope::DecodeReplyHeader(body, hdr)) return kErrBadReplyFrame;
    // An error frame about no call in particular answers a request the server
    // could not even read (one over its size limit, say).
    const bool anyCall = hdr.kind == envelope::kError && hdr.callId == 0;
    if (hdr.callId != callId && !anyCall) return kErrBadReplyFrame;
    const std::size_t data = length - hdr.headerSize;
    switch (hdr.kind) {
      case envelope::kError:
        // Drops whatever was streamed.
        if (data != 0 || in.pending() != 0) return kErrBadReplyFrame;
        if (progress != nullptr) progress->Dropped();
        reply.clear();
        return IsLibraryError(hdr.result) ? hdr.result : kErrServiceFailed;
      case envelope::kReply: {
        // Only the library may produce these; a server that sends one is broken.
        if (IsLibraryError(hdr.result)) return kErrBadReplyFrame;
        // A whole reply replaces whatever was streamed.
        if (progress != nullptr) progress->Dropped();
        reply.clear();
        if (int rc = readMore(data); rc != 0) return rc;
        return in.pending() == 0 ? hdr.result : kErrBadReplyFrame;
      }
      case envelope::kStreamStart:
        headSize = static_cast<uint32_t>(hdr.result);
        if (data != 0 || streaming || headSize > ReplyWriter::kMaxHeadSize)
          return kErrBadReplyFrame;
        if (headSize > maxReplySize) return kErrReplyTooLarge;
        streaming = true;
        reply.assign(headSize, '\0');
        if (progress != nullptr) progress->Started(headSize);
        break;
      case envelope::kStreamPart:
        if (!streaming) return kErrBadReplyFrame;
        if (data > maxReplySize - reply.size()) return kErrReplyTooLarge;
        if (int rc = readMore(data); rc != 0) return rc;
        if (progress != nullptr) progress->Arrived(std::string_view(reply).substr(headSize));
        break;
      case envelope::kStreamFinish:
        if (!streaming || data != headSize || IsLibraryError(hdr.result)) return kErrBadReplyFrame;
        if (net::Io io = in.Read(reply.data(), headSize); io != net::Io::kOk) return IoToCode(io);
        return in.pending() == 0 ? hdr.result : kErrBadReplyFrame;
      default:
        return kErrBadReplyFrame;
    }
  }
}

}  // namespace tmclient
