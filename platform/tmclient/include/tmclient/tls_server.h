#pragma once

// TLS for the connections of a TcpServer (libtmclient_tls.so, which links
// OpenSSL; clients load it on their first tls:// URL).

#include <memory>
#include <string>

#include "tmclient/export.h"
#include "tmclient/tcp_server.h"

namespace tmclient {

// A layer for TcpServerOptions::layer that serves TLS 1.2 or 1.3 with the
// certificate chain of `certFile` and the private key of `keyFile` (both PEM).
// A key file that other users may read is refused. Null, with `error` naming
// the file and what is wrong (never the key itself), when either cannot be
// used. A clear-text client is answered with kErrTlsHandshake and
// disconnected.
TMCLIENT_API std::shared_ptr<const ChannelLayer> MakeTlsServerLayer(const std::string& certFile,
                                                                    const std::string& keyFile,
                                                                    std::string& error);

}  // namespace tmclient
