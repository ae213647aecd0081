#include "tmclient/transport.h"

#include <map>
#include <mutex>

#include "inproc.h"
#include "plugin_loader.h"
#include "tcp_transport.h"
#include "tmclient/reply_progress.h"
#include "tmclient/tmd_error.h"

namespace tmclient {

Transport::~Transport() = default;

int Transport::CallWatched(const std::string& interfaceName, const std::string& serviceCode,
                           std::string_view request, std::string& reply, ReplyProgress&) {
  return Call(interfaceName, serviceCode, request, reply);
}

void Transport::Abandon() {}

ReplyProgress::~ReplyProgress() = default;

namespace {

struct SchemeRegistry {
  std::mutex mutex;
  std::map<std::string, TransportFactory> factories;

  SchemeRegistry() {
    // The schemes built into the library.
    factories["inproc"] = OpenInProcessTransport;
    factories["tcp"] = TcpTransport::Factory;
    factories["nats"] = OpenNatsTransport;
    factories["tls"] = OpenTlsTransport;
  }
};

SchemeRegistry& Schemes() {
  static SchemeRegistry registry;
  return registry;
}

}  // namespace

void RegisterTransportScheme(const std::string& scheme, TransportFactory factory) {
  SchemeRegistry& r = Schemes();
  std::lock_guard lock(r.mutex);
  if (factory) {
    r.factories[scheme] = std::move(factory);
  } else {
    r.factories.erase(scheme);
  }
}

int OpenTransport(const std::string& url, std::unique_ptr<Transport>& out) {
  out.reset();
  const std::size_t sep = url.find("://");
  if (sep == std::string::npos || sep == 0) return kErrBadBrokerUrl;
  TransportFactory factory;
  {
    SchemeRegistry& r = Schemes();
    std::lock_guard lock(r.mutex);
    const auto it = r.factories.find(url.substr(0, sep));
    if (it == r.factories.end()) return kErrUnsupportedScheme;
    factory = it->second;
  }
  std::unique_ptr<Transport> made;
  int code = kErrTransport;
  try {
    code = factory(url, made);
  } catch (...) {
    return kErrTransport;
  }
  if (code != 0) return IsLibraryError(code) ? code : kErrTransport;
  if (!made) return kErrTransport;
  out = std::move(made);
  return 0;
}

}  // namespace tmclient
