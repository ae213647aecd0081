// Feeds arbitrary bytes to the decoders that face the network (see
// network_inputs.h): the tcp client's reply frames, the NATS client's reply
// parts, and the back office's request path from the envelope to the
// database and back. Any input must end in a clean failure or a consistent
// success: a reply no larger than allowed, a request that re-encodes to the
// same bytes, a service answer that is a well-formed reply stream.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "backoffice/demo_data.h"
#include "backoffice/protocol.h"
#include "backoffice/service.h"
#include "clear_stream.h"
#include "envelope.h"
#include "network_inputs.h"
#include "records/operations.h"
#include "reply_parts.h"
#include "reply_readers.h"
#include "tcp_reply_reader.h"
#include "tmclient/tmd_error.h"

namespace {

using namespace tmclient;

// Kept small so that an announced length costs little memory.
constexpr std::size_t kMaxReply = 1u << 20;

void Expect(bool condition) {
  if (!condition) __builtin_trap();
}

void TcpReply(std::string_view bytes) {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return;
  // What the socket takes at once; the rest is as if the server had stopped there.
  fcntl(fds[1], F_SETFL, O_NONBLOCK);
  [[maybe_unused]] const ssize_t taken = write(fds[1], bytes.data(), bytes.size());
  close(fds[1]);
  fcntl(fds[0], F_SETFL, O_NONBLOCK);
  std::string reply;
  const auto stream = net::MakeClearStream(fds[0]);  // closes fds[0]
  const int rc = ReadTcpReply(*stream, fuzznet::kCallId, kMaxReply,
                              net::Clock::now() + std::chrono::seconds(1), false, reply, nullptr);
  Expect(IsLibraryError(rc) || reply.size() <= kMaxReply);
}

void NatsReply(std::string_view bytes) {
  std::string reply;
  ReplyParts parts(fuzznet::kCallId, kMaxReply, reply);
  while (bytes.size() >= 2) {
    const std::size_t n = static_cast<unsigned char>(bytes[0]) |
                          static_cast<std::size_t>(static_cast<unsigned char>(bytes[1])) << 8;
    bytes.remove_prefix(2);
    const std::string_view body = bytes.substr(0, n);
    bytes.remove_prefix(body.size());
    int rc = 0;
    if (parts.Take(body, rc)) {
      Expect(IsLibraryError(rc) || reply.size() <= kMaxReply);
      return;
    }
  }
}

// A demo database and the service over it, for the life of the process.
struct Backoffice {
  std::string strDir;
  std::unique_ptr<backoffice::Service> pService;

  Backoffice() {
    char tmpl[] = "/tmp/fuzz-network-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) std::abort();
    strDir = tmpl;
    backoffice::DemoOptions demo;
    demo.rows = 3000;
    demo.endStamp = 20240201000000;
    backoffice::GenerateDemo(strDir + "/demo.db", demo);
    backoffice::ServiceConfig config;
    config.dbPath = strDir + "/demo.db";
    config.connections = 1;
    config.maxRows = 500;  // some queries match more
    pService = std::make_unique<backoffice::Service>(config, nullptr);
  }
  ~Backoffice() {
    pService.reset();
    std::error_code ec;
    std::filesystem::remove_all(strDir, ec);
  }
};

Backoffice* pBackoffice = nullptr;

void Request(std::string_view body) {
  envelope::Request request;
  if (!envelope::DecodeRequest(body, request)) return;
  // One form per request of the current kind.
  std::string again;
  Expect(envelope::EncodeRequestHeader(request.callId, request.interfaceName, request.serviceCode,
                                       request.session, again) == 0);
  if (static_cast<uint8_t>(body[0]) == envelope::kSessionRequest)
    Expect(again + std::string(request.stream) == body);

  const std::string interfaceName(request.interfaceName), serviceCode(request.serviceCode);
  std::string reply, reencoded;
  const int result =
      pBackoffice->pService->Handle(interfaceName, serviceCode, request.stream, reply);
  Expect(!IsLibraryError(result));
  if (serviceCode == backoffice::kLogServiceCode && interfaceName == backoffice::kLogInterface) {
    Expect(fuzzreaders::ReadLogReply(reply, reencoded));
  } else if (serviceCode == backoffice::kUserServiceCode &&
             interfaceName == backoffice::kUserInterface) {
    Expect(fuzzreaders::ReadUserReply(reply, reencoded));
  } else if (operations::Find(interfaceName, serviceCode) == nullptr) {
    Expect(result == backoffice::kRcUnknownService && reply.empty());
  }
  // Any other operation of the catalogue (sign-in, sign-out, an export) is
  // refused or answered here without a session: only a library code is wrong.
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static Backoffice backoffice;
  pBackoffice = &backoffice;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 3) {
    case fuzznet::kTcpReply:
      TcpReply(rest);
      break;
    case fuzznet::kNatsReply:
      NatsReply(rest);
      break;
    default:
      Request(rest);
      break;
  }
  return 0;
}
