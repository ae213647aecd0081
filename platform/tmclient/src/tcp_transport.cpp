#include "tcp_transport.h"

#include <chrono>
#include <cstring>

#include "envelope.h"
#include "socket_io.h"
#include "tmclient/tmb_stream.h"
#include "tmclient/tmd_error.h"

namespace tmclient {
namespace {

// Replies up to this size get their memory at once, from the length the
// server announced.
constexpr std::size_t kEagerReplySize = 64u << 20;

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

}  // namespace

TcpTransport::TcpTransport(BrokerEndpoint endpoint, int64_t deadlineMs, std::size_t maxReplySize)
    : cEndpoint(std::move(endpoint)), iDeadlineMs(deadlineMs), iMaxReplySize(maxReplySize) {}

TcpTransport::~TcpTransport() {
  net::CloseFd(iFd);
}

int TcpTransport::Factory(const std::string& url, std::unique_ptr<Transport>& out) {
  BrokerUrl parsed;
  if (!ParseBrokerUrl(url, parsed) || parsed.scheme != "tcp") return kErrBadBrokerUrl;
  auto t = std::make_unique<TcpTransport>(parsed.endpoints.front(), parsed.deadlineMs,
                                          tmb_stream::kMaxFrameSize);
  if (int rc = t->Open(); rc != 0) return rc;
  out = std::move(t);
  return 0;
}

int TcpTransport::Open() {
  std::lock_guard lock(mLock);
  net::CloseFd(iFd);
  return ConnectCode(
      net::ConnectTcp(cEndpoint.host, cEndpoint.port, DeadlineAfter(iDeadlineMs), iFd));
}

int TcpTransport::Call(const std::string& interfaceName, const std::string& serviceCode,
                       std::string_view request, std::string& reply) {
  std::lock_guard lock(mLock);
  int rc = CallLocked(interfaceName, serviceCode, request, reply);
  if (IsLibraryError(rc)) net::CloseFd(iFd);
  return rc;
}

int TcpTransport::CallLocked(const std::string& interfaceName, const std::string& serviceCode,
                             std::string_view request, std::string& reply) {
  const auto deadline = DeadlineAfter(iDeadlineMs);
  std::string head;
  head.reserve(16 + interfaceName.size() + serviceCode.size());
  head.resize(envelope::kLengthPrefixSize);
  uint32_t callId = iNextCallId++;
  if (iNextCallId == 0) iNextCallId = 1;  // 0 means "no call in particular"
  if (!envelope::EncodeRequestHeader(callId, interfaceName, serviceCode, head))
    return kErrRequestTooLarge;
  std::size_t bodySize = head.size() - envelope::kLengthPrefixSize + request.size();
  if (bodySize > tmb_stream::kMaxFrameSize) return kErrRequestTooLarge;
  for (std::size_t i = 0; i < envelope::kLengthPrefixSize; ++i)
    head[i] = static_cast<char>(bodySize >> (8 * i));

  // A connection that went stale while idle (peer restarted, idle timeout on
  // the server) is replaced before anything is sent on it.
  if (iFd >= 0 && net::IsStale(iFd)) net::CloseFd(iFd);
  if (iFd < 0) {
    int rc = ConnectCode(net::ConnectTcp(cEndpoint.host, cEndpoint.port, deadline, iFd));
    if (rc != 0) return rc;
  }

  iovec iov[2] = {{head.data(), head.size()}, {const_cast<char*>(request.data()), request.size()}};
  if (net::Io io = net::SendAll(iFd, iov, 2, deadline); io != net::Io::kOk) return IoToCode(io);

  // Small replies come whole in the first read; larger ones are read
  // straight into `reply` after it.
  constexpr std::size_t kHead = envelope::kLengthPrefixSize + envelope::kReplyHeaderSize;
  char buf[16 * 1024];
  std::size_t have = 0;
  uint32_t length = 0;
  while (have < kHead) {
    std::size_t got = 0;
    net::Io io = net::RecvSome(iFd, buf + have, sizeof buf - have, deadline, got);
    if (io != net::Io::kOk) return IoToCode(io);
    have += got;
    if (have < envelope::kLengthPrefixSize) continue;
    // Judge the length as soon as it is in, before waiting for anything else.
    length = envelope::GetU32(buf);
    if (length > iMaxReplySize + envelope::kReplyHeaderSize) return kErrReplyTooLarge;
    if (length < envelope::kErrorSize) return kErrBadReplyFrame;
  }
  std::string_view body(buf + envelope::kLengthPrefixSize, have - envelope::kLengthPrefixSize);
  if (body.size() > length) return kErrBadReplyFrame;  // bytes nobody asked for

  envelope::ReplyHeader hdr;
  if (static_cast<uint8_t>(body[0]) == envelope::kError) {
    if (length != envelope::kErrorSize || !envelope::DecodeReplyHeader(body, hdr))
      return kErrBadReplyFrame;
  } else if (!envelope::DecodeReplyHeader(body, hdr) || hdr.kind != envelope::kReply) {
    return kErrBadReplyFrame;
  }
  // An error frame about no call in particular answers a request the server
  // could not even read (one over its size limit, say).
  bool anyCall = hdr.kind == envelope::kError && hdr.callId == 0;
  if (hdr.callId != callId && !anyCall) return kErrBadReplyFrame;
  if (hdr.kind == envelope::kError)
    return IsLibraryError(hdr.result) ? hdr.result : kErrServiceFailed;
  // Only the library may produce these; a server that sends one is broken.
  if (IsLibraryError(hdr.result)) return kErrBadReplyFrame;

  // The announced length is believed up to kEagerReplySize at once; beyond
  // that, memory grows only as bytes actually arrive.
  const std::size_t total = length - envelope::kReplyHeaderSize;
  std::string_view first = body.substr(envelope::kReplyHeaderSize);
  reply.resize(std::min(total, std::max(first.size(), kEagerReplySize)));
  std::memcpy(reply.data(), first.data(), first.size());
  std::size_t got = first.size();
  while (got < total) {
    if (got == reply.size()) reply.resize(std::min(total, reply.size() * 2));
    net::Io io = net::RecvAll(iFd, reply.data() + got, reply.size() - got, deadline);
    if (io != net::Io::kOk) {
      reply.clear();
      return IoToCode(io);
    }
    got = reply.size();
  }
  return hdr.result;
}

}  // namespace tmclient
