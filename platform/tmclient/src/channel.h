#pragma once

// How the bytes of one connection that the tcp server accepted cross its
// socket: as they are (ClearChannel), or through TLS (libtmclient_tls.so).
// The socket is non-blocking and nothing here waits: a call that cannot go on
// returns, and the socket announces (through epoll) when it can. A TLS
// handshake goes on inside Receive and Send as the peer's bytes come.

#include <sys/uio.h>

#include <cstddef>
#include <memory>

#include "socket_io.h"
#include "tmclient/export.h"

namespace tmclient::net {

class TMCLIENT_INTERNAL Channel {
 public:
  explicit Channel(int fd) : iFd(fd) {}
  virtual ~Channel();
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  int fd() const { return iFd; }
  // Takes what it can of the vector now: kOk with the bytes taken in `sent`,
  // 0 when the socket has no room (it announces room later); else the
  // failure. A vector it took part of is offered again from where it
  // stopped, with the same bytes.
  virtual Io Send(const iovec* iov, int count, std::size_t& sent) = 0;
  // Reads what has come, at most `capacity`: kOk with the bytes in `got`, 0
  // when nothing has come for now (the socket announces more later); kClosed
  // when the peer ended the connection; else the failure.
  virtual Io Receive(char* data, std::size_t capacity, std::size_t& got) = 0;
  // Whether the last Receive that got bytes left nothing behind: its read
  // of the socket took less than it asked for (the socket had no more just
  // then; bytes that come later wake an edge-triggered epoll again), and
  // nothing decrypted waits.
  virtual bool drained() const = 0;
  // False until the connection carries frames (a TLS handshake is done).
  virtual bool established() const = 0;
  // While the connection is idle (no frame begun, nothing to send, no
  // request under way): gives back the memory the protocol keeps between
  // messages. The next Receive or Send takes it again.
  virtual void ReleaseBuffers() {}
  // Just before the socket is closed: says goodbye to the peer where the
  // protocol has a way to, without waiting.
  virtual void Shutdown() {}

 private:
  const int iFd;  // not owned: the connection closes it
};

// The clear-text channel over `fd`.
TMCLIENT_INTERNAL std::unique_ptr<Channel> MakeClearChannel(int fd);

}  // namespace tmclient::net
