#include "tmclient/broker_resolver.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>

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

// Writes `text` to standard error, once in the process's life.
void SayOnce(const std::string& text) {
  static std::mutex lock;
  static std::set<std::string> said;
  std::lock_guard guard(lock);
  if (said.insert(text).second) std::fprintf(stderr, "%s\n", text.c_str());
}

// A configuration file that cannot be used: `why` names it and the reason.
int Unusable(const std::string& why) {
  SayOnce("tmclient: a broker configuration cannot be used: " + why);
  return kErrUnknownBroker;
}

}  // namespace

int ResolveBroker(const std::string& brokerName, std::string& url, std::string* origin) {
  return ResolveBrokerWith(kSystemBrokerConfig, brokerName, url, origin);
}

int ResolveBrokerWith(const std::string& systemPath, const std::string& brokerName,
                      std::string& url, std::string* origin) {
  if (brokerName.empty()) return kErrUnknownBroker;
  auto take = [&](const std::string& found, const std::string& from) {
    url = WithBrokerName(found, brokerName);
    if (origin) *origin = from;
    return 0;
  };
  // Decides with the file's line for the name, or finds none.
  auto fromFile = [&](const BrokerConfig& config, const std::string& from) {
    const auto it = config.urls.find(brokerName);
    if (it != config.urls.end()) return take(it->second, from);
    SayOnce("tmclient: " + config.path + " has no line for the broker " + brokerName);
    return kErrUnknownBroker;
  };

  const BrokerConfig system = ReadBrokerConfig(systemPath);
  if (!system.error.empty()) return Unusable(system.error);
  if (system.found && system.locked.count(brokerName))
    return fromFile(system, system.path + " (locked there)");

  const std::string variable = BrokerEnvironmentVariable(brokerName);
  const char* env = std::getenv(variable.c_str());
  if (env != nullptr && *env != '\0') return take(env, "the environment variable " + variable);

  const std::string userPath = UserBrokerConfigPath();
  if (!userPath.empty()) {
    const BrokerConfig user = ReadBrokerConfig(userPath);
    if (!user.error.empty()) return Unusable(user.error);
    if (!user.found) return Unusable(user.path + ": named by TMCLIENT_CONF, does not exist");
    return fromFile(user, user.path);
  }
  if (system.found) return fromFile(system, system.path);

  SayOnce("tmclient: no broker configuration (" + systemPath +
          " does not exist): the broker names mean tcp://127.0.0.1:" +
          std::to_string(kDefaultBrokerPort));
  return take("tcp://127.0.0.1:" + std::to_string(kDefaultBrokerPort),
              "the built-in default (no configuration file)");
}

}  // namespace tmclient
