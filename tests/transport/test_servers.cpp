#include "test_servers.h"

#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "../support/loopback_port.h"

namespace transport_test {
namespace {

using Clock = std::chrono::steady_clock;

int ListenLoopback(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 64) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

uint16_t PortOf(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

// True when the nats-server named `name` answers on `port` (and not some
// other process that took the port first).
bool Answers(uint16_t port, const std::string& name) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  std::string info;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
    auto deadline = Clock::now() + std::chrono::seconds(2);
    char buf[1024];
    while (info.find('\n') == std::string::npos && info.size() < 16384 && Clock::now() < deadline) {
      pollfd pf{fd, POLLIN, 0};
      if (::poll(&pf, 1, 100) <= 0) continue;
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      info.append(buf, static_cast<std::size_t>(n));
    }
  }
  ::close(fd);
  return info.find("\"server_name\":\"" + name + "\"") != std::string::npos;
}

bool ReadExactly(int fd, char* p, std::size_t n, Clock::time_point deadline) {
  while (n > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd pf{fd, POLLIN, 0};
    if (::poll(&pf, 1, static_cast<int>(left.count())) <= 0) continue;
    ssize_t r = ::recv(fd, p, n, 0);
    if (r <= 0) return false;
    p += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

}  // namespace

uint16_t FreePort() {
  return static_cast<uint16_t>(::FreePort());
}

EnvGuard::EnvGuard(const char* name, const std::string& value) : sName(name) {
  const char* old = std::getenv(name);
  bHad = old != nullptr;
  if (bHad) sOld = old;
  ::setenv(name, value.c_str(), 1);
}

EnvGuard::~EnvGuard() {
  if (bHad) {
    ::setenv(sName.c_str(), sOld.c_str(), 1);
  } else {
    ::unsetenv(sName.c_str());
  }
}

bool NatsServer::Start(std::vector<std::string> extraArgs, uint16_t port) {
  // A free port may be taken by someone else before the server binds it: try
  // a few.
  for (int attempt = 0; attempt < (port ? 1 : 5); ++attempt) {
    if (StartOn(extraArgs, port ? port : FreePort())) return true;
  }
  return false;
}

bool NatsServer::StartOn(const std::vector<std::string>& extraArgs, uint16_t port) {
  static std::atomic<int> counter{0};
  Stop();
  iPort = port;
  std::string name = "mpay-test-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
  std::vector<std::string> args = {"nats-server",         "-a", "127.0.0.1", "-p",
                                   std::to_string(iPort), "-n", name};
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  pid_t pid = ::fork();
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execvp("nats-server", argv.data());
    ::_exit(127);
  }
  if (pid < 0) return false;
  iPid = pid;
  auto deadline = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < deadline) {
    if (Answers(iPort, name)) return true;
    int status = 0;
    if (::waitpid(iPid, &status, WNOHANG) == iPid) {
      iPid = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  Stop();
  return false;
}

void NatsServer::Stop() {
  if (iPid <= 0) return;
  ::kill(iPid, SIGKILL);
  ::waitpid(iPid, nullptr, 0);
  iPid = -1;
}

RawTcpServer::RawTcpServer(Serve serve) : fnServe(std::move(serve)) {
  iListenFd = ListenLoopback(0);
  iPort = PortOf(iListenFd);
  tAccept = std::thread([this] {
    while (!bStop) {
      pollfd pf{iListenFd, POLLIN, 0};
      if (::poll(&pf, 1, 50) <= 0) continue;
      int fd = ::accept4(iListenFd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      vConns.emplace_back([this, fd] {
        fnServe(fd);
        ::close(fd);
      });
    }
  });
}

RawTcpServer::~RawTcpServer() {
  bStop = true;
  tAccept.join();
  ::close(iListenFd);
  for (auto& t : vConns) t.join();
}

bool ReadFrame(int fd, std::string& body) {
  auto deadline = Clock::now() + std::chrono::seconds(10);
  char len[4];
  if (!ReadExactly(fd, len, 4, deadline)) return false;
  uint32_t n = uint32_t(uint8_t(len[0])) | uint32_t(uint8_t(len[1])) << 8 |
               uint32_t(uint8_t(len[2])) << 16 | uint32_t(uint8_t(len[3])) << 24;
  if (n > (64u << 20)) return false;
  body.resize(n);
  return ReadExactly(fd, body.data(), n, deadline);
}

void WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

int RawConnect(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  timeval tv{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  return fd;
}

bool ClosedByServer(int fd) {
  char buf[256];
  while (true) {
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n == 0) return true;
    if (n < 0) return errno == ECONNRESET;
  }
}

uint32_t CallIdOf(std::string_view body) {
  if (body.size() < 5) return 0;
  uint32_t v = 0;
  std::memcpy(&v, body.data() + 1, 4);
  return v;
}

bool WaitFor(const std::atomic<bool>& flag) {
  auto deadline = Clock::now() + std::chrono::seconds(10);
  while (!flag && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return flag;
}

void Put32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}

void Put64(std::string& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}

std::string ReplyFrame(uint32_t callId, uint32_t result, std::string_view data) {
  std::string frame;
  Put32(frame, static_cast<uint32_t>(9 + data.size()));
  frame.push_back('R');
  Put32(frame, callId);
  Put32(frame, result);
  frame += data;
  return frame;
}

std::string RequestFrame(uint32_t callId, std::string_view iface, std::string_view code,
                         std::string_view stream) {
  std::string body("Q");
  Put32(body, callId);
  body.push_back(static_cast<char>(iface.size()));
  body += iface;
  body.push_back(static_cast<char>(code.size()));
  body += code;
  body += stream;
  std::string frame;
  Put32(frame, static_cast<uint32_t>(body.size()));
  return frame + body;
}

}  // namespace transport_test
