#pragma once

// Clients in a closed loop: each sends its next request once the reply to the
// last one is whole, for a fixed time. Over tcp, a few threads drive all the
// connections (epoll), as many operators' hosts would open them; over NATS, a
// few connections carry every client's requests, each client with a reply
// subject of its own. Both take request bodies (docs/wire-format.md) and
// keep each call's time.
#include <nats/nats.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace scale {

using Clock = std::chrono::steady_clock;

// What one phase of calls gave.
// The first kRampShare of a phase is not counted: every client sends its
// first request at once, and the figures are those of the loop once it runs.
constexpr double kRampShare = 0.2;

struct PhaseResult {
  std::vector<double> latencyUs;  // every call that ended in the counted part of the phase
  long completed = 0;             // every call that ended, ramp and drain included
  int failures = 0;               // replies that were errors or missing
  double seconds = 0;             // the counted part of the phase
  double CallsPerSecond() const {
    return seconds > 0 ? static_cast<double>(latencyUs.size()) / seconds : 0;
  }
};

// The request bodies the clients take in turn, each client starting at its
// own place.
struct Requests {
  std::vector<std::string> vBodies;
  const std::string& For(std::size_t client, std::size_t call) const {
    return vBodies[(client * 7919 + call) % vBodies.size()];
  }
};

// `clients` tcp connections to 127.0.0.1:`port`, driven by `threads` threads.
class TcpClients {
 public:
  TcpClients(int port, int clients, int threads, const Requests& requests);
  ~TcpClients();
  TcpClients(const TcpClients&) = delete;
  TcpClients& operator=(const TcpClients&) = delete;

  // False when a connection could not be opened.
  bool Connected() const { return bConnected; }
  // Every client in its loop for `seconds`; the calls of the ramp, and the
  // ones under way at the end (waited for), are not counted.
  PhaseResult Run(double seconds);

 private:
  struct Connection;
  void Drive(std::size_t thread, Clock::time_point from, Clock::time_point end, PhaseResult& out);

  const Requests& cRequests;
  int iThreads;
  std::vector<std::unique_ptr<Connection>> vConnections;
  bool bConnected = true;
};

// `clients` NATS clients of the broker `broker` at `url`, over `connections`
// connections.
class NatsClients {
 public:
  NatsClients(const std::string& url, const std::string& broker, const std::string& serviceCode,
              int clients, int connections, const Requests& requests);
  ~NatsClients();
  NatsClients(const NatsClients&) = delete;
  NatsClients& operator=(const NatsClients&) = delete;

  bool Connected() const { return bConnected; }
  PhaseResult Run(double seconds);

 private:
  struct Link;
  static void OnReply(natsConnection* nc, natsSubscription* sub, natsMsg* msg, void* closure);
  void Send(Link& link, std::size_t client);

  const Requests& cRequests;
  std::string sSubject;
  int iClients;
  std::vector<std::unique_ptr<Link>> vLinks;
  std::vector<Clock::time_point> vSent;
  std::vector<std::size_t> vCalls;
  std::atomic<int> iOutstanding{0};
  std::atomic<bool> bStopping{false};
  bool bConnected = true;
};

}  // namespace scale
