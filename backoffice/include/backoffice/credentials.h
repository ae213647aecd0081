#pragma once

#include <string>
#include <string_view>

// Passwords and session tokens, on libsodium (started on first use).
namespace backoffice {

// The Argon2id hash of `password` as crypto_pwhash_str writes it (its
// parameters and salt included). Slow and memory-hungry on purpose: about
// 64 MiB and a tenth of a second. Throws std::bad_alloc when the memory
// cannot be had.
std::string HashPassword(std::string_view password);
// Whether `password` matches `hash`; false for a hash that is not one.
bool VerifyPassword(const std::string& hash, std::string_view password);

// A subscriber's transaction password as the database keeps it: an Argon2id
// hash at libsodium's smallest cost, since a demo database holds thousands.
// The back office never checks one; the hash only keeps the password out of
// the file. Throws std::bad_alloc.
std::string HashTransactionPassword(std::string_view password);

// A new session token: 256 random bits as 64 lower-case hexadecimal digits.
std::string NewSessionToken();
// What the store keeps of a token: its BLAKE2b-256 hash, in hexadecimal. A
// lookup key that does not give the token away to whoever reads the store.
std::string TokenHash(std::string_view token);
// The session token of a sign-in that carries `nonce`: BLAKE2b-256 of the
// login keyed with the nonce, as 64 hexadecimal digits. Every attempt of one
// sign-in (the same nonce) gets the same token, on any back office; it is
// known only to whoever knows the nonce, which travels beside the password.
std::string NonceSessionToken(std::string_view nonce, std::string_view login);
// Whether `nonce` has the form a sign-in's nonce takes: 64 hexadecimal digits.
bool IsSignInNonce(std::string_view nonce);

}  // namespace backoffice
