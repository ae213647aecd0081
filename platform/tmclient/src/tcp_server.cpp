#include "tmclient/tcp_server.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "envelope.h"
#include "serve_request.h"
#include "socket_io.h"
#include "tmclient/tmb_stream.h"
#include "tmclient/tmd_error.h"

// Every worker waits on one epoll set. A connection wakes one worker when
// bytes arrive (edge-triggered, so nothing needs re-arming after a reply);
// that worker reads the frame, runs the handler and writes the reply itself:
// a request costs one wake-up, as on a bare socket. A wake-up for a
// connection that another worker serves is left to that worker. A timer
// thread closes connections that stay idle or stall half-way through a frame.

namespace tmclient {
namespace {

using net::Clock;

constexpr uint64_t kListenId = 0;
constexpr uint64_t kWakeId = 1;
constexpr uint64_t kFirstConnectionId = 2;
// The listener wakes one worker, which accepts and re-arms it; a connection
// wakes a worker each time bytes arrive, and needs no re-arming.
constexpr uint32_t kListenEvents = EPOLLIN | EPOLLONESHOT;
constexpr uint32_t kConnectionEvents = EPOLLIN | EPOLLRDHUP | EPOLLET;

struct Connection {
  // Readiness is edge-triggered: a wake-up for a connection that another
  // worker is serving only sets `pending`, which that worker sees when it lets
  // go of the connection.
  std::atomic<bool> pending{false};  // bytes may have come since the last read
  std::atomic<bool> claimed{false};  // a worker serves the connection
  std::mutex lock;                   // guards everything below
  int fd = -1;                       // -1 once closed
  bool busy = false;                 // a worker is reading or answering
  std::string in;  // received and not yet answered: frames, the last maybe partial
  Clock::time_point lastActivity;
  Clock::time_point frameStart;
};

// Sends a streamed reply's frames straight to the connection as the handler
// produces them. The frames after the handler returns (finish, whole reply
// or error) are the server's to send.
class StreamingReply final : public ReplyWriter {
 public:
  StreamingReply(int fd, uint32_t callId, std::chrono::milliseconds writeTimeout)
      : iFd(fd), iCallId(callId), iWriteTimeout(writeTimeout) {}

  bool Begin(std::size_t headSize) override {
    if (iState != State::kIdle || headSize > kMaxHeadSize) return Failed(State::kRefused);
    std::string frame;
    envelope::PutU32(frame, envelope::kStreamStartSize);
    envelope::EncodeStreamStart(iCallId, static_cast<uint32_t>(headSize), frame);
    iHeadSize = headSize;
    iTotal = headSize;
    iState = State::kStreaming;
    return Send(frame.data(), frame.size(), {});
  }

  bool Append(std::string_view bytes) override {
    if (iState != State::kStreaming) return false;
    if (bytes.size() > tmb_stream::kMaxFrameSize - iTotal) return Failed(State::kRefused);
    if (bytes.empty()) return true;
    iTotal += bytes.size();
    std::string head;
    envelope::PutU32(head, static_cast<uint32_t>(envelope::kStreamPartHeaderSize + bytes.size()));
    envelope::EncodeStreamPartHeader(iCallId, head);
    return Send(head.data(), head.size(), bytes);
  }

  bool Finish(std::string_view head) override {
    if (iState != State::kStreaming || head.size() != iHeadSize) return Failed(State::kRefused);
    strHead.assign(head);
    iState = State::kFinished;
    return true;
  }

  bool finished() const { return iState == State::kFinished; }
  // The connection can no longer carry frames in order.
  bool broken() const { return iState == State::kBroken; }
  const std::string& head() const { return strHead; }

 private:
  enum class State { kIdle, kStreaming, kRefused, kBroken, kFinished };

  bool Failed(State s) {
    if (iState != State::kBroken) iState = s;
    return false;
  }
  bool Send(const char* header, std::size_t size, std::string_view data) {
    iovec iov[2] = {{const_cast<char*>(header), size},
                    {const_cast<char*>(data.data()), data.size()}};
    auto deadline = Clock::now() + iWriteTimeout;
    if (net::SendAll(iFd, iov, data.empty() ? 1 : 2, deadline) == net::Io::kOk) return true;
    return Failed(State::kBroken);
  }

