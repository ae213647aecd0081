#include "tmclient/broker_resolver.h"

#include <cstdlib>

#include "tmclient/broker_config.h"
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

namespace {

// A nats:// URL names the broker whose services it reaches; by default the
// broker's own name.
std::string WithBrokerName(const std::string& url, const std::string& brokerName) {
  BrokerUrl parsed;
  if (!ParseBrokerUrl(url, parsed) || parsed.scheme != "nats" || !parsed.broker.empty() ||
      !IsValidBrokerToken(brokerName))
    return url;
  return url + (url.find('?') == std::string::npos ? "?broker=" : "&broker=") + brokerName;
}

}  // namespace

int ResolveBroker(const std::string& brokerName, std::string& url) {
  if (brokerName.empty()) return kErrUnknownBroker;
  const char* env = std::getenv(BrokerEnvironmentVariable(brokerName).c_str());
  if (env != nullptr && *env != '\0') {
    url = WithBrokerName(env, brokerName);
    return 0;
  }
  const BrokerConfig config = ReadBrokerConfig(BrokerConfigPath());
  if (config.found) {
    const auto it = config.urls.find(brokerName);
    if (it == config.urls.end()) return kErrUnknownBroker;
    url = WithBrokerName(it->second, brokerName);
    return 0;
  }
  url = "tcp://127.0.0.1:" + std::to_string(kDefaultBrokerPort);
  return 0;
}

}  // namespace tmclient
