#pragma once

// Signs the test process in at a back office, as the host does: every call
// the process makes afterwards carries the session.

#include <gtest/gtest.h>

#include <string>

#include "backoffice/demo_operators.h"
#include "service/operator_auth.h"

inline ::testing::AssertionResult SignIn(const std::string& broker,
                                         const char* login = backoffice::kDemoLogin,
                                         const char* password = backoffice::kDemoPassword) {
  MSysmgntDef::SOperator op;
  MSysmgntDef::SSessionInfo session;
  QRSErrorMsg error;
  const int rc = service::SignIn(broker, login, password, "127.0.0.1", op, session, error);
  if (rc == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "sign-in as " << login << " at " << broker << " failed with " << rc;
}
