#include "nkey.h"

#include <vector>

namespace tmclient::nkey {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
// The prefix bytes: the top five bits name the kind of key.
constexpr uint8_t kPrefixSeed = 18 << 3;   // 'S'
constexpr uint8_t kPrefixUser = 20 << 3;   // 'U'
constexpr std::size_t kSeedTextSize = 58;  // base32 of 2 + 32 + 2 bytes

uint16_t Crc16(const uint8_t* p, std::size_t n) {
  uint16_t crc = 0;
  for (std::size_t i = 0; i < n; ++i) {
    crc ^= static_cast<uint16_t>(p[i] << 8);
    for (int bit = 0; bit < 8; ++bit)
      crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

std::string Base32(const std::vector<uint8_t>& bytes) {
  std::string out;
  uint32_t buffer = 0;
  int bits = 0;
  for (uint8_t b : bytes) {
    buffer = (buffer << 8) | b;
    bits += 8;
    while (bits >= 5) {
      bits -= 5;
      out.push_back(kAlphabet[(buffer >> bits) & 31]);
    }
  }
  if (bits > 0) out.push_back(kAlphabet[(buffer << (5 - bits)) & 31]);
  return out;
}

// False for a character outside the alphabet or leftover bits that are not 0.
bool FromBase32(std::string_view text, std::vector<uint8_t>& out) {
  uint32_t buffer = 0;
  int bits = 0;
  for (char c : text) {
    int v = -1;
    if (c >= 'A' && c <= 'Z') v = c - 'A';
    if (c >= '2' && c <= '7') v = c - '2' + 26;
    if (v < 0) return false;
    buffer = (buffer << 5) | static_cast<uint32_t>(v);
    bits += 5;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<uint8_t>(buffer >> bits));
    }
  }
  return (buffer & ((1u << bits) - 1)) == 0;
}

// The seed in one line of text, if it is a user seed.
bool DecodeUserSeed(std::string_view line, Seed& seed) {
  if (line.size() != kSeedTextSize) return false;
  std::vector<uint8_t> raw;
  if (!FromBase32(line, raw) || raw.size() != 2 + seed.size() + 2) return false;
  const uint16_t crc = static_cast<uint16_t>(raw[34] | raw[35] << 8);
  if (Crc16(raw.data(), 34) != crc) return false;
  // Two prefixes in two bytes: the seed's five bits, then the key's kind.
  if ((raw[0] & 0xf8) != kPrefixSeed) return false;
  const uint8_t kind = static_cast<uint8_t>((raw[0] & 7) << 5 | (raw[1] & 0xf8) >> 3);
  if (kind != kPrefixUser || (raw[1] & 7) != 0) return false;
  std::copy(raw.begin() + 2, raw.begin() + 34, seed.begin());
  std::fill(raw.begin(), raw.end(), 0);
  return true;
}

std::string_view Trim(std::string_view s) {
  const auto b = s.find_first_not_of(" \t\r");
  if (b == std::string_view::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

}  // namespace

bool ReadUserSeed(std::string_view text, Seed& seed) {
  Seed found{};
  int seeds = 0;
  while (!text.empty()) {
    const auto nl = text.find('\n');
    const std::string_view line = Trim(text.substr(0, nl));
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    if (line.empty() || line.front() == '#' || line.starts_with("-----")) continue;
    if (!DecodeUserSeed(line, found)) return false;
    ++seeds;
  }
  if (seeds != 1) return false;
  seed = found;
  found.fill(0);
  return true;
}

std::string UserPublicKey(const std::array<uint8_t, 32>& publicKey) {
  std::vector<uint8_t> raw{kPrefixUser};
  raw.insert(raw.end(), publicKey.begin(), publicKey.end());
  const uint16_t crc = Crc16(raw.data(), raw.size());
  raw.push_back(static_cast<uint8_t>(crc & 0xff));
  raw.push_back(static_cast<uint8_t>(crc >> 8));
  return Base32(raw);
}

}  // namespace tmclient::nkey
