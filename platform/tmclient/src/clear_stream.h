#pragma once

// Clear-text client connections.

#include <memory>

#include "client_stream.h"
#include "tmclient/export.h"

namespace tmclient::net {

// Takes `fd` (a connected socket) over; closes it when destroyed.
TMCLIENT_INTERNAL std::unique_ptr<Stream> MakeClearStream(int fd);
TMCLIENT_INTERNAL std::unique_ptr<Connector> MakeClearConnector();

}  // namespace tmclient::net
