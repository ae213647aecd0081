#include "tmclient/tcp_server.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "envelope.h"
#include "serve_request.h"
#include "socket_io.h"
#include "tmclient/tmd_error.h"
#include "worker_pool.h"

namespace tmclient {
namespace {

using net::Clock;

struct Connection {
  int fd = -1;
  std::string frame;       // length prefix and body of the frame being read
  std::size_t length = 0;  // body length, once the prefix is in
  bool busy = false;       // a worker owns the request and writes the reply
  Clock::time_point lastActivity;
  Clock::time_point frameStart;
};

struct Completion {
  uint64_t id;
  bool keep;  // false: close the connection
};

// Best effort, for a client about to be disconnected: no waiting.
void SendErrorNow(int fd, uint32_t callId, int code) {
  std::string out;
  envelope::PutU32(out, envelope::kErrorSize);
  envelope::EncodeError(callId, code, out);
  [[maybe_unused]] ssize_t n = ::send(fd, out.data(), out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

}  // namespace

class TcpServer::Impl {
 public:
  Impl(ServiceHandler handler, TcpServerOptions options)
      : fnHandler(std::move(handler)), cOptions(std::move(options)) {}
  ~Impl() { Stop(); }

  bool Start(std::string* error);
  void Stop();
  uint16_t port() const { return iPort; }

 private:
  void Loop();
  void Accept();
  void ReadFrom(uint64_t id, Connection& c);
  void Dispatch(uint64_t id, std::shared_ptr<Connection> c);
  void Serve(uint64_t id, const std::shared_ptr<Connection>& c);
  void Complete(uint64_t id, bool keep);
  void Wake();
  void Close(uint64_t id);

  ServiceHandler fnHandler;
  const TcpServerOptions cOptions;
  int iListenFd = -1;
  int iWakeFd = -1;
  uint16_t iPort = 0;
  std::atomic<bool> bStopping{false};
  std::thread tLoop;
  std::unique_ptr<WorkerPool> pPool;
  std::map<uint64_t, std::shared_ptr<Connection>> mConnections;  // loop thread only
  uint64_t iNextId = 1;
  std::mutex mDoneLock;
  std::vector<Completion> vDone;
  bool bStarted = false;
};

TcpServer::TcpServer(ServiceHandler handler, TcpServerOptions options)
    : pImpl(std::make_unique<Impl>(std::move(handler), std::move(options))) {}
TcpServer::~TcpServer() = default;
bool TcpServer::Start(std::string* error) {
  return pImpl->Start(error);
}
uint16_t TcpServer::port() const {
  return pImpl->port();
}
void TcpServer::Stop() {
  pImpl->Stop();
}

bool TcpServer::Impl::Start(std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    net::CloseFd(iListenFd);
    net::CloseFd(iWakeFd);
    return false;
  };
  if (bStarted) return fail("already started");
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* list = nullptr;
  std::string service = std::to_string(cOptions.port);
  if (int rc = ::getaddrinfo(cOptions.host.c_str(), service.c_str(), &hints, &list); rc != 0)
    return fail(cOptions.host + ": " + gai_strerror(rc));
  std::string why = "no address";
  for (addrinfo* a = list; a && iListenFd < 0; a = a->ai_next) {
    int s = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (s < 0) continue;
    int one = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(s, a->ai_addr, a->ai_addrlen) == 0 && ::listen(s, 128) == 0) {
      iListenFd = s;
    } else {
      why = std::strerror(errno);
      ::close(s);
    }
  }
  ::freeaddrinfo(list);
  if (iListenFd < 0) return fail(cOptions.host + ":" + std::to_string(cOptions.port) + ": " + why);
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  ::getsockname(iListenFd, reinterpret_cast<sockaddr*>(&addr), &len);
  iPort = addr.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port)
                                     : ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
  iWakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (iWakeFd < 0) return fail(std::strerror(errno));
  bStarted = true;
  pPool = std::make_unique<WorkerPool>(cOptions.workers);
  tLoop = std::thread([this] { Loop(); });
  return true;
}

void TcpServer::Impl::Stop() {
  if (!bStarted) return;
  bStarted = false;
  bStopping = true;
  Wake();
  if (tLoop.joinable()) tLoop.join();
  pPool->Shutdown();  // running requests finish and send their replies
  for (auto& [id, c] : mConnections) net::CloseFd(c->fd);
  mConnections.clear();
  net::CloseFd(iListenFd);
  net::CloseFd(iWakeFd);
}

void TcpServer::Impl::Wake() {
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(iWakeFd, &one, sizeof one);
}

void TcpServer::Impl::Complete(uint64_t id, bool keep) {
  {
    std::lock_guard lock(mDoneLock);
    vDone.push_back({id, keep});
  }
  Wake();
}

void TcpServer::Impl::Close(uint64_t id) {
  auto it = mConnections.find(id);
  if (it == mConnections.end()) return;
  net::CloseFd(it->second->fd);
  mConnections.erase(it);
}

