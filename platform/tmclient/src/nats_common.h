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

// Connects to the servers of `endpoints` with the options every connection of
// ours uses (send as soon as possible, reconnect forever, short reconnect
// wait). `connectTimeoutMs` bounds the first connection. NATS_OK and `nc`
// set, or the failure status.
natsStatus Connect(const std::vector<BrokerEndpoint>& endpoints, int64_t connectTimeoutMs,
                   const char* name, natsConnection** nc);

}  // namespace tmclient::natsx
