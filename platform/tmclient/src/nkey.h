#pragma once

// NKeys: the NATS servers' public-key identities. A user's seed file holds
// an Ed25519 seed as text ("SU" and 56 more characters); the server knows
// the user by the public key ("U" and 55 more) and checks the signature of
// a nonce it sends on every connection. Both texts are base32 of a prefix,
// the key and a CRC-16 (XMODEM) of them, least significant byte first.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tmclient::nkey {

using Seed = std::array<uint8_t, 32>;

// The seed of a user's NKey from the text of a seed file: blank lines,
// '#' comments and "-----" armour lines are skipped, and exactly one line
// must be a user seed. False for anything else (another kind of key, a bad
// checksum, two seeds); `seed` is then unchanged.
bool ReadUserSeed(std::string_view text, Seed& seed);

// The public-key text of a user whose Ed25519 public key is `publicKey`.
std::string UserPublicKey(const std::array<uint8_t, 32>& publicKey);

}  // namespace tmclient::nkey
