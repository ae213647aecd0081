#include "nats_common.h"

#include <sodium.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "nkey.h"
#include "private_file.h"
#include "tmclient/tmd_error.h"

namespace tmclient::natsx {

int StatusToCode(natsStatus s) {
  switch (s) {
    case NATS_OK:
      return 0;
    case NATS_SSL_ERROR:
    case NATS_SECURE_CONNECTION_REQUIRED:
      return kErrTlsHandshake;
    case NATS_NO_SERVER:
    case NATS_CONNECTION_CLOSED:
    case NATS_CONNECTION_AUTH_FAILED:
    case NATS_NOT_PERMITTED:
    case NATS_CONNECTION_DISCONNECTED:
      return kErrConnectFailed;
    case NATS_TIMEOUT:
      return kErrTimeout;
    case NATS_NO_RESPONDERS:
      return kErrNoResponders;
    case NATS_MAX_PAYLOAD:
      return kErrRequestTooLarge;
    case NATS_ADDRESS_MISSING:
    case NATS_INVALID_ARG:
      return kErrBadBrokerUrl;
    default:
      return kErrTransport;
  }
}

std::string RequestSubject(const std::string& broker, const std::string& serviceCode) {
  return broker + "." + serviceCode;
}

namespace {

void Wipe(std::string& s) {
  sodium_memzero(s.data(), s.size());
  s.clear();
}

}  // namespace

Security& Security::operator=(Security&& other) noexcept {
  Wipe(password);
  Wipe(nkeySecret);
  caPem = std::move(other.caPem);
  user = std::move(other.user);
  password = std::move(other.password);
  nkeyPublic = std::move(other.nkeyPublic);
  nkeySecret = std::move(other.nkeySecret);
  return *this;
}

Security::~Security() {
  Wipe(password);
  Wipe(nkeySecret);
}

namespace {

std::string_view Trim(std::string_view s) {
  const char* ws = " \t\r";
  const auto b = s.find_first_not_of(ws);
  if (b == std::string_view::npos) return {};
  return s.substr(b, s.find_last_not_of(ws) - b + 1);
}

// An NKey seed file: the key pair of its seed.
bool TakeSeed(std::string_view text, Security& out) {
  nkey::Seed seed;
  if (sodium_init() < 0 || !nkey::ReadUserSeed(text, seed)) return false;
  std::array<uint8_t, crypto_sign_PUBLICKEYBYTES> publicKey;
  out.nkeySecret.assign(crypto_sign_SECRETKEYBYTES, '\0');
  crypto_sign_seed_keypair(publicKey.data(),
                           reinterpret_cast<unsigned char*>(out.nkeySecret.data()), seed.data());
  sodium_memzero(seed.data(), seed.size());
  out.nkeyPublic = nkey::UserPublicKey(publicKey);
  return true;
}

// An NKey seed file, or `user = NAME` and `password = SECRET` lines; blank
// lines and '#' comments.
bool ParseCreds(const std::string& path, std::string_view text, Security& out, std::string& why) {
  if (TakeSeed(text, out)) return true;
  int lineNo = 0;
  while (!text.empty()) {
    ++lineNo;
    const auto nl = text.find('\n');
    const std::string_view line = Trim(text.substr(0, nl));
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    if (line.empty() || line.front() == '#') continue;
    const auto eq = line.find('=');
    const std::string_view key = eq == std::string_view::npos ? line : Trim(line.substr(0, eq));
    const std::string_view value = eq == std::string_view::npos ? "" : Trim(line.substr(eq + 1));
    if (key == "user" && IsValidBrokerToken(value)) {
      out.user = std::string(value);
    } else if (key == "password" && !value.empty()) {
      out.password = std::string(value);
    } else {
      // The line may hold a secret: only its number is named.
      why = path + ":" + std::to_string(lineNo) +
            ": expected user = NAME (letters, digits, '_', '-') or password = SECRET, or a file "
            "holding one user NKey seed";
      return false;
    }
  }
  if (out.user.empty() || out.password.empty()) {
    why = path + ": needs both a user and a password line";
    return false;
  }
  return true;
}

}  // namespace

bool LoadSecurity(const BrokerUrl& url, Security& out, std::string& why) {
  out = Security();
  if (!url.caFile.empty() && !ReadCheckedFile(url.caFile, FileUse::kTrusted, out.caPem, why))
    return false;
  if (url.credsFile.empty()) return true;
  std::string text;
  if (!ReadCheckedFile(url.credsFile, FileUse::kSecret, text, why)) return false;
  const bool ok = ParseCreds(url.credsFile, text, out, why);
  std::fill(text.begin(), text.end(), '\0');
  return ok;
}

std::string InboxRoot(const Security& security) {
  if (!security.nkeyPublic.empty()) return "_INBOX." + security.nkeyPublic;
  return security.user.empty() ? "_INBOX" : "_INBOX." + security.user;
}

namespace {

// libnats takes a signature whose first byte is zero for an empty one and
// leaves it out of CONNECT, so that the broker would refuse one sign-in in
// 256. Such a signature is not sent: the attempt fails at once, and Connect
// tries again on a new connection, whose new nonce signs differently.
thread_local bool tSignatureUnsendable = false;
constexpr int kSignInAttempts = 8;

// Signs the server's nonce with the NKey of the Security in `closure`.
natsStatus SignNonce(char**, unsigned char** signature, int* signatureLength, const char* nonce,
                     void* closure) {
  const auto* security = static_cast<const Security*>(closure);
  auto* out = static_cast<unsigned char*>(std::malloc(crypto_sign_BYTES));  // the client frees it
  if (!out) return NATS_NO_MEMORY;
  crypto_sign_detached(out, nullptr, reinterpret_cast<const unsigned char*>(nonce),
                       std::strlen(nonce),
                       reinterpret_cast<const unsigned char*>(security->nkeySecret.data()));
  if (out[0] == 0) {
    std::free(out);
    tSignatureUnsendable = true;
    return NATS_CONNECTION_AUTH_FAILED;
  }
  *signature = out;
  *signatureLength = crypto_sign_BYTES;
  return NATS_OK;
}

}  // namespace

natsStatus Connect(const std::vector<BrokerEndpoint>& endpoints, int64_t connectTimeoutMs,
                   const char* name, const Security& security, natsConnection** nc) {
  std::vector<std::string> urls;
  for (const BrokerEndpoint& e : endpoints) {
    bool v6 = e.host.find(':') != std::string::npos;
    urls.push_back("nats://" + (v6 ? "[" + e.host + "]" : e.host) + ":" + std::to_string(e.port));
  }
  std::vector<const char*> ptrs;
  for (const auto& u : urls) ptrs.push_back(u.c_str());

  natsOptions* opts = nullptr;
  natsStatus s = natsOptions_Create(&opts);
  if (s == NATS_OK) s = natsOptions_SetServers(opts, ptrs.data(), static_cast<int>(ptrs.size()));
  if (s == NATS_OK) s = natsOptions_SetName(opts, name);
  if (s == NATS_OK) s = natsOptions_SetSendAsap(opts, true);
  if (s == NATS_OK) s = natsOptions_SetNoRandomize(opts, true);
  if (s == NATS_OK)
    s = natsOptions_SetTimeout(opts, std::clamp<int64_t>(connectTimeoutMs, 1, 10000));
  if (s == NATS_OK) s = natsOptions_SetMaxReconnect(opts, -1);
  if (s == NATS_OK) s = natsOptions_SetReconnectWait(opts, 100);
  if (s == NATS_OK) s = natsOptions_SetMaxPendingMsgs(opts, 1 << 20);
  if (s == NATS_OK && !security.caPem.empty()) {
    // The server's certificate is checked against the CA and the host name
    // of the URL; the connection never goes on in clear text.
    s = natsOptions_SetSecure(opts, true);
    if (s == NATS_OK) s = natsOptions_SetCATrustedCertificates(opts, security.caPem.c_str());
  }
  if (s == NATS_OK && !security.user.empty())
    s = natsOptions_SetUserInfo(opts, security.user.c_str(), security.password.c_str());
  if (s == NATS_OK && !security.nkeyPublic.empty()) {
    s = natsOptions_SetNKey(opts, security.nkeyPublic.c_str(), SignNonce,
                            const_cast<Security*>(&security));
  }
  if (s == NATS_OK) {
    int attempts = 0;
    do {
      tSignatureUnsendable = false;
      s = natsConnection_Connect(nc, opts);
    } while (s != NATS_OK && tSignatureUnsendable && ++attempts < kSignInAttempts);
  }
  natsOptions_Destroy(opts);
  return s;
}

}  // namespace tmclient::natsx
