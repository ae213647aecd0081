#include "tcp_transport.h"

#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>

#include "clear_stream.h"
#include "envelope.h"
#include "list_limit.h"
#include "session_internal.h"
#include "socket_io.h"
#include "tcp_reply_reader.h"
#include "tmclient/service_handler.h"
#include "tmclient/tmb_stream.h"
#include "tmclient/tmd_error.h"

namespace tmclient {
namespace {

// How much later than its deadline a call may end because its first read
// waits in the socket's read timeout.
constexpr int64_t kReadTimeoutSlackMs = 2;

net::Clock::time_point DeadlineAfter(int64_t ms) {
  return net::Clock::now() + std::chrono::milliseconds(ms);
}

// Call ids are the process's, not the connection's: after a call was given
// up with its connection, the next one, on a new connection, has an id that
// no reply on the way can carry.
uint32_t NextCallId() {
  static std::atomic<uint32_t> next{1};
  uint32_t id;
  do id = next.fetch_add(1, std::memory_order_relaxed);
  while (id == 0);  // 0 means "no call in particular"
  return id;
}

}  // namespace

TcpTransport::TcpTransport(BrokerEndpoint endpoint, RetryPolicy retry, std::size_t maxReplySize,
                           uint64_t maxRows, std::unique_ptr<net::Connector> connector)
    : cEndpoint(std::move(endpoint)),
      cRetry(std::move(retry)),
      iMaxReplySize(maxReplySize),
      iMaxRows(maxRows),
      pConnector(std::move(connector)) {}

TcpTransport::~TcpTransport() = default;

int TcpTransport::Factory(const std::string& url, std::unique_ptr<Transport>& out) {
  BrokerUrl parsed;
  if (!ParseBrokerUrl(url, parsed) || parsed.scheme != "tcp") return kErrBadBrokerUrl;
  auto t = std::make_unique<TcpTransport>(parsed.endpoints.front(), RetryPolicy::Of(parsed),
                                          parsed.maxReplyBytes(), parsed.maxRows,
                                          net::MakeClearConnector());
  if (int rc = t->Open(); rc != 0) return rc;
  out = std::move(t);
  return 0;
}

int TcpTransport::Open() {
  std::lock_guard lock(mLock);
  Drop();
  iReadTimeoutMs = cRetry.deadlineMs;
  std::unique_ptr<net::Stream> stream;
  const int rc =
      pConnector->Connect(cEndpoint, DeadlineAfter(cRetry.deadlineMs), iReadTimeoutMs, stream);
  if (rc != 0) return rc;
  return Adopt(std::move(stream)) ? 0 : kErrCallAbandoned;
}

int TcpTransport::Call(const std::string& interfaceName, const std::string& serviceCode,
                       std::string_view request, std::string& reply) {
  return WithinRowLimit(Run(interfaceName, serviceCode, request, reply, nullptr), reply, iMaxRows);
}

int TcpTransport::CallWatched(const std::string& interfaceName, const std::string& serviceCode,
                              std::string_view request, std::string& reply,
                              ReplyProgress& progress) {
  // A reader that reads the rows ahead takes no more of them than the call.
  RowCappedProgress capped(progress, iMaxRows);
  return capped.WithinRowLimit(Run(interfaceName, serviceCode, request, reply, &capped), reply);
}

int TcpTransport::Run(const std::string& interfaceName, const std::string& serviceCode,
                      std::string_view request, std::string& reply, ReplyProgress* progress) {
  std::lock_guard lock(mLock);
  CallAttempts attempts(cRetry, serviceCode);
  int rc;
  do {
    rc = Attempt(interfaceName, serviceCode, request, reply, attempts, progress);
    if (IsLibraryError(rc)) {
      Drop();
      reply.clear();  // nothing of a reply that did not come whole
    }
  } while (!bAbandoned && attempts.Again(rc));
  return rc;
}

void TcpTransport::Abandon() {
  std::lock_guard lock(mFdLock);
  bAbandoned = true;
  if (pStream) ::shutdown(pStream->fd(), SHUT_RDWR);
}

void TcpTransport::Drop() {
  std::lock_guard lock(mFdLock);
  pStream.reset();
}

bool TcpTransport::Adopt(std::unique_ptr<net::Stream> stream) {
  std::lock_guard lock(mFdLock);
  if (bAbandoned) return false;
  pStream = std::move(stream);
  return true;
}

int TcpTransport::Attempt(const std::string& interfaceName, const std::string& serviceCode,
                          std::string_view request, std::string& reply,
                          const CallAttempts& attempts, ReplyProgress* progress) {
  const auto deadline = attempts.attemptDeadline();
  const int64_t attemptMs = attempts.attemptMs();
  std::string& head = strHead;  // keeps its memory from one call to the next
  head.assign(envelope::kLengthPrefixSize, '\0');
  const uint32_t callId = NextCallId();
  CurrentSessionInto(strSession, iSessionVersion);
  if (int rc = envelope::EncodeRequestHeader(callId, interfaceName, serviceCode, strSession, head);
      rc != 0)
    return rc;
  std::size_t bodySize = head.size() - envelope::kLengthPrefixSize + request.size();
  if (bodySize > tmb_stream::kMaxFrameSize) return kErrRequestTooLarge;
  for (std::size_t i = 0; i < envelope::kLengthPrefixSize; ++i)
    head[i] = static_cast<char>(bodySize >> (8 * i));

  // A connection that went stale while idle (peer restarted, idle timeout on
  // the server) is replaced before anything is sent on it.
  if (pStream && pStream->IsStale()) Drop();
  if (!pStream) {
    iReadTimeoutMs = attemptMs;
    std::unique_ptr<net::Stream> stream;
    int rc = pConnector->Connect(cEndpoint, deadline, iReadTimeoutMs, stream);
    if (rc != 0) return rc;
    if (!Adopt(std::move(stream))) return kErrCallAbandoned;
  } else if (iReadTimeoutMs != attemptMs) {
    // Another service's calls last another time.
    iReadTimeoutMs = attemptMs;
    if (!pStream->SetReadTimeout(iReadTimeoutMs)) return kErrTransport;
  }

  iovec iov[2] = {{head.data(), head.size()}, {const_cast<char*>(request.data()), request.size()}};
  if (net::Io io = pStream->SendAll(iov, 2, deadline); io != net::Io::kOk) return IoToCode(io);
  // The socket's read timeout is the whole attempt: the wait for the reply
  // may rely on it when sending took next to nothing of the attempt.
  const bool mayBlock = net::RemainingMs(deadline) + kReadTimeoutSlackMs >= attemptMs;
  return ReadTcpReply(*pStream, callId, iMaxReplySize, deadline, mayBlock, reply, progress);
}

}  // namespace tmclient
