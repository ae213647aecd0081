#include "nats_common.h"

#include <algorithm>
#include <string_view>

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

std::string_view Trim(std::string_view s) {
  const char* ws = " \t\r";
  const auto b = s.find_first_not_of(ws);
  if (b == std::string_view::npos) return {};
  return s.substr(b, s.find_last_not_of(ws) - b + 1);
}

// `user = NAME` and `password = SECRET` lines; blank lines and '#' comments.
bool ParseCreds(const std::string& path, std::string_view text, Security& out, std::string& why) {
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
            ": expected user = NAME (letters, digits, '_', '-') or password = SECRET";
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
  return security.user.empty() ? "_INBOX" : "_INBOX." + security.user;
}

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
  if (s == NATS_OK) s = natsConnection_Connect(nc, opts);
  natsOptions_Destroy(opts);
  return s;
}

}  // namespace tmclient::natsx
