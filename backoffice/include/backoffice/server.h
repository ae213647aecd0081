#pragma once

#include <memory>
#include <string>

namespace backoffice {

class Service;

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
};

// What one tcp endpoint lets its clients hold.
struct TcpLimits {
  int maxConnections = 4096;  // at the cap the longest idle ones are closed first
  int idleTimeoutS = 120;     // a connection without a request for this long is closed
  int writeTimeoutS = 30;     // a client that takes no reply bytes for this long is dropped
};

// `url` is tcp://HOST:PORT (port 0: any free port); `workers` threads run
// the handler.
std::unique_ptr<Endpoint> MakeTcpEndpoint(const std::string& url, int workers, Service& service,
                                          const TcpLimits& limits = {});
// Serves both operations on the subjects of `broker`, in the queue group
// named after it, through the nats-servers of `url`.
std::unique_ptr<Endpoint> MakeNatsEndpoint(const std::string& url, const std::string& broker,
                                           int workers, Service& service);

}  // namespace backoffice
