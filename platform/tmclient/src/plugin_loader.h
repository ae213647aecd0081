#pragma once

#include <memory>
#include <string>

#include "tmclient/transport.h"

namespace tmclient {

// The factories behind "nats://" and "tls://" URLs in the client library.
// Each loads its library (libtmclient_nats.so, libtmclient_tls.so) from the
// folder of libtmclient.so on first use (once per process; it stays loaded)
// and hands the URL to its factory, so that a process that only uses tcp://
// never maps the NATS client or OpenSSL. When the library cannot be loaded,
// every URL of its scheme gets kErrTransportUnavailable and the reason is
// written once to stderr.
int OpenNatsTransport(const std::string& url, std::unique_ptr<Transport>& out);
int OpenTlsTransport(const std::string& url, std::unique_ptr<Transport>& out);

}  // namespace tmclient
