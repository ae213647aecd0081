#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "tmclient/broker_config.h"
#include "tmclient/transport.h"

namespace tmclient {

// tcp://HOST:PORT: one persistent connection to one server, carrying
// length-prefixed frames. The connection is reused across calls; a call that
// finds it closed by the peer (say, after a server restart) connects again
// before sending. Any failure during a call closes it, so that a late reply
// can never be taken for the answer to the next call. Calls on one transport
// are serialised.
class TcpTransport final : public Transport {
 public:
  TcpTransport(BrokerEndpoint endpoint, int64_t deadlineMs, std::size_t maxReplySize);
  ~TcpTransport() override;

  // Connects now. 0, or kErrConnectFailed / kErrTimeout / kErrBadBrokerUrl.
  int Open();

  int Call(const std::string& interfaceName, const std::string& serviceCode,
           std::string_view request, std::string& reply) override;

  // The factory behind "tcp://" URLs: parses, then Open().
  static int Factory(const std::string& url, std::unique_ptr<Transport>& out);

 private:
  int CallLocked(const std::string& interfaceName, const std::string& serviceCode,
                 std::string_view request, std::string& reply);

  const BrokerEndpoint cEndpoint;
  const int64_t iDeadlineMs;
  const std::size_t iMaxReplySize;
  std::mutex mLock;
  int iFd = -1;
  uint32_t iNextCallId = 1;
  std::string strHead;  // the request frame's header
};

}  // namespace tmclient
