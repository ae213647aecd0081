#pragma once

// What the network fuzz target makes of its input, shared with the corpus
// generator. The first byte picks the decoder (its value modulo 3):
//   0  the rest is what a tcp server sends back to call kCallId
//   1  the rest is the messages that arrive on call kCallId's NATS reply
//      subject, each a u16 length (little-endian) and that many bytes
//   2  the rest is a request body as the back office's servers receive it

#include <cstdint>
#include <initializer_list>
#include <string>

namespace fuzznet {

enum Decoder : char { kTcpReply = 0, kNatsReply = 1, kRequest = 2 };

// The call that every reply input answers.
constexpr uint32_t kCallId = 7;

// The NATS messages `bodies` as one input.
inline std::string NatsMessages(std::initializer_list<std::string> bodies) {
  std::string out(1, kNatsReply);
  for (const std::string& b : bodies) {
    out.push_back(static_cast<char>(b.size() & 0xff));
    out.push_back(static_cast<char>(b.size() >> 8));
    out += b;
  }
  return out;
}

}  // namespace fuzznet
