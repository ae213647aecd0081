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

// Resolves a broker name to a URL, the first of:
//   1. the system file's line for the name, when the system file
//      (kSystemBrokerConfig in broker_config.h) has `lock NAME`;
//   2. the environment override, when set and not empty;
//   3. the user's file (UserBrokerConfigPath()), when there is one: its line
//      for the name;
//   4. the system file, when it exists: its line for the name;
//   5. with no configuration file at all, "tcp://127.0.0.1:<kDefaultBrokerPort>"
//      (said once on standard error).
// A nats:// URL without broker= gets the name added as its broker. Returns 0
// and sets `url` and, if given, `origin` (where the URL came from, for people
// to read); or kErrUnknownBroker and leaves both as they were: an empty name;
// a file that decides and has no line for the name; or a configuration file
// that is named or exists but cannot be used (never a reason to fall back to
// the default), which is said once on standard error, naming the file. The
// URL itself is checked when it is opened.
TMCLIENT_API int ResolveBroker(const std::string& brokerName, std::string& url,
                               std::string* origin = nullptr);

// The same with the system file at `systemPath` (for tests).
TMCLIENT_INTERNAL int ResolveBrokerWith(const std::string& systemPath,
                                        const std::string& brokerName, std::string& url,
                                        std::string* origin);

}  // namespace tmclient
