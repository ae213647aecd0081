#pragma once

// What the client library and libtmclient_tls.so agree on: the file that
// holds the tls:// transport and the entry point that makes one.

#include <memory>
#include <string>

#include "tmclient/transport.h"

namespace tmclient {

// Looked for in the folder of libtmclient.so.
inline constexpr char kTlsLibraryFile[] = "libtmclient_tls.so";

// extern "C", so that dlsym finds it by this name; same contract as a
// TransportFactory.
inline constexpr char kTlsTransportEntry[] = "tmclient_open_tls_transport";
using TlsTransportEntry = int(const std::string& url, std::unique_ptr<Transport>& out);

}  // namespace tmclient
