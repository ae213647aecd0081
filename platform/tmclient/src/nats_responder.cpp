#include "tmclient/nats_responder.h"

#include <nats/nats.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "envelope.h"
#include "nats_common.h"
#include "serve_request.h"
#include "tmclient/broker_config.h"
#include "tmclient/tmd_error.h"

// Each worker is a subscription of its own in the queue group, and the NATS
// client runs each subscription's callback on a thread of its own: a request
// is answered on the thread it arrived on, with no hand-over between threads.
// The server spreads requests over every subscription of the group, across
// instances alike.

namespace tmclient {
namespace {

// Requests that may wait for one worker: a burst from every operator at
// once, and in bytes at most kPendingLargest of the largest request (the
// NATS library's own default would let each worker hold 64 MiB from anyone
// who can publish on the subjects).
constexpr int kPendingRequests = 65536;
constexpr int64_t kPendingLargest = 256;

}  // namespace

class NatsResponder::Impl {
 public:
  Impl(StreamingServiceHandler handler, NatsResponderOptions options)
      : fnHandler(std::move(handler)), cOptions(std::move(options)) {}
  ~Impl() { Stop(); }

  bool Start(std::string* error);
  void Stop();
  NatsResponderStats stats() const;

 private:
  static void OnMessage(natsConnection* nc, natsSubscription* sub, natsMsg* msg, void* closure);
  int PendingBytes() const {
    const auto largest =
        static_cast<int64_t>(cOptions.maxRequestSize + envelope::kMaxRequestHeaderSize);
    return static_cast<int>(std::min<int64_t>(INT_MAX, kPendingLargest * largest));
  }
  void Handle(natsMsg* msg);
  void SendReply(const char* subject, uint32_t callId, int result, const std::string& reply);
  void SendError(const char* subject, uint32_t callId, int code);

  StreamingServiceHandler fnHandler;
  const NatsResponderOptions cOptions;
  natsx::Security cSecurity;  // read from the URL's files by Start()
  natsConnection* pConn = nullptr;
  std::vector<natsSubscription*> vSubs;
  std::string strPeer;  // "nats:URL" of the server connected to, without options
};

NatsResponder::NatsResponder(ServiceHandler handler, NatsResponderOptions options)
    : NatsResponder(StreamingOf(std::move(handler)), std::move(options)) {}
NatsResponder::NatsResponder(StreamingServiceHandler handler, NatsResponderOptions options)
    : pImpl(std::make_unique<Impl>(std::move(handler), std::move(options))) {}
NatsResponder::~NatsResponder() = default;
bool NatsResponder::Start(std::string* error) {
  return pImpl->Start(error);
}
void NatsResponder::Stop() {
  pImpl->Stop();
}
NatsResponderStats NatsResponder::stats() const {
  return pImpl->stats();
}

NatsResponderStats NatsResponder::Impl::stats() const {
  NatsResponderStats out;
  if (!pConn) return out;
  out.connected = natsConnection_Status(pConn) == NATS_CONN_STATUS_CONNECTED;
  natsStatistics* counts = nullptr;
  if (natsStatistics_Create(&counts) == NATS_OK &&
      natsConnection_GetStats(pConn, counts) == NATS_OK) {
    natsStatistics_GetCounts(counts, nullptr, nullptr, nullptr, nullptr, &out.reconnects);
  }
  natsStatistics_Destroy(counts);
  for (natsSubscription* sub : vSubs) {
    int msgs = 0;
    if (natsSubscription_GetPending(sub, &msgs, nullptr) == NATS_OK) out.queued += msgs;
  }
  return out;
}

bool NatsResponder::Impl::Start(std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    Stop();
    return false;
  };
  if (pConn) return fail("already started");
  BrokerUrl url;
  std::string why;
  if (!ParseBrokerUrl(cOptions.url, url, &why) || url.scheme != "nats")
    return fail(cOptions.url + ": " + (why.empty() ? "not a nats:// URL" : why));
  if (!IsValidBrokerToken(cOptions.broker)) return fail("bad broker name: " + cOptions.broker);
  if (!natsx::LoadSecurity(url, cSecurity, why)) return fail(why);
  natsStatus s = natsx::Connect(url.endpoints, 5000, cOptions.broker.c_str(), cSecurity, &pConn);
  if (s != NATS_OK) return fail(cOptions.url + ": " + natsStatus_GetText(s));
  std::string subject = cOptions.broker + ".*";
  for (int i = 0; i < std::max(1, cOptions.workers) && s == NATS_OK; ++i) {
    natsSubscription* sub = nullptr;
    s = natsConnection_QueueSubscribe(&sub, pConn, subject.c_str(), cOptions.broker.c_str(),
                                      &OnMessage, this);
    if (s == NATS_OK) vSubs.push_back(sub);
    if (s == NATS_OK) s = natsSubscription_SetPendingLimits(sub, kPendingRequests, PendingBytes());
  }
  if (s == NATS_OK) s = natsConnection_FlushTimeout(pConn, 5000);
  if (s != NATS_OK) return fail(subject + ": " + natsStatus_GetText(s));
  char connected[256] = "";
  natsConnection_GetConnectedUrl(pConn, connected, sizeof connected);
  std::string_view where = connected;
  if (const auto at = where.find('@'); at != std::string_view::npos) where.remove_prefix(at + 1);
  if (const auto scheme = where.find("://"); scheme != std::string_view::npos)
    where.remove_prefix(scheme + 3);
  strPeer = "nats:" + std::string(where.substr(0, where.find('?')));
  return true;
}

