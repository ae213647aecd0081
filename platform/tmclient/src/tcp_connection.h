#pragma once

// One client connection of TcpServer. Every member is guarded by `mLock`, and
// the socket is used only under it: a connection closed meanwhile shows iFd -1,
// and its number, which a new connection may already have, is never used.
// Its bytes cross the socket through `pChannel` (clear text or TLS). The bytes
// it holds, in and out, count in its server's budget.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "channel.h"
#include "lock_order.h"
#include "out_queue.h"
#include "socket_io.h"

namespace tmclient {

struct Connection {
  explicit Connection(std::atomic<std::size_t>& buffered) : iBuffered(buffered) {}
  ~Connection() { Release(); }

  enum class Read {
    kOpen,    // the socket is empty for now
    kEnded,   // the client sends nothing more
    kFailed,  // reset, or a socket error: nobody is left to answer
  };

  // Reads until the socket is empty or ends, or `sIn` holds `limit` bytes
  // (never more). Without `untilEmpty`, a read that leaves room in its buffer ends it: the
  // socket had nothing more just then, and bytes or an end of input arriving
  // later wake a worker again (the registration is edge-triggered). Only an
  // end of input or an error that epoll has announced already, and bytes left
  // behind at `limit`, need the reads that find them.
  Read ReadAll(std::size_t limit, bool untilEmpty = true);
  // Reads what has come and drops it, until the socket is empty or ends or
  // iDropped reaches `limit`.
  Read Discard(std::size_t limit);
  // Whether `sIn` starts with a whole frame.
  bool HasWholeFrame() const;
  // Moves the frame body of `length` bytes at the start of `sIn` to `body`;
  // `sIn` gives back the memory a large frame took.
  void TakeFrame(std::size_t length, std::string& body);
  // Drops every byte held, in and out.
  void Release();
  // Queues bytes behind any reply bytes waiting, sending what the socket
  // takes now. False when the socket failed.
  template <class Body>
  bool Send(std::string_view head, Body&& body) {
    const bool wasEmpty = cOut.empty();
    if (cOut.Write(*pChannel, head, std::forward<Body>(body)) != net::Io::kOk) return false;
    if (wasEmpty && !cOut.empty()) tLastTaken = net::Clock::now();
    tLastProgress = net::Clock::now();
    Recount();
    return true;
  }
  // Sends what waits, as far as the socket takes it. False when it failed.
  bool Flush();
  // Says goodbye through the channel and closes the socket.
  void CloseSocket();
  // Neither a request under way nor bytes on their way in or out.
  bool idle() const { return !bRunning && !bEnded && sIn.empty() && cOut.empty(); }
  // Bytes held in and out, as counted in the server's budget.
  std::size_t held() const { return iHeld; }

  RankedMutex<LockRank::kConnection> mLock;
  // A streamed reply waits here for room in `cOut`; notified on every flush
  // that makes room and when the connection closes.
  RankedCondition cvRoom;
  int iFd = -1;
  std::unique_ptr<net::Channel> pChannel;  // set while iFd is open
  std::string sPeer;  // "tcp:ADDRESS:PORT" as accept() saw it; set once, before any request
  std::string sIn;    // received and not yet answered: frames, the last maybe partial
  net::OutQueue cOut;
  bool bRunning = false;  // a worker is answering one of its requests
  bool bEnded = false;    // nothing more is read: the client ended, or the server stops
  // Refused for a frame over the size limit: its error frame goes out, the
  // sending side is shut, and what the client still sends is read and
  // dropped until it closes, for a bounded time and number of bytes.
  bool bRefused = false;
  bool bWriteShut = false;   // the error frame went out and the sending side is shut
  std::size_t iDropped = 0;  // bytes read and dropped since
  net::Clock::time_point tRefused;
  net::Clock::time_point tAccepted;
  net::Clock::time_point tLastActivity;  // accepted, or the last reply queued
  net::Clock::time_point tFrameStart;    // the first bytes of the partial frame in `sIn` came
  net::Clock::time_point tLastTaken;     // `cOut` last shrank or stopped being empty
  // Bytes came, a reply was queued or the client took reply bytes.
  net::Clock::time_point tLastProgress;

 private:
  // Brings the server's count up to date with what `sIn` and `cOut` hold.
  void Recount();

  std::atomic<std::size_t>& iBuffered;  // the server's: every connection's bytes
  std::size_t iHeld = 0;                // this one's share of it
};

}  // namespace tmclient
