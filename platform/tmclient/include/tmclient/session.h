#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "tmclient/export.h"

// The signed-in session of this process. The host signs its operator in
// and sets the session here; from then on every request that any client
// object sends carries it in its envelope (docs/wire-format.md), whoever
// made the call. The module's own session pointer stays null.
namespace tmclient {

// The result a back office answers a call with when its session is
// missing, ended, expired or unknown: the operator must sign in again.
// Operators quote it: never change the value.
constexpr int kRcSessionRefused = 1008;

// Longest session a request can carry, in bytes.
constexpr std::size_t kMaxSessionSize = 255;

// Sets the session the next requests carry; "" for none. False (and the
// session unchanged) when it is longer than kMaxSessionSize. Thread-safe.
TMCLIENT_API bool SetSession(std::string_view token);
// The session requests carry now; "" for none.
TMCLIENT_API std::string CurrentSession();

// Runs `handler` on the calling thread, after the call returned its result,
// whenever a call_server is answered with kRcSessionRefused; an empty
// handler removes it. The session is left as it was: the handler decides
// (the host offers its sign-in dialog).
TMCLIENT_API void SetSessionRefusedHandler(std::function<void()> handler);

}  // namespace tmclient
