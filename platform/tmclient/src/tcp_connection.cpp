#include "tcp_connection.h"

#include <algorithm>

#include "envelope.h"

namespace tmclient {
namespace {

// `in` keeps up to this much memory between frames; more is given back once
// a large frame has been taken out.
constexpr std::size_t kKeptInputCapacity = 16 * 1024;

}  // namespace

Connection::Read Connection::ReadAll(std::size_t limit, bool untilEmpty) {
  char buf[64 * 1024];
  Read result = Read::kOpen;
  while (in.size() < limit) {
    std::size_t n = 0;
    const net::Io io = channel->Receive(buf, std::min(sizeof buf, limit - in.size()), n);
    if (io != net::Io::kOk) {
      result = io == net::Io::kClosed ? Read::kEnded : Read::kFailed;
      break;
    }
    if (n == 0) break;
    const auto now = net::Clock::now();
    if (in.empty()) frameStart = now;
    lastProgress = now;
    in.append(buf, n);
    if (!untilEmpty && channel->drained()) break;
  }
  Recount();
  return result;
}

Connection::Read Connection::Discard(std::size_t limit) {
  char buf[16 * 1024];
  while (iDropped < limit) {
    std::size_t n = 0;
    const net::Io io = channel->Receive(buf, sizeof buf, n);
    if (io != net::Io::kOk) return io == net::Io::kClosed ? Read::kEnded : Read::kFailed;
    if (n == 0) break;
    iDropped += n;
  }
  return Read::kOpen;
}

bool Connection::HasWholeFrame() const {
  return in.size() >= envelope::kLengthPrefixSize &&
         in.size() - envelope::kLengthPrefixSize >= envelope::GetU32(in.data());
}

void Connection::TakeFrame(std::size_t length, std::string& body) {
  body.assign(in, envelope::kLengthPrefixSize, length);
  in.erase(0, envelope::kLengthPrefixSize + length);
  if (in.capacity() > kKeptInputCapacity && in.size() <= kKeptInputCapacity / 2) in.shrink_to_fit();
  Recount();
}

void Connection::Release() {
  std::string().swap(in);
  out.Clear();
  Recount();
}

bool Connection::Flush() {
  bool taken = false;
  const bool ok = out.Flush(*channel, taken) == net::Io::kOk;
  if (taken) lastTaken = lastProgress = net::Clock::now();
  Recount();
  return ok;
}

void Connection::Recount() {
  const std::size_t now = in.size() + out.size();
  if (now >= iHeld)
    iBuffered += now - iHeld;
  else
    iBuffered -= iHeld - now;
  iHeld = now;
}

void Connection::CloseSocket() {
  if (channel) channel->Shutdown();
  channel.reset();
  net::CloseFd(fd);
}

}  // namespace tmclient
