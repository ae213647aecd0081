#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tmclient/export.h"

namespace tmclient {

// The deadline of a call when the broker's URL does not set one.
inline constexpr int64_t kDefaultDeadlineMs = 30000;
// How long a call keeps trying a server that refuses it (see retry_ms).
inline constexpr int64_t kDefaultRetryMs = 5000;
// The largest reply a client takes (see max_reply_mb): well above the back
// office's largest (200,000 rows of about 130 bytes).
inline constexpr int64_t kDefaultMaxReplyMb = 64;
// The most elements a list of a reply may have (see max_rows): the back
// office's own cap.
inline constexpr int64_t kDefaultMaxRows = 200000;

struct BrokerEndpoint {
  std::string host;  // a name, an IPv4 address or an IPv6 address without brackets
  uint16_t port = 0;
};

// A broker URL taken apart:
//   tcp://HOST:PORT[?OPTIONS]
//   tls://HOST:PORT[?OPTIONS]
//   nats://HOST:PORT[,HOST:PORT...][?OPTIONS]
//   SCHEME://ANYTHING[?OPTIONS]   (other schemes: `target` holds ANYTHING)
// OPTIONS are `key=value` items joined by '&':
//   deadline_ms=N  bounds every call made through the broker (1 .. 86400000)
//   broker=NAME    nats: the subject prefix and queue group of the services
//                  (letters, digits, '_' and '-'); the resolver adds the
//                  broker name when it is missing
//   idempotent=CODE[,CODE...]
//                  service codes whose requests may run twice without harm
//                  (queries): their calls are tried again after a failure
//                  that may have reached the server, as well as after one
//                  that certainly did not (which every call is)
//   attempt_ms=N   how long one attempt of an idempotent call waits for its
//                  reply before it is tried again (1 .. 86400000, at most the
//                  deadline; by default a third of the deadline)
//   retry_ms=N     for how long after a call starts a request that reached no
//                  server (connection refused, no responders) is tried again
//                  (1 .. 86400000; by default 5000, never past the deadline):
//                  long enough for a back office to restart, short enough
//                  that an operator is not kept waiting on one that is down
//   max_reply_mb=N the largest reply taken, in MiB (1 .. 256; by default
//                  kDefaultMaxReplyMb): a larger one fails the call with
//                  kErrReplyTooLarge, refused on its announced length
//   max_rows=N     the most elements a list of a reply may have (1 ..
//                  100000000; by default kDefaultMaxRows): a reply with a
//                  longer list fails the call with kErrReplyTooLarge
//   ca=FILE        tls, nats: the server's certificate must come from a CA of
//                  this PEM file (refused when other users may change it)
//                  rather than one of the system's trust store; nats: the
//                  connection is made with TLS
//   creds=FILE     nats: the user's credentials, read from this file
//                  (refused when other users may read it): `user = NAME` and
//                  `password = SECRET` lines, or an NKey seed
// A FILE is a path; '&' cannot be part of it.
struct BrokerUrl {
  std::string scheme;
  std::vector<BrokerEndpoint> endpoints;  // tcp, tls: exactly one; nats: one or more
  std::string target;                     // what follows "://", without the options
  int64_t deadlineMs = kDefaultDeadlineMs;
  std::string broker;                   // "" when not given
  std::vector<std::string> idempotent;  // service codes
  int64_t attemptMs = 0;                // 0 when not given
  int64_t retryMs = kDefaultRetryMs;
  int64_t maxReplyMb = kDefaultMaxReplyMb;
  int64_t maxRows = kDefaultMaxRows;
  std::string caFile;     // "" when not given
  std::string credsFile;  // "" when not given
  std::size_t maxReplyBytes() const { return static_cast<std::size_t>(maxReplyMb) << 20; }
};

// True when `name` can serve as a NATS subject token and queue group name.
TMCLIENT_API bool IsValidBrokerToken(std::string_view name);

// False when `url` is malformed; `why` (optional) then says what is wrong.
TMCLIENT_API bool ParseBrokerUrl(std::string_view url, BrokerUrl& out, std::string* why = nullptr);

// Makes `serviceCode` idempotent at every broker, as if each URL listed it
// in idempotent=: for the services whose callers make a repeat harmless
// themselves (a sign-in that carries its nonce, a sign-out). Thread-safe.
TMCLIENT_API void DeclareIdempotent(std::string_view serviceCode);

// The client configuration file: lines `NAME = URL` and `lock NAME`; blank
// lines and lines starting with '#' are ignored.
struct BrokerConfig {
  bool found = false;                       // the file exists and was read
  std::string path;                         // the file that was looked at
  std::string error;                        // why a file that exists cannot be used; "" if none
  std::map<std::string, std::string> urls;  // NAME -> URL; a later line wins
  std::set<std::string> locked;             // names of `lock NAME` lines
  std::vector<std::string> problems;        // "path:line: what", for lines that were skipped
};

// The administrator's configuration. Its `lock NAME` lines keep the user's
// file and the environment from changing NAME.
inline constexpr char kSystemBrokerConfig[] = "/etc/tmclient/brokers.conf";

// The user's configuration file: $TMCLIENT_CONF when set and not empty
// (which must then exist), else $XDG_CONFIG_HOME/tmclient/brokers.conf
// (XDG_CONFIG_HOME defaulting to $HOME/.config) when it exists, else "".
TMCLIENT_API std::string UserBrokerConfigPath();

// Reads one configuration file. A missing file gives found == false and no
// error; a file that exists but cannot be read, is not a regular file, is
// larger than 1 MiB or may be written by users other than its owner and
// group gives found == false and `error` (naming the file). Never throws.
TMCLIENT_API BrokerConfig ReadBrokerConfig(const std::string& path);

}  // namespace tmclient
