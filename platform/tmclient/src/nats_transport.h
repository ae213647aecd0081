#pragma once

#include <nats/nats.h>

#include <memory>
#include <mutex>
#include <string>

#include "tmclient/broker_config.h"
#include "tmclient/transport.h"

namespace tmclient {

// nats://HOST:PORT[,HOST:PORT...]?broker=NAME: each request is published on
// "NAME.SERVICECODE" with a reply subject under this transport's own inbox;
// the reply comes back as one message or as several parts that are put
// together in order. Reconnecting is left to the NATS client; a call during
// which the connection dropped fails with kErrConnectionLost, because NATS
// does not keep what was sent to the inbox meanwhile. Calls on one transport
// are serialised.
class NatsTransport final : public Transport {
 public:
  NatsTransport(BrokerUrl url, std::size_t maxReplySize);
  ~NatsTransport() override;

  // Connects and subscribes to the inbox. 0, or kErrConnectFailed and the
  // like.
  int Open();

  int Call(const std::string& interfaceName, const std::string& serviceCode,
           std::string_view request, std::string& reply) override;

  // The factory behind "nats://" URLs: parses (broker= is required), then
  // Open().
  static int Factory(const std::string& url, std::unique_ptr<Transport>& out);

 private:
  struct Wait;
  // Changes whenever the connection drops: its reconnect count, plus one
  // while it is down.
  uint64_t ConnectionEpoch();
  int WaitConnected(const Wait& wait);
  int Receive(uint32_t callId, const std::string& replySubject, std::string& reply,
              const Wait& wait, uint64_t epoch);

  const BrokerUrl cUrl;
  const std::size_t iMaxReplySize;
  std::mutex mLock;
  natsConnection* pConn = nullptr;
  natsSubscription* pInbox = nullptr;
  std::string sInboxPrefix;  // "_INBOX.<unique>"
  natsStatistics* pStats = nullptr;
  uint32_t iNextCallId = 1;
};

}  // namespace tmclient
