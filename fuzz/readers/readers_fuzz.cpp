// Feeds arbitrary bytes to every request and reply reader. Any input must end
// in a clean failure or in values that the writers turn back into exactly the
// same bytes (the coding has one form per value).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "reply_readers.h"
#include "tmclient/stream_dump.h"

namespace {

void Check(bool (*reader)(std::string_view, std::string&), std::string_view bytes) {
  std::string reencoded;
  if (reader(bytes, reencoded) && reencoded != bytes) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  Check(fuzzreaders::ReadLogReply, bytes);
  Check(fuzzreaders::ReadUserReply, bytes);
  Check(fuzzreaders::ReadLogRequest, bytes);
  Check(fuzzreaders::ReadUserRequest, bytes);
  Check(fuzzreaders::ReadSignInRequest, bytes);
  Check(fuzzreaders::ReadSignInReply, bytes);
  (void)tmclient::DumpStream(bytes);
  return 0;
}
