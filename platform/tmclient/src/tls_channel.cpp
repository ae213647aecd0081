// The server's side of tls://: each accepted socket gets an SSL object in
// accept state; the handshake goes on inside Receive as the client's bytes
// come, so that a client stalling in it holds no thread (the server's sweep
// closes it after the read timeout).
#include <openssl/err.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "channel.h"
#include "envelope.h"
#include "tls_io.h"
#include "tmclient/tls_server.h"
#include "tmclient/tmd_error.h"

namespace tmclient {
namespace {

// The first byte of every TLS connection: a handshake record.
constexpr unsigned char kHandshakeRecord = 0x16;

struct SslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};

net::Io IoOf(tls::Step step) {
  switch (step) {
    case tls::Step::kDone:
    case tls::Step::kWantRead:
    case tls::Step::kWantWrite:
      return net::Io::kOk;
    case tls::Step::kClosed:
      return net::Io::kClosed;
    case tls::Step::kError:
      break;
  }
  return net::Io::kError;
}

class TlsChannel final : public net::Channel {
 public:
  TlsChannel(int fd, SSL* ssl) : Channel(fd), pSsl(ssl) { cSocket.fd = fd; }
  // False when out of memory.
  bool Attach() { return tls::AttachSocket(pSsl.get(), cSocket); }

  net::Io Send(const iovec* iov, int count, std::size_t& sent) override {
    return IoOf(tls::WriteSome(pSsl.get(), iov, count, strScratch, sent));
  }

  net::Io Receive(char* data, std::size_t capacity, std::size_t& got) override {
    got = 0;
    if (!bTlsSeen) {
      unsigned char first = 0;
      const ssize_t n = ::recv(fd(), &first, 1, MSG_PEEK);
      if (n == 0) return net::Io::kClosed;
      if (n < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? net::Io::kOk
                                                                         : net::IoOfErrno(errno);
      }
      if (first != kHandshakeRecord) return RefuseClearText();
      bTlsSeen = true;
    }
    tls::ClearErrors();
    cSocket.drained = false;
    const int n =
        SSL_read(pSsl.get(), data, static_cast<int>(std::min<std::size_t>(capacity, 1u << 30)));
    if (n > 0) {
      got = static_cast<std::size_t>(n);
      return net::Io::kOk;
    }
    return IoOf(tls::StepOf(pSsl.get(), n));
  }

  // A record returns one read at most; whether the socket had more is what
  // the read under it found.
  bool drained() const override { return cSocket.drained && !SSL_has_pending(pSsl.get()); }
  bool established() const override { return SSL_is_init_finished(pSsl.get()) == 1; }

  // The record buffers (34 KiB) stay with a connection while it carries
  // requests, so that a call does not allocate and free them for each
  // record, and go when it idles: a flood of idle connections holds none.
  // Not while anything is buffered, read ahead or half a record.
  void ReleaseBuffers() override {
    if (established() && !SSL_has_pending(pSsl.get())) SSL_free_buffers(pSsl.get());
  }

  void Shutdown() override {
    if (!established()) return;
    ERR_clear_error();
    SSL_shutdown(pSsl.get());  // close_notify, if the socket takes it now
    ERR_clear_error();
  }

 private:
  // A clear-text client is told, in its own framing, that this server wants
  // TLS. What it sent is read first, so that closing sends an end rather than
  // a reset that could overtake the answer.
  net::Io RefuseClearText() {
    char drain[4096];
    for (int i = 0; i < 64 && ::recv(fd(), drain, sizeof drain, MSG_DONTWAIT) > 0; ++i) {
    }
    std::string frame;
    envelope::PutU32(frame, envelope::kErrorSize);
    envelope::EncodeError(0, kErrTlsHandshake, frame);
    [[maybe_unused]] const ssize_t n =
        ::send(fd(), frame.data(), frame.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    return net::Io::kError;
  }

  tls::SocketBio cSocket;  // before pSsl, which uses it until freed
  std::unique_ptr<SSL, SslFree> pSsl;
  std::string strScratch;  // small pieces gathered into one record
  bool bTlsSeen = false;   // the client's first byte opened a handshake
};

class TlsLayer final : public ChannelLayer {
 public:
  explicit TlsLayer(tls::Ctx ctx) : pCtx(std::move(ctx)) {}

  std::unique_ptr<net::Channel> Open(int fd) const override {
    SSL* ssl = SSL_new(pCtx.get());
    if (!ssl) {
      ERR_clear_error();
      return nullptr;
    }
    SSL_set_accept_state(ssl);
    auto channel = std::make_unique<TlsChannel>(fd, ssl);
    if (!channel->Attach()) {
      ERR_clear_error();
      return nullptr;
    }
    return channel;
  }

 private:
  tls::Ctx pCtx;
};

}  // namespace

std::shared_ptr<const ChannelLayer> MakeTlsServerLayer(const std::string& certFile,
                                                       const std::string& keyFile,
                                                       std::string& error) {
  tls::Ctx ctx = tls::MakeServerCtx(certFile, keyFile, error);
  if (!ctx) return nullptr;
  return std::make_shared<TlsLayer>(std::move(ctx));
}

}  // namespace tmclient
