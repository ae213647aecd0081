#pragma once

// What the TLS channel (server) and the TLS stream (client) share: contexts
// made to one policy, and the steps of reading and writing through OpenSSL
// on a non-blocking socket.
//
// Policy: TLS 1.2 at least, 1.3 preferred; TLS 1.2 only with forward-secret
// AEAD suites; no renegotiation, no compression, no session tickets. A
// client verifies the server's chain against its CA file (or the system's
// trust store) and the host name it connected to.

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/uio.h>

#include <cstddef>
#include <memory>
#include <string>

namespace tmclient::tls {

struct CtxFree {
  void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};
using Ctx = std::shared_ptr<SSL_CTX>;

// A server context with the certificate chain of `certFile` (PEM) and the key
// of `keyFile` (PEM; refused when other users may read it). Null with `why`.
Ctx MakeServerCtx(const std::string& certFile, const std::string& keyFile, std::string& why);
// A client context that trusts the CAs of `caFile` (PEM; refused when other
// users may change it), or the system's store when it is empty. Null with
// `why`.
Ctx MakeClientCtx(const std::string& caFile, std::string& why);

// The socket under an SSL object, through a BIO of our own: a send never
// waits and never raises SIGPIPE (a host that does not ignore it must not die
// of a peer's reset), and a read waits only when asked to: the client's first
// read of a reply, one system call bounded by the socket's read timeout, as
// on a clear-text connection.
struct SocketBio {
  int fd = -1;
  bool waitOnce = false;  // the next read may block; cleared by that read
  bool timedOut = false;  // that read found nothing within the read timeout
  // The last read took fewer bytes than it asked for: the socket had no more
  // then, and bytes that come later wake an edge-triggered epoll again.
  bool drained = false;
};
// Puts `socket` under `ssl`; it must outlive `ssl`. False when out of memory.
bool AttachSocket(SSL* ssl, SocketBio& socket);

// What an OpenSSL call that returned `ret` asks for. Clears the thread's
// error queue on failures, so that nothing of one connection's failure is
// seen by the next call.
enum class Step {
  kDone,
  kWantRead,   // go on when the socket is readable
  kWantWrite,  // go on when the socket is writable
  kClosed,     // the peer ended or reset the connection
  kError,
};
Step StepOf(SSL* ssl, int ret);

// Empties the thread's error queue before an I/O call, as SSL_get_error needs
// it empty. Looking is cheaper than clearing every slot of a queue that is
// already empty, which it nearly always is: StepOf clears it after failures.
inline void ClearErrors() {
  if (ERR_peek_error() != 0) ERR_clear_error();
}

// Writes what the socket takes of the vector now, in records of at most
// 16 KiB (small pieces gathered into one record, through `scratch`): the
// bytes taken in `sent`, and kDone when all were, else what it waits for.
// After kWantWrite the same bytes must be offered again (more may follow
// them): a record is then half sent.
Step WriteSome(SSL* ssl, const iovec* iov, int count, std::string& scratch, std::size_t& sent);

}  // namespace tmclient::tls
