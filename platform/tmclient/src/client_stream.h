#pragma once

// The client's end of one tcp:// or tls:// connection: each call waits until
// it is done or its deadline has passed. A Connector makes them, so that the
// tcp client transport carries its frames the same way over clear text
// (MakeClearConnector) and over TLS (libtmclient_tls.so).

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "socket_io.h"
#include "tmclient/broker_config.h"
#include "tmclient/export.h"

namespace tmclient::net {

class TMCLIENT_INTERNAL Stream {
 public:
  virtual ~Stream();

  // The socket, for a shutdown from another thread that wakes a call.
  virtual int fd() const = 0;
  // Writes every byte of the vector. `iov` is consumed (modified).
  virtual Io SendAll(iovec* iov, int count, Clock::time_point deadline) = 0;
  // Reads exactly `size` bytes.
  virtual Io RecvAll(char* data, std::size_t size, Clock::time_point deadline) = 0;
  // Waits for bytes, then reads what has come, at most `capacity`; `got` > 0
  // on kOk. `mayBlock`: the wait may be the one the connection's read
  // timeout bounds (see Connector), which ends no later than `deadline`.
  virtual Io RecvSome(char* data, std::size_t capacity, Clock::time_point deadline, bool mayBlock,
                      std::size_t& got) = 0;
  // True when an idle connection is no longer usable: the peer closed it,
  // reset it, or sent bytes nobody asked for.
  virtual bool IsStale() = 0;
  // Sets the read timeout that bounds a RecvSome that may block. False when
  // the connection cannot take it.
  virtual bool SetReadTimeout(int64_t ms) = 0;
};

class TMCLIENT_INTERNAL Connector {
 public:
  virtual ~Connector();
  // Connects to `to` by `deadline`, with a read timeout of `readTimeoutMs`.
  // 0 with `out` set, or a library code (kErrConnectFailed, kErrTimeout,
  // kErrBadBrokerUrl, a TLS code) with `out` empty.
  virtual int Connect(const BrokerEndpoint& to, Clock::time_point deadline, int64_t readTimeoutMs,
                      std::unique_ptr<Stream>& out) const = 0;
};

// The library code for a ConnectTcp outcome (0 for kOk).
TMCLIENT_INTERNAL int ConnectCode(Connect c);

}  // namespace tmclient::net
