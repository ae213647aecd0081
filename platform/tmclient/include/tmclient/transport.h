#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "tmclient/export.h"

namespace tmclient {

// Carries one request frame to the far end and returns its reply frame.
// Implementations: in-process (tests, embedded use), tcp://, nats://.
// Fault-injecting transports for tests implement the same interface.
class TMCLIENT_API Transport {
 public:
  virtual ~Transport();

  // Returns a library failure code (-9999 .. -9971) with no reply, or the
  // server's result (any other value, 0 on success) with `reply` holding the
  // bytes of the reply stream. The server's result travels in the frame.
  virtual int Call(const std::string& interfaceName, const std::string& serviceCode,
                   std::string_view request, std::string& reply) = 0;
};

}  // namespace tmclient
