#include "nats_transport.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <thread>
#include <type_traits>

#include "envelope.h"
#include "list_limit.h"
#include "nats_common.h"
#include "nats_plugin.h"
#include "reply_parts.h"
#include "socket_io.h"
#include "tmclient/session.h"
#include "tmclient/tmb_stream.h"
#include "tmclient/tmd_error.h"

namespace tmclient {
namespace {

using net::Clock;

// How long one wait for the next reply message lasts before the connection's
// state is looked at again.
constexpr int kWaitSliceMs = 50;

struct MsgGuard {
  natsMsg* msg = nullptr;
  ~MsgGuard() { natsMsg_Destroy(msg); }
};

}  // namespace

NatsTransport::NatsTransport(BrokerUrl url, std::size_t maxReplySize)
    : cUrl(std::move(url)), cRetry(RetryPolicy::Of(cUrl)), iMaxReplySize(maxReplySize) {}

NatsTransport::~NatsTransport() {
  natsSubscription_Destroy(pInbox);
  if (pConn) natsConnection_Close(pConn);
  natsConnection_Destroy(pConn);
  natsStatistics_Destroy(pStats);
}

int NatsTransport::Factory(const std::string& url, std::unique_ptr<Transport>& out) {
  BrokerUrl parsed;
  if (!ParseBrokerUrl(url, parsed) || parsed.scheme != "nats" || parsed.broker.empty())
    return kErrBadBrokerUrl;
  const std::size_t maxReplySize = parsed.maxReplyBytes();
  auto t = std::make_unique<NatsTransport>(std::move(parsed), maxReplySize);
  if (int rc = t->Open(); rc != 0) return rc;
  out = std::move(t);
  return 0;
}

// What the client library calls through dlsym (plugin_loader.cpp).
extern "C" TMCLIENT_API int tmclient_open_nats_transport(const std::string& url,
                                                         std::unique_ptr<Transport>& out) {
  static_assert(std::is_same_v<decltype(tmclient_open_nats_transport), NatsTransportEntry>);
  return NatsTransport::Factory(url, out);
}

uint64_t NatsTransport::ConnectionEpoch() {
  uint64_t reconnects = 0;
  if (natsConnection_GetStats(pConn, pStats) == NATS_OK)
    natsStatistics_GetCounts(pStats, nullptr, nullptr, nullptr, nullptr, &reconnects);
  return 2 * reconnects + (natsConnection_Status(pConn) == NATS_CONN_STATUS_CONNECTED ? 0 : 1);
}

int NatsTransport::Open() {
  std::lock_guard lock(mLock);
  std::string why;
  if (!natsx::LoadSecurity(cUrl, cSecurity, why)) {
    // Names the file and what is wrong with it, never its contents.
    std::fprintf(stderr, "tmclient: nats:// %s\n", why.c_str());
    return kErrBadBrokerUrl;
  }
  natsStatus s = natsStatistics_Create(&pStats);
  if (s == NATS_OK)
    s = natsx::Connect(cUrl.endpoints, cUrl.deadlineMs, "tmclient", cSecurity, &pConn);
  if (s != NATS_OK) return natsx::StatusToCode(s);
  natsInbox* inbox = nullptr;
  s = natsInbox_Create(&inbox);
  if (s != NATS_OK) return natsx::StatusToCode(s);
  // A unique name under the user's own inbox root ("_INBOX.<nuid>" made).
  const std::string unique = inbox;
  natsInbox_Destroy(inbox);
  sInboxPrefix = natsx::InboxRoot(cSecurity) + unique.substr(unique.find('.'));
  s = natsConnection_SubscribeSync(&pInbox, pConn, (sInboxPrefix + ".*").c_str());
  // What may wait in the inbox: the parts of one reply of the largest size
  // taken, each at most the server's largest message, and one more.
  const int64_t largestPart = std::max<int64_t>(natsConnection_GetMaxPayload(pConn), 1);
  const int64_t pendingBytes =
      std::min<int64_t>(INT_MAX, static_cast<int64_t>(iMaxReplySize) + 2 * largestPart);
  const int64_t pendingParts = std::min<int64_t>(INT_MAX, int64_t{kMaxReplyParts} + 1);
  if (s == NATS_OK)
    s = natsSubscription_SetPendingLimits(pInbox, static_cast<int>(pendingParts),
                                          static_cast<int>(pendingBytes));
  // The subscription must be known to the server before a reply can come.
  if (s == NATS_OK)
    s = natsConnection_FlushTimeout(pConn, std::min<int64_t>(cUrl.deadlineMs, 10000));
  return natsx::StatusToCode(s);
}

int NatsTransport::WaitConnected(Clock::time_point deadline) {
  while (true) {
    natsConnStatus st = natsConnection_Status(pConn);
    if (st == NATS_CONN_STATUS_CONNECTED) return 0;
    if (st == NATS_CONN_STATUS_CLOSED) return kErrConnectFailed;
    if (Clock::now() >= deadline || bAbandoned) return kErrConnectFailed;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

int NatsTransport::Call(const std::string& interfaceName, const std::string& serviceCode,
                        std::string_view request, std::string& reply) {
  CallAttempts attempts(cRetry, serviceCode);
  std::lock_guard lock(mLock);
  int rc;
  do {
    rc = Attempt(interfaceName, serviceCode, request, reply, attempts.attemptDeadline());
    if (IsLibraryError(rc)) reply.clear();
  } while (!bAbandoned && attempts.Again(rc));
  return WithinRowLimit(rc, reply, static_cast<uint64_t>(cUrl.maxRows));
}

int NatsTransport::Attempt(const std::string& interfaceName, const std::string& serviceCode,
                           std::string_view request, std::string& reply,
                           Clock::time_point deadline) {
  // While the client is reconnecting, a request would only sit in its buffer:
  // wait for the connection instead, and say so if it does not come back.
  if (int rc = WaitConnected(deadline); rc != 0) return rc;
  uint64_t epoch = ConnectionEpoch();

  uint32_t callId = iNextCallId++;
  if (iNextCallId == 0) iNextCallId = 1;  // 0 means "no call in particular"
  const std::string session = CurrentSession();
  std::string payload;
  payload.reserve(16 + interfaceName.size() + serviceCode.size() + session.size() + request.size());
  if (int rc = envelope::EncodeRequestHeader(callId, interfaceName, serviceCode, session, payload);
      rc != 0)
    return rc;
  if (payload.size() + request.size() > static_cast<uint64_t>(natsConnection_GetMaxPayload(pConn)))
    return kErrRequestTooLarge;
  payload.append(request);
  std::string replySubject = sInboxPrefix + "." + std::to_string(callId);
  natsStatus s = natsConnection_PublishRequest(
      pConn, natsx::RequestSubject(cUrl.broker, serviceCode).c_str(), replySubject.c_str(),
      payload.data(), static_cast<int>(payload.size()));
  if (s != NATS_OK) return natsx::StatusToCode(s);
  return Receive(callId, replySubject, reply, deadline, epoch);
}

int NatsTransport::Receive(uint32_t callId, const std::string& replySubject, std::string& reply,
                           Clock::time_point deadline, uint64_t epoch) {
  ReplyParts parts(callId, iMaxReplySize, reply);
  while (true) {
    if (bAbandoned) return kErrCallAbandoned;
    int left = net::RemainingMs(deadline);
    if (left == 0) return kErrTimeout;
    MsgGuard m;
    natsStatus s = natsSubscription_NextMsg(&m.msg, pInbox, std::min(left, kWaitSliceMs));
    if (s == NATS_TIMEOUT) {
      if (ConnectionEpoch() != epoch) return kErrConnectionLost;
      continue;
    }
    if (s == NATS_SLOW_CONSUMER) return kErrConnectionLost;  // parts were dropped
    if (s != NATS_OK) {
      // The request went out: whatever broke, it may have reached a server.
      const int code = natsx::StatusToCode(s);
      return code == kErrConnectFailed ? kErrConnectionLost : code;
    }
    if (replySubject != natsMsg_GetSubject(m.msg)) continue;  // late answer to an earlier call
    if (natsMsg_IsNoResponders(m.msg)) return kErrNoResponders;

    std::string_view body(natsMsg_GetData(m.msg),
                          static_cast<std::size_t>(natsMsg_GetDataLength(m.msg)));
    if (int result; parts.Take(body, result)) return result;
  }
}

}  // namespace tmclient
