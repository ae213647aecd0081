#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "tmclient/export.h"
#include "tmclient/service_handler.h"

namespace tmclient {

struct TcpServerOptions {
  std::string host = "127.0.0.1";          // address to listen on
  uint16_t port = 0;                       // 0: any free port (see TcpServer::port())
  int workers = 4;                         // threads running the handler
  std::size_t maxRequestSize = 16u << 20;  // larger request frames close the connection
  int64_t idleTimeoutMs = 120000;          // no request for this long: closed
  int64_t readTimeoutMs = 10000;           // a started frame must be complete by then
  int64_t writeTimeoutMs = 30000;          // a reply must be taken by the client by then
  // At the cap a new connection takes the place of the one idle the longest;
  // it is closed at once only when every connection has a request under way.
  int maxConnections = 4096;
};

// The server side of tcp:// brokers: accepts connections, reads
// length-prefixed request frames and runs the handler for each on one of its
// `workers` threads, which then writes the reply frame back on the same
// connection. At most `workers` requests run at once.
//
// A streaming handler's reply goes out as it is produced (see ReplyWriter),
// so that the client receives a large reply while the handler still works.
// A connection's requests are answered one after the other. A client that sends a
// malformed frame, a frame over maxRequestSize, or nothing at all within the
// timeouts is disconnected; other clients are not disturbed.
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
  // Stops accepting, lets requests that are running finish and send their
  // replies, then closes every connection and joins the threads. Idempotent.
  void Stop();

 private:
  class Impl;
  std::unique_ptr<Impl> pImpl;
};

}  // namespace tmclient
