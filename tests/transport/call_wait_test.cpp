// Calls that wait through a hook (tmclient/call_wait.h), as the toolkit's live
// wait does, against an in-process service and a tcp far end that holds its
// reply.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "test_servers.h"
#include "tmclient/broker_resolver.h"
#include "tmclient/call_wait.h"
#include "tmclient/inproc_transport.h"
#include "tmclient/tmb_stream.h"
#include "tmclient/tmd_client_object.h"
#include "tmclient/tmd_error.h"
#include "tmclient/transport.h"

namespace {

using namespace tmclient;
using namespace transport_test;

// Waits in poll() on the call's descriptor, as an event loop would, and gives
// the call up after `giveUpMs` (never when negative).
class PollHook : public CallWaitHook {
 public:
  bool bWaits = true;
  int iGiveUpMs = -1;
  int iWaits = 0;

  bool WaitsHere() override { return bWaits; }
  void Wait(PendingCall& call) override {
    ++iWaits;
    pollfd p{call.EndedFd(), POLLIN, 0};
    if (::poll(&p, 1, iGiveUpMs) == 0) {
      EXPECT_TRUE(call.Abandon());
    }
  }
};

class HookScope {
 public:
  explicit HookScope(CallWaitHook* hook) : pPrevious(SetCallWaitHook(hook)) {}
  ~HookScope() { SetCallWaitHook(pPrevious); }

 private:
  CallWaitHook* pPrevious;
};

int Call(CTmdClientObject& client, std::string& reply) {
  tmb_stream in, out;
  in.open();
  in.begin_stream("op.ParamIn");
  in << 1;
  in.end_stream();
  const int rc = client.call_server("I", "C", nullptr, in, out);
  if (rc == 0) reply = out.bytes();
  return rc;
}

TEST(CallWaitHook, TheIoRunsWhereTheHookSaysAndAnswersAsBefore) {
  std::thread::id served;
  RegisterInProcessService(
      "waits", [&](const std::string&, const std::string&, std::string_view, std::string& reply) {
        served = std::this_thread::get_id();
        reply = "answer";
        return 0;
      });
  EnvGuard broker(BrokerEnvironmentVariable("WAITS").c_str(), "inproc://waits");
  struct Case {
    bool hook, waits, offThread;
  };
  for (const Case c :
       {Case{false, false, false}, Case{true, false, false}, Case{true, true, true}}) {
    PollHook hook;
    hook.bWaits = c.waits;
    HookScope scope(c.hook ? &hook : nullptr);
    CTmdClientObject client;
    ASSERT_EQ(client.bind_openBroker("WAITS"), 0);
    std::string reply;
    EXPECT_EQ(Call(client, reply), 0);
    EXPECT_EQ(reply, "answer");
    EXPECT_EQ(served != std::this_thread::get_id(), c.offThread) << c.hook << c.waits;
    EXPECT_EQ(hook.iWaits, c.waits ? 2 : 0);  // the bind's connect and the call
  }
  RegisterInProcessService("waits", nullptr);
}

TEST(CallWaitHook, AGivenUpCallEndsAtOnceAndDropsItsConnection) {
  // The first request is never answered: the far end waits for its client to
  // go away. Every other reply carries the number of the request it answers.
  std::mutex lock;
  std::vector<uint32_t> callIds;
  std::atomic<int> connections{0};
  std::atomic<bool> dropped{false};
  RawTcpServer far([&](int fd) {
    ++connections;
    std::string body;
    while (ReadFrame(fd, body)) {
      size_t k;
      {
        std::lock_guard g(lock);
        callIds.push_back(CallIdOf(body));
        k = callIds.size();
      }
      if (k == 1) {
        pollfd p{fd, POLLIN, 0};
        char c;
        dropped = ::poll(&p, 1, 10000) == 1 && ::recv(fd, &c, 1, 0) == 0;
        return;
      }
      WriteAll(fd, ReplyFrame(CallIdOf(body), static_cast<uint32_t>(k), "x"));
    }
  });
  EnvGuard broker(BrokerEnvironmentVariable("HELD").c_str(), far.Url());
  PollHook hook;
  HookScope scope(&hook);
  CTmdClientObject client;
  ASSERT_EQ(client.bind_openBroker("HELD"), 0);

  hook.iGiveUpMs = 50;
  std::string reply;
  EXPECT_EQ(Call(client, reply), kErrCallAbandoned);
  EXPECT_TRUE(client.is_bound());
  EXPECT_TRUE(WaitFor(dropped));  // the far end saw the connection go

  hook.iGiveUpMs = -1;
  EXPECT_EQ(Call(client, reply), 2);  // the second request's own answer
  EXPECT_EQ(connections, 2);
  std::lock_guard g(lock);
  ASSERT_EQ(callIds.size(), 2u);
  EXPECT_NE(callIds[0], callIds[1]);
}

TEST(CallWaitHook, ABindWhoseConnectHangsIsGivenUpAndLeavesTheObjectUnbound) {
  // A scheme whose connect takes until the test lets it go.
  std::atomic<bool> release{false}, opened{false};
  RegisterTransportScheme("hangs", [&](const std::string& url, std::unique_ptr<Transport>& out) {
    WaitFor(release);
    opened = true;
    return OpenTransport("inproc://" + url.substr(8), out);
  });
  EnvGuard broker(BrokerEnvironmentVariable("HANGS").c_str(), "hangs://svc");
  PollHook hook;
  hook.iGiveUpMs = 50;
  HookScope scope(&hook);
  CTmdClientObject client;
  EXPECT_EQ(client.bind_openBroker("HANGS"), kErrCallAbandoned);
  EXPECT_FALSE(client.is_bound());
  std::string reply;
  EXPECT_EQ(Call(client, reply), kErrNotBound);
  release = true;
  EXPECT_TRUE(WaitFor(opened));  // the abandoned connect ends on its own thread
  RegisterTransportScheme("hangs", nullptr);
}

}  // namespace
