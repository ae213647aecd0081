#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "call_retry.h"
#include "tmclient/broker_config.h"
#include "tmclient/transport.h"

namespace tmclient {

// tcp://HOST:PORT: one persistent connection to one server, carrying
// length-prefixed frames. The connection is reused across calls; a call that
// finds it closed by the peer (say, after a server restart) connects again
// before sending. Any failure during a call closes it, so that a late reply
// can never be taken for the answer to the next call. A failed call is tried
// again as `retry` allows (call_retry.h), each time on a new connection.
// Calls on one transport are serialised.
class TcpTransport final : public Transport {
 public:
  TcpTransport(BrokerEndpoint endpoint, RetryPolicy retry, std::size_t maxReplySize);
  ~TcpTransport() override;

  // Connects now. 0, or kErrConnectFailed / kErrTimeout / kErrBadBrokerUrl.
  int Open();

  int Call(const std::string& interfaceName, const std::string& serviceCode,
           std::string_view request, std::string& reply) override;
  // Shuts the connection down, which wakes the call's read or write.
  void Abandon() override;

  // The factory behind "tcp://" URLs: parses, then Open().
  static int Factory(const std::string& url, std::unique_ptr<Transport>& out);

 private:
  // One attempt, which ends by `attempts.attemptDeadline()`.
  int Attempt(const std::string& interfaceName, const std::string& serviceCode,
              std::string_view request, std::string& reply, const CallAttempts& attempts);

  const BrokerEndpoint cEndpoint;
  const RetryPolicy cRetry;
  const std::size_t iMaxReplySize;
  // Drops the connection.
  void Drop();
  // Takes a new connection; false (and `fd` closed) once abandoned.
  bool Adopt(int fd);

  std::mutex mLock;  // held by the call
  // Guards every change of iFd and bAbandoned, so that Abandon never touches
  // a descriptor number the call closed (and a new socket may have taken).
  std::mutex mFdLock;
  std::atomic<bool> bAbandoned{false};
  int iFd = -1;
  int64_t iReadTimeoutMs = 0;  // of iFd's reads
  std::string strHead;         // the request frame's header
};

}  // namespace tmclient
