#include "tmclient/tmd_client_object.h"

#include <atomic>
#include <mutex>

#include "reply_buffers.h"
#include "session_internal.h"
#include "tmclient/broker_resolver.h"
#include "tmclient/reply_progress.h"
#include "tmclient/tmb_stream.h"
#include "tmclient/tmd_error.h"
#include "tmclient/transport.h"
#include "waited_call.h"

CTmdClientObject::CTmdClientObject() : pBuffers(std::make_unique<tmclient::ReplyBuffers>()) {}
CTmdClientObject::~CTmdClientObject() = default;

namespace {

// Passes a reply's progress on from the library's thread to the caller's
// watcher until the caller stops waiting: once Detach() returns, the watcher
// is told nothing more, so a call given up never touches what its caller
// has let go.
class ProgressRelay final : public tmclient::ReplyProgress {
 public:
  explicit ProgressRelay(tmclient::ReplyProgress& to) : pTo(&to) {}

  void Started(std::size_t headSize) override {
    std::lock_guard lock(mLock);
    if (pTo != nullptr) pTo->Started(headSize);
  }
  void Arrived(std::string_view body) override {
    std::lock_guard lock(mLock);
    if (pTo != nullptr) pTo->Arrived(body);
  }
  void Dropped() override {
    std::lock_guard lock(mLock);
    if (pTo != nullptr) pTo->Dropped();
  }
  void Detach() {
    std::lock_guard lock(mLock);
    pTo = nullptr;
  }

 private:
  std::mutex mLock;
  tmclient::ReplyProgress* pTo;
};

}  // namespace

int CTmdClientObject::call_server(const std::string& interfaceName, const std::string& serviceCode,
                                  STMSession* /*session*/, tmb_stream& in, tmb_stream& out) {
  if (!is_bound()) return tmclient::kErrNotBound;
  if (in.failed()) return tmclient::kErrBadRequest;
  try {
    const std::string_view request = in.bytes();
    if (request.size() > tmb_stream::kMaxFrameSize) return tmclient::kErrRequestTooLarge;
    // The call's own buffer, which goes to `out` or, whichever way the call
    // ends otherwise, stays with pBuffers for a later call (a call given up
    // takes it along until its I/O ends).
    pReply = pBuffers->Take();
    struct Release {
      std::shared_ptr<std::string>& reply;
      ~Release() { reply.reset(); }
    } release{pReply};
    const int result = Exchange(interfaceName, serviceCode, request);
    if (tmclient::IsLibraryError(result)) return result;
    tmclient::NoteCallResult(result);
    if (pReply->size() > tmb_stream::kMaxFrameSize) return tmclient::kErrReplyTooLarge;
    out.load(std::shared_ptr<const std::string>(std::move(pReply)));
    return result;
  } catch (...) {
    return tmclient::kErrTransport;
  }
}

int CTmdClientObject::call_server_watched(const std::string& interfaceName,
                                          const std::string& serviceCode, STMSession* session,
                                          tmb_stream& in, tmb_stream& out,
                                          tmclient::ReplyProgress& progress) {
  pProgress = &progress;
  struct Forget {
    tmclient::ReplyProgress*& p;
    ~Forget() { p = nullptr; }
  } forget{pProgress};
  return call_server(interfaceName, serviceCode, session, in, out);
}

int CTmdClientObject::Exchange(const std::string& interfaceName, const std::string& serviceCode,
                               std::string_view request) {
  tmclient::CallWaitHook* hook = tmclient::HookForThisCall();
  if (hook == nullptr) {
    if (!pTransport) {
      std::unique_ptr<tmclient::Transport> made;
      if (int rc = tmclient::OpenTransport(sUrl, made); rc != 0) return rc;
      pTransport = std::move(made);
    }
    const int result =
        pProgress != nullptr
            ? pTransport->CallWatched(interfaceName, serviceCode, request, *pReply, *pProgress)
            : pTransport->Call(interfaceName, serviceCode, request, *pReply);
    ForgetLargeReply();
    return result;
  }
  // The I/O runs on without this object when the call is given up: it owns
  // copies of what it sends and shares the transport and the reply buffer.
  auto transport = std::make_shared<std::shared_ptr<tmclient::Transport>>(pTransport);
  auto relay = pProgress != nullptr ? std::make_shared<ProgressRelay>(*pProgress) : nullptr;
  bool abandoned = false;
  const int result = tmclient::WaitThrough(
      *hook,
      [transport, url = sUrl, interfaceName, serviceCode, request = std::string(request),
       reply = pReply, relay]() {
        if (!*transport) {
          std::unique_ptr<tmclient::Transport> made;
          if (int rc = tmclient::OpenTransport(url, made); rc != 0) return rc;
          *transport = std::move(made);
        }
        return relay
                   ? (*transport)->CallWatched(interfaceName, serviceCode, request, *reply, *relay)
                   : (*transport)->Call(interfaceName, serviceCode, request, *reply);
      },
      abandoned);
  if (abandoned) {
    if (relay) relay->Detach();
    // The connection that carries it is dropped and never used again, so its
    // reply, if one still comes, cannot be taken for the next call's.
    if (pTransport) pTransport->Abandon();
    pTransport.reset();
    return result;
  }
  pTransport = *transport;
  ForgetLargeReply();
  return result;
}

void CTmdClientObject::ForgetLargeReply() {
  // The call's I/O is over: its buffer is read here for the last time.
  if (pReply->capacity() > tmclient::ReplyBuffers::kKeptCapacity) pBuffers->Forget(pReply.get());
}

int CTmdClientObject::bind(const std::string& /*interfaceName*/, const std::string& brokerName) {
  return bind_openBroker(brokerName);
}

int CTmdClientObject::unbind() {
  sUrl.clear();
  pTransport.reset();
  pBuffers->Clear();
  return 0;
}

int CTmdClientObject::reserved() {
  return 0;
}

bool CTmdClientObject::is_bound() const {
  return !sUrl.empty();
}

int CTmdClientObject::bind_openBroker(const std::string& brokerName) {
  sUrl.clear();
  pTransport.reset();
  try {
    std::string url;
    const int resolved = tmclient::ResolveBroker(brokerName, url);
    if (resolved != 0) return resolved;
    auto made = std::make_shared<std::unique_ptr<tmclient::Transport>>();
    int rc;
    if (tmclient::CallWaitHook* hook = tmclient::HookForThisCall()) {
      bool abandoned = false;
      rc = tmclient::WaitThrough(
          *hook, [url, made] { return tmclient::OpenTransport(url, *made); }, abandoned);
    } else {
      rc = tmclient::OpenTransport(url, *made);
    }
    if (rc != 0) return rc;
    pTransport = std::move(*made);
    sUrl = url;
    return 0;
  } catch (...) {
    pTransport.reset();
    return tmclient::kErrTransport;
  }
}
