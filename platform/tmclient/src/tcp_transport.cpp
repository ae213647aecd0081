#include "tcp_transport.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "envelope.h"
#include "socket_io.h"
#include "tmclient/service_handler.h"
#include "tmclient/tmb_stream.h"
#include "tmclient/tmd_error.h"

namespace tmclient {
namespace {

// Replies up to this size get their memory at once, from the length the
// server announced.
constexpr std::size_t kEagerReplySize = 64u << 20;
// How much later than its deadline a call may end because its first read
// waits in the socket's read timeout.
constexpr int64_t kReadTimeoutSlackMs = 2;
// What a streamed reply reserves when it starts.
constexpr std::size_t kStreamReserve = 32u << 20;

net::Clock::time_point DeadlineAfter(int64_t ms) {
  return net::Clock::now() + std::chrono::milliseconds(ms);
}

int ConnectCode(net::Connect c) {
  switch (c) {
    case net::Connect::kOk:
      return 0;
    case net::Connect::kRefused:
      return kErrConnectFailed;
    case net::Connect::kTimeout:
      return kErrTimeout;
    case net::Connect::kBadAddress:
      break;
  }
  return kErrBadBrokerUrl;
}

// A connection whose reads wait at most `readTimeoutMs` in the socket itself.
net::Connect Connect(const BrokerEndpoint& to, net::Clock::time_point deadline,
                     int64_t readTimeoutMs, int& fd) {
  net::Connect c = net::ConnectTcp(to.host, to.port, deadline, fd);
  if (c == net::Connect::kOk && !net::SetReadTimeout(fd, readTimeoutMs)) {
    net::CloseFd(fd);
    return net::Connect::kRefused;
  }
  return c;
}

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

// Reads the frames of one reply: small ones come whole with the first read
// and are taken from a buffer; the bulk of a large one is read straight to
// where it belongs.
class FrameReader {
 public:
  // `mayBlock`: the first read may wait in the socket's own read timeout,
  // which the deadline of this call has not yet cut short.
  FrameReader(int fd, net::Clock::time_point deadline, bool mayBlock)
      : iFd(fd), tDeadline(deadline), bMayBlock(mayBlock) {}

