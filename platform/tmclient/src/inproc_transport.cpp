#include "tmclient/inproc_transport.h"

#include <map>
#include <mutex>

#include "inproc.h"
#include "tmclient/service_handler.h"
#include "tmclient/session.h"
#include "tmclient/tmb_stream.h"
#include "tmclient/tmd_error.h"

namespace tmclient {

namespace {

struct ServiceRegistry {
  std::mutex mutex;
  std::map<std::string, InProcessHandler, std::less<>> handlers;
};

ServiceRegistry& Services() {
  static ServiceRegistry registry;
  return registry;
}

class InProcessTransport final : public Transport {
 public:
  explicit InProcessTransport(std::string name) : strName(std::move(name)) {}

  int Call(const std::string& interfaceName, const std::string& serviceCode,
           std::string_view request, std::string& reply) override {
    InProcessHandler handler;
    {
      ServiceRegistry& r = Services();
      std::lock_guard lock(r.mutex);
      const auto it = r.handlers.find(strName);
      if (it == r.handlers.end()) return kErrNoInProcService;
      handler = it->second;
    }
    std::string answer;
    int result = 0;
    try {
      result = handler(interfaceName, serviceCode, request, answer);
    } catch (...) {
      return kErrServiceFailed;
    }
    if (IsLibraryError(result)) return result;
    if (answer.size() > tmb_stream::kMaxFrameSize) return kErrReplyTooLarge;
    reply = std::move(answer);
    return result;
  }

 private:
  std::string strName;
};

}  // namespace

void RegisterInProcessService(const std::string& name, InProcessHandler handler) {
  ServiceRegistry& r = Services();
  std::lock_guard lock(r.mutex);
  if (handler) {
    r.handlers[name] = std::move(handler);
  } else {
    r.handlers.erase(name);
  }
}

int OpenInProcessTransport(const std::string& url, std::unique_ptr<Transport>& out) {
  constexpr std::string_view kPrefix = "inproc://";
  if (url.compare(0, kPrefix.size(), kPrefix) != 0 || url.size() == kPrefix.size()) {
    return kErrBadBrokerUrl;
  }
  out = std::make_unique<InProcessTransport>(url.substr(kPrefix.size()));
  return 0;
}

}  // namespace tmclient
