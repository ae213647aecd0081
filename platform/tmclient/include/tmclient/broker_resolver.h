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
// empty, else the default "tcp://127.0.0.1:<kDefaultBrokerPort>". Returns 0
// and sets `url`, or kErrUnknownBroker (empty name) and leaves `url` as it was.
TMCLIENT_API int ResolveBroker(const std::string& brokerName, std::string& url);

}  // namespace tmclient
