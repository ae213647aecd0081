#pragma once

// Tells the service manager how start-up and stopping go, when it asked to
// be told (a Type=notify unit sets NOTIFY_SOCKET). The protocol is one
// datagram of "KEY=VALUE" lines to that socket: written here rather than
// linking a library for it.

#include <string_view>

namespace backoffice {

// Sends `state` ("READY=1", "STOPPING=1", ...). False when NOTIFY_SOCKET is
// unset (nothing to do) or the datagram could not be sent; never throws.
bool NotifyServiceManager(std::string_view state);

}  // namespace backoffice
