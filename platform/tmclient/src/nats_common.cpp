#include "nats_common.h"

#include <algorithm>

#include "tmclient/tmd_error.h"

namespace tmclient::natsx {

int StatusToCode(natsStatus s) {
  switch (s) {
    case NATS_OK:
      return 0;
    case NATS_NO_SERVER:
    case NATS_CONNECTION_CLOSED:
    case NATS_CONNECTION_DISCONNECTED:
      return kErrConnectFailed;
    case NATS_TIMEOUT:
      return kErrTimeout;
    case NATS_NO_RESPONDERS:
      return kErrNoResponders;
    case NATS_MAX_PAYLOAD:
      return kErrRequestTooLarge;
    case NATS_ADDRESS_MISSING:
    case NATS_INVALID_ARG:
      return kErrBadBrokerUrl;
    default:
      return kErrTransport;
  }
}

std::string RequestSubject(const std::string& broker, const std::string& serviceCode) {
  return broker + "." + serviceCode;
}

natsStatus Connect(const std::vector<BrokerEndpoint>& endpoints, int64_t connectTimeoutMs,
                   const char* name, natsConnection** nc) {
  std::vector<std::string> urls;
  for (const BrokerEndpoint& e : endpoints) {
    bool v6 = e.host.find(':') != std::string::npos;
    urls.push_back("nats://" + (v6 ? "[" + e.host + "]" : e.host) + ":" + std::to_string(e.port));
  }
  std::vector<const char*> ptrs;
  for (const auto& u : urls) ptrs.push_back(u.c_str());

  natsOptions* opts = nullptr;
  natsStatus s = natsOptions_Create(&opts);
  if (s == NATS_OK) s = natsOptions_SetServers(opts, ptrs.data(), static_cast<int>(ptrs.size()));
  if (s == NATS_OK) s = natsOptions_SetName(opts, name);
  if (s == NATS_OK) s = natsOptions_SetSendAsap(opts, true);
  if (s == NATS_OK) s = natsOptions_SetNoRandomize(opts, true);
  if (s == NATS_OK)
    s = natsOptions_SetTimeout(opts, std::clamp<int64_t>(connectTimeoutMs, 1, 10000));
  if (s == NATS_OK) s = natsOptions_SetMaxReconnect(opts, -1);
  if (s == NATS_OK) s = natsOptions_SetReconnectWait(opts, 100);
  if (s == NATS_OK) s = natsOptions_SetMaxPendingMsgs(opts, 1 << 20);
  if (s == NATS_OK) s = natsConnection_Connect(nc, opts);
  natsOptions_Destroy(opts);
  return s;
}

}  // namespace tmclient::natsx
