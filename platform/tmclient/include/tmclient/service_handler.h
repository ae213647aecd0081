#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace tmclient {

// What a server runs for each request it receives: `request` holds the
// request stream's bytes; the handler fills `reply` with the reply stream's
// bytes and returns the server's result, which call_server hands to the
// caller (0 on success, the service's own code otherwise).
//
// A result in the library's range (-9999 .. -9971) reaches the caller as that
// library failure, without the reply. An exception reaches the caller as
// kErrServiceFailed. The handler runs on the server's worker threads, several
// at once.
using ServiceHandler =
    std::function<int(const std::string& interfaceName, const std::string& serviceCode,
                      std::string_view request, std::string& reply)>;

}  // namespace tmclient
