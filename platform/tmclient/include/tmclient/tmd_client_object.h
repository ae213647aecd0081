#pragma once

#include <memory>
#include <string>

#include "tmclient/export.h"

class tmb_stream;
struct STMSession;  // opaque; always null in this system

namespace tmclient {
class Transport;
}

// Base of the service proxies. Virtual slots, in order: destructor,
// call_server, bind, unbind, and a fifth argument-free operation.
class TMCLIENT_API CTmdClientObject {
 public:
  CTmdClientObject();
  virtual ~CTmdClientObject();
  CTmdClientObject(const CTmdClientObject&) = delete;
  CTmdClientObject& operator=(const CTmdClientObject&) = delete;

  // Sends the finished request `in` and fills `out` with the reply. Returns a
  // library failure code (-9999 .. -9971, no reply) or the server's result
  // (any other value, with a reply; 0 is success).
  virtual int call_server(const std::string& interfaceName, const std::string& serviceCode,
                          STMSession* session, tmb_stream& in, tmb_stream& out);
  virtual int bind(const std::string& interfaceName, const std::string& brokerName);
  virtual int unbind();
  virtual int reserved();  // the fifth slot; proxies override it

  bool is_bound() const;
  // Resolves the broker name (see docs/operations.md) and connects. 0 when
  // bound, else a library failure code.
  int bind_openBroker(const std::string& brokerName);
};
