#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "tmclient/export.h"

class tmb_stream;
struct STMSession;  // opaque; always null in this system

namespace tmclient {
class ReplyBuffers;
class ReplyProgress;
class Transport;
}  // namespace tmclient

// Base of the service proxies. Virtual slots, in order: destructor,
// call_server, bind, unbind, and a fifth argument-free operation.
//
// A client object is bound to one broker at a time and owns the transport
// that reaches it. Not thread-safe: one caller at a time.
class TMCLIENT_API CTmdClientObject {
 public:
  CTmdClientObject();
  virtual ~CTmdClientObject();
  CTmdClientObject(const CTmdClientObject&) = delete;
  CTmdClientObject& operator=(const CTmdClientObject&) = delete;

  // Sends the finished request `in` and loads the reply into `out`. Returns a
  // library failure code (-9999 .. -9971; `out` untouched) or the server's
  // result (any other value, with the reply in `out`; 0 is success):
  // kErrNotBound when unbound, kErrBadRequest when `in` has failed,
  // kErrCallAbandoned when the installed wait hook gave the call up
  // (call_wait.h; the next call connects anew), the transport's code
  // otherwise. Never throws.
  //
  // The reply is received into a buffer of the object's that `out` then
  // holds: once the stream lets it go (loaded, opened or destroyed), the
  // buffer comes back emptied and the next call receives into the same
  // memory. `out` always holds exactly its own reply, however long it is
  // kept. The object keeps the memory of a returned reply (up to 64 MiB)
  // until unbind().
  virtual int call_server(const std::string& interfaceName, const std::string& serviceCode,
                          STMSession* session, tmb_stream& in, tmb_stream& out);
  // call_server, telling `progress` of a streamed reply while it arrives
  // (tmclient/reply_progress.h), so that the caller may read it ahead. Goes
  // through call_server, so a proxy's override still sees the call.
  int call_server_watched(const std::string& interfaceName, const std::string& serviceCode,
                          STMSession* session, tmb_stream& in, tmb_stream& out,
                          tmclient::ReplyProgress& progress);
  // Binds to `brokerName` (the interface name is not needed to connect).
  // Same results as bind_openBroker.
  virtual int bind(const std::string& interfaceName, const std::string& brokerName);
  // Drops the transport and the reply buffer. Always 0.
  virtual int unbind();
  // The fifth slot; proxies override it. Does nothing here and returns 0.
  virtual int reserved();

  bool is_bound() const;
  // Resolves the broker name (see broker_resolver.h) and opens a transport
  // for its URL (through the wait hook, as a call). 0 when bound (an earlier
  // binding is dropped first), else a library failure code and the object
  // is unbound.
  int bind_openBroker(const std::string& brokerName);

 private:
  // The call's I/O: `request` out, the reply into *pReply. On this thread,
  // or on the library's while the wait hook waits.
  int Exchange(const std::string& interfaceName, const std::string& serviceCode,
               std::string_view request);
  // Once the call's I/O is over: a reply buffer that grew beyond what is
  // kept for the next call is freed by its last holder.
  void ForgetLargeReply();

  std::string sUrl;  // of the bound broker; empty when unbound
  // Null while bound only after a call was given up: the next call connects.
  std::shared_ptr<tmclient::Transport> pTransport;
  std::unique_ptr<tmclient::ReplyBuffers> pBuffers;
  // The buffer of the call under way; null between calls.
  std::shared_ptr<std::string> pReply;
  // Told of the reply of the call under way, when its caller watches it.
  tmclient::ReplyProgress* pProgress = nullptr;
};
