// The tcp server's parts that decide who waits for whom and what it holds:
// the queue of reply bytes a socket has not taken, a connection's bytes, and
// the threads that stand in for requests waiting for their clients. Built from the library's
// sources, which it does not export.

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "envelope.h"
#include "out_queue.h"
#include "tcp_connection.h"
#include "worker_threads.h"

namespace {

using tmclient::WorkerThreads;
using tmclient::net::Io;
using tmclient::net::OutQueue;

// A connected pair of non-blocking stream sockets with small buffers.
struct SocketPair {
  SocketPair() {
    socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds);
    int small = 16 * 1024;
    setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  }
  ~SocketPair() {
    for (int fd : fds)
      if (fd >= 0) close(fd);
  }
  // Reads what has come on the far end.
  std::string Drain() {
    std::string got;
    char buf[65536];
    ssize_t n;
    while ((n = recv(fds[1], buf, sizeof buf, 0)) > 0) got.append(buf, static_cast<size_t>(n));
    return got;
  }
  int fds[2] = {-1, -1};
};

std::string Bytes(size_t n, char seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i * 31 + i / 977);
  return s;
}

// Frames of every size, written while the far end reads only now and then:
// what the socket refuses waits, and everything arrives once, in order.
TEST(OutQueue, EveryByteArrivesOnceInOrder) {
  SocketPair pair;
  auto channel = tmclient::net::MakeClearChannel(pair.fds[0]);
  OutQueue out;
  std::string expected, received;
  for (int i = 0; i < 200; ++i) {
    const std::string head = "H" + std::to_string(i);
    std::string body = Bytes(static_cast<size_t>(i * 797 % 40000), static_cast<char>(i));
    expected += head + body;
    const Io io = i % 2 ? out.Write(*channel, head, std::string_view(body))
                        : out.Write(*channel, head, std::move(body));
    ASSERT_EQ(io, Io::kOk) << i;
    if (i % 7 == 0) received += pair.Drain();
  }
  EXPECT_FALSE(out.empty());  // far more than the socket holds
  while (!out.empty()) {
    received += pair.Drain();
    pollfd p{pair.fds[0], POLLOUT, 0};
    ASSERT_EQ(poll(&p, 1, 1000), 1);
    bool taken = false;
    ASSERT_EQ(out.Flush(*channel, taken), Io::kOk);
  }
  received += pair.Drain();
  EXPECT_EQ(out.size(), 0u);
  EXPECT_TRUE(received == expected) << received.size() << " of " << expected.size();
}

TEST(OutQueue, APeerThatIsGoneIsReported) {
  SocketPair pair;
  auto channel = tmclient::net::MakeClearChannel(pair.fds[0]);
  OutQueue out;
  ASSERT_EQ(out.Write(*channel, "x", Bytes(1 << 20, 'a')), Io::kOk);
  ASSERT_FALSE(out.empty());
  close(pair.fds[1]);
  pair.fds[1] = -1;
  bool taken = true;
  EXPECT_EQ(out.Flush(*channel, taken), Io::kClosed);
  EXPECT_EQ(out.Write(*channel, "y", std::string_view("z")), Io::kClosed);
  out.Clear();
  EXPECT_TRUE(out.empty());
}

// A connection reads no further than its limit however much the peer sends,
// gives back the memory of a large frame once it is taken out, and keeps its
// server's count of bytes held exact through reads, replies and release.
TEST(Connection, HoldsNoMoreThanItsLimitAndCountsWhatItHolds) {
  SocketPair pair;
  std::atomic<std::size_t> held{0};
  auto c = std::make_unique<tmclient::Connection>(held);
  c->iFd = pair.fds[0];
  c->pChannel = tmclient::net::MakeClearChannel(pair.fds[0]);
  std::string frame;
  tmclient::envelope::PutU32(frame, 60000);
  frame += Bytes(60000, 'f');
  ASSERT_EQ(send(pair.fds[1], frame.data(), frame.size(), 0), ssize_t(frame.size()));
  ASSERT_EQ(send(pair.fds[1], "next", 4, 0), 4);
  EXPECT_EQ(c->ReadAll(1000), tmclient::Connection::Read::kOpen);
  EXPECT_EQ(c->sIn.size(), 1000u);
  EXPECT_EQ(held.load(), 1000u);
  EXPECT_EQ(c->ReadAll(frame.size()), tmclient::Connection::Read::kOpen);
  ASSERT_TRUE(c->HasWholeFrame());
  EXPECT_EQ(held.load(), frame.size());

  std::string body;
  c->TakeFrame(60000, body);
  EXPECT_TRUE(body == frame.substr(4));
  EXPECT_EQ(c->ReadAll(64 * 1024), tmclient::Connection::Read::kOpen);
  EXPECT_EQ(c->sIn, "next");
  EXPECT_LE(c->sIn.capacity(), 16u * 1024);
  EXPECT_EQ(held.load(), 4u);

  ASSERT_TRUE(c->Send("", Bytes(1 << 20, 'r')));  // more than the socket takes
  EXPECT_EQ(held.load(), 4 + c->cOut.size());
  pair.Drain();
  ASSERT_TRUE(c->Flush());
  EXPECT_EQ(held.load(), 4 + c->cOut.size());
  c.reset();  // a connection that goes away gives back what it held
  EXPECT_EQ(held.load(), 0u);
}

// Threads that stay in serveOne until released, counted.
class Holding {
 public:
  void Serve() {
    std::unique_lock lock(mLock);
    ++iInside;
    iMost = std::max(iMost, iInside);
    cvChanged.notify_all();
    cvChanged.wait(lock, [this] { return bReleased; });
    --iInside;
  }
  bool WaitForInside(int n) {
    std::unique_lock lock(mLock);
    return cvChanged.wait_for(lock, std::chrono::seconds(10), [&] { return iInside == n; });
  }
  void Release() {
    std::lock_guard lock(mLock);
    bReleased = true;
    cvChanged.notify_all();
  }
  int most() {
    std::lock_guard lock(mLock);
    return iMost;
  }

 private:
  std::mutex mLock;
  std::condition_variable cvChanged;
  int iInside = 0, iMost = 0;
  bool bReleased = false;
};

// Two workers, each request paused waiting for its client has a thread stand
// in for it, at most two of them; none is left behind by Stop.
TEST(WorkerThreads, StandInsForPausedRequestsUpToTheirLimit) {
  Holding holding;
  WorkerThreads threads(2, 2, [&] { holding.Serve(); });
  threads.Start();
  ASSERT_TRUE(holding.WaitForInside(2));
  threads.Pause();
  ASSERT_TRUE(holding.WaitForInside(3));
  threads.Pause();
  threads.Pause();  // beyond the stand-ins allowed: waits where it is
  ASSERT_TRUE(holding.WaitForInside(4));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(holding.most(), 4);
  for (int i = 0; i < 3; ++i) threads.Resume();
  holding.Release();
  threads.Stop();
  EXPECT_EQ(holding.most(), 4);
}

}  // namespace
