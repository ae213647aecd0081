#pragma once

// What the NATS client transport and the NATS responder share: connection
// set-up and the one mapping from the NATS client's status codes to ours.

#include <nats/nats.h>

#include <string>
#include <vector>

#include "tmclient/broker_config.h"

namespace tmclient::natsx {

// The library failure code for a NATS client status (never 0 for a failure).
int StatusToCode(natsStatus s);

// "BROKER.SERVICECODE": where requests for one service code go.
std::string RequestSubject(const std::string& broker, const std::string& serviceCode);

// What a connection proves and checks, from the URL's ca= and creds= files:
// TLS with the server's certificate checked against `caPem` (and the host
// name) when it is not empty; the user's name and password when `user` is
// not empty; or the user's NKey when `nkeyPublic` is not empty (the
// connection signs the server's nonce with `nkeySecret`, libsodium's
// 64-byte Ed25519 secret key). The secrets are wiped with the object.
struct Security {
  Security() = default;
  Security(const Security&) = delete;
  Security& operator=(Security&& other) noexcept;
  ~Security();

  std::string caPem;
  std::string user;
  std::string password;
  std::string nkeyPublic;
  std::string nkeySecret;
};

// Reads the files the URL names (ca=, creds=), refused when other users may
// change the CA file or read the credentials. False with `why`, which names
// the file and what is wrong with it, never a secret.
bool LoadSecurity(const BrokerUrl& url, Security& out, std::string& why);

// Where a client's replies come: "_INBOX.<user>" for a user, or
// "_INBOX.<public key>" for an NKey user (whose broker lets it subscribe
// there only), "_INBOX" without either.
std::string InboxRoot(const Security& security);

// Connects to the servers of `endpoints` with the options every connection of
// ours uses (send as soon as possible, reconnect forever, short reconnect
// wait) and `security`. `connectTimeoutMs` bounds the first connection.
// NATS_OK and `nc` set, or the failure status. `security` must outlive the
// connection: an NKey signs every reconnection too.
natsStatus Connect(const std::vector<BrokerEndpoint>& endpoints, int64_t connectTimeoutMs,
                   const char* name, const Security& security, natsConnection** nc);

}  // namespace tmclient::natsx
