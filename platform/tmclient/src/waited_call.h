#pragma once

// The library's side of tmclient/call_wait.h: a call's I/O handed to a thread
// of the library while the installed hook waits for it.

#include <functional>

#include "tmclient/call_wait.h"

namespace tmclient {

// The hook a call made now on this thread waits through; null when there is
// none or it keeps the call blocking.
CallWaitHook* HookForThisCall();

// Runs `io` on a library thread while `hook` waits, and returns its result
// (kErrTransport when it throws). When the hook gives the call up, sets
// `abandoned` and returns kErrCallAbandoned at once; `io` then runs on alone,
// so it must own everything it uses (copies, shared pointers), and what it
// owns is released on its thread when it ends. Whatever way the call ends,
// `io` and what it captured are destroyed before its end is reported.
int WaitThrough(CallWaitHook& hook, std::function<int()> io, bool& abandoned);

}  // namespace tmclient
