#pragma once

// What the client library and libtmclient_nats.so agree on: the file that
// holds the NATS transport and the entry point that makes one.

#include <memory>
#include <string>

#include "tmclient/transport.h"

namespace tmclient {

// Looked for in the folder of libtmclient.so.
inline constexpr char kNatsLibraryFile[] = "libtmclient_nats.so";

// extern "C", so that dlsym finds it by this name; same contract as a
// TransportFactory.
inline constexpr char kNatsTransportEntry[] = "tmclient_open_nats_transport";
using NatsTransportEntry = int(const std::string& url, std::unique_ptr<Transport>& out);

}  // namespace tmclient
