#pragma once

// The back office's HTTP endpoint for its operators, on threads of its own:
//   GET /metrics  the Prometheus text format (what `render` returns)
//   GET /healthz  200 while the process runs
//   GET /readyz   200 when `ready` says so, else 503
// Any other path is 404, any other method 405. It serves at most kThreads
// requests at once and keeps kQueue accepted connections waiting; a client
// that takes longer than kTimeoutMs over its request is dropped. So however
// a client behaves, it holds only this server's threads and never the query
// endpoints'.

#include <functional>
#include <memory>
#include <string>

namespace backoffice {

class MetricsServer {
 public:
  static constexpr int kThreads = 2;
  static constexpr int kQueue = 16;
  static constexpr int kTimeoutMs = 5000;

  // Both are called on the server's threads, perhaps at once.
  MetricsServer(std::function<std::string()> render, std::function<bool()> ready);
  // Stop()s.
  ~MetricsServer();
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  // Listens on `url` (tcp://HOST:PORT, port 0: any free one). False, with the
  // reason in `error`, when it cannot.
  bool Start(const std::string& url, std::string& error);
  // "tcp://HOST:PORT" with the port actually bound.
  std::string Describe() const;
  // Idempotent.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> pImpl;
};

}  // namespace backoffice