  // Exactly `size` bytes into `data`.
  net::Io Read(char* data, std::size_t size) {
    std::size_t n = std::min(size, iHave - iPos);
    std::memcpy(data, aBuf + iPos, n);
    iPos += n;
    if (n == size) return net::Io::kOk;
    data += n;
    size -= n;
    if (size >= sizeof aBuf / 2) return net::RecvAll(iFd, data, size, tDeadline);
    iPos = iHave = 0;
    while (iHave < size) {
      std::size_t got = 0;
      net::Io io = bMayBlock
                       ? net::RecvWaiting(iFd, aBuf + iHave, sizeof aBuf - iHave, got)
                       : net::RecvSome(iFd, aBuf + iHave, sizeof aBuf - iHave, tDeadline, got);
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
  const int iFd;
  const net::Clock::time_point tDeadline;
  bool bMayBlock;
  char aBuf[16 * 1024];
  std::size_t iPos = 0, iHave = 0;
};

// Reads the reply to `callId`: one whole reply or error frame, or a streamed
// reply (start, parts, finish) that a whole reply or an error may still
// replace.
int ReadReply(int fd, uint32_t callId, std::size_t maxReplySize, net::Clock::time_point deadline,
              bool mayBlock, std::string& reply) {
  FrameReader in(fd, deadline, mayBlock);
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
        reply.clear();
        return IsLibraryError(hdr.result) ? hdr.result : kErrServiceFailed;
      case envelope::kReply: {
        // Only the library may produce these; a server that sends one is broken.
        if (IsLibraryError(hdr.result)) return kErrBadReplyFrame;
        // A whole reply replaces whatever was streamed.
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
        // Address space only: pages are taken as parts arrive, and the parts
        // are never copied to a larger buffer on the way.
        reply.reserve(std::min(kStreamReserve, maxReplySize));
        reply.assign(headSize, '\0');
        break;
      case envelope::kStreamPart:
        if (!streaming) return kErrBadReplyFrame;
        if (data > maxReplySize - reply.size()) return kErrReplyTooLarge;
        if (int rc = readMore(data); rc != 0) return rc;
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

}  // namespace

TcpTransport::TcpTransport(BrokerEndpoint endpoint, RetryPolicy retry, std::size_t maxReplySize)
    : cEndpoint(std::move(endpoint)), cRetry(std::move(retry)), iMaxReplySize(maxReplySize) {}

TcpTransport::~TcpTransport() {
  net::CloseFd(iFd);
}

int TcpTransport::Factory(const std::string& url, std::unique_ptr<Transport>& out) {
  BrokerUrl parsed;
  if (!ParseBrokerUrl(url, parsed) || parsed.scheme != "tcp") return kErrBadBrokerUrl;
  auto t = std::make_unique<TcpTransport>(parsed.endpoints.front(), RetryPolicy::Of(parsed),
                                          tmb_stream::kMaxFrameSize);
  if (int rc = t->Open(); rc != 0) return rc;
  out = std::move(t);
  return 0;
}

int TcpTransport::Open() {
  std::lock_guard lock(mLock);
  net::CloseFd(iFd);
  iReadTimeoutMs = cRetry.deadlineMs;
  return ConnectCode(Connect(cEndpoint, DeadlineAfter(cRetry.deadlineMs), iReadTimeoutMs, iFd));
}

int TcpTransport::Call(const std::string& interfaceName, const std::string& serviceCode,
                       std::string_view request, std::string& reply) {
  std::lock_guard lock(mLock);
  CallAttempts attempts(cRetry, serviceCode);
  int rc;
  do {
    rc = Attempt(interfaceName, serviceCode, request, reply, attempts);
    if (IsLibraryError(rc)) {
      net::CloseFd(iFd);
      reply.clear();  // nothing of a reply that did not come whole
    }
  } while (attempts.Again(rc));
  return rc;
}

int TcpTransport::Attempt(const std::string& interfaceName, const std::string& serviceCode,
                          std::string_view request, std::string& reply,
                          const CallAttempts& attempts) {
  const auto deadline = attempts.attemptDeadline();
  const int64_t attemptMs = attempts.attemptMs();
  std::string& head = strHead;  // keeps its memory from one call to the next
  head.assign(envelope::kLengthPrefixSize, '\0');
  uint32_t callId = iNextCallId++;
  if (iNextCallId == 0) iNextCallId = 1;  // 0 means "no call in particular"
  if (int rc = envelope::EncodeRequestHeader(callId, interfaceName, serviceCode, head); rc != 0)
    return rc;
  std::size_t bodySize = head.size() - envelope::kLengthPrefixSize + request.size();
  if (bodySize > tmb_stream::kMaxFrameSize) return kErrRequestTooLarge;
  for (std::size_t i = 0; i < envelope::kLengthPrefixSize; ++i)
    head[i] = static_cast<char>(bodySize >> (8 * i));

  // A connection that went stale while idle (peer restarted, idle timeout on
  // the server) is replaced before anything is sent on it.
  if (iFd >= 0 && net::IsStale(iFd)) net::CloseFd(iFd);
  if (iFd < 0) {
    iReadTimeoutMs = attemptMs;
    int rc = ConnectCode(Connect(cEndpoint, deadline, iReadTimeoutMs, iFd));
    if (rc != 0) return rc;
  } else if (iReadTimeoutMs != attemptMs) {
    // Another service's calls last another time.
    iReadTimeoutMs = attemptMs;
    if (!net::SetReadTimeout(iFd, iReadTimeoutMs)) return kErrTransport;
  }

  iovec iov[2] = {{head.data(), head.size()}, {const_cast<char*>(request.data()), request.size()}};
  if (net::Io io = net::SendAll(iFd, iov, 2, deadline); io != net::Io::kOk) return IoToCode(io);
  // The socket's read timeout is the whole attempt: the wait for the reply
  // may rely on it when sending took next to nothing of the attempt.
  const bool mayBlock = net::RemainingMs(deadline) + kReadTimeoutSlackMs >= attemptMs;
  return ReadReply(iFd, callId, iMaxReplySize, deadline, mayBlock, reply);
}

}  // namespace tmclient
