#pragma once

// Real and misbehaving far ends for the transport tests: a nats-server child
// process on a free loopback port, and a raw tcp server whose behaviour each
// test scripts.

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace transport_test {

// A loopback port that nobody was bound to a moment ago, below the range the
// kernel hands out (see loopback_port.h).
uint16_t FreePort();

// Sets an environment variable for the lifetime of the guard.
class EnvGuard {
 public:
  EnvGuard(const char* name, const std::string& value);
  ~EnvGuard();

 private:
  std::string sName;
  std::string sOld;
  bool bHad;
};

// nats-server on 127.0.0.1, killed by the destructor (and by the kernel if
// the test process dies first).
class NatsServer {
 public:
  NatsServer() = default;
  ~NatsServer() { Stop(); }
  // Starts it on `port` (0: a free one) with `extraArgs` and waits until it
  // accepts connections (at most 10 s). False when it does not come up.
  bool Start(std::vector<std::string> extraArgs = {}, uint16_t port = 0);
  void Stop();
  uint16_t port() const { return iPort; }
  std::string Url() const { return "nats://127.0.0.1:" + std::to_string(iPort); }

 private:
  bool StartOn(const std::vector<std::string>& extraArgs, uint16_t port);

  pid_t iPid = -1;
  uint16_t iPort = 0;
};

// A tcp listener on 127.0.0.1 whose connections are handed, one thread each,
// to `serve(fd)`. The fd is closed when serve returns.
class RawTcpServer {
 public:
  using Serve = std::function<void(int fd)>;
  explicit RawTcpServer(Serve serve);
  ~RawTcpServer();
  uint16_t port() const { return iPort; }
  std::string Url() const { return "tcp://127.0.0.1:" + std::to_string(iPort); }

 private:
  Serve fnServe;
  int iListenFd = -1;
  uint16_t iPort = 0;
  std::atomic<bool> bStop{false};
  std::thread tAccept;
  std::vector<std::thread> vConns;
};

// Helpers for scripted tcp peers: read one length-prefixed request frame
// (false on EOF or after 10 s), write raw bytes.
bool ReadFrame(int fd, std::string& body);
void WriteAll(int fd, std::string_view bytes);
// A raw connection to a server on 127.0.0.1 (reads time out after 10 s), for
// clients that misbehave; -1 when it cannot connect.
int RawConnect(uint16_t port);
// True when the server closed `fd` (EOF or reset, after any bytes it sent
// first) within the read timeout.
bool ClosedByServer(int fd);
// The call id of a request body (its bytes 1..4).
uint32_t CallIdOf(std::string_view body);
// Waits until `flag` is set (at most 10 s); false if it never was.
bool WaitFor(const std::atomic<bool>& flag);
// A little-endian u32 / i32 / u64 appended to `out`.
void Put32(std::string& out, uint32_t v);
void Put64(std::string& out, uint64_t v);
// A whole reply frame ('R') to `callId` with `result` and `data`, as a
// server would send it by hand.
std::string ReplyFrame(uint32_t callId, uint32_t result, std::string_view data);
// A whole request frame, as a client would send it by hand.
std::string RequestFrame(uint32_t callId, std::string_view iface, std::string_view code,
                         std::string_view stream = {});

}  // namespace transport_test
