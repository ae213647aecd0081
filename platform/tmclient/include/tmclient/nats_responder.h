#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "tmclient/export.h"
#include "tmclient/service_handler.h"

namespace tmclient {

struct NatsResponderOptions {
  // nats://HOST:PORT[,HOST:PORT...][?ca=FILE&creds=FILE] (other options are
  // ignored)
  std::string url;
  std::string broker;  // subject prefix and queue group, e.g. "TALMIRON"
  int workers = 4;     // threads running the handler, each a member of the queue group
  // Largest message the responder publishes; the server's max_payload caps
  // it too. Longer replies go out in parts that the client puts together.
  std::size_t maxMessageSize = 1u << 20;
  // The largest request stream taken; a longer request is answered with
  // kErrRequestTooLarge. The requests that may wait for a worker are bounded
  // in bytes by a multiple of it.
  std::size_t maxRequestSize = 1u << 20;
};

// What a NatsResponder has done and holds, for its operators.
struct NatsResponderStats {
  bool connected = false;   // to one of the servers just now
  uint64_t reconnects = 0;  // since Start()
  int64_t queued = 0;       // requests received that no worker has taken yet
};

// The server side of nats:// brokers: each worker subscribes to "BROKER.*"
// in the queue group "BROKER", so that the server hands each request to one
// worker of one of the instances that run, and answers on the request's
// reply subject.
//
// A reply longer than one message goes out in parts. When a reply cannot be
// published, a short error message (kErrServiceFailed) goes out instead, so
// that the caller learns at once rather than at its deadline.
class TMCLIENT_API NatsResponder {
 public:
  NatsResponder(ServiceHandler handler, NatsResponderOptions options);
  // A streamed reply is put together first, then sent like any other.
  NatsResponder(StreamingServiceHandler handler, NatsResponderOptions options);
  // Stop()s.
  ~NatsResponder();
  NatsResponder(const NatsResponder&) = delete;
  NatsResponder& operator=(const NatsResponder&) = delete;

  // Connects and subscribes; returns once the server knows the subscription.
  // False (with `error`, if given, saying why) when the server cannot be
  // reached or the options are wrong.
  bool Start(std::string* error = nullptr);
  // Takes no new requests, answers those already received, then closes the
  // connection. Idempotent.
  void Stop();
  // Safe from any thread between Start() and Stop().
  NatsResponderStats stats() const;

 private:
  class Impl;
  std::unique_ptr<Impl> pImpl;
};

}  // namespace tmclient
