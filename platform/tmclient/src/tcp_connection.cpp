#include "tcp_connection.h"

#include "envelope.h"

namespace tmclient {

Connection::Read Connection::ReadAll(std::size_t limit, bool untilEmpty) {
  char buf[64 * 1024];
  while (in.size() < limit) {
    std::size_t n = 0;
    switch (channel->Receive(buf, sizeof buf, n)) {
      case net::Io::kOk:
        break;
      case net::Io::kClosed:
        return Read::kEnded;
      default:
        return Read::kFailed;
    }
    if (n == 0) return Read::kOpen;
    if (in.empty()) frameStart = net::Clock::now();
    in.append(buf, n);
    if (!untilEmpty && channel->drained()) return Read::kOpen;
  }
  return Read::kOpen;
}

bool Connection::HasWholeFrame() const {
  return in.size() >= envelope::kLengthPrefixSize &&
         in.size() - envelope::kLengthPrefixSize >= envelope::GetU32(in.data());
}

bool Connection::Flush() {
  bool taken = false;
  if (out.Flush(*channel, taken) != net::Io::kOk) return false;
  if (taken) lastTaken = net::Clock::now();
  return true;
}

void Connection::SendErrorNow(int code) {
  std::string frame;
  envelope::PutU32(frame, envelope::kErrorSize);
  envelope::EncodeError(0, code, frame);
  const iovec iov{frame.data(), frame.size()};
  std::size_t sent = 0;
  channel->Send(&iov, 1, sent);
}

void Connection::CloseSocket() {
  if (channel) channel->Shutdown();
  channel.reset();
  net::CloseFd(fd);
}

}  // namespace tmclient
