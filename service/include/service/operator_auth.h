#pragma once

#include <string>

#include "records/msysmgntdef.h"
#include "tmclient/qrs_errormsg.h"
#include "tmclient/tmd_client_object.h"

// The back office's sign-in and sign-out, for the host and the command-line
// tools (not the module: its session is the process's, set by the host).
namespace MSysmgnt {

class IOperatorAuth : public CTmdClientObject {
 public:
  // Signs the operator of `sIn` in; tried again after a failure that may
  // have reached a back office, so `sIn` should carry a SIGNIN_NONCE of its
  // own (SignIn below makes one). 0 with the operator record (without its
  // password) and the session; else the back office's refusal (a code of
  // its own with the text in cErrorMsg) or a library or proxy code.
  int signIn(const MSysmgntDef::SSignInIn& sIn, MSysmgntDef::SOperator& op,
             MSysmgntDef::SSessionInfo& sSession, QRSErrorMsg& cErrorMsg,
             STMSession* session = nullptr);
  // Ends the session the process's requests carry (tmclient/session.h).
  int signOut(QRSErrorMsg& cErrorMsg, STMSession* session = nullptr);
};

}  // namespace MSysmgnt

namespace service {

// Signs in at broker `brokerName` with a new nonce (every attempt of the
// sign-in carries it: a repeat gets the same session) and, on success, makes the session the
// process's (tmclient::SetSession), so that every later call carries it.
// Returns what IOperatorAuth::signIn returns; a failure to bind is a
// library code with its text in cErrorMsg.
int SignIn(const std::string& brokerName, const std::string& login, const std::string& password,
           const std::string& address, MSysmgntDef::SOperator& op,
           MSysmgntDef::SSessionInfo& session, QRSErrorMsg& cErrorMsg);
// Signs the process's session out at `brokerName` and forgets it, whatever
// the back office answers. Returns the back office's result.
int SignOut(const std::string& brokerName);

// The password of a sign-in without a terminal: the first line of
// `passwordFile` when one is named (refused unless it is a regular file of
// at most 1 KiB that only its owner, the caller, can read or write), else
// the environment's MPAY_PASSWORD. False with the reason in `error` (never
// the password).
bool HeadlessPassword(const std::string& passwordFile, std::string& password, std::string& error);

}  // namespace service
