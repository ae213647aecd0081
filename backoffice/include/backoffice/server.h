#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tmclient {
class ChannelLayer;
}

namespace backoffice {

class Service;

// What an endpoint holds and has done, for the metrics. Fields that do not
// apply to its kind stay 0.
struct EndpointStats {
  std::string kind;              // "tcp" or "nats"
  bool serving = false;          // started, not stopping, and (NATS) connected
  int64_t queued = 0;            // requests received that no worker has taken yet
  int64_t active = 0;            // tcp: connections with a request or reply under way
  int64_t idle = 0;              // tcp: connections waiting for their next request
  int64_t standIns = 0;          // tcp: threads standing in for handlers waiting for clients
  uint64_t evicted = 0;          // tcp: idle connections closed to make room
  uint64_t resetNotReading = 0;  // tcp: clients dropped for taking none of their replies
  uint64_t shed = 0;             // tcp: connections closed because all held too many bytes
  int64_t buffered = 0;          // tcp: bytes all its connections hold, in and out
  uint64_t reconnects = 0;       // nats: reconnections to the servers
};

// One way requests reach the service: a tcp:// listener or a NATS queue
// group. The service must outlive the endpoint.
class Endpoint {
 public:
  virtual ~Endpoint() = default;
  // False, with the reason in `error`, when it cannot start.
  virtual bool Start(std::string& error) = 0;
  // Lets running requests finish and send their replies, then stops. Idempotent.
  virtual void Stop() = 0;
  // What it serves, e.g. "tcp://127.0.0.1:47100" with the port actually bound.
  virtual std::string Describe() const = 0;
  // Its limits, for the start-up line (", max 4096 connections, ..."); may be "".
  virtual std::string Limits() const { return ""; }
  // Safe from any thread at any time, Stop() included.
  virtual EndpointStats Stats() const = 0;
};

// What one tcp endpoint lets its clients hold.
struct TcpLimits {
  int maxConnections = 4096;  // at the cap the longest idle ones are closed first
  int idleTimeoutS = 120;     // a connection without a request for this long is closed
  int writeTimeoutS = 30;     // a client that takes no reply bytes for this long is dropped
  // Bytes all its connections may hold, in and out; past it the connections
  // quiet the longest are closed first.
  std::size_t maxBufferedBytes = 256u << 20;
};

// `url` is tcp://HOST:PORT or tls://HOST:PORT (port 0: any free port);
// `workers` threads run the handler. A tls:// endpoint needs `tls`
// (tmclient::MakeTlsServerLayer).
std::unique_ptr<Endpoint> MakeTcpEndpoint(const std::string& url, int workers, Service& service,
                                          const TcpLimits& limits = {},
                                          std::shared_ptr<const tmclient::ChannelLayer> tls = {});
// Serves both operations on the subjects of `broker`, in the queue group
// named after it, through the nats-servers of `url`.
std::unique_ptr<Endpoint> MakeNatsEndpoint(const std::string& url, const std::string& broker,
                                           int workers, Service& service);

}  // namespace backoffice
