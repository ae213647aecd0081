#pragma once

// Non-blocking socket primitives bounded by a deadline, shared by the tcp
// client transport and the tcp server.

#include <sys/uio.h>

#include <chrono>  // this header is only for sources built without GBK
#include <cstddef>
#include <cstdint>
#include <string>

#include "tmclient/export.h"

namespace tmclient::net {

using Clock = std::chrono::steady_clock;

enum class Io {
  kOk,
  kTimeout,  // the deadline passed first
  kClosed,   // the peer closed (or reset) the connection
  kError,    // any other socket error
};

enum class Connect {
  kOk,
  kRefused,  // nobody listens there, or the host cannot be reached
  kTimeout,
  kBadAddress,  // the host name does not resolve
};

// Connects to host:port, trying each address the name resolves to. On kOk
// `fd` is a non-blocking socket with TCP_NODELAY set; the caller owns it.
// The functions below work the same on blocking sockets: only RecvWaiting
// ever blocks in a socket call.
TMCLIENT_INTERNAL Connect ConnectTcp(const std::string& host, unsigned port,
                                     Clock::time_point deadline, int& fd);

// Hands the socket what it takes of the vector now, without waiting (a call
// a signal interrupts is made again): kOk with the bytes taken in `sent`, 0
// when the socket has no room; else the failure.
Io SendNow(int fd, const iovec* iov, int count, std::size_t& sent);
// Writes every byte of the vector. `iov` is consumed (modified).
Io SendAll(int fd, iovec* iov, int count, Clock::time_point deadline);
// Reads exactly `size` bytes.
Io RecvAll(int fd, char* data, std::size_t size, Clock::time_point deadline);
// Waits for bytes, then reads what has come, at most `capacity`; `got` > 0
// on kOk.
Io RecvSome(int fd, char* data, std::size_t capacity, Clock::time_point deadline, std::size_t& got);

// Makes `fd` blocking, with reads giving up after `ms` milliseconds.
TMCLIENT_INTERNAL bool SetReadTimeout(int fd, int64_t ms);
// One read on a blocking socket, which waits at most its read timeout (one
// system call where a wait and a read take two). kTimeout when nothing came;
// kOk with `got` 0 when a signal interrupted the wait.
Io RecvWaiting(int fd, char* data, std::size_t capacity, std::size_t& got);

// True when an idle connection is no longer usable: the peer closed it, reset
// it, or sent bytes nobody asked for.
bool IsStale(int fd);

// What a socket call's errno means: kClosed for the peer's close or reset.
TMCLIENT_INTERNAL Io IoOfErrno(int err);

// Milliseconds left until `deadline`, rounded up, for poll(); 0 when passed.
TMCLIENT_INTERNAL int RemainingMs(Clock::time_point deadline);

void SetNonBlocking(int fd);
TMCLIENT_INTERNAL void CloseFd(int& fd);

}  // namespace tmclient::net
