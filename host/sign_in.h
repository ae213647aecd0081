#pragma once

#include <string>

#include "records/msysmgntdef.h"

// The operator's sign-in at the back office, as the host does it: through
// the broker client's call_server (so that a windowed host stays live while
// it waits), setting the process's session on success.

// 0 with `op` the operator the back office knows; otherwise the failure's
// code, with `text` (UTF-8) saying why as the back office or the broker
// client put it. The password is not kept.
int SignInOperator(const std::string& login, const std::string& password,
                   MSysmgntDef::SOperator& op, std::string& text);

// Ends the process's session at the back office and forgets it.
void SignOutOperator();
