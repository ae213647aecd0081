#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// Type tags of the stream coding (docs/wire-format.md). On the wire, never
// change a value.
namespace tmclient::wire {

constexpr uint8_t kInt32 = 0x01;
constexpr uint8_t kInt16 = 0x02;
constexpr uint8_t kInt64 = 0x03;
constexpr uint8_t kUInt64 = 0x04;
constexpr uint8_t kString = 0x05;
constexpr uint8_t kDateTime = 0x06;
constexpr uint8_t kErrorMsg = 0x07;

constexpr uint8_t kStreamBegin = 0x10;
constexpr uint8_t kStreamEnd = 0x11;
constexpr uint8_t kStructBegin = 0x12;
constexpr uint8_t kStructEnd = 0x13;
constexpr uint8_t kListBegin = 0x14;
constexpr uint8_t kListEnd = 0x15;

// Coding version carried after the stream-begin tag.
constexpr uint8_t kVersion = 0x01;

// Payload sizes after the tag.
constexpr unsigned kDateTimeSize = 7;  // u16 year, u8 month, day, hour, minute, second
constexpr unsigned kMaxNameSize = 255;

// The largest frame written or accepted, in bytes.
constexpr std::size_t kMaxFrameSize = 256u * 1024u * 1024u;

// A name given as a C string; null reads as the empty name, which no frame
// accepts.
inline std::string_view NameView(const char* name) {
  return name == nullptr ? std::string_view() : std::string_view(name);
}

}  // namespace tmclient::wire
