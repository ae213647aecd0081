#include "tmclient/tmd_client_object.h"

#include "tmclient/broker_resolver.h"
#include "tmclient/tmb_stream.h"
#include "tmclient/tmd_error.h"
#include "tmclient/transport.h"

CTmdClientObject::CTmdClientObject() = default;
CTmdClientObject::~CTmdClientObject() = default;

int CTmdClientObject::call_server(const std::string& interfaceName, const std::string& serviceCode,
                                  STMSession* /*session*/, tmb_stream& in, tmb_stream& out) {
  if (!pTransport) return tmclient::kErrNotBound;
  if (in.failed()) return tmclient::kErrBadRequest;
  try {
    const std::string& request = in.bytes();
    if (request.size() > tmb_stream::kMaxFrameSize) return tmclient::kErrRequestTooLarge;
    std::string reply;
    const int result = pTransport->Call(interfaceName, serviceCode, request, reply);
    if (tmclient::IsLibraryError(result)) return result;
    if (reply.size() > tmb_stream::kMaxFrameSize) return tmclient::kErrReplyTooLarge;
    out.load(std::move(reply));
    return result;
  } catch (...) {
    return tmclient::kErrTransport;
  }
}

int CTmdClientObject::bind(const std::string& /*interfaceName*/, const std::string& brokerName) {
  return bind_openBroker(brokerName);
}

int CTmdClientObject::unbind() {
  pTransport.reset();
  return 0;
}

int CTmdClientObject::reserved() {
  return 0;
}

bool CTmdClientObject::is_bound() const {
  return pTransport != nullptr;
}

int CTmdClientObject::bind_openBroker(const std::string& brokerName) {
  pTransport.reset();
  try {
    std::string url;
    const int resolved = tmclient::ResolveBroker(brokerName, url);
    if (resolved != 0) return resolved;
    return tmclient::OpenTransport(url, pTransport);
  } catch (...) {
    pTransport.reset();
    return tmclient::kErrTransport;
  }
}
