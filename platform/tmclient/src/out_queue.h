#pragma once

// Bytes on their way out of a connection's channel, in order: what the
// socket did not take at once waits here until it is writable again.
// Nothing here ever waits.

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

#include "channel.h"
#include "socket_io.h"

namespace tmclient::net {

class OutQueue {
 public:
  bool empty() const { return iSize == 0; }
  // Bytes waiting.
  std::size_t size() const { return iSize; }

  // Sends `head` then `body` after whatever waits already, as far as the
  // socket takes them now; the rest waits, copied. kOk unless the socket
  // failed (kClosed, kError), which leaves the queue as it was.
  Io Write(Channel& to, std::string_view head, std::string_view body);
  // The same with a body whose memory the queue takes over when the socket
  // does not take it all: a whole reply is never copied.
  Io Write(Channel& to, std::string_view head, std::string&& body);
  // Sends what waits, as far as the socket takes it. `taken`: whether it
  // took anything.
  Io Flush(Channel& to, bool& taken);
  void Clear();

 private:
  Io Write(Channel& to, std::string_view head, std::string_view body, std::string* owner);
  // Queues bytes behind the others; small ones join the last piece.
  void Push(std::string_view bytes);
  // Drops `n` sent bytes from the front.
  void Consume(std::size_t n);

  std::deque<std::string> qPieces;
  std::size_t iOffset = 0;  // bytes of the first piece already sent
  std::size_t iSize = 0;
};

}  // namespace tmclient::net
