#include "sign_in.h"

#include "guicommon/guicommon.h"
#include "host_session.h"
#include "service/operator_auth.h"
#include "toolkit/qtext.h"

int SignInOperator(const std::string& login, const std::string& password,
                   MSysmgntDef::SOperator& op, std::string& text) {
  MSysmgntDef::SSessionInfo session;
  QRSErrorMsg error;
  const int result =
      service::SignIn(kModuleBroker, login, password, GetLocalIP(), op, session, error);
  if (result != 0) {
    text = "[" + std::to_string(result) + "] " + GbkToQString(error.get_msg()).toStdString();
  }
  return result;
}

void SignOutOperator() {
  service::SignOut(kModuleBroker);
}
