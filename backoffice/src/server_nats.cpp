#include "backoffice/server.h"
#include "backoffice/service.h"
#include "tmclient/nats_responder.h"

namespace backoffice {
namespace {

class NatsEndpoint : public Endpoint {
 public:
  NatsEndpoint(std::string url, std::string broker, int workers, Service& service)
      : url_(std::move(url)), broker_(std::move(broker)), workers_(workers), service_(service) {}

  bool Start(std::string& error) override {
    tmclient::NatsResponderOptions options;
    options.url = url_;
    options.broker = broker_;
    options.workers = workers_;
    responder_ = std::make_unique<tmclient::NatsResponder>(
        [this](const std::string& iface, const std::string& code, std::string_view request,
               std::string& reply) { return service_.Handle(iface, code, request, reply); },
        options);
    if (!responder_->Start(&error)) {
      error = "cannot serve through " + url_ + ": " + error;
      responder_.reset();
      return false;
    }
    return true;
  }

  void Stop() override {
    if (responder_) responder_->Stop();
  }

  std::string Describe() const override { return url_ + " queue group " + broker_; }

 private:
  std::string url_;
  std::string broker_;
  int workers_;
  Service& service_;
  std::unique_ptr<tmclient::NatsResponder> responder_;
};

}  // namespace

std::unique_ptr<Endpoint> MakeNatsEndpoint(const std::string& url, const std::string& broker,
                                           int workers, Service& service) {
  return std::make_unique<NatsEndpoint>(url, broker, workers, service);
}

}  // namespace backoffice
