#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cstring>

#include "guicommon/guicommon.h"

const char* GetLocalIP() {
  static char address[INET_ADDRSTRLEN];
  std::strcpy(address, "127.0.0.1");

  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return address;
  for (const ifaddrs* it = list; it; it = it->ifa_next) {
    if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET) continue;
    if (!(it->ifa_flags & IFF_UP) || (it->ifa_flags & IFF_LOOPBACK)) continue;
    const auto* in = reinterpret_cast<const sockaddr_in*>(it->ifa_addr);
    char text[INET_ADDRSTRLEN];
    if (inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) {
      std::memcpy(address, text, sizeof text);
      break;
    }
  }
  freeifaddrs(list);
  return address;
}
