#include "tmclient/tcp_server.h"

#include <arpa/inet.h>
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

#include "channel.h"
#include "envelope.h"
#include "serve_request.h"
#include "socket_io.h"
#include "streamed_reply.h"
#include "tcp_connection.h"
#include "tmclient/tmd_error.h"
#include "worker_threads.h"

// Every worker waits on one epoll set. A connection wakes one worker when
// bytes arrive or when its socket has room again (edge-triggered, so nothing
// needs re-arming after a reply); that worker sends what waits, reads what
// came, runs the handler for each whole frame and sends the reply as far as
// the socket takes it: a request costs one wake-up, as on a bare socket. The
// connection's lock is not held while the handler runs, so that other
// workers keep its socket moving meanwhile. A timer thread closes connections
// that stay idle, stall half-way through a frame, or take nothing of their
// replies.
//
// Memory a client can make the server hold is bounded three ways: a request
// frame longer than the largest request (and its envelope) is refused on its
// length alone, before its bytes are read; a connection reads at most one
// such frame ahead of the requests it has answered; and when the bytes held
// by all connections, in and out, pass maxBufferedBytes, the connections
// quiet the longest are closed until they are back under it.

namespace tmclient {
namespace {

using net::Clock;

constexpr uint64_t kListenId = 0;
constexpr uint64_t kWakeId = 1;
constexpr uint64_t kFirstConnectionId = 2;
// The listener wakes one worker, which accepts and re-arms it; a connection
// wakes a worker each time bytes arrive or room appears, and needs no
// re-arming.
constexpr uint32_t kListenEvents = EPOLLIN | EPOLLONESHOT;
constexpr uint32_t kConnectionEvents = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
// After refusing a frame over the size limit, what the client still sends is
// read and dropped for at most this long and this many bytes before the
// connection closes.
constexpr auto kRefusedLinger = std::chrono::seconds(2);
constexpr std::size_t kRefusedDropBytes = 1 << 20;

}  // namespace

class TcpServer::Impl {
 public:
  Impl(StreamingServiceHandler handler, TcpServerOptions options)
      : fnHandler(std::move(handler)),
        cOptions(std::move(options)),
        iMaxFrame(cOptions.maxRequestSize + envelope::kMaxRequestHeaderSize),
        iReadLimit(iMaxFrame + envelope::kLengthPrefixSize),
        cThreads(cOptions.workers, cOptions.maxStandIns, [this] { ServeOne(); }) {}
  ~Impl() { Stop(); }

  bool Start(std::string* error);
  void Stop();
  uint16_t port() const { return iPort; }
  TcpServerStats stats();

 private:
  enum class Parse { kFrame, kMore, kBad, kTooLong };
  using Lock = std::unique_lock<decltype(Connection::mLock)>;

  // Waits for one event and serves it.
  void ServeOne();
  void Sweep();
  // Whether the client has taken nothing of its replies, sent nothing, or
  // left a frame half sent for too long.
  bool Expired(const Connection& c, net::Clock::time_point now) const;
  void Accept();
  std::size_t Count();
  // Closes the connection idle the longest; false when none is idle.
  bool CloseLongestIdle();
  // While every connection's bytes together are over maxBufferedBytes,
  // closes the one holding bytes that has been quiet the longest. The caller
  // holds `self`'s lock; others that a worker holds just now are passed
  // over. False when `self` was closed.
  bool Shed(uint64_t selfId, Connection& self);
  void Arm(int fd, uint64_t id, int op, uint32_t events);
  std::shared_ptr<Connection> Find(uint64_t id);
  // Closes and forgets the connection; `c.mLock` is held.
  void CloseLocked(uint64_t id, Connection& c);
  void OnEvent(uint64_t id, uint32_t events);
  // Moves the connection on as far as it goes without waiting: sends what
  // waits, reads what came (to the socket's end of input when `events`
  // announce one or an error), answers whole frames while no other request
  // of it is under way and its client is not far behind, and closes it once
  // it has ended and everything is answered.
  void Pump(uint64_t id, Connection& c, Lock& lock, uint32_t events);
  // Whether `c.sIn` starts with a whole frame (its body length in `length`).
  Parse ParseFrame(Connection& c, std::size_t& length);
  // Answers the frame at the start of `c.sIn`; the lock is let go while the
  // handler runs. False when the connection was closed.
  bool Answer(uint64_t id, Connection& c, Lock& lock, std::size_t length);
  // A frame over the size limit: answers it with an error frame that the
  // client gets to read (Linger), and reads nothing more of the connection.
  void Refuse(uint64_t id, Connection& c);
  // A refused connection: once its error frame is out, shuts the sending
  // side, drops what the client still sends, and closes when the client
  // has closed or after kRefusedDropBytes (the sweep closes it after
  // kRefusedLinger). A close with the client's bytes unread would reset the
  // connection, and the reset would take the error frame with it.
  void Linger(uint64_t id, Connection& c);
  // Closes an ended connection that has nothing left to answer or send.
  void CloseIfDone(uint64_t id, Connection& c);

