// The client's side of tls://HOST:PORT[?ca=FILE]: the tcp transport's framing
// over TLS connections that verify the server's certificate and host name.
// A failed handshake ends the attempt with its own code; nothing is ever sent
// in clear text instead.
#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>
#include <poll.h>

#include <cstdio>

#include "client_stream.h"
#include "tcp_transport.h"
#include "tls_io.h"
#include "tls_plugin.h"
#include "tmclient/tmb_stream.h"
#include "tmclient/tmd_error.h"

namespace tmclient {
namespace {

using net::Clock;
using net::Io;

// Waits for what `step` asks for. kOk when ready, else kTimeout or kError.
Io WaitFor(int fd, tls::Step step, Clock::time_point deadline) {
  const short events = step == tls::Step::kWantWrite ? POLLOUT : POLLIN;
  while (true) {
    const int ms = net::RemainingMs(deadline);
    if (ms == 0) return Io::kTimeout;
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, ms);
    if (n > 0) return Io::kOk;
    if (n < 0 && errno != EINTR) return Io::kError;
  }
}

// What a step that is neither done nor waiting means for the caller.
Io FailureOf(tls::Step step) {
  return step == tls::Step::kClosed ? Io::kClosed : Io::kError;
}

bool IsWaiting(tls::Step step) {
  return step == tls::Step::kWantRead || step == tls::Step::kWantWrite;
}

struct SslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};

// Reads and writes never block in OpenSSL except the first read of a reply,
// which waits in the socket's read timeout as on a clear-text connection (one
// system call where a poll and a read take two); every other wait is a poll
// bounded by the call's deadline.
class TlsStream final : public net::Stream {
 public:
  // Takes `fd` (connected) over; `ssl` is in connect state.
  TlsStream(int fd, SSL* ssl) : pSsl(ssl) { cSocket.fd = fd; }
  ~TlsStream() override {
    if (bEstablished) {
      ERR_clear_error();
      SSL_shutdown(pSsl.get());  // close_notify, if the socket takes it now
      ERR_clear_error();
    }
    pSsl.reset();
    net::CloseFd(cSocket.fd);
  }

  int fd() const override { return cSocket.fd; }

  // Attaches the socket and makes the handshake by `deadline`, checking the
  // certificate for `host`. 0, or the library code of the failure.
  int Handshake(const std::string& host, Clock::time_point deadline) {
    if (!tls::AttachSocket(pSsl.get(), cSocket) || !ExpectName(host)) {
      ERR_clear_error();
      return kErrTransport;
    }
    while (true) {
      ERR_clear_error();
      const int n = SSL_connect(pSsl.get());
      if (n == 1) break;
      const tls::Step step = tls::StepOf(pSsl.get(), n);
      if (!IsWaiting(step)) return HandshakeCode();
      if (Io w = WaitFor(cSocket.fd, step, deadline); w != Io::kOk)
        return w == Io::kTimeout ? kErrTimeout : kErrTransport;
    }
    bEstablished = true;
    return 0;
  }

  Io SendAll(iovec* iov, int count, Clock::time_point deadline) override {
    while (count > 0) {
      std::size_t sent = 0;
      const tls::Step step = tls::WriteSome(pSsl.get(), iov, count, strScratch, sent);
      while (count > 0 && sent >= iov->iov_len) {
        sent -= iov->iov_len;
        ++iov;
        --count;
      }
      if (count > 0) {
        iov->iov_base = static_cast<char*>(iov->iov_base) + sent;
        iov->iov_len -= sent;
      }
      if (step == tls::Step::kDone) continue;
      if (!IsWaiting(step)) return FailureOf(step);
      if (Io w = WaitFor(cSocket.fd, step, deadline); w != Io::kOk) return w;
    }
    return Io::kOk;
  }

  Io RecvAll(char* data, std::size_t size, Clock::time_point deadline) override {
    while (size > 0) {
      std::size_t got = 0;
      if (Io io = Read(data, size, deadline, false, got); io != Io::kOk) return io;
      data += got;
      size -= got;
    }
    return Io::kOk;
  }

  Io RecvSome(char* data, std::size_t capacity, Clock::time_point deadline, bool mayBlock,
              std::size_t& got) override {
    return Read(data, capacity, deadline, mayBlock, got);
  }

  bool IsStale() override {
    if (SSL_has_pending(pSsl.get())) return true;
    pollfd p{cSocket.fd, POLLIN, 0};
    if (::poll(&p, 1, 0) == 0) return false;
    // Readable: a record nobody asked for, the peer's close_notify, or its
    // close. Only a protocol message that carries no data (and is consumed
    // here) leaves the connection usable.
    char c;
    tls::ClearErrors();
    const int n = SSL_peek(pSsl.get(), &c, 1);
    return n > 0 || !IsWaiting(tls::StepOf(pSsl.get(), n));
  }

