#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "call_retry.h"
#include "client_stream.h"
#include "tmclient/broker_config.h"
#include "tmclient/transport.h"

namespace tmclient {

// tcp://HOST:PORT (and tls://HOST:PORT, whose connections its connector
// makes): one persistent connection to one server, carrying
// length-prefixed frames. The connection is reused across calls; a call that
// finds it closed by the peer (say, after a server restart) connects again
// before sending. Any failure during a call closes it, so that a late reply
// can never be taken for the answer to the next call. A failed call is tried
// again as `retry` allows (call_retry.h), each time on a new connection.
// Calls on one transport are serialised.
class TMCLIENT_INTERNAL TcpTransport final : public Transport {
 public:
  // Replies over `maxReplySize` bytes, or with a list of more than `maxRows`
  // elements, fail the call with kErrReplyTooLarge.
  TcpTransport(BrokerEndpoint endpoint, RetryPolicy retry, std::size_t maxReplySize,
               uint64_t maxRows, std::unique_ptr<net::Connector> connector);
  ~TcpTransport() override;

  // Connects now. 0, or kErrConnectFailed / kErrTimeout / kErrBadBrokerUrl /
  // a TLS code.
  int Open();

  int Call(const std::string& interfaceName, const std::string& serviceCode,
           std::string_view request, std::string& reply) override;
  int CallWatched(const std::string& interfaceName, const std::string& serviceCode,
                  std::string_view request, std::string& reply, ReplyProgress& progress) override;
  // Shuts the connection down, which wakes the call's read or write.
  void Abandon() override;

  // The factory behind "tcp://" URLs: parses, then Open().
  static int Factory(const std::string& url, std::unique_ptr<Transport>& out);

 private:
  // The calls, with or without a watcher.
  int Run(const std::string& interfaceName, const std::string& serviceCode,
          std::string_view request, std::string& reply, ReplyProgress* progress);
  // One attempt, which ends by `attempts.attemptDeadline()`.
  int Attempt(const std::string& interfaceName, const std::string& serviceCode,
              std::string_view request, std::string& reply, const CallAttempts& attempts,
              ReplyProgress* progress);

  const BrokerEndpoint cEndpoint;
  const RetryPolicy cRetry;
  const std::size_t iMaxReplySize;
  const uint64_t iMaxRows;
  const std::unique_ptr<net::Connector> pConnector;
  // Drops the connection.
  void Drop();
  // Takes a new connection; false (and `stream` closed) once abandoned.
  bool Adopt(std::unique_ptr<net::Stream> stream);

  std::mutex mLock;  // held by the call
  // Guards every change of pStream and bAbandoned, so that Abandon never
  // touches a descriptor number the call closed (and a new socket may have
  // taken).
  std::mutex mFdLock;
  std::atomic<bool> bAbandoned{false};
  std::unique_ptr<net::Stream> pStream;  // the connection; empty when closed
  int64_t iReadTimeoutMs = 0;            // of pStream's reads
  std::string strHead;                   // the request frame's header
  std::string strSession;                // the process's session, as last copied
  uint64_t iSessionVersion = 0;          // of strSession (CurrentSessionInto)
};

}  // namespace tmclient