void TcpServer::Impl::Loop() {
  std::vector<pollfd> fds;
  std::vector<uint64_t> ids;
  while (!bStopping) {
    auto now = Clock::now();
    // Timeouts of idle connections and of frames that stall half-way.
    Clock::time_point next = now + std::chrono::hours(1);
    for (auto it = mConnections.begin(); it != mConnections.end();) {
      Connection& c = *it->second;
      if (c.busy) {
        ++it;
        continue;
      }
      auto limit = c.frame.empty()
                       ? c.lastActivity + std::chrono::milliseconds(cOptions.idleTimeoutMs)
                       : c.frameStart + std::chrono::milliseconds(cOptions.readTimeoutMs);
      if (limit <= now) {
        net::CloseFd(c.fd);
        it = mConnections.erase(it);
        continue;
      }
      next = std::min(next, limit);
      ++it;
    }

    fds.clear();
    ids.clear();
    fds.push_back({iWakeFd, POLLIN, 0});
    fds.push_back({iListenFd, POLLIN, 0});
    for (auto& [id, c] : mConnections) {
      if (c->busy) continue;
      fds.push_back({c->fd, POLLIN, 0});
      ids.push_back(id);
    }
    int n = ::poll(fds.data(), fds.size(), std::max(1, net::RemainingMs(next)));
    if (n < 0) continue;  // EINTR
    if (fds[0].revents) {
      uint64_t v;
      [[maybe_unused]] ssize_t r = ::read(iWakeFd, &v, sizeof v);
      std::vector<Completion> done;
      {
        std::lock_guard lock(mDoneLock);
        done.swap(vDone);
      }
      for (const Completion& d : done) {
        auto it = mConnections.find(d.id);
        if (it == mConnections.end()) continue;
        if (!d.keep) {
          Close(d.id);
          continue;
        }
        it->second->busy = false;
        it->second->lastActivity = Clock::now();
      }
    }
    if (bStopping) break;
    if (fds[1].revents) Accept();
    for (std::size_t i = 2; i < fds.size(); ++i) {
      if (!fds[i].revents) continue;
      auto it = mConnections.find(ids[i - 2]);
      if (it != mConnections.end()) ReadFrom(it->first, *it->second);
    }
  }
}

void TcpServer::Impl::Accept() {
  while (true) {
    int fd = ::accept4(iListenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;  // EAGAIN, or a connection that died before it was taken
    if (mConnections.size() >= static_cast<std::size_t>(cOptions.maxConnections)) {
      ::close(fd);
      continue;
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto c = std::make_shared<Connection>();
    c->fd = fd;
    c->lastActivity = Clock::now();
    mConnections.emplace(iNextId++, std::move(c));
  }
}

void TcpServer::Impl::ReadFrom(uint64_t id, Connection& c) {
  char buf[64 * 1024];
  while (true) {
    // Never read past the end of the current frame: the next one waits until
    // this one is answered.
    std::size_t want = c.frame.size() < envelope::kLengthPrefixSize
                           ? envelope::kLengthPrefixSize - c.frame.size()
                           : envelope::kLengthPrefixSize + c.length - c.frame.size();
    ssize_t n = ::recv(c.fd, buf, std::min(want, sizeof buf), 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      Close(id);
      return;
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // wait for more
    }
    if (c.frame.empty()) c.frameStart = Clock::now();
    c.frame.append(buf, static_cast<std::size_t>(n));
    if (c.frame.size() == envelope::kLengthPrefixSize) {
      c.length = envelope::GetU32(c.frame.data());
      if (c.length > cOptions.maxRequestSize) {
        SendErrorNow(c.fd, 0, kErrRequestTooLarge);
        Close(id);
        return;
      }
      if (c.length == 0) {
        Close(id);
        return;
      }
    }
    if (c.frame.size() == envelope::kLengthPrefixSize + c.length) {
      Dispatch(id, mConnections[id]);
      return;
    }
  }
}

void TcpServer::Impl::Dispatch(uint64_t id, std::shared_ptr<Connection> c) {
  c->busy = true;
  if (!pPool->Submit([this, id, c] { Serve(id, c); })) Close(id);
}

void TcpServer::Impl::Serve(uint64_t id, const std::shared_ptr<Connection>& c) {
  std::string frame;
  frame.swap(c->frame);
  c->length = 0;
  std::string_view body = std::string_view(frame).substr(envelope::kLengthPrefixSize);
  envelope::Request request;
  if (!envelope::DecodeRequest(body, request)) {
    Complete(id, false);  // not one of our clients
    return;
  }
  std::string reply;
  int result = ServeRequest(fnHandler, request, reply);
  std::string head;
  if (IsLibraryError(result)) {
    envelope::PutU32(head, envelope::kErrorSize);
    envelope::EncodeError(request.callId, result, head);
  } else {
    envelope::PutU32(head, static_cast<uint32_t>(envelope::kReplyHeaderSize + reply.size()));
    envelope::EncodeReplyHeader(request.callId, result, head);
  }
  iovec iov[2] = {{head.data(), head.size()}, {reply.data(), reply.size()}};
  net::Io io = net::SendAll(c->fd, iov, 2,
                            Clock::now() + std::chrono::milliseconds(cOptions.writeTimeoutMs));
  Complete(id, io == net::Io::kOk);
}

}  // namespace tmclient
