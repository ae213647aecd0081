#include "tmclient/broker_resolver.h"

#include <cstdlib>

#include "tmclient/tmd_error.h"

namespace tmclient {

std::string BrokerEnvironmentVariable(const std::string& brokerName) {
  std::string var = "TMCLIENT_BROKER_";
  for (char c : brokerName) {
    if (c >= 'a' && c <= 'z') {
      var += static_cast<char>(c - 'a' + 'A');
    } else if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
      var += c;
    } else {
      var += '_';
    }
  }
  return var;
}

int ResolveBroker(const std::string& brokerName, std::string& url) {
  if (brokerName.empty()) return kErrUnknownBroker;
  const char* env = std::getenv(BrokerEnvironmentVariable(brokerName).c_str());
  if (env != nullptr && *env != '\0') {
    url = env;
    return 0;
  }
  url = "tcp://127.0.0.1:" + std::to_string(kDefaultBrokerPort);
  return 0;
}

}  // namespace tmclient
