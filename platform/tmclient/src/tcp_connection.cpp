#include "tcp_connection.h"

#include <algorithm>

#include "envelope.h"

namespace tmclient {
namespace {

// `sIn` keeps up to this much memory between frames; more is given back once
// a large frame has been taken out.
constexpr std::size_t kKeptInputCapacity = 16 * 1024;

}  // namespace

Connection::Read Connection::ReadAll(std::size_t limit, bool untilEmpty) {
  char buf[64 * 1024];
  Read result = Read::kOpen;
  while (sIn.size() < limit) {
    std::size_t n = 0;
    const net::Io io = pChannel->Receive(buf, std::min(sizeof buf, limit - sIn.size()), n);
    if (io != net::Io::kOk) {
      result = io == net::Io::kClosed ? Read::kEnded : Read::kFailed;
      break;
    }
    if (n == 0) break;
    const auto now = net::Clock::now();
    if (sIn.empty()) tFrameStart = now;
    tLastProgress = now;
    sIn.append(buf, n);
    if (!untilEmpty && pChannel->drained()) break;
  }
  Recount();
  return result;
}

Connection::Read Connection::Discard(std::size_t limit) {
  char buf[16 * 1024];
  while (iDropped < limit) {
    std::size_t n = 0;
    const net::Io io = pChannel->Receive(buf, sizeof buf, n);
    if (io != net::Io::kOk) return io == net::Io::kClosed ? Read::kEnded : Read::kFailed;
    if (n == 0) break;
    iDropped += n;
  }
  return Read::kOpen;
}

bool Connection::HasWholeFrame() const {
  return sIn.size() >= envelope::kLengthPrefixSize &&
         sIn.size() - envelope::kLengthPrefixSize >= envelope::GetU32(sIn.data());
}

void Connection::TakeFrame(std::size_t length, std::string& body) {
  body.assign(sIn, envelope::kLengthPrefixSize, length);
  sIn.erase(0, envelope::kLengthPrefixSize + length);
  if (sIn.capacity() > kKeptInputCapacity && sIn.size() <= kKeptInputCapacity / 2)
    sIn.shrink_to_fit();
  Recount();
}

void Connection::Release() {
  std::string().swap(sIn);
  cOut.Clear();
  Recount();
}

bool Connection::Flush() {
  bool taken = false;
  const bool ok = cOut.Flush(*pChannel, taken) == net::Io::kOk;
  if (taken) tLastTaken = tLastProgress = net::Clock::now();
  Recount();
  return ok;
}

void Connection::Recount() {
  const std::size_t now = sIn.size() + cOut.size();
  if (now >= iHeld)
    iBuffered += now - iHeld;
  else
    iBuffered -= iHeld - now;
  iHeld = now;
}

void Connection::CloseSocket() {
  if (pChannel) pChannel->Shutdown();
  pChannel.reset();
  net::CloseFd(iFd);
}

}  // namespace tmclient