  StreamingServiceHandler fnHandler;
  const TcpServerOptions cOptions;
  const std::size_t iMaxFrame;            // longer request frames are refused on their length
  const std::size_t iReadLimit;           // a connection's unanswered bytes: reading waits beyond
  std::atomic<std::size_t> iBuffered{0};  // bytes held by every connection, in and out
  int iListenFd = -1;
  int iSpareFd = -1;  // a file kept to take a connection with when none is left
  int iWakeFd = -1;
  int iEpollFd = -1;
  uint16_t iPort = 0;
  std::atomic<bool> bStopping{false};
  std::atomic<uint64_t> iEvicted{0};
  std::atomic<uint64_t> iResetNotReading{0};
  std::atomic<uint64_t> iShed{0};
  bool bStarted = false;
  WorkerThreads cThreads;
  std::thread tSweeper;
  RankedMutex<LockRank::kSweeper> mSweepLock;
  RankedCondition cvSweep;
  bool bSweeping = false;

  RankedMutex<LockRank::kConnections> mMapLock;
  RankedCondition cvClosed;  // a connection was closed while stopping
  std::map<uint64_t, std::shared_ptr<Connection>> mConnections;
  uint64_t iNextId = kFirstConnectionId;
};

ChannelLayer::~ChannelLayer() = default;

uint64_t TcpServerOpenFiles(const TcpServerOptions& options, int filesPerHandler) {
  constexpr uint64_t kOwnFiles = 4;  // listener, epoll set, wake-up, spare
  const auto handlers = static_cast<uint64_t>(std::max(1, options.workers)) +
                        static_cast<uint64_t>(std::max(0, options.maxStandIns));
  return static_cast<uint64_t>(std::max(0, options.maxConnections)) + kOwnFiles +
         handlers * static_cast<uint64_t>(std::max(0, filesPerHandler));
}

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
TcpServerStats TcpServer::stats() const {
  return pImpl->stats();
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
  bSweeping = true;
  cThreads.Start();
  tSweeper = std::thread([this] { Sweep(); });
  return true;
}

void TcpServer::Impl::Stop() {
  if (!bStarted) return;
  bStarted = false;
  bStopping = true;
  // New connections are refused from here on; the ones waiting to be taken
  // are reset.
  ::shutdown(iListenFd, SHUT_RDWR);
  // Every connection reads what has come and nothing after it; a worker
  // answers the whole requests among it.
  std::vector<std::pair<uint64_t, std::shared_ptr<Connection>>> all;
  {
    std::lock_guard lock(mMapLock);
    all.assign(mConnections.begin(), mConnections.end());
  }
  for (auto& [id, c] : all) {
    std::lock_guard lock(c->mLock);
    if (c->iFd < 0) continue;
    if (!c->bEnded && c->ReadAll(iReadLimit) == Connection::Read::kFailed) {
      CloseLocked(id, *c);
      continue;
    }
    c->bEnded = true;
    CloseIfDone(id, *c);
    // Modifying the registration makes epoll report the writable socket
    // again: a worker comes to answer what waits.
    if (c->iFd >= 0 && !c->bRunning) Arm(c->iFd, id, EPOLL_CTL_MOD, kConnectionEvents);
  }
  {
    std::unique_lock lock(mMapLock);
    cvClosed.wait(lock, [this] { return mConnections.empty(); });
  }
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(iWakeFd, &one, sizeof one);
  cThreads.Stop();
  {
    std::lock_guard lock(mSweepLock);
    bSweeping = false;
  }
  cvSweep.notify_all();
  tSweeper.join();
  net::CloseFd(iListenFd);
  net::CloseFd(iSpareFd);
  net::CloseFd(iWakeFd);
  net::CloseFd(iEpollFd);
}

TcpServerStats TcpServer::Impl::stats() {
  TcpServerStats s;
  {
    // try_lock, as in CloseLongestIdle: a connection a worker holds is busy.
    std::lock_guard lock(mMapLock);
    for (auto& [id, c] : mConnections) {
      std::unique_lock cl(c->mLock, std::try_to_lock);
      const bool idle = cl.owns_lock() && c->iFd >= 0 && c->idle();
      ++(idle ? s.idle : s.active);
      if (cl.owns_lock() && !c->bRunning && c->HasWholeFrame()) ++s.queued;
    }
  }
  s.standIns = cThreads.standIns();
  s.evicted = iEvicted.load(std::memory_order_relaxed);
  s.resetNotReading = iResetNotReading.load(std::memory_order_relaxed);
  s.shed = iShed.load(std::memory_order_relaxed);
  s.buffered = static_cast<int64_t>(iBuffered.load(std::memory_order_relaxed));
  return s;
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
  if (c.iFd < 0) return;
  ::epoll_ctl(iEpollFd, EPOLL_CTL_DEL, c.iFd, nullptr);
  c.CloseSocket();
  c.Release();
  c.cvRoom.notify_all();  // a streamed reply waiting for room ends
  std::lock_guard lock(mMapLock);
  mConnections.erase(id);
  if (bStopping && mConnections.empty()) cvClosed.notify_all();
}

void TcpServer::Impl::ServeOne() {
  epoll_event ev{};
  if (::epoll_wait(iEpollFd, &ev, 1, -1) <= 0) return;
  if (ev.data.u64 == kWakeId) return;
  if (ev.data.u64 == kListenId) {
    if (bStopping) return;
    Accept();
    Arm(iListenFd, kListenId, EPOLL_CTL_MOD, kListenEvents);
    return;
  }
  OnEvent(ev.data.u64, ev.events);
}

// "tcp:ADDRESS:PORT" of an accepted connection's far end.
static std::string PeerText(const sockaddr_storage& a) {
  char host[INET6_ADDRSTRLEN] = "?";
  unsigned port = 0;
  if (a.ss_family == AF_INET) {
    const auto& in = reinterpret_cast<const sockaddr_in&>(a);
    ::inet_ntop(AF_INET, &in.sin_addr, host, sizeof host);
    port = ntohs(in.sin_port);
    return "tcp:" + std::string(host) + ":" + std::to_string(port);
  }
  if (a.ss_family == AF_INET6) {
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(a);
    ::inet_ntop(AF_INET6, &in6.sin6_addr, host, sizeof host);
    port = ntohs(in6.sin6_port);
    return "tcp:[" + std::string(host) + "]:" + std::to_string(port);
  }
  return "tcp:?";
}

void TcpServer::Impl::Accept() {
  while (true) {
    sockaddr_storage from{};
    socklen_t fromSize = sizeof from;
    int fd = ::accept4(iListenFd, reinterpret_cast<sockaddr*>(&from), &fromSize,
                       SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0 && errno == EINTR) continue;
    if (fd < 0 && (errno == EMFILE || errno == ENFILE)) {
      // Out of files: an idle connection makes room, or the waiting one is
      // taken with the file kept for this and closed, so that the listener
      // does not stay ready for nothing.
      if (CloseLongestIdle()) continue;
      if (iSpareFd < 0) return;  // nothing to take it with: it waits in the backlog
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
    auto c = std::make_shared<Connection>(iBuffered);
    c->pChannel = cOptions.layer ? cOptions.layer->Open(fd) : net::MakeClearChannel(fd);
    if (!c->pChannel) {  // out of memory for its TLS state
      ::close(fd);
      continue;
    }
    c->iFd = fd;
    c->tAccepted = c->tLastActivity = c->tLastProgress = Clock::now();
    c->sPeer = PeerText(from);
    std::lock_guard lock(mMapLock);
    if (bStopping) {  // Stop() has gone through the connections already
      ::close(fd);
      return;
    }
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
      std::unique_lock cl(c->mLock, std::try_to_lock);
      if (!cl.owns_lock() || c->iFd < 0 || !c->idle()) continue;
      if (c->tLastActivity < oldest) {
        oldest = c->tLastActivity;
        victimId = id;
        victim = c;
      }
    }
  }
  if (!victim) return false;
  std::lock_guard lock(victim->mLock);
  if (victim->iFd < 0 || !victim->idle()) return false;
  CloseLocked(victimId, *victim);
  iEvicted.fetch_add(1, std::memory_order_relaxed);
  return true;
}

bool TcpServer::Impl::Shed(uint64_t selfId, Connection& self) {
  while (iBuffered.load() > cOptions.maxBufferedBytes) {
    uint64_t victimId = selfId;
    std::shared_ptr<Connection> victim;
    Clock::time_point oldest = self.held() > 0 ? self.tLastProgress : Clock::time_point::max();
    {
      std::lock_guard lock(mMapLock);
      for (auto& [id, c] : mConnections) {
        if (id == selfId) continue;
        std::unique_lock cl(c->mLock, std::try_to_lock);
        if (!cl.owns_lock() || c->iFd < 0 || c->held() == 0) continue;
        if (c->tLastProgress < oldest) {
          oldest = c->tLastProgress;
          victimId = id;
          victim = c;
        }
      }
    }
    if (!victim) {
      if (self.held() == 0) return true;  // nothing of ours to give back
      CloseLocked(selfId, self);
      iShed.fetch_add(1, std::memory_order_relaxed);
      return false;
    }
    // Never waits for another connection's lock while holding this one's.
    std::unique_lock cl(victim->mLock, std::try_to_lock);
    if (!cl.owns_lock()) return true;
    if (victim->iFd < 0) continue;
    if (!victim->cOut.empty()) {
      linger drop{1, 0};  // what it has not taken goes with it
      ::setsockopt(victim->iFd, SOL_SOCKET, SO_LINGER, &drop, sizeof drop);
    }
    CloseLocked(victimId, *victim);
    iShed.fetch_add(1, std::memory_order_relaxed);
  }
  return true;
}

void TcpServer::Impl::OnEvent(uint64_t id, uint32_t events) {
  std::shared_ptr<Connection> c = Find(id);
  if (!c) return;
  Lock lock(c->mLock);
  if (c->iFd >= 0) Pump(id, *c, lock, events);
}

void TcpServer::Impl::Pump(uint64_t id, Connection& c, Lock& lock, uint32_t events) {
  if (!c.cOut.empty()) {
    if (!c.Flush()) return CloseLocked(id, c);
    if (c.cOut.size() <= cOptions.maxQueuedBytes / 2) c.cvRoom.notify_all();
  }
  if (c.bRefused) return Linger(id, c);
  // A request costs one read: the socket is read to its end only when epoll
  // has announced the end of input or an error (see Connection::ReadAll).
  bool untilEmpty = (events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0;
  // Reading stops at iReadLimit only with whole frames in `sIn`; it goes on
  // once they are answered, to the socket's end, as no wake-up announces
  // the bytes left behind.
  bool read = true;
  while (c.iFd >= 0) {
    if (read && !c.bEnded) {
      switch (c.ReadAll(iReadLimit, untilEmpty)) {
        case Connection::Read::kOpen:
          break;
        case Connection::Read::kEnded:
          c.bEnded = true;
          break;
        case Connection::Read::kFailed:
          return CloseLocked(id, c);
      }
      if (!Shed(id, c)) return;
    }
    // The worker answering a request of this connection comes back here;
    // a client far behind gets its next answer once it has read.
    if (c.bRunning || c.cOut.size() > cOptions.maxQueuedBytes) return;
    std::size_t length = 0;
    switch (ParseFrame(c, length)) {
      case Parse::kBad:
        return CloseLocked(id, c);
      case Parse::kTooLong:
        return Refuse(id, c);
      case Parse::kMore:
        return CloseIfDone(id, c);
      case Parse::kFrame:
        read = c.sIn.size() >= iReadLimit;
        untilEmpty = untilEmpty || read;
        if (!Answer(id, c, lock, length) || !Shed(id, c)) return;
        break;
    }
  }
}

void TcpServer::Impl::Refuse(uint64_t id, Connection& c) {
  std::string frame;
  envelope::PutU32(frame, envelope::kErrorSize);
  envelope::EncodeError(0, kErrRequestTooLarge, frame);
  c.sIn.clear();
  c.bEnded = true;
  c.bRefused = true;
  c.tRefused = Clock::now();
  // Behind the replies already queued, if any.
  if (!c.Send(frame, std::string())) return CloseLocked(id, c);
  Linger(id, c);
}

void TcpServer::Impl::Linger(uint64_t id, Connection& c) {
  if (!c.cOut.empty()) return;  // room on the socket brings the worker back
  if (!c.bWriteShut) {
    c.pChannel->Shutdown();
    ::shutdown(c.iFd, SHUT_WR);
    c.bWriteShut = true;
  }
  if (c.Discard(kRefusedDropBytes) != Connection::Read::kOpen || c.iDropped >= kRefusedDropBytes)
    CloseLocked(id, c);
}

void TcpServer::Impl::CloseIfDone(uint64_t id, Connection& c) {
  if (c.bEnded && !c.bRunning && c.cOut.empty() && !c.HasWholeFrame()) CloseLocked(id, c);
}

TcpServer::Impl::Parse TcpServer::Impl::ParseFrame(Connection& c, std::size_t& length) {
  if (c.sIn.size() < envelope::kLengthPrefixSize) return Parse::kMore;
  length = envelope::GetU32(c.sIn.data());
  if (length > iMaxFrame) return Parse::kTooLong;
  // Not a request: refused as soon as its first byte says so (a TLS client's
  // handshake at a clear-text server, say), not once the length it seems to
  // announce has come.
  if (length == 0 || (c.sIn.size() > envelope::kLengthPrefixSize &&
                      !envelope::IsRequestKind(c.sIn[envelope::kLengthPrefixSize])))
    return Parse::kBad;
  return c.sIn.size() - envelope::kLengthPrefixSize >= length ? Parse::kFrame : Parse::kMore;
}

bool TcpServer::Impl::Answer(uint64_t id, Connection& c, Lock& lock, std::size_t length) {
  // The request's bytes leave `sIn`, which other workers append to meanwhile.
  thread_local std::string body;
  c.TakeFrame(length, body);
  if (!c.sIn.empty()) c.tFrameStart = Clock::now();
  c.bRunning = true;
  lock.unlock();

  envelope::Request request;
  const bool ours = envelope::DecodeRequest(body, request);
  request.peer = c.sPeer;
  StreamedReply streamed(c, request.callId, cOptions.maxQueuedBytes, cThreads);
  std::string reply;
  const int result = ours ? ServeRequest(fnHandler, request, reply, streamed) : 0;
  // Whatever was streamed counts only with its finish frame; a whole reply or
  // an error frame replaces it at the client.
  std::string head;
  envelope::PutU32(head, 0);
  if (IsLibraryError(result)) {
    envelope::EncodeError(request.callId, result, head);
    reply.clear();
  } else if (streamed.finished()) {
    envelope::EncodeStreamFinishHeader(request.callId, result, head);
    reply = streamed.head();
  } else {
    envelope::EncodeReplyHeader(request.callId, result, head);
  }
  const auto bodySize =
      static_cast<uint32_t>(head.size() - envelope::kLengthPrefixSize + reply.size());
  for (std::size_t i = 0; i < envelope::kLengthPrefixSize; ++i)
    head[i] = static_cast<char>(bodySize >> (8 * i));

  if (body.capacity() > iReadLimit / 4) std::string().swap(body);
  lock.lock();
  c.bRunning = false;
  if (c.iFd < 0) return false;  // closed meanwhile: timed out, reset or stopped
  // Not one of our clients, or a connection that no longer carries frames in order.
  if (!ours || streamed.broken() || !c.Send(head, std::move(reply))) {
    CloseLocked(id, c);
    return false;
  }
  c.tLastActivity = Clock::now();
  return true;
}

bool TcpServer::Impl::Expired(const Connection& c, Clock::time_point now) const {
  if (c.bRefused) return now - c.tRefused >= kRefusedLinger;
  // A TLS handshake has the time of a frame.
  if (!c.pChannel->established())
    return now - c.tAccepted >= std::chrono::milliseconds(cOptions.readTimeoutMs);
  if (!c.cOut.empty())
    return now - c.tLastTaken >= std::chrono::milliseconds(cOptions.writeTimeoutMs);
  if (c.idle()) return now - c.tLastActivity >= std::chrono::milliseconds(cOptions.idleTimeoutMs);
  // Half a frame, with nothing under way that it would wait for.
  return !c.bRunning && !c.sIn.empty() && !c.HasWholeFrame() &&
         now - c.tFrameStart >= std::chrono::milliseconds(cOptions.readTimeoutMs);
}

void TcpServer::Impl::Sweep() {
  const auto idle = std::chrono::milliseconds(cOptions.idleTimeoutMs);
  const auto stall = std::chrono::milliseconds(cOptions.readTimeoutMs);
  const auto write = std::chrono::milliseconds(cOptions.writeTimeoutMs);
  const auto period = std::clamp<std::chrono::milliseconds>(
      std::min({idle, stall, write}) / 4, std::chrono::milliseconds(10), std::chrono::seconds(1));
  std::unique_lock sweepLock(mSweepLock);
  while (!cvSweep.wait_for(sweepLock, period, [this] { return !bSweeping; })) {
    // The wake-up's lock is held with no other (see the lock order in
    // tcp_server.h).
    sweepLock.unlock();
    std::vector<std::pair<uint64_t, std::shared_ptr<Connection>>> all;
    {
      std::lock_guard lock(mMapLock);
      all.assign(mConnections.begin(), mConnections.end());
    }
    auto now = Clock::now();
    for (auto& [id, c] : all) {
      std::unique_lock lock(c->mLock, std::try_to_lock);
      if (!lock.owns_lock() || c->iFd < 0) continue;  // a worker has it just now
      if (!Expired(*c, now)) {
        if (c->idle()) c->pChannel->ReleaseBuffers();
        continue;
      }
      if (!c->cOut.empty()) {
        // A client that takes nothing: what it has not taken goes with the
        // connection (a reset), rather than stay with the kernel to be
        // offered to it for minutes more.
        linger drop{1, 0};
        ::setsockopt(c->iFd, SOL_SOCKET, SO_LINGER, &drop, sizeof drop);
        iResetNotReading.fetch_add(1, std::memory_order_relaxed);
      }
      CloseLocked(id, *c);
    }
    sweepLock.lock();
  }
}

}  // namespace tmclient