  const int iFd;
  const uint32_t iCallId;
  const std::chrono::milliseconds iWriteTimeout;
  State iState = State::kIdle;
  std::size_t iHeadSize = 0;
  std::size_t iTotal = 0;  // bytes of the reply stream so far, the head included
  std::string strHead;
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
  Impl(StreamingServiceHandler handler, TcpServerOptions options)
      : fnHandler(std::move(handler)), cOptions(std::move(options)) {}
  ~Impl() { Stop(); }

  bool Start(std::string* error);
  void Stop();
  uint16_t port() const { return iPort; }

 private:
  enum class Parse { kFrame, kMore, kBad };

  void Work();
  void Sweep();
  void Accept();
  std::size_t Count();
  // Closes the connection without a request that has been idle the longest;
  // false when every connection has a request under way.
  bool CloseLongestIdle();
  void Arm(int fd, uint64_t id, int op, uint32_t events);
  std::shared_ptr<Connection> Find(uint64_t id);
  // Closes and forgets the connection; `c.lock` is held.
  void CloseLocked(uint64_t id, Connection& c);
  void OnReadable(uint64_t id);
  // Reads everything that has come and answers every whole frame; `c.lock`
  // is held. False when the connection was closed.
  bool Serve(uint64_t id, Connection& c);
  // Whether `c.in` starts with a whole frame (its body length in `length`).
  Parse ParseFrame(Connection& c, std::size_t& length);
  // Answers the frame at the start of `c.in` and drops it from there.
  bool Answer(Connection& c, std::size_t length);

  StreamingServiceHandler fnHandler;
  const TcpServerOptions cOptions;
  int iListenFd = -1;
  int iSpareFd = -1;  // a file kept to take a connection with when none is left
  int iWakeFd = -1;
  int iEpollFd = -1;
  uint16_t iPort = 0;
  std::atomic<bool> bStopping{false};
  bool bStarted = false;
  std::vector<std::thread> vWorkers;
  std::thread tSweeper;
  std::mutex mSweepLock;
  std::condition_variable cvSweep;

