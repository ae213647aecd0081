#pragma once

// How a caller waits for a remote call. Without a hook, call_server (and the
// connect of bind) blocks the calling thread in the transport until the call
// ends. A program whose thread must stay alive meanwhile (a GUI's event loop)
// installs a CallWaitHook: the call's I/O then runs on a thread of the
// library, and the calling thread waits in the hook, which may keep handling
// its own events and may give the call up. The library knows nothing of the
// program's event loop; the hook knows nothing of transports.
//
// Protocol of one call through a hook:
//   1. the library asks the hook WaitsHere() on the calling thread;
//      false: the call blocks as without a hook;
//   2. true: the I/O starts on a library thread and the calling thread enters
//      Wait(call), which returns once call.Ended() or after call.Abandon();
//   3. an abandoned call returns kErrCallAbandoned at once. Its request is
//      given up (Transport::Abandon): the connection that carried it is shut
//      down at once (tcp://; a NATS call stops listening for its reply) and
//      never used again (the next call makes a new one), so a late reply can
//      never be taken for another call's. Nothing of it reaches the caller.

#include "tmclient/export.h"

namespace tmclient {

// One call in progress, as its waiting caller sees it. Every member is
// thread-safe; the object lives until Wait returns.
class TMCLIENT_API PendingCall {
 public:
  // True once the call's I/O has ended (with whatever result).
  virtual bool Ended() const = 0;
  // Blocks the calling thread until the call ends or `ms` milliseconds have
  // passed; returns Ended(). For hooks that let a quick call finish before
  // they start an event loop.
  virtual bool WaitEnded(int ms) = 0;
  // A descriptor that becomes readable once the call has ended, for an event
  // loop to watch. Owned by the call: never read, write or close it. -1 when
  // none could be made (then poll Ended()).
  virtual int EndedFd() = 0;
  // Gives the call up. False when it had already ended: the result stands.
  virtual bool Abandon() = 0;
  virtual bool Abandoned() const = 0;

 protected:
  ~PendingCall() = default;
};

class TMCLIENT_API CallWaitHook {
 public:
  virtual ~CallWaitHook();
  // Called on the calling thread before anything is sent: whether this call
  // is to wait through Wait. False keeps the blocking call.
  virtual bool WaitsHere() = 0;
  // Waits on the calling thread until `call` has ended, or gives it up with
  // call.Abandon() and returns. Returning otherwise counts as giving it up.
  // Must not throw.
  virtual void Wait(PendingCall& call) = 0;
};

// Installs `hook` for every call of the process (not owned; null removes it)
// and returns the previous one. A call keeps the hook it started with: the
// hook must outlive its calls.
TMCLIENT_API CallWaitHook* SetCallWaitHook(CallWaitHook* hook);
TMCLIENT_API CallWaitHook* GetCallWaitHook();

}  // namespace tmclient
