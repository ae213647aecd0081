#pragma once

// Loopback ports for test servers that start, or start again, on a port
// chosen beforehand.
//
// The kernel hands the ports of its ephemeral range (ip_local_port_range) to
// every client connection and to every bind on port 0, so a port of that
// range that was free a moment ago may be another test's by the time a
// server binds it, or binds it again after a restart. These ports are chosen
// below that range, where only a program that names the port binds.

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <random>

// A loopback port below the ephemeral range that nothing is bound to now.
inline int FreePort() {
  int ephemeralLow = 32768;
  std::ifstream("/proc/sys/net/ipv4/ip_local_port_range") >> ephemeralLow;
  const int low = ephemeralLow / 2 > 1024 ? ephemeralLow / 2 : 1024;
  const int high = ephemeralLow - 1;
  std::mt19937 pick(std::random_device{}());
  for (int attempt = 0; attempt < 200; ++attempt) {
    // Asking the kernel (port 0) is the last resort of a machine whose range
    // starts too low.
    const int port = high > low ? std::uniform_int_distribution<int>(low, high)(pick) : 0;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    socklen_t len = sizeof a;
    const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                       getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0;
    close(fd);
    if (bound) return ntohs(a.sin_port);
  }
  return 0;
}
