#include "backoffice/credentials.h"

#include <sodium.h>

#include <new>
#include <stdexcept>

namespace backoffice {
namespace {

std::string Hex(const unsigned char* bytes, std::size_t n) {
  std::string hex(2 * n + 1, '\0');
  sodium_bin2hex(hex.data(), hex.size(), bytes, n);
  hex.pop_back();
  return hex;
}

// libsodium starts once, on first use (its random numbers need it).
void Ready() {
  static const bool started = sodium_init() >= 0;
  if (!started) throw std::runtime_error("libsodium cannot start");
}

std::string Argon2id(std::string_view password, unsigned long long ops, std::size_t memory) {
  Ready();
  char hash[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str(hash, password.data(), password.size(), ops, memory) != 0)
    throw std::bad_alloc();
  return hash;
}

}  // namespace

std::string HashPassword(std::string_view password) {
  return Argon2id(password, crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE);
}

std::string HashTransactionPassword(std::string_view password) {
  return Argon2id(password, crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN);
}

bool VerifyPassword(const std::string& hash, std::string_view password) {
  return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

std::string NewSessionToken() {
  Ready();
  unsigned char bytes[32];
  randombytes_buf(bytes, sizeof bytes);
  std::string token = Hex(bytes, sizeof bytes);
  sodium_memzero(bytes, sizeof bytes);
  return token;
}

std::string NonceSessionToken(std::string_view nonce, std::string_view login) {
  unsigned char token[32];
  crypto_generichash(token, sizeof token, reinterpret_cast<const unsigned char*>(login.data()),
                     login.size(), reinterpret_cast<const unsigned char*>(nonce.data()),
                     nonce.size());
  std::string text = Hex(token, sizeof token);
  sodium_memzero(token, sizeof token);
  return text;
}

bool IsSignInNonce(std::string_view nonce) {
  return nonce.size() == 64 &&
         nonce.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
}

std::string TokenHash(std::string_view token) {
  unsigned char hash[32];
  crypto_generichash(hash, sizeof hash, reinterpret_cast<const unsigned char*>(token.data()),
                     token.size(), nullptr, 0);
  return Hex(hash, sizeof hash);
}

}  // namespace backoffice
