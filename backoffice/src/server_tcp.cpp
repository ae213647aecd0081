#include <charconv>
#include <mutex>

#include "backoffice/protocol.h"
#include "backoffice/server.h"
#include "backoffice/service.h"
#include "tmclient/tcp_server.h"

namespace backoffice {
namespace {

// Splits "tcp://HOST:PORT" or "tls://HOST:PORT"; false when it is neither.
bool ParseTcpUrl(const std::string& url, std::string& host, uint16_t& port) {
  constexpr std::size_t kSchemeSize = std::string_view("tcp://").size();
  if (!url.starts_with("tcp://") && !url.starts_with("tls://")) return false;
  std::string_view rest = std::string_view(url).substr(kSchemeSize);
  size_t colon = rest.rfind(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  host = std::string(rest.substr(0, colon));
  std::string_view digits = rest.substr(colon + 1);
  unsigned value = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || end != digits.data() + digits.size() || digits.empty() ||
      value > 65535) {
    return false;
  }
  port = static_cast<uint16_t>(value);
  return true;
}

class TcpEndpoint : public Endpoint {
 public:
  TcpEndpoint(std::string url, int workers, Service& service, const TcpLimits& limits,
              std::shared_ptr<const tmclient::ChannelLayer> tls)
      : strUrl(std::move(url)),
        iWorkers(workers),
        cService(service),
        cLimits(limits),
        pTls(std::move(tls)) {}

  bool Start(std::string& error) override {
    tmclient::TcpServerOptions options;
    if (!ParseTcpUrl(strUrl, options.host, options.port)) {
      error = "not a tcp://HOST:PORT or tls://HOST:PORT address: " + strUrl;
      return false;
    }
    if (strUrl.starts_with("tls://")) {
      if (!pTls) {
        error = strUrl + " needs a certificate and its key";
        return false;
      }
      options.layer = pTls;
    }
    options.workers = iWorkers;
    options.maxConnections = cLimits.maxConnections;
    options.idleTimeoutMs = int64_t{cLimits.idleTimeoutS} * 1000;
    options.writeTimeoutMs = int64_t{cLimits.writeTimeoutS} * 1000;
    options.maxRequestSize = kMaxRequestBytes;
    options.maxBufferedBytes = cLimits.maxBufferedBytes;
    strHost = options.host;
    auto server = std::make_unique<tmclient::TcpServer>(
        [this](const tmclient::CallContext& call, const std::string& iface, const std::string& code,
               std::string_view request, std::string& reply, tmclient::ReplyWriter& writer) {
          return cService.Handle(call, iface, code, request, reply, writer);
        },
        options);
    if (!server->Start(&error)) {
      error = "cannot listen on " + strUrl + ": " + error;
      return false;
    }
    std::lock_guard lock(mLock);
    pServer = std::move(server);
    return true;
  }

  void Stop() override {
    {
      std::lock_guard lock(mLock);
      if (!pServer || bStopping) return;
      bStopping = true;
    }
    pServer->Stop();
  }

  EndpointStats Stats() const override {
    EndpointStats out;
    out.kind = "tcp";
    std::lock_guard lock(mLock);
    if (!pServer) return out;
    // The server's counters and gauges stay readable while it stops.
    const tmclient::TcpServerStats s = pServer->stats();
    out.serving = !bStopping;
    out.queued = s.queued;
    out.active = s.active;
    out.idle = s.idle;
    out.standIns = s.standIns;
    out.evicted = s.evicted;
    out.resetNotReading = s.resetNotReading;
    out.shed = s.shed;
    out.buffered = s.buffered;
    return out;
  }

  std::string Describe() const override {
    return strUrl.substr(0, strUrl.find("://") + 3) + strHost + ":" +
           std::to_string(pServer ? pServer->port() : 0);
  }

  std::string Limits() const override {
    return ", max " + std::to_string(cLimits.maxConnections) + " connections, idle timeout " +
           std::to_string(cLimits.idleTimeoutS) + " s, write timeout " +
           std::to_string(cLimits.writeTimeoutS) + " s, " +
           std::to_string(cLimits.maxBufferedBytes >> 20) + " MiB buffered";
  }

 private:
  std::string strUrl;
  int iWorkers;
  Service& cService;
  const TcpLimits cLimits;
  const std::shared_ptr<const tmclient::ChannelLayer> pTls;
  std::string strHost;
  mutable std::mutex mLock;  // guards pServer's setting and bStopping
  std::unique_ptr<tmclient::TcpServer> pServer;
  bool bStopping = false;
};

}  // namespace

std::unique_ptr<Endpoint> MakeTcpEndpoint(const std::string& url, int workers, Service& service,
                                          const TcpLimits& limits,
                                          std::shared_ptr<const tmclient::ChannelLayer> tls) {
  return std::make_unique<TcpEndpoint>(url, workers, service, limits, std::move(tls));
}

}  // namespace backoffice
