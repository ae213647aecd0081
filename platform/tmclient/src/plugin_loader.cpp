#include "plugin_loader.h"

#include <dlfcn.h>

#include <cstdio>
#include <mutex>

#include "nats_plugin.h"
#include "tls_plugin.h"
#include "tmclient/tmd_error.h"

namespace tmclient {
namespace {

using Entry = int(const std::string& url, std::unique_ptr<Transport>& out);

// A library beside this one: the installed layout and the build tree both
// keep them in one folder. Never searched for elsewhere, so that no library
// path can put another file in its place.
std::string LibraryPath(const char* file) {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&OpenNatsTransport), &info) == 0 || !info.dli_fname)
    return file;
  const std::string self = info.dli_fname;
  const std::size_t slash = self.rfind('/');
  return slash == std::string::npos ? file : self.substr(0, slash + 1) + file;
}

Entry* LoadEntry(const char* file, const char* symbol, const char* what) {
  const std::string path = LibraryPath(file);
  // Never unloaded: the transports it makes live as long as their clients.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  const char* why = handle ? nullptr : dlerror();
  void* entry = handle ? dlsym(handle, symbol) : nullptr;
  if (handle && !entry) why = dlerror();
  if (!entry) {
    std::fprintf(stderr, "tmclient: the %s transport cannot be loaded from %s: %s\n", what,
                 path.c_str(), why ? why : "no reason given");
    return nullptr;
  }
  return reinterpret_cast<Entry*>(entry);
}

int Open(Entry* entry, const std::string& url, std::unique_ptr<Transport>& out) {
  return entry ? entry(url, out) : kErrTransportUnavailable;
}

}  // namespace

int OpenNatsTransport(const std::string& url, std::unique_ptr<Transport>& out) {
  static Entry* const entry = LoadEntry(kNatsLibraryFile, kNatsTransportEntry, "NATS");
  return Open(entry, url, out);
}

int OpenTlsTransport(const std::string& url, std::unique_ptr<Transport>& out) {
  static Entry* const entry = LoadEntry(kTlsLibraryFile, kTlsTransportEntry, "TLS");
  return Open(entry, url, out);
}

}  // namespace tmclient
