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
    pResponder = std::make_unique<tmclient::NatsResponder>(
        [this](const std::string& iface, const std::string& code, std::string_view request,
               std::string& reply, tmclient::ReplyWriter& writer) {
          return cService.Handle(iface, code, request, reply, writer);
        },
        options);
    if (!pResponder->Start(&error)) {
      error = "cannot serve through " + strUrl + ": " + error;
      pResponder.reset();
      return false;
    }
    return true;
  }

  void Stop() override {
    if (pResponder) pResponder->Stop();
  }

  std::string Describe() const override { return strUrl + " queue group " + strBroker; }

 private:
  std::string strUrl;
  std::string strBroker;
  int iWorkers;
  Service& cService;
  std::unique_ptr<tmclient::NatsResponder> pResponder;
};

}  // namespace

std::unique_ptr<Endpoint> MakeNatsEndpoint(const std::string& url, const std::string& broker,
                                           int workers, Service& service) {
  return std::make_unique<NatsEndpoint>(url, broker, workers, service);
}

}  // namespace backoffice
