#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "tmclient/export.h"

namespace tmclient {

class ReplyProgress;

// Carries one request frame to the far end and returns its reply frame.
// Implementations: in-process (tests, embedded use), tcp://, nats://.
// Fault-injecting transports for tests implement the same interface.
class TMCLIENT_API Transport {
 public:
  virtual ~Transport();

  // Returns a library failure code (-9999 .. -9971) with no reply, or the
  // server's result (any other value, 0 on success) with `reply` holding the
  // bytes of the reply stream. The server's result travels in the frame.
  // May throw; the client object turns an exception into kErrTransport.
  virtual int Call(const std::string& interfaceName, const std::string& serviceCode,
                   std::string_view request, std::string& reply) = 0;
  // The same, telling `progress` of a streamed reply while it arrives
  // (reply_progress.h). By default it is told nothing: the reply is read
  // once it is whole.
  virtual int CallWatched(const std::string& interfaceName, const std::string& serviceCode,
                          std::string_view request, std::string& reply, ReplyProgress& progress);

  // Called from another thread while Call runs, when its caller gave the
  // call up (call_wait.h): Call is to end soon, with any code, without trying
  // again, dropping what carried the request (a connection), so that no
  // reply to it is ever read. The transport takes no calls afterwards. By
  // default nothing happens: the call ends by its deadline.
  virtual void Abandon();
};

// Makes the transport for one URL of the factory's scheme. Returns 0 and sets
// `out`, or a library failure code (kErrBadBrokerUrl, kErrConnectFailed, ...)
// and leaves `out` empty.
using TransportFactory =
    std::function<int(const std::string& url, std::unique_ptr<Transport>& out)>;

// Installs (or, with an empty factory, removes) the factory for URLs
// "scheme://...". Replaces a built-in scheme of the same name for the rest of
// the process; thread-safe. Tests use it to put a fault-injecting transport
// under a client object.
TMCLIENT_API void RegisterTransportScheme(const std::string& scheme, TransportFactory factory);

// Opens a transport for `url` through the factory of its scheme. Returns 0 and
// sets `out`; kErrBadBrokerUrl when the URL has no "scheme://"; and
// kErrUnsupportedScheme when no factory serves the scheme; else the
// factory's code. `out` is left empty on failure.
TMCLIENT_API int OpenTransport(const std::string& url, std::unique_ptr<Transport>& out);

}  // namespace tmclient
