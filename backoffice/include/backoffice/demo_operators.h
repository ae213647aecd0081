#pragma once

#include "backoffice/operator_store.h"

// The operators of a demo database. Their passwords are published
// (docs/security.md): a demo database serves nothing real.
namespace backoffice {

// May call both queries. `make run` signs in as this operator.
inline constexpr char kDemoLogin[] = "demo";
inline constexpr char kDemoPassword[] = "demo1234";
// May call the log query only.
inline constexpr char kDemoLogOnlyLogin[] = "logonly";
inline constexpr char kDemoLogOnlyPassword[] = "logonly1234";
// Expired at the start of 2020: every sign-in is refused.
inline constexpr char kDemoExpiredLogin[] = "expired";
inline constexpr char kDemoExpiredPassword[] = "expired1234";

// Adds the demo operators to `store`; returns how many. Throws DbError.
int AddDemoOperators(OperatorStore& store);

}  // namespace backoffice
