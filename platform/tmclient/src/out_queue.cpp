#include "out_queue.h"

#include <sys/uio.h>

namespace tmclient::net {
namespace {

// Pieces at most this small are appended to the last one rather than queued
// on their own (part headers, error frames).
constexpr std::size_t kJoinedPieceSize = 4096;
// Pieces handed to one sendmsg.
constexpr int kMaxIov = 64;

}  // namespace

Io OutQueue::Write(Channel& to, std::string_view head, std::string_view body) {
  return Write(to, head, body, nullptr);
}

Io OutQueue::Write(Channel& to, std::string_view head, std::string&& body) {
  return Write(to, head, body, &body);
}

Io OutQueue::Write(Channel& to, std::string_view head, std::string_view body, std::string* owner) {
  // Whether the socket has refused bytes since it last announced room (it
  // announces room again then).
  bool refused = false;
  if (!empty()) {
    bool taken = false;
    if (Io io = Flush(to, taken); io != Io::kOk) return io;
    refused = !empty();
  }
  std::size_t sent = 0;
  if (!refused) {
    // Nothing waits: straight to the socket, which takes a whole small reply.
    const iovec iov[2] = {{const_cast<char*>(head.data()), head.size()},
                          {const_cast<char*>(body.data()), body.size()}};
    if (Io io = to.Send(iov, body.empty() ? 1 : 2, sent); io != Io::kOk) return io;
    if (sent == head.size() + body.size()) return Io::kOk;
    refused = sent == 0;
  }
  if (sent < head.size()) {
    Push(head.substr(sent));
    sent = 0;
  } else {
    sent -= head.size();
  }
  if (owner && qPieces.empty()) {
    // The body's own memory, from where the socket stopped.
    iOffset = sent;
    iSize += owner->size() - sent;
    qPieces.push_back(std::move(*owner));
  } else if (owner && sent == 0) {
    iSize += owner->size();
    qPieces.push_back(std::move(*owner));
  } else {
    Push(body.substr(sent));
  }
  if (refused) return Io::kOk;
  // A socket that took part of it may take more; until it refuses, so that
  // it announces when it has room again.
  bool taken = false;
  return Flush(to, taken);
}

Io OutQueue::Flush(Channel& to, bool& taken) {
  taken = false;
  while (iSize > 0) {
    iovec iov[kMaxIov];
    int count = 0;
    for (std::size_t i = 0; i < qPieces.size() && count < kMaxIov; ++i) {
      const std::size_t from = i == 0 ? iOffset : 0;
      iov[count++] = {qPieces[i].data() + from, qPieces[i].size() - from};
    }
    std::size_t n = 0;
    if (Io io = to.Send(iov, count, n); io != Io::kOk) return io;
    if (n == 0) return Io::kOk;
    taken = true;
    Consume(n);
  }
  return Io::kOk;
}

void OutQueue::Clear() {
  qPieces.clear();
  iOffset = 0;
  iSize = 0;
}

void OutQueue::Push(std::string_view bytes) {
  if (bytes.empty()) return;
  iSize += bytes.size();
  if (bytes.size() <= kJoinedPieceSize && !qPieces.empty() &&
      qPieces.back().size() < 16 * kJoinedPieceSize) {
    qPieces.back().append(bytes);
    return;
  }
  qPieces.emplace_back(bytes);
}

void OutQueue::Consume(std::size_t n) {
  iSize -= n;
  while (n > 0) {
    const std::size_t left = qPieces.front().size() - iOffset;
    if (n < left) {
      iOffset += n;
      return;
    }
    n -= left;
    qPieces.pop_front();
    iOffset = 0;
  }
}

}  // namespace tmclient::net
