#include "tls_io.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "private_file.h"
#include "socket_io.h"

namespace tmclient::tls {
namespace {

// The most plaintext one record carries.
constexpr std::size_t kRecordSize = 16384;
constexpr char kTls12Suites[] = "ECDHE+AESGCM:ECDHE+CHACHA20";

struct BioFree {
  void operator()(BIO* b) const { BIO_free(b); }
};
struct KeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};

// The first error of the thread's queue as text, and the queue cleared.
std::string OpenSslError() {
  char text[256] = "no reason given";
  if (unsigned long e = ERR_peek_last_error(); e != 0) ERR_error_string_n(e, text, sizeof text);
  ERR_clear_error();
  return text;
}

Ctx MakeCtx(const SSL_METHOD* method, std::string& why) {
  Ctx ctx(SSL_CTX_new(method), CtxFree());
  if (!ctx) {
    why = OpenSslError();
    return nullptr;
  }
  SSL_CTX* c = ctx.get();
  if (SSL_CTX_set_min_proto_version(c, TLS1_2_VERSION) != 1 ||
      SSL_CTX_set_cipher_list(c, kTls12Suites) != 1) {
    why = OpenSslError();
    return nullptr;
  }
  SSL_CTX_set_options(c, SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_COMPRESSION |
                             SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_TICKET);
  SSL_CTX_set_mode(c, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  // One read takes whatever has come, not a record's header and then its body.
  SSL_CTX_set_read_ahead(c, 1);
  return ctx;
}

}  // namespace

Ctx MakeServerCtx(const std::string& certFile, const std::string& keyFile, std::string& why) {
  Ctx ctx = MakeCtx(TLS_server_method(), why);
  if (!ctx) return nullptr;
  SSL_CTX* c = ctx.get();
  SSL_CTX_set_num_tickets(c, 0);
  SSL_CTX_set_session_cache_mode(c, SSL_SESS_CACHE_OFF);
  SSL_CTX_set_options(c, SSL_OP_CIPHER_SERVER_PREFERENCE);
  if (SSL_CTX_use_certificate_chain_file(c, certFile.c_str()) != 1) {
    why = certFile + ": no certificate (" + OpenSslError() + ")";
    return nullptr;
  }
  std::string pem;
  if (!ReadCheckedFile(keyFile, FileUse::kSecret, pem, why)) return nullptr;
  std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  std::unique_ptr<EVP_PKEY, KeyFree> key(
      bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
  std::fill(pem.begin(), pem.end(), '\0');
  if (!key) {
    why = keyFile + ": no private key (" + OpenSslError() + ")";
    return nullptr;
  }
  if (SSL_CTX_use_PrivateKey(c, key.get()) != 1 || SSL_CTX_check_private_key(c) != 1) {
    why = keyFile + ": the key does not match the certificate of " + certFile;
    ERR_clear_error();
    return nullptr;
  }
  return ctx;
}

Ctx MakeClientCtx(const std::string& caFile, std::string& why) {
  Ctx ctx = MakeCtx(TLS_client_method(), why);
  if (!ctx) return nullptr;
  SSL_CTX* c = ctx.get();
  SSL_CTX_set_verify(c, SSL_VERIFY_PEER, nullptr);
  if (caFile.empty()) {
    if (SSL_CTX_set_default_verify_paths(c) != 1) {
      why = "the system's trust store cannot be read (" + OpenSslError() + ")";
      return nullptr;
    }
    return ctx;
  }
  std::string pem;
  if (!ReadCheckedFile(caFile, FileUse::kTrusted, pem, why)) return nullptr;
  std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  X509_STORE* store = SSL_CTX_get_cert_store(c);
  int added = 0;
  while (bio) {
    X509* cert = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr);
    if (!cert) break;
    if (X509_STORE_add_cert(store, cert) == 1) ++added;
    X509_free(cert);
  }
  ERR_clear_error();  // the end of the file reads as an error
  if (added == 0) {
    why = caFile + ": no certificate";
    return nullptr;
  }
  return ctx;
}

namespace {

bool Retryable(int err) {
  return err == EAGAIN || err == EWOULDBLOCK || err == EINTR;
}

int BioWrite(BIO* bio, const char* data, int size) {
  auto* s = static_cast<SocketBio*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  const ssize_t n =
      ::send(s->fd, data, static_cast<std::size_t>(size), MSG_NOSIGNAL | MSG_DONTWAIT);
  if (n < 0 && Retryable(errno)) BIO_set_retry_write(bio);
  return static_cast<int>(n);
}

int BioRead(BIO* bio, char* data, int size) {
  auto* s = static_cast<SocketBio*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  const bool wait = s->waitOnce;
  s->waitOnce = false;
  const ssize_t n = ::recv(s->fd, data, static_cast<std::size_t>(size), wait ? 0 : MSG_DONTWAIT);
  s->drained = n > 0 && n < size;
  if (n < 0 && Retryable(errno)) {
    s->timedOut = wait && errno != EINTR;
    BIO_set_retry_read(bio);
  }
  return static_cast<int>(n);
}

long BioCtrl(BIO*, int cmd, long, void*) {
  return cmd == BIO_CTRL_FLUSH ? 1 : 0;
}

int BioCreate(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

BIO_METHOD* SocketMethod() {
  static BIO_METHOD* const method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "mpay socket");
    if (m) {
      BIO_meth_set_write(m, BioWrite);
      BIO_meth_set_read(m, BioRead);
      BIO_meth_set_ctrl(m, BioCtrl);
      BIO_meth_set_create(m, BioCreate);
    }
    return m;
  }();
  return method;
}

}  // namespace

