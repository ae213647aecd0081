#pragma once

#include "tmclient/export.h"

// Library failure codes: -9999 .. -9971. A call_server result in that range
// means the library failed and there is no reply. Operators quote them: never
// change a value.
//
// The proxies' own codes (-9996, -9995, -9990, -9989, -9988, -9987, -9985,
// -9979) are never used by the library.
namespace tmclient {

constexpr int kErrNotBound = -9999;              // call_server on an unbound client object
constexpr int kErrUnknownBroker = -9998;         // the broker name resolves to nothing
constexpr int kErrBadBrokerUrl = -9997;          // the broker URL cannot be parsed
constexpr int kErrConnectFailed = -9994;         // connection refused or host unreachable
constexpr int kErrNoResponders = -9993;          // nobody serves the interface
constexpr int kErrTimeout = -9992;               // no reply before the call's deadline
constexpr int kErrConnectionLost = -9991;        // connection closed before the whole reply came
constexpr int kErrBadReplyFrame = -9986;         // the reply frame is malformed
constexpr int kErrReplyTooLarge = -9984;         // the reply frame exceeds the size limit
constexpr int kErrRequestTooLarge = -9983;       // the request frame exceeds the size limit
constexpr int kErrNoInProcService = -9982;       // inproc:// names no registered service
constexpr int kErrUnsupportedScheme = -9981;     // no transport for the URL's scheme
constexpr int kErrBadRequest = -9980;            // the request stream has failed or is not open
constexpr int kErrServiceFailed = -9978;         // the far end could not process the request
constexpr int kErrTransportUnavailable = -9977;  // the URL's transport cannot be loaded
// tls:// (and nats:// with TLS): the connection is never used in clear text
// after any of these.
constexpr int kErrTlsUntrusted = -9976;     // the server's certificate is not from a trusted CA
constexpr int kErrTlsNameMismatch = -9975;  // the certificate does not name the host connected to
constexpr int kErrTlsExpired = -9974;       // the certificate has expired or is not yet valid
// TLS on one side only (either way round), or no TLS version or suite in
// common.
constexpr int kErrTlsHandshake = -9973;
constexpr int kErrCallAbandoned = -9972;  // the caller gave the call up (call_wait.h)
constexpr int kErrTransport = -9971;      // any other transport failure

constexpr int kErrFirst = -9999;  // lowest library code
constexpr int kErrLast = -9971;   // highest library code

// True for a code in the library's range.
constexpr bool IsLibraryError(int code) {
  return code >= kErrFirst && code <= kErrLast;
}

}  // namespace tmclient

// The text for a library failure code (GBK, static storage); a generic text
// for any other value. Never null.
extern "C" TMCLIENT_API const char* tmd_getErrorMsg(int code);
