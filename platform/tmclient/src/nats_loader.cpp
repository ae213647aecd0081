#include "nats_loader.h"

#include <dlfcn.h>

#include <cstdio>
#include <mutex>

#include "nats_plugin.h"
#include "tmclient/tmd_error.h"

namespace tmclient {
namespace {

// The NATS library beside this one: the installed layout and the build tree
// both keep them in one folder. Never searched for elsewhere, so that no
// library path can put another file in its place.
std::string NatsLibraryPath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&OpenNatsTransport), &info) == 0 || !info.dli_fname)
    return kNatsLibraryFile;
  const std::string self = info.dli_fname;
  const std::size_t slash = self.rfind('/');
  return slash == std::string::npos ? kNatsLibraryFile
                                    : self.substr(0, slash + 1) + kNatsLibraryFile;
}

NatsTransportEntry* LoadEntry() {
  const std::string path = NatsLibraryPath();
  // Never unloaded: the transports it makes live as long as their clients.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  const char* why = handle ? nullptr : dlerror();
  void* entry = handle ? dlsym(handle, kNatsTransportEntry) : nullptr;
  if (handle && !entry) why = dlerror();
  if (!entry) {
    std::fprintf(stderr, "tmclient: the NATS transport cannot be loaded from %s: %s\n",
                 path.c_str(), why ? why : "no reason given");
    return nullptr;
  }
  return reinterpret_cast<NatsTransportEntry*>(entry);
}

}  // namespace

int OpenNatsTransport(const std::string& url, std::unique_ptr<Transport>& out) {
  static std::once_flag once;
  static NatsTransportEntry* entry = nullptr;
  std::call_once(once, [] { entry = LoadEntry(); });
  if (!entry) return kErrTransportUnavailable;
  return entry(url, out);
}

}  // namespace tmclient
