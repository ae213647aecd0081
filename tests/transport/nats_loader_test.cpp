// The NATS transport is a library of its own that the client library loads
// on the first nats:// URL: a process that only uses tcp:// never maps the
// NATS client, and a NATS library that is missing or broken is a clear
// failure code, not a crash. This program links the client library only.

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "test_servers.h"
#include "tmclient/tmd_error.h"
#include "tmclient/transport.h"

namespace {

namespace fs = std::filesystem;
using namespace tmclient;

// True when a loaded object's file name contains `part`.
bool Mapped(const std::string& part) {
  struct Search {
    const std::string& part;
    bool found = false;
  } search{part};
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        auto* s = static_cast<Search*>(data);
        if (info->dlpi_name && std::string(info->dlpi_name).find(s->part) != std::string::npos)
          s->found = true;
        return 0;
      },
      &search);
  return search.found;
}

// A nats:// URL where nobody listens: reaching kErrConnectFailed means the
// transport was there to try.
std::string RefusedNatsUrl() {
  return "nats://127.0.0.1:" + std::to_string(transport_test::FreePort()) +
         "?broker=LOADER&deadline_ms=2000";
}

TEST(NatsLoader, LoadedOnTheFirstNatsUrlOnly) {
  std::unique_ptr<Transport> t;
  OpenTransport("tcp://127.0.0.1:" + std::to_string(transport_test::FreePort()), t);
  EXPECT_FALSE(Mapped("libnats")) << "a tcp:// URL loaded the NATS client";
  EXPECT_FALSE(Mapped("libtmclient_nats"));
  EXPECT_FALSE(Mapped("libssl")) << "a tcp:// URL loaded OpenSSL";
  // tls:// loads its own library, not the NATS one.
  EXPECT_EQ(OpenTransport("tls://127.0.0.1:" + std::to_string(transport_test::FreePort()), t),
            kErrConnectFailed);
  EXPECT_TRUE(Mapped("libtmclient_tls"));
  EXPECT_FALSE(Mapped("libtmclient_nats"));
  EXPECT_EQ(OpenTransport(RefusedNatsUrl(), t), kErrConnectFailed);
  EXPECT_TRUE(Mapped("libtmclient_nats"));
  EXPECT_TRUE(Mapped("libnats"));
  EXPECT_EQ(OpenTransport(RefusedNatsUrl(), t), kErrConnectFailed);
}

// A copy of the client library in a folder of its own, loaded beside the
// one this program links, with `nats` (if not empty) copied next to it as
// the NATS library. Returns what its OpenTransport says of a nats:// URL.
int OpenNatsThroughCopy(const fs::path& folder, const fs::path& nats) {
  Dl_info self{};
  EXPECT_NE(dladdr(reinterpret_cast<void*>(&tmd_getErrorMsg), &self), 0);
  fs::create_directories(folder);
  const fs::path copy = folder / "libtmclient.so";
  fs::copy_file(self.dli_fname, copy, fs::copy_options::overwrite_existing);
  if (!nats.empty())
    fs::copy_file(nats, folder / "libtmclient_nats.so", fs::copy_options::overwrite_existing);
  void* handle = dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
  EXPECT_NE(handle, nullptr) << dlerror();
  using Open = int(const std::string&, std::unique_ptr<Transport>&);
  auto* open = reinterpret_cast<Open*>(dlsym(
      handle,
      "_ZN8tmclient13OpenTransportERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEERSt10"
      "unique_ptrINS_9TransportESt14default_deleteIS9_EE"));
  EXPECT_NE(open, nullptr);
  if (!open) return 0;
  std::unique_ptr<Transport> t;
  const int first = open(RefusedNatsUrl(), t);
  EXPECT_EQ(open(RefusedNatsUrl(), t), first) << "the second URL got another answer";
  EXPECT_EQ(t, nullptr);
  return first;
}

TEST(NatsLoader, AMissingOrBrokenNatsLibraryIsAFailureCode) {
  const fs::path base = fs::temp_directory_path() / ("nats-loader-" + std::to_string(getpid()));
  const fs::path garbage = base / "garbage";
  fs::create_directories(base);
  std::ofstream(garbage) << "not a shared library\n";
  Dl_info self{};
  ASSERT_NE(dladdr(reinterpret_cast<void*>(&tmd_getErrorMsg), &self), 0);

  EXPECT_EQ(OpenNatsThroughCopy(base / "missing", {}), kErrTransportUnavailable);
  EXPECT_EQ(OpenNatsThroughCopy(base / "broken", garbage), kErrTransportUnavailable);
  // A library without the entry point.
  EXPECT_EQ(OpenNatsThroughCopy(base / "wrong", self.dli_fname), kErrTransportUnavailable);
  // The real one beside the copy works.
  const fs::path real = fs::path(self.dli_fname).parent_path() / "libtmclient_nats.so";
  EXPECT_EQ(OpenNatsThroughCopy(base / "real", real), kErrConnectFailed);
  EXPECT_STRNE(tmd_getErrorMsg(kErrTransportUnavailable), tmd_getErrorMsg(0));
  fs::remove_all(base);
}

}  // namespace