bool AttachSocket(SSL* ssl, SocketBio& socket) {
  BIO_METHOD* method = SocketMethod();
  BIO* bio = method ? BIO_new(method) : nullptr;
  if (!bio) return false;
  BIO_set_data(bio, &socket);
  SSL_set_bio(ssl, bio, bio);  // one BIO both ways: ssl owns one reference
  return true;
}

Step StepOf(SSL* ssl, int ret) {
  const int err = SSL_get_error(ssl, ret);
  const int sysErr = errno;
  switch (err) {
    case SSL_ERROR_NONE:
      return Step::kDone;
    case SSL_ERROR_WANT_READ:
      return Step::kWantRead;
    case SSL_ERROR_WANT_WRITE:
      return Step::kWantWrite;
    case SSL_ERROR_ZERO_RETURN:
      ERR_clear_error();
      return Step::kClosed;
    case SSL_ERROR_SYSCALL:
      ERR_clear_error();
      // No error at all: the peer closed the socket.
      return sysErr == 0 || net::IoOfErrno(sysErr) == net::Io::kClosed ? Step::kClosed
                                                                       : Step::kError;
    default:
      ERR_clear_error();
      return Step::kError;
  }
}

Step WriteSome(SSL* ssl, const iovec* iov, int count, std::string& scratch, std::size_t& sent) {
  sent = 0;
  int i = 0;
  std::size_t off = 0;  // of iov[i]
  while (i < count) {
    const char* base = static_cast<const char*>(iov[i].iov_base);
    const std::size_t left = iov[i].iov_len - off;
    if (left == 0) {
      ++i;
      off = 0;
      continue;
    }
    const char* data = base + off;
    std::size_t size = left;
    if (left < kRecordSize && i + 1 < count) {
      // Gathered, so that a header and a short body make one record.
      scratch.clear();
      for (int j = i; j < count && scratch.size() < kRecordSize; ++j) {
        const std::size_t from = j == i ? off : 0;
        const std::size_t take = std::min(iov[j].iov_len - from, kRecordSize - scratch.size());
        scratch.append(static_cast<const char*>(iov[j].iov_base) + from, take);
      }
      data = scratch.data();
      size = scratch.size();
    }
    ClearErrors();
    const int n = SSL_write(ssl, data, static_cast<int>(std::min<std::size_t>(size, 1u << 30)));
    if (n <= 0) return StepOf(ssl, n);
    sent += static_cast<std::size_t>(n);
    // Past the bytes the record took.
    std::size_t done = static_cast<std::size_t>(n);
    while (i < count && done >= iov[i].iov_len - off) {
      done -= iov[i].iov_len - off;
      ++i;
      off = 0;
    }
    off += done;
  }
  return Step::kDone;
}

}  // namespace tmclient::tls
