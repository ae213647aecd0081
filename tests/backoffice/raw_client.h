#pragma once

// A client that speaks the tcp framing by hand, for the clients the proxies
// never are: half-closed, idle, pipelining, never reading. And what a test can
// see of a server process from outside: its open sockets and its memory.
#include <arpa/inet.h>
#include <dirent.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "tmclient/session.h"

namespace raw {

// A blocking connection to 127.0.0.1:port whose reads wait at most 20 s;
// -1 when it cannot connect. `receiveBuffer` > 0 shrinks the socket's
// receive buffer, for a client that should fall behind quickly.
inline int Connect(int port, int receiveBuffer = 0) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (receiveBuffer > 0)
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  timeval tv{20, 0};  // a bound on every read, not an expectation
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  return fd;
}

inline void SendAll(int fd, std::string_view bytes) {
  size_t off = 0;
  while (off < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return;
    off += static_cast<size_t>(n);
  }
}

inline void Put32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}

inline uint32_t Get32(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return uint32_t(u[0]) | uint32_t(u[1]) << 8 | uint32_t(u[2]) << 16 | uint32_t(u[3]) << 24;
}

// A frame that announces `length` bytes, followed by `body` (which may be
// shorter or longer, for tests of broken frames).
inline std::string Frame(uint32_t length, std::string_view body) {
  std::string f;
  Put32(f, length);
  return f.append(body);
}

// A whole request frame (docs/wire-format.md) carrying the process's
// session; or, with `withSession` false, a request of a client from before
// sessions.
inline std::string RequestFrame(uint32_t callId, std::string_view iface, std::string_view code,
                                std::string_view stream, bool withSession = true) {
  std::string body(withSession ? "A" : "Q");
  Put32(body, callId);
  body.push_back(static_cast<char>(iface.size()));
  body.append(iface);
  body.push_back(static_cast<char>(code.size()));
  body.append(code);
  if (withSession) {
    const std::string session = tmclient::CurrentSession();
    body.push_back(static_cast<char>(session.size()));
    body.append(session);
  }
  body.append(stream);
  return Frame(static_cast<uint32_t>(body.size()), body);
}

// Reads one length-prefixed frame's body; false on end of input, an error
// or the read timeout.
inline bool ReadFrame(int fd, std::string& body) {
  auto readAll = [fd](char* p, size_t n) {
    while (n > 0) {
      ssize_t got = recv(fd, p, n, 0);
      if (got <= 0) return false;
      p += got;
      n -= static_cast<size_t>(got);
    }
    return true;
  };
  char prefix[4];
  if (!readAll(prefix, 4)) return false;
  body.resize(Get32(prefix));
  return readAll(body.data(), body.size());
}

// The kind byte and the result of a reply frame that carries one ('R', 'F').
inline char KindOf(const std::string& body) {
  return body.empty() ? '\0' : body[0];
}
inline int32_t ResultOf(const std::string& body) {
  return body.size() >= 9 ? static_cast<int32_t>(Get32(body.data() + 5)) : -1;
}

// Reads the frames of one reply up to its last ('R', 'F' or 'E'); that last
// frame's body, or "" when the connection ended first.
inline std::string ReadReply(int fd) {
  std::string body;
  while (ReadFrame(fd, body)) {
    char k = KindOf(body);
    if (k == 'R' || k == 'F' || k == 'E') return body;
  }
  return "";
}

// True when the peer closed the connection, after any bytes it sent first.
inline bool ClosedByPeer(int fd) {
  char buf[64 * 1024];
  for (int i = 0; i < 100000; ++i) {
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n == 0) return true;
    if (n < 0) return errno == ECONNRESET;  // closed with our bytes unread
  }
  return false;
}

// The sockets process `pid` holds open.
inline int OpenSockets(pid_t pid) {
  std::string dir = "/proc/" + std::to_string(pid) + "/fd";
  DIR* d = opendir(dir.c_str());
  if (!d) return -1;
  int n = 0;
  while (dirent* e = readdir(d)) {
    char target[64];
    ssize_t len = readlink((dir + "/" + e->d_name).c_str(), target, sizeof target - 1);
    if (len > 0 && std::string_view(target, static_cast<size_t>(len)).starts_with("socket:")) ++n;
  }
  closedir(d);
  return n;
}

// Resident memory of process `pid`, in KiB (VmRSS); -1 when unknown.
inline long ResidentKb(pid_t pid) {
  std::string path = "/proc/" + std::to_string(pid) + "/status";
  FILE* f = fopen(path.c_str(), "r");
  if (!f) return -1;
  char line[256];
  long kb = -1;
  while (fgets(line, sizeof line, f)) {
    if (std::strncmp(line, "VmRSS:", 6) == 0) kb = std::strtol(line + 6, nullptr, 10);
  }
  fclose(f);
  return kb;
}

}  // namespace raw