  std::mutex mMapLock;
  std::map<uint64_t, std::shared_ptr<Connection>> mConnections;
  uint64_t iNextId = kFirstConnectionId;
};

TcpServer::TcpServer(ServiceHandler handler, TcpServerOptions options)
    : TcpServer(StreamingOf(std::move(handler)), std::move(options)) {}
TcpServer::TcpServer(StreamingServiceHandler handler, TcpServerOptions options)
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
    net::CloseFd(iSpareFd);
    net::CloseFd(iWakeFd);
    net::CloseFd(iEpollFd);
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
    if (::bind(s, a->ai_addr, a->ai_addrlen) == 0 && ::listen(s, SOMAXCONN) == 0) {
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
  iSpareFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  iWakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  iEpollFd = ::epoll_create1(EPOLL_CLOEXEC);
  if (iWakeFd < 0 || iEpollFd < 0) return fail(std::strerror(errno));
  Arm(iListenFd, kListenId, EPOLL_CTL_ADD, kListenEvents);
  epoll_event wake{};
  wake.events = EPOLLIN;  // level-triggered: once written, every worker sees it
  wake.data.u64 = kWakeId;
  ::epoll_ctl(iEpollFd, EPOLL_CTL_ADD, iWakeFd, &wake);

  bStarted = true;
  bStopping = false;
  for (int i = 0; i < std::max(1, cOptions.workers); ++i) vWorkers.emplace_back([this] { Work(); });
  tSweeper = std::thread([this] { Sweep(); });
  return true;
}

void TcpServer::Impl::Stop() {
  if (!bStarted) return;
  bStarted = false;
  {
    std::lock_guard lock(mSweepLock);
    bStopping = true;
  }
  cvSweep.notify_all();
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(iWakeFd, &one, sizeof one);
  // Workers answering a request finish it first.
  for (auto& t : vWorkers) t.join();
  vWorkers.clear();
  tSweeper.join();
  for (auto& [id, c] : mConnections) net::CloseFd(c->fd);
  mConnections.clear();
  net::CloseFd(iListenFd);
  net::CloseFd(iSpareFd);
  net::CloseFd(iWakeFd);
  net::CloseFd(iEpollFd);
}

void TcpServer::Impl::Arm(int fd, uint64_t id, int op, uint32_t events) {
  epoll_event ev{};
  ev.events = events;
  ev.data.u64 = id;
  ::epoll_ctl(iEpollFd, op, fd, &ev);
}

std::shared_ptr<Connection> TcpServer::Impl::Find(uint64_t id) {
  std::lock_guard lock(mMapLock);
  auto it = mConnections.find(id);
  return it == mConnections.end() ? nullptr : it->second;
}

void TcpServer::Impl::CloseLocked(uint64_t id, Connection& c) {
  if (c.fd < 0) return;
  ::epoll_ctl(iEpollFd, EPOLL_CTL_DEL, c.fd, nullptr);
  net::CloseFd(c.fd);
  std::lock_guard lock(mMapLock);
  mConnections.erase(id);
}

void TcpServer::Impl::Work() {
  while (!bStopping) {
    epoll_event ev{};
    int n = ::epoll_wait(iEpollFd, &ev, 1, -1);
    if (n <= 0 || bStopping) continue;
    if (ev.data.u64 == kWakeId) continue;
    if (ev.data.u64 == kListenId) {
      Accept();
      Arm(iListenFd, kListenId, EPOLL_CTL_MOD, kListenEvents);
      continue;
    }
    OnReadable(ev.data.u64);
  }
}

void TcpServer::Impl::Accept() {
  while (true) {
    int fd = ::accept4(iListenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0 && errno == EINTR) continue;
    if (fd < 0 && (errno == EMFILE || errno == ENFILE)) {
      // Out of files: an idle connection makes room, or the waiting one is
      // taken with the file kept for this and closed, so that the listener
      // does not stay ready for nothing.
      if (CloseLongestIdle()) continue;
      net::CloseFd(iSpareFd);
      net::CloseFd(fd = ::accept4(iListenFd, nullptr, nullptr, SOCK_CLOEXEC));
      iSpareFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
      continue;
    }
    if (fd < 0) return;  // EAGAIN, or a connection that died before it was taken
    if (Count() >= static_cast<std::size_t>(cOptions.maxConnections) && !CloseLongestIdle()) {
      ::close(fd);  // every connection has a request under way
      continue;
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto c = std::make_shared<Connection>();
    c->fd = fd;
    c->lastActivity = Clock::now();
    std::lock_guard lock(mMapLock);
    uint64_t id = iNextId++;
    mConnections.emplace(id, c);
    Arm(fd, id, EPOLL_CTL_ADD, kConnectionEvents);
  }
}

std::size_t TcpServer::Impl::Count() {
  std::lock_guard lock(mMapLock);
  return mConnections.size();
}

bool TcpServer::Impl::CloseLongestIdle() {
  uint64_t victimId = 0;
  std::shared_ptr<Connection> victim;
  {
    // A connection a worker holds is not idle; try_lock also keeps the lock
    // order (a connection's lock, then the map's) from mattering here.
    std::lock_guard lock(mMapLock);
    Clock::time_point oldest = Clock::time_point::max();
    for (auto& [id, c] : mConnections) {
      std::unique_lock cl(c->lock, std::try_to_lock);
      if (!cl.owns_lock() || c->busy || c->fd < 0 || !c->in.empty()) continue;
      if (c->lastActivity < oldest) {
        oldest = c->lastActivity;
        victimId = id;
        victim = c;
      }
    }
  }
  if (!victim) return false;
  std::lock_guard lock(victim->lock);
  if (victim->busy || victim->fd < 0 || !victim->in.empty()) return false;
  CloseLocked(victimId, *victim);
  return true;
}

void TcpServer::Impl::OnReadable(uint64_t id) {
  std::shared_ptr<Connection> c = Find(id);
  if (!c) return;
  c->pending = true;
  while (!c->claimed.exchange(true)) {
    while (c->pending.exchange(false)) {
      std::lock_guard lock(c->lock);
      if (c->fd < 0 || !Serve(id, *c)) return;  // closed: nobody serves it again
    }
    c->claimed = false;
    // Bytes that came just before the claim was given up are this worker's
    // unless another one has claimed the connection since.
    if (!c->pending) return;
  }
}

bool TcpServer::Impl::Serve(uint64_t id, Connection& c) {
  c.busy = true;
  // Read until the socket is empty or ends: no new wake-up announces bytes
  // left there, nor an end of input that came with the last bytes.
  char buf[64 * 1024];
  bool ended = false;
  while (true) {
    ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (n < 0) {  // reset: nobody is left to answer
      CloseLocked(id, c);
      return false;
    }
    if (n == 0) {
      ended = true;
      break;
    }
    if (c.in.empty()) c.frameStart = Clock::now();
    c.in.append(buf, static_cast<std::size_t>(n));
    // A frame over the limit is refused below without reading the rest.
    if (c.in.size() >= envelope::kLengthPrefixSize &&
        envelope::GetU32(c.in.data()) > cOptions.maxRequestSize)
      break;
  }
  while (true) {
    std::size_t length = 0;
    Parse p = ParseFrame(c, length);
    if (p == Parse::kMore) break;
    if (p == Parse::kBad || !Answer(c, length)) {
      CloseLocked(id, c);
      return false;
    }
  }
  // The whole requests that came with the end of input are answered; the
  // connection is of no further use.
  if (ended) {
    CloseLocked(id, c);
    return false;
  }
  c.busy = false;
  return true;
}

TcpServer::Impl::Parse TcpServer::Impl::ParseFrame(Connection& c, std::size_t& length) {
  if (c.in.size() < envelope::kLengthPrefixSize) return Parse::kMore;
  length = envelope::GetU32(c.in.data());
  if (length > cOptions.maxRequestSize) {
    SendErrorNow(c.fd, 0, kErrRequestTooLarge);
    return Parse::kBad;
  }
  if (length == 0) return Parse::kBad;
  return c.in.size() - envelope::kLengthPrefixSize >= length ? Parse::kFrame : Parse::kMore;
}

bool TcpServer::Impl::Answer(Connection& c, std::size_t length) {
  std::string_view body = std::string_view(c.in).substr(envelope::kLengthPrefixSize, length);
  envelope::Request request;
  if (!envelope::DecodeRequest(body, request)) return false;  // not one of our clients
  const auto writeTimeout = std::chrono::milliseconds(cOptions.writeTimeoutMs);
  StreamingReply streamed(c.fd, request.callId, writeTimeout);
  std::string reply;
  int result = ServeRequest(fnHandler, request, reply, streamed);
  if (streamed.broken()) return false;
  // Whatever was streamed counts only with its finish frame; a whole reply or
  // an error frame replaces it at the client.
  std::string_view data = reply;
  std::string head;
  envelope::PutU32(head, 0);
  if (IsLibraryError(result)) {
    envelope::EncodeError(request.callId, result, head);
    data = {};
  } else if (streamed.finished()) {
    envelope::EncodeStreamFinishHeader(request.callId, result, head);
    data = streamed.head();
  } else {
    envelope::EncodeReplyHeader(request.callId, result, head);
  }
  const auto bodySize =
      static_cast<uint32_t>(head.size() - envelope::kLengthPrefixSize + data.size());
  for (std::size_t i = 0; i < envelope::kLengthPrefixSize; ++i)
    head[i] = static_cast<char>(bodySize >> (8 * i));
  iovec iov[2] = {{head.data(), head.size()}, {const_cast<char*>(data.data()), data.size()}};
  if (net::SendAll(c.fd, iov, data.empty() ? 1 : 2, Clock::now() + writeTimeout) != net::Io::kOk)
    return false;
  c.in.erase(0, envelope::kLengthPrefixSize + length);
  c.lastActivity = c.frameStart = Clock::now();
  return true;
}

void TcpServer::Impl::Sweep() {
  const auto idle = std::chrono::milliseconds(cOptions.idleTimeoutMs);
  const auto stall = std::chrono::milliseconds(cOptions.readTimeoutMs);
  const auto period = std::clamp<std::chrono::milliseconds>(
      std::min(idle, stall) / 4, std::chrono::milliseconds(10), std::chrono::milliseconds(1000));
  std::unique_lock sweepLock(mSweepLock);
  while (!cvSweep.wait_for(sweepLock, period, [this] { return bStopping.load(); })) {
    std::vector<std::pair<uint64_t, std::shared_ptr<Connection>>> all;
    {
      std::lock_guard lock(mMapLock);
      all.assign(mConnections.begin(), mConnections.end());
    }
    auto now = Clock::now();
    for (auto& [id, c] : all) {
      std::unique_lock lock(c->lock, std::try_to_lock);
      if (!lock.owns_lock() || c->busy || c->fd < 0) continue;  // a worker has it
      bool expired = c->in.empty() ? now - c->lastActivity >= idle : now - c->frameStart >= stall;
      if (expired) CloseLocked(id, *c);
    }
  }
}

}  // namespace tmclient
