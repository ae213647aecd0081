#include <sys/socket.h>

#include <cerrno>

#include "channel.h"

namespace tmclient::net {

Channel::~Channel() = default;

namespace {

class ClearChannel final : public Channel {
 public:
  using Channel::Channel;

  Io Send(const iovec* iov, int count, std::size_t& sent) override {
    return SendNow(fd(), iov, count, sent);
  }

  Io Receive(char* data, std::size_t capacity, std::size_t& got) override {
    got = 0;
    while (true) {
      ssize_t n = ::recv(fd(), data, capacity, 0);
      if (n > 0) {
        got = static_cast<std::size_t>(n);
        bDrained = got < capacity;
        return Io::kOk;
      }
      if (n == 0) return Io::kClosed;
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return Io::kOk;
      return IoOfErrno(errno);
    }
  }

  bool drained() const override { return bDrained; }
  bool established() const override { return true; }

 private:
  bool bDrained = false;
};

}  // namespace

std::unique_ptr<Channel> MakeClearChannel(int fd) {
  return std::make_unique<ClearChannel>(fd);
}

}  // namespace tmclient::net