void NatsResponder::Impl::Stop() {
  // Requests already delivered to us are still answered.
  for (natsSubscription* sub : vSubs) natsSubscription_Drain(sub);
  for (natsSubscription* sub : vSubs) natsSubscription_WaitForDrainCompletion(sub, 10000);
  if (pConn) natsConnection_FlushTimeout(pConn, 5000);
  for (natsSubscription* sub : vSubs) natsSubscription_Destroy(sub);
  vSubs.clear();
  if (pConn) natsConnection_Close(pConn);
  natsConnection_Destroy(pConn);
  pConn = nullptr;
}

void NatsResponder::Impl::OnMessage(natsConnection*, natsSubscription*, natsMsg* msg,
                                    void* closure) {
  static_cast<Impl*>(closure)->Handle(msg);
  natsMsg_Destroy(msg);
}

void NatsResponder::Impl::Handle(natsMsg* msg) {
  const char* replyTo = natsMsg_GetReply(msg);
  if (!replyTo || !*replyTo) return;  // nobody to answer
  std::string_view body(natsMsg_GetData(msg), static_cast<std::size_t>(natsMsg_GetDataLength(msg)));
  envelope::Request request;
  if (!envelope::DecodeRequest(body, request)) {
    SendError(replyTo, 0, kErrServiceFailed);
    return;
  }
  if (request.stream.size() > cOptions.maxRequestSize) {
    SendError(replyTo, request.callId, kErrRequestTooLarge);
    return;
  }
  // The nats-server alone knows the caller's own address.
  request.peer = strPeer;
  std::string reply;
  int result = ServeWholeReply(fnHandler, request, reply);
  if (IsLibraryError(result)) {
    SendError(replyTo, request.callId, result);
    return;
  }
  SendReply(replyTo, request.callId, result, reply);
}

void NatsResponder::Impl::SendError(const char* subject, uint32_t callId, int code) {
  std::string out;
  envelope::EncodeError(callId, code, out);
  natsConnection_Publish(pConn, subject, out.data(), static_cast<int>(out.size()));
}

void NatsResponder::Impl::SendReply(const char* subject, uint32_t callId, int result,
                                    const std::string& reply) {
  auto limit = static_cast<std::size_t>(
      std::min<int64_t>(natsConnection_GetMaxPayload(pConn), cOptions.maxMessageSize));
  std::string out;
  natsStatus s = NATS_OK;
  if (reply.size() + envelope::kReplyHeaderSize <= limit) {
    out.reserve(envelope::kReplyHeaderSize + reply.size());
    envelope::EncodeReplyHeader(callId, result, out);
    out.append(reply);
    s = natsConnection_Publish(pConn, subject, out.data(), static_cast<int>(out.size()));
  } else if (limit <= envelope::kPartHeaderSize) {
    s = NATS_MAX_PAYLOAD;
  } else {
    std::size_t chunk = limit - envelope::kPartHeaderSize;
    envelope::PartHeader part;
    part.callId = callId;
    part.result = result;
    part.count = static_cast<uint32_t>((reply.size() + chunk - 1) / chunk);
    part.total = reply.size();
    for (std::size_t pos = 0; pos < reply.size() && s == NATS_OK; pos += chunk, ++part.index) {
      std::size_t n = std::min(chunk, reply.size() - pos);
      out.clear();
      envelope::EncodePartHeader(part, out);
      out.append(reply, pos, n);
      s = natsConnection_Publish(pConn, subject, out.data(), static_cast<int>(out.size()));
    }
  }
  if (s != NATS_OK) SendError(subject, callId, kErrServiceFailed);
}

}  // namespace tmclient
