#include "clear_stream.h"

#include "tmclient/tmd_error.h"

namespace tmclient::net {

Stream::~Stream() = default;
Connector::~Connector() = default;

int ConnectCode(Connect c) {
  switch (c) {
    case Connect::kOk:
      return 0;
    case Connect::kRefused:
      return kErrConnectFailed;
    case Connect::kTimeout:
      return kErrTimeout;
    case Connect::kBadAddress:
      break;
  }
  return kErrBadBrokerUrl;
}

namespace {

// A blocking socket whose reads give up after the read timeout: a reply that
// comes within it costs one system call (see RecvWaiting). Writes never block.
class ClearStream final : public Stream {
 public:
  explicit ClearStream(int fd) : iFd(fd) {}
  ~ClearStream() override { CloseFd(iFd); }

  int fd() const override { return iFd; }
  Io SendAll(iovec* iov, int count, Clock::time_point deadline) override {
    return net::SendAll(iFd, iov, count, deadline);
  }
  Io RecvAll(char* data, std::size_t size, Clock::time_point deadline) override {
    return net::RecvAll(iFd, data, size, deadline);
  }
  Io RecvSome(char* data, std::size_t capacity, Clock::time_point deadline, bool mayBlock,
              std::size_t& got) override {
    return mayBlock ? RecvWaiting(iFd, data, capacity, got)
                    : net::RecvSome(iFd, data, capacity, deadline, got);
  }
  bool IsStale() override { return net::IsStale(iFd); }
  bool SetReadTimeout(int64_t ms) override { return net::SetReadTimeout(iFd, ms); }

 private:
  int iFd;
};

class ClearConnector final : public Connector {
 public:
  int Connect(const BrokerEndpoint& to, Clock::time_point deadline, int64_t readTimeoutMs,
              std::unique_ptr<Stream>& out) const override {
    int fd = -1;
    if (int rc = ConnectCode(ConnectTcp(to.host, to.port, deadline, fd)); rc != 0) return rc;
    out = MakeClearStream(fd);
    if (!out->SetReadTimeout(readTimeoutMs)) {
      out.reset();
      return kErrConnectFailed;
    }
    return 0;
  }
};

}  // namespace

std::unique_ptr<Stream> MakeClearStream(int fd) {
  return std::make_unique<ClearStream>(fd);
}

std::unique_ptr<Connector> MakeClearConnector() {
  return std::make_unique<ClearConnector>();
}

}  // namespace tmclient::net
