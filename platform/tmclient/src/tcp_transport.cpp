#include "tcp_transport.h"

#include <chrono>
#include <cstring>

#include "envelope.h"
#include "socket_io.h"
#include "tmclient/tmb_stream.h"
#include "tmclient/tmd_error.h"

namespace tmclient {
namespace {

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
  std::size_t body = head.size() - envelope::kLengthPrefixSize + request.size();
  if (body > tmb_stream::kMaxFrameSize) return kErrRequestTooLarge;
  std::string prefix;
  envelope::PutU32(prefix, static_cast<uint32_t>(body));
  std::memcpy(head.data(), prefix.data(), envelope::kLengthPrefixSize);

  // A connection that went stale while idle (peer restarted, idle timeout on
  // the server) is replaced before anything is sent on it.
  if (iFd >= 0 && net::IsStale(iFd)) net::CloseFd(iFd);
  if (iFd < 0) {
    int rc = ConnectCode(net::ConnectTcp(cEndpoint.host, cEndpoint.port, deadline, iFd));
    if (rc != 0) return rc;
  }

  iovec iov[2] = {{head.data(), head.size()}, {const_cast<char*>(request.data()), request.size()}};
  if (net::Io io = net::SendAll(iFd, iov, 2, deadline); io != net::Io::kOk) return IoToCode(io);

  char lenBuf[envelope::kLengthPrefixSize];
  if (net::Io io = net::RecvAll(iFd, lenBuf, sizeof lenBuf, deadline); io != net::Io::kOk)
    return IoToCode(io);
  uint32_t length = envelope::GetU32(lenBuf);
  if (length > iMaxReplySize + envelope::kReplyHeaderSize) return kErrReplyTooLarge;
  if (length < envelope::kErrorSize) return kErrBadReplyFrame;

  char hdrBuf[envelope::kReplyHeaderSize];
  if (net::Io io = net::RecvAll(iFd, hdrBuf, sizeof hdrBuf, deadline); io != net::Io::kOk)
    return IoToCode(io);
  envelope::ReplyHeader hdr;
  std::string_view hdrView(hdrBuf, sizeof hdrBuf);
  if (static_cast<uint8_t>(hdrBuf[0]) == envelope::kError) {
    if (length != envelope::kErrorSize || !envelope::DecodeReplyHeader(hdrView, hdr))
      return kErrBadReplyFrame;
  } else if (!envelope::DecodeReplyHeader(hdrView, hdr) || hdr.kind != envelope::kReply) {
    return kErrBadReplyFrame;
  }
  // An error frame about no call in particular answers a request the server
  // could not even read (one over its size limit, say).
  bool anyCall = hdr.kind == envelope::kError && hdr.callId == 0;
  if (hdr.callId != callId && !anyCall) return kErrBadReplyFrame;
  if (hdr.kind == envelope::kError)
    return IsLibraryError(hdr.result) ? hdr.result : kErrServiceFailed;

  reply.resize(length - envelope::kReplyHeaderSize);
  if (net::Io io = net::RecvAll(iFd, reply.data(), reply.size(), deadline); io != net::Io::kOk) {
    reply.clear();
    return IoToCode(io);
  }
  if (IsLibraryError(hdr.result)) {
    // Only the library may produce these; a server that sends one is broken.
    reply.clear();
    return kErrBadReplyFrame;
  }
  return hdr.result;
}

}  // namespace tmclient
