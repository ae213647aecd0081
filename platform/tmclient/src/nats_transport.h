#pragma once

#include <nats/nats.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "call_retry.h"
#include "nats_common.h"
#include "tmclient/broker_config.h"
#include "tmclient/transport.h"

namespace tmclient {

// nats://HOST:PORT[,HOST:PORT...]?broker=NAME: each request is published on
// "NAME.SERVICECODE" with a reply subject under this transport's own inbox;
// the reply comes back as one message or as several parts that are put
// together in order. Reconnecting is left to the NATS client; a call during
// which the connection dropped fails with kErrConnectionLost, because NATS
// does not keep what was sent to the inbox meanwhile. A failed call is tried
// again as the URL's options allow (call_retry.h), each attempt under a call
// id and reply subject of its own, so that a late reply to an earlier attempt
// is never taken. Calls on one transport are serialised.
class NatsTransport final : public Transport {
 public:
  NatsTransport(BrokerUrl url, std::size_t maxReplySize);
  ~NatsTransport() override;

  // Connects and subscribes to the inbox. 0, or kErrConnectFailed and the
  // like.
  int Open();

  int Call(const std::string& interfaceName, const std::string& serviceCode,
           std::string_view request, std::string& reply) override;
  // The call stops waiting within one wait slice (50 ms) and tries nothing
  // again; a late reply goes to an inbox nobody reads.
  void Abandon() override { bAbandoned = true; }

  // The factory behind "nats://" URLs: parses (broker= is required), then
  // Open().
  static int Factory(const std::string& url, std::unique_ptr<Transport>& out);

 private:
  using Clock = CallAttempts::Clock;
  // Changes whenever the connection drops: its reconnect count, plus one
  // while it is down.
  uint64_t ConnectionEpoch();
  int WaitConnected(Clock::time_point deadline);
  // One attempt, which ends by `deadline`.
  int Attempt(const std::string& interfaceName, const std::string& serviceCode,
              std::string_view request, std::string& reply, Clock::time_point deadline);
  int Receive(uint32_t callId, const std::string& replySubject, std::string& reply,
              Clock::time_point deadline, uint64_t epoch);

  const BrokerUrl cUrl;
  natsx::Security cSecurity;  // read from the URL's files by Open()
  const RetryPolicy cRetry;
  const std::size_t iMaxReplySize;
  std::mutex mLock;
  std::atomic<bool> bAbandoned{false};
  natsConnection* pConn = nullptr;
  natsSubscription* pInbox = nullptr;
  std::string sInboxPrefix;  // "_INBOX.<unique>"
  natsStatistics* pStats = nullptr;
  uint32_t iNextCallId = 1;
};

}  // namespace tmclient
