#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "tmclient/export.h"
#include "tmclient/service_handler.h"

// Locks inside a TcpServer, and the only order in which a thread may hold
// them together (a lock is never taken while one further down is held):
//
//   1. a connection's lock (Connection::lock: its socket, buffers, state);
//   2. the map of connections (taken to close a connection whose lock is
//      held, or alone to find or count connections);
//   3. the worker threads' lock (WorkerThreads: a streamed reply that waits
//      for its client, under its connection's lock, has a thread stand in).
//
// Whatever holds the map and needs a connection (the stats, closing the
// connection idle the longest) only tries its lock and passes over one that
// is busy, so it never waits against this order; the sweeper copies the map
// and lets it go before it visits the connections the same way. The
// sweeper's own lock only guards its wake-up and is held with no other.
// A handler runs with none of them held. Builds with assertions check the
// order on every lock taken (lock_order.h).

namespace tmclient {

namespace net {
class Channel;
}

// What a TcpServer puts between each socket it accepts and its frames: TLS
// (tmclient/tls_server.h). A server without one speaks clear text.
class TMCLIENT_API ChannelLayer {
 public:
  virtual ~ChannelLayer();
  // The channel over `fd`, a socket just accepted (non-blocking; the server
  // closes it after the channel is gone).
  virtual std::unique_ptr<net::Channel> Open(int fd) const = 0;
};

struct TcpServerOptions {
  std::string host = "127.0.0.1";  // address to listen on
  uint16_t port = 0;               // 0: any free port (see TcpServer::port())
  int workers = 4;                 // threads running the handler
  // The largest request stream taken; a frame longer than it and the largest
  // envelope (envelope::kMaxRequestHeaderSize: names and session) closes the
  // connection, refused on its announced length before its bytes are read.
  std::size_t maxRequestSize = 16u << 20;
  int64_t idleTimeoutMs = 120000;  // no request for this long: closed
  int64_t readTimeoutMs = 10000;   // a started frame must be complete by then
  int64_t writeTimeoutMs = 30000;  // a client that takes no reply bytes for this long: closed
  // At the cap a new connection takes the place of the one idle the longest;
  // it is closed at once only when every connection has a request under way.
  int maxConnections = 4096;
  // Reply bytes one connection may have waiting before a streaming handler
  // waits for the client, and before its next request is taken up.
  std::size_t maxQueuedBytes = 1u << 20;
  // Threads that may stand in for handlers waiting for their clients.
  int maxStandIns = 32;
  // Bytes all connections together may hold, received and not yet answered
  // or waiting to be sent; past it the connections quiet the longest are
  // closed first.
  std::size_t maxBufferedBytes = 256u << 20;
  // TLS on every connection; none: clear text. A TLS handshake must be done
  // within readTimeoutMs of the connection.
  std::shared_ptr<const ChannelLayer> layer = nullptr;
};

// The open files a TcpServer with `options` holds at most: one per
// connection, four of its own (the listener, the epoll set, the wake-up and
// the spare it keeps for turning a connection away at the process's file
// limit), and `filesPerHandler` for each thread that may run the handler at
// once (the workers and the stand-ins), for what the handler opens (a
// database connection's files, say).
TMCLIENT_API uint64_t TcpServerOpenFiles(const TcpServerOptions& options, int filesPerHandler);

// What a TcpServer holds and has done, for its operators. The gauges are
// read when asked (connections a worker holds at that moment count as
// active); the counters count since Start().
struct TcpServerStats {
  int64_t active = 0;            // connections with a request or reply bytes under way
  int64_t idle = 0;              // connections waiting for their next request
  int64_t queued = 0;            // connections holding a whole request no worker has taken yet
  int64_t standIns = 0;          // threads standing in for handlers waiting for their clients
  int64_t buffered = 0;          // bytes held by all connections, in and out
  uint64_t evicted = 0;          // idle connections closed to make room for new ones
  uint64_t resetNotReading = 0;  // clients dropped for taking none of their replies
  uint64_t shed = 0;             // connections closed because all held too many bytes
};

// The server side of tcp:// brokers: accepts connections, reads
// length-prefixed request frames and runs the handler for each on one of its
// `workers` threads. A connection's requests are answered one after the
// other, in order.
//
// No thread waits for a client's socket: what the socket does not take of a
// reply waits with its connection and goes out when the client reads. A
// streaming handler's reply goes out as it is produced (see ReplyWriter), so
// that the client receives a large reply while the handler still works; when
// the client falls more than maxQueuedBytes behind, the handler waits for it,
// and another thread stands in for it meanwhile. A client that sends a
// malformed frame, a frame over maxRequestSize, nothing within the timeouts
// (a TLS handshake that stalls included),
// or takes nothing of its reply for writeTimeoutMs is disconnected (a handler
// waiting for it then stops); other clients are not disturbed. When the
// connections together hold more than maxBufferedBytes, those quiet the
// longest are disconnected until they hold less.
class TMCLIENT_API TcpServer {
 public:
  TcpServer(ServiceHandler handler, TcpServerOptions options = {});
  TcpServer(StreamingServiceHandler handler, TcpServerOptions options = {});
  // Stop()s.
  ~TcpServer();
  TcpServer(const TcpServer&) = delete;
  TcpServer& operator=(const TcpServer&) = delete;

  // Listens and starts the threads. False (with `error`, if given, saying
  // why) when the address cannot be bound; the server is then stopped.
  bool Start(std::string* error = nullptr);
  // The port listened on (after a successful Start()).
  uint16_t port() const;
  // Cheap enough to call for every scrape; safe from any thread while the
  // server runs.
  TcpServerStats stats() const;
  // Stops accepting (new connections are refused), answers every request
  // already received, closes each connection once its last reply has gone
  // (or its client took nothing for writeTimeoutMs), and joins the threads.
  // Idempotent.
  void Stop();

 private:
  class Impl;
  std::unique_ptr<Impl> pImpl;
};

}  // namespace tmclient
