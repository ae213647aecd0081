#include "socket_io.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>

namespace tmclient::net {
namespace {

// Waits for `events` on fd. kOk when ready (or in error, which the next
// socket call reports), kTimeout when the deadline passed.
Io WaitFor(int fd, short events, Clock::time_point deadline) {
  while (true) {
    int ms = RemainingMs(deadline);
    if (ms == 0) return Io::kTimeout;
    pollfd p{fd, events, 0};
    int n = ::poll(&p, 1, ms);
    if (n > 0) return Io::kOk;
    if (n < 0 && errno != EINTR) return Io::kError;
  }
}

}  // namespace

Io IoOfErrno(int err) {
  switch (err) {
    case EPIPE:
    case ECONNRESET:
    case ECONNABORTED:
    case ENOTCONN:
    case ETIMEDOUT:
      return Io::kClosed;
    default:
      return Io::kError;
  }
}

int RemainingMs(Clock::time_point deadline) {
  auto left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms > 0x7fffffff ? 0x7fffffff : static_cast<int>(ms);
}

void SetNonBlocking(int fd) {
  int flags = ::fcntl(fd, F_GETFL, 0);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

Connect ConnectTcp(const std::string& host, unsigned port, Clock::time_point deadline, int& fd) {
  fd = -1;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* list = nullptr;
  std::string service = std::to_string(port);
  if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &list) != 0 || !list)
    return Connect::kBadAddress;
  Connect result = Connect::kRefused;
  for (addrinfo* a = list; a; a = a->ai_next) {
    int s = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (s < 0) continue;
    int rc = ::connect(s, a->ai_addr, a->ai_addrlen);
    if (rc < 0 && errno == EINPROGRESS) {
      if (WaitFor(s, POLLOUT, deadline) == Io::kTimeout) {
        ::close(s);
        result = Connect::kTimeout;
        break;
      }
      int err = 0;
      socklen_t len = sizeof err;
      ::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len);
      rc = err == 0 ? 0 : -1;
    }
    if (rc == 0) {
      int one = 1;
      ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      fd = s;
      result = Connect::kOk;
      break;
    }
    ::close(s);
  }
  ::freeaddrinfo(list);
  return result;
}

Io SendNow(int fd, const iovec* iov, int count, std::size_t& sent) {
  sent = 0;
  msghdr msg{};
  msg.msg_iov = const_cast<iovec*>(iov);
  msg.msg_iovlen = static_cast<std::size_t>(count);
  while (true) {
    ssize_t n = ::sendmsg(fd, &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) {
      sent = static_cast<std::size_t>(n);
      return Io::kOk;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return Io::kOk;
    return IoOfErrno(errno);
  }
}

Io SendAll(int fd, iovec* iov, int count, Clock::time_point deadline) {
  while (count > 0) {
    std::size_t left = 0;
    if (Io io = SendNow(fd, iov, count, left); io != Io::kOk) return io;
    const bool full = left == 0;
    while (count > 0 && left >= iov->iov_len) {
      left -= iov->iov_len;
      ++iov;
      --count;
    }
    if (count > 0) {
      iov->iov_base = static_cast<char*>(iov->iov_base) + left;
      iov->iov_len -= left;
      if (full) {
        if (Io w = WaitFor(fd, POLLOUT, deadline); w != Io::kOk) return w;
      }
    }
  }
  return Io::kOk;
}

Io RecvAll(int fd, char* data, std::size_t size, Clock::time_point deadline) {
  while (size > 0) {
    ssize_t n = ::recv(fd, data, size, MSG_DONTWAIT);
    if (n > 0) {
      data += n;
      size -= static_cast<std::size_t>(n);
      continue;
    }
    if (n == 0) return Io::kClosed;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return IoOfErrno(errno);
    if (Io w = WaitFor(fd, POLLIN, deadline); w != Io::kOk) return w;
  }
  return Io::kOk;
}

Io RecvSome(int fd, char* data, std::size_t capacity, Clock::time_point deadline,
            std::size_t& got) {
  got = 0;
  while (true) {
    // A reply is rarely there yet: wait first, then read.
    if (Io w = WaitFor(fd, POLLIN, deadline); w != Io::kOk) return w;
    ssize_t n = ::recv(fd, data, capacity, MSG_DONTWAIT);
    if (n > 0) {
      got = static_cast<std::size_t>(n);
      return Io::kOk;
    }
    if (n == 0) return Io::kClosed;
    if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) return IoOfErrno(errno);
  }
}

bool SetReadTimeout(int fd, int64_t ms) {
  int flags = ::fcntl(fd, F_GETFL, 0);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) return false;
  if (ms < 1) ms = 1;  // 0 would mean "never"
  timeval tv{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000 * 1000)};
  return ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

Io RecvWaiting(int fd, char* data, std::size_t capacity, std::size_t& got) {
  got = 0;
  {
    ssize_t n = ::recv(fd, data, capacity, 0);
    if (n > 0) {
      got = static_cast<std::size_t>(n);
      return Io::kOk;
    }
    if (n == 0) return Io::kClosed;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return Io::kTimeout;
    // Interrupted: the caller waits the rest of its time its own way.
    return errno == EINTR ? Io::kOk : IoOfErrno(errno);
  }
}

bool IsStale(int fd) {
  pollfd p{fd, POLLIN, 0};
  int n = ::poll(&p, 1, 0);
  if (n == 0) return false;
  return true;  // readable while idle: closed, reset or unexpected bytes
}

}  // namespace tmclient::net
