#include <atomic>
#include <mutex>

#include "backoffice/protocol.h"
#include "backoffice/server.h"
#include "backoffice/service.h"
#include "tmclient/nats_responder.h"

namespace backoffice {
namespace {

class NatsEndpoint : public Endpoint {
 public:
  NatsEndpoint(std::string url, std::string broker, int workers, Service& service)
      : strUrl(std::move(url)),
        strBroker(std::move(broker)),
        iWorkers(workers),
        cService(service) {}

  bool Start(std::string& error) override {
    tmclient::NatsResponderOptions options;
    options.url = strUrl;
    options.broker = strBroker;
    options.workers = iWorkers;
    options.maxRequestSize = kMaxRequestBytes;
    auto responder = std::make_unique<tmclient::NatsResponder>(
        [this](const tmclient::CallContext& call, const std::string& iface, const std::string& code,
               std::string_view request, std::string& reply, tmclient::ReplyWriter& writer) {
          return cService.Handle(call, iface, code, request, reply, writer);
        },
        options);
    if (!responder->Start(&error)) {
      error = "cannot serve through " + strUrl + ": " + error;
      return false;
    }
    std::lock_guard lock(mLock);
    pResponder = std::move(responder);
    return true;
  }

  void Stop() override {
    {
      std::lock_guard lock(mLock);
      if (!pResponder || bStopping) return;
      bStopping = true;
    }
    // Draining may take seconds: the metrics read the last counts meanwhile.
    std::lock_guard stopping(mStopLock);
    pResponder->Stop();
  }

  EndpointStats Stats() const override {
    EndpointStats out;
    out.kind = "nats";
    std::unique_lock lock(mLock);
    if (!pResponder) return out;
    if (bStopping) {
      out.reconnects = iLastReconnects.load(std::memory_order_relaxed);
      return out;
    }
    // The responder's state is read only while no Stop() runs.
    std::unique_lock stopping(mStopLock);
    lock.unlock();
    const tmclient::NatsResponderStats s = pResponder->stats();
    iLastReconnects.store(s.reconnects, std::memory_order_relaxed);
    out.serving = s.connected;
    out.queued = s.queued;
    out.reconnects = s.reconnects;
    return out;
  }

  std::string Describe() const override { return strUrl + " queue group " + strBroker; }

 private:
  std::string strUrl;
  std::string strBroker;
  int iWorkers;
  Service& cService;
  mutable std::mutex mLock;      // guards pResponder's setting and bStopping
  mutable std::mutex mStopLock;  // held by Stop() and while the responder is read
  std::unique_ptr<tmclient::NatsResponder> pResponder;
  bool bStopping = false;
  mutable std::atomic<uint64_t> iLastReconnects{0};  // as last read, for while it stops
};

}  // namespace

std::unique_ptr<Endpoint> MakeNatsEndpoint(const std::string& url, const std::string& broker,
                                           int workers, Service& service) {
  return std::make_unique<NatsEndpoint>(url, broker, workers, service);
}

}  // namespace backoffice
