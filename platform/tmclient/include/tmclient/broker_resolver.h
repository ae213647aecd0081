#pragma once

#include <string>

#include "tmclient/export.h"

namespace tmclient {

// Port of the direct tcp:// connection a broker name gets by default.
constexpr int kDefaultBrokerPort = 47100;

// The environment variable that overrides the URL of one broker name:
// "TMCLIENT_BROKER_" followed by the name in upper case, with every character
// other than a letter or a digit replaced by '_'.
TMCLIENT_API std::string BrokerEnvironmentVariable(const std::string& brokerName);

// Resolves a broker name to a URL: the environment override when set and not
// empty; else, when a configuration file exists (see BrokerConfigPath() in
// broker_config.h), its line for the name; else the default
// "tcp://127.0.0.1:<kDefaultBrokerPort>". A nats:// URL without broker= gets
// the name added as its broker. Returns 0 and sets `url`, or
// kErrUnknownBroker (empty name, or a configuration file without the name)
// and leaves `url` as it was. The URL itself is checked when it is opened.
TMCLIENT_API int ResolveBroker(const std::string& brokerName, std::string& url);

}  // namespace tmclient
