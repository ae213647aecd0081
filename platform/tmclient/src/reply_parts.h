#pragma once

// The client's side of the NATS reply messages: one call's reply put together
// from the bodies that arrive on its reply subject (docs/wire-format.md,
// "nats://"). Knows nothing of NATS itself.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "envelope.h"

namespace tmclient {

// More parts than this is not a reply of ours.
constexpr uint32_t kMaxReplyParts = 1u << 16;

class ReplyParts {
 public:
  // Puts the reply to `callId` into `reply` (emptied here); believes no
  // announced length beyond `maxReplySize`.
  ReplyParts(uint32_t callId, std::size_t maxReplySize, std::string& reply);

  // Takes the body of the next message. False while more parts are to come;
  // true when the call is over, with `result` set to the server's result
  // (`reply` is then the whole reply stream) or to a library code (`reply`
  // then holds nothing useful).
  bool Take(std::string_view body, int& result);

 private:
  // Ends the call with `code`.
  bool Done(int code, int& result) {
    result = code;
    return true;
  }

  const uint32_t iCallId;
  const std::size_t iMaxReplySize;
  std::string& strReply;
  envelope::PartHeader cFirst;  // of the parts being put together
  uint32_t iNextPart = 0;
};

}  // namespace tmclient
