#include "tmclient/tmd_client_object.h"

#include <atomic>

#include "tmclient/broker_resolver.h"
#include "tmclient/tmb_stream.h"
#include "tmclient/tmd_error.h"
#include "tmclient/transport.h"

CTmdClientObject::CTmdClientObject() = default;
CTmdClientObject::~CTmdClientObject() = default;

namespace {

// A reply buffer that grew beyond this is not kept from one call to the next:
// it goes with the stream that reads it.
constexpr std::size_t kKeptReplyCapacity = 64u << 20;

}  // namespace

std::string& CTmdClientObject::ReplyBuffer() {
  if (pReply && pReply.use_count() == 1) {
    // The last stream that read it has released it; what it read happened
    // before that release.
    std::atomic_thread_fence(std::memory_order_acquire);
    pReply->clear();
  } else {
    pReply.reset();
    pReply = std::make_shared<std::string>();
  }
  return *pReply;
}

int CTmdClientObject::call_server(const std::string& interfaceName, const std::string& serviceCode,
                                  STMSession* /*session*/, tmb_stream& in, tmb_stream& out) {
  if (!pTransport) return tmclient::kErrNotBound;
  if (in.failed()) return tmclient::kErrBadRequest;
  try {
    const std::string& request = in.bytes();
    if (request.size() > tmb_stream::kMaxFrameSize) return tmclient::kErrRequestTooLarge;
    // Nothing of a reply that is not handed over stays behind, whichever
    // way the call ends.
    struct Discard {
      std::string* reply;
      ~Discard() {
        if (reply != nullptr) reply->clear();
      }
    } discard{&ReplyBuffer()};
    std::string& reply = *discard.reply;
    const int result = pTransport->Call(interfaceName, serviceCode, request, reply);
    if (tmclient::IsLibraryError(result)) return result;
    if (reply.size() > tmb_stream::kMaxFrameSize) return tmclient::kErrReplyTooLarge;
    discard.reply = nullptr;
    out.load(std::shared_ptr<const std::string>(pReply));
    if (reply.capacity() > kKeptReplyCapacity) pReply.reset();
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
  pReply.reset();
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