  bool SetReadTimeout(int64_t ms) override { return net::SetReadTimeout(cSocket.fd, ms); }

 private:
  // One successful SSL_read. `mayBlock`: the first socket read may wait in
  // the read timeout; the rest, and every read when it may not, poll.
  Io Read(char* data, std::size_t capacity, Clock::time_point deadline, bool mayBlock,
          std::size_t& got) {
    got = 0;
    cSocket.waitOnce = mayBlock && !SSL_has_pending(pSsl.get());
    cSocket.timedOut = false;
    while (true) {
      tls::ClearErrors();
      const int n =
          SSL_read(pSsl.get(), data, static_cast<int>(std::min<std::size_t>(capacity, 1u << 30)));
      cSocket.waitOnce = false;
      if (n > 0) {
        got = static_cast<std::size_t>(n);
        return Io::kOk;
      }
      const tls::Step step = tls::StepOf(pSsl.get(), n);
      if (!IsWaiting(step)) return FailureOf(step);
      if (cSocket.timedOut) return Io::kTimeout;
      if (Io w = WaitFor(cSocket.fd, step, deadline); w != Io::kOk) return w;
    }
  }

  // The name the certificate must carry: an address as an IP entry, a host
  // name as a DNS entry (and sent as the server name).
  bool ExpectName(const std::string& host) {
    SSL* ssl = pSsl.get();
    unsigned char addr[16];
    const bool isIp =
        inet_pton(AF_INET, host.c_str(), addr) == 1 || inet_pton(AF_INET6, host.c_str(), addr) == 1;
    if (isIp) return X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str()) == 1;
    return SSL_set_tlsext_host_name(ssl, host.c_str()) == 1 &&
           SSL_set1_host(ssl, host.c_str()) == 1;
  }

  // The library code for a handshake that failed: the certificate check's
  // verdict when it had one.
  int HandshakeCode() const {
    switch (SSL_get_verify_result(pSsl.get())) {
      case X509_V_OK:
        return kErrTlsHandshake;
      case X509_V_ERR_HOSTNAME_MISMATCH:
      case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return kErrTlsNameMismatch;
      case X509_V_ERR_CERT_HAS_EXPIRED:
      case X509_V_ERR_CERT_NOT_YET_VALID:
        return kErrTlsExpired;
      default:
        return kErrTlsUntrusted;
    }
  }

  tls::SocketBio cSocket;  // before pSsl, which uses it until freed
  std::unique_ptr<SSL, SslFree> pSsl;
  std::string strScratch;  // small pieces gathered into one record
  bool bEstablished = false;
};

class TlsConnector final : public net::Connector {
 public:
  explicit TlsConnector(tls::Ctx ctx) : pCtx(std::move(ctx)) {}

  int Connect(const BrokerEndpoint& to, Clock::time_point deadline, int64_t readTimeoutMs,
              std::unique_ptr<net::Stream>& out) const override {
    int fd = -1;
    if (int rc = net::ConnectCode(net::ConnectTcp(to.host, to.port, deadline, fd)); rc != 0)
      return rc;
    SSL* ssl = SSL_new(pCtx.get());
    if (!ssl) {
      ERR_clear_error();
      net::CloseFd(fd);
      return kErrTransport;
    }
    SSL_set_connect_state(ssl);
    auto stream = std::make_unique<TlsStream>(fd, ssl);
    if (int rc = stream->Handshake(to.host, deadline); rc != 0) return rc;
    if (!stream->SetReadTimeout(readTimeoutMs)) return kErrConnectFailed;
    out = std::move(stream);
    return 0;
  }

 private:
  tls::Ctx pCtx;
};

}  // namespace

extern "C" TMCLIENT_API int tmclient_open_tls_transport(const std::string& url,
                                                        std::unique_ptr<Transport>& out) {
  BrokerUrl parsed;
  if (!ParseBrokerUrl(url, parsed) || parsed.scheme != "tls") return kErrBadBrokerUrl;
  std::string why;
  tls::Ctx ctx = tls::MakeClientCtx(parsed.caFile, why);
  if (!ctx) {
    // Names the file and what is wrong with it; a CA file holds nothing secret.
    std::fprintf(stderr, "tmclient: tls:// trusts no CA: %s\n", why.c_str());
    return kErrTlsUntrusted;
  }
  auto t = std::make_unique<TcpTransport>(parsed.endpoints.front(), RetryPolicy::Of(parsed),
                                          parsed.maxReplyBytes(), parsed.maxRows,
                                          std::make_unique<TlsConnector>(std::move(ctx)));
  if (int rc = t->Open(); rc != 0) return rc;
  out = std::move(t);
  return 0;
}

static_assert(std::is_same_v<decltype(tmclient_open_tls_transport), TlsTransportEntry>);

}  // namespace tmclient
