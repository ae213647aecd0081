#include "tcp_connection.h"

#include <sys/socket.h>

#include <cerrno>

#include "envelope.h"

namespace tmclient {

Connection::Read Connection::ReadAll(std::size_t limit, bool untilEmpty) {
  char buf[64 * 1024];
  while (in.size() < limit) {
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n > 0) {
      if (in.empty()) frameStart = net::Clock::now();
      in.append(buf, static_cast<std::size_t>(n));
      if (!untilEmpty && static_cast<std::size_t>(n) < sizeof buf) return Read::kOpen;
      continue;
    }
    if (n == 0) return Read::kEnded;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return Read::kOpen;
    return Read::kFailed;
  }
  return Read::kOpen;
}

bool Connection::HasWholeFrame() const {
  return in.size() >= envelope::kLengthPrefixSize &&
         in.size() - envelope::kLengthPrefixSize >= envelope::GetU32(in.data());
}

bool Connection::Flush() {
  bool taken = false;
  if (out.Flush(fd, taken) != net::Io::kOk) return false;
  if (taken) lastTaken = net::Clock::now();
  return true;
}

}  // namespace tmclient
