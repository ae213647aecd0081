#pragma once

// How the network transports try a call again. A failure where the request
// certainly did not reach a server (connection refused, no responders) is
// tried again for any service; a failure where it may have reached one (the
// connection closed before the whole reply, no reply within one attempt's
// time) only for a service that the broker's URL lists as idempotent, since
// the server may have run the request already. Every attempt ends within the
// call's deadline, and so does the call; refusals are tried again only
// within the policy's retry time, so a server that is down fails a call in
// seconds rather than at its deadline.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tmclient/broker_config.h"
#include "tmclient/export.h"

namespace tmclient {

struct RetryPolicy {
  int64_t deadlineMs = kDefaultDeadlineMs;  // of the whole call
  int64_t attemptMs = 0;                    // of one attempt of an idempotent call
  int64_t retryMs = kDefaultRetryMs;        // refusals are tried again this long
  std::vector<std::string> idempotent;      // service codes

  TMCLIENT_INTERNAL static RetryPolicy Of(const BrokerUrl& url);
  // Listed here, or declared by DeclareIdempotent (broker_config.h).
  bool IsIdempotent(std::string_view serviceCode) const;
};

// The attempts of one call. Usage:
//   CallAttempts attempts(policy, serviceCode);
//   int rc;
//   do rc = Attempt(attempts.attemptDeadline()); while (attempts.Again(rc));
class TMCLIENT_INTERNAL CallAttempts {
 public:
  using Clock = std::chrono::steady_clock;

  CallAttempts(const RetryPolicy& policy, std::string_view serviceCode);

  // When the current attempt must end: the call's deadline, or earlier for
  // an idempotent service.
  Clock::time_point attemptDeadline() const { return tAttemptDeadline; }
  // How long an attempt may last at most, in milliseconds.
  int64_t attemptMs() const { return iAttemptMs; }

  // After an attempt that ended with `code`: true when another attempt is to
  // be made, after a short pause (taken here) that grows with each attempt.
  // False for a success, a server's result, a failure that is not tried
  // again, and when the deadline leaves no time for another attempt.
  bool Again(int code);

 private:
  // The clock read once for every deadline.
  CallAttempts(const RetryPolicy& policy, std::string_view serviceCode, Clock::time_point now);

  const Clock::time_point tDeadline;
  const Clock::time_point tRefusalsUntil;  // refusals are not tried again after it
  const bool bIdempotent;
  const int64_t iAttemptMs;
  Clock::time_point tAttemptDeadline;
  int iAttempts = 1;
};

}  // namespace tmclient
