#include "service/operator_auth.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "remote_call.h"
#include "tmclient/session.h"
#include "tmclient/tmd_error.h"

namespace MSysmgnt {
int IOperatorAuth::signIn(const MSysmgntDef::SSignInIn& sIn, MSysmgntDef::SOperator& op,
                          MSysmgntDef::SSessionInfo& sSession, QRSErrorMsg& cErrorMsg,
                          STMSession* session) {
  return service_detail::CallOperation<operations::Id::kSignIn>(
      *this, session, std::tie(sIn), std::tie(op, sSession, cErrorMsg), cErrorMsg);
}

int IOperatorAuth::signOut(QRSErrorMsg& cErrorMsg, STMSession* session) {
  return service_detail::CallOperation<operations::Id::kSignOut>(*this, session, std::tie(),
                                                                 std::tie(cErrorMsg), cErrorMsg);
}

}  // namespace MSysmgnt

namespace service {
namespace {

constexpr const char* kAuthInterface = operations::Of(operations::Id::kSignIn).interfaceName;

// 256 random bits as 64 hexadecimal digits; "" when the system has none to give.
std::string NewNonce() {
  unsigned char bytes[32];
  if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) return "";
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string nonce;
  for (unsigned char b : bytes) {
    nonce += kDigits[b >> 4];
    nonce += kDigits[b & 15];
  }
  return nonce;
}

}  // namespace

int SignIn(const std::string& brokerName, const std::string& login, const std::string& password,
           const std::string& address, MSysmgntDef::SOperator& op,
           MSysmgntDef::SSessionInfo& session, QRSErrorMsg& cErrorMsg) {
  MSysmgnt::IOperatorAuth auth;
  if (const int bound = auth.bind(kAuthInterface, brokerName); bound != 0) {
    cErrorMsg.set_code(bound);
    cErrorMsg.set_msg(tmd_getErrorMsg(bound));
    return bound;
  }
  MSysmgntDef::SSignInIn in;
  in.set_LOGIN_NAME(login);
  in.set_OP_PASSWD(password);
  in.set_OP_ADDRESS(address);
  if (std::string nonce = NewNonce(); !nonce.empty()) in.set_SIGNIN_NONCE(nonce);
  const int result = auth.signIn(in, op, session, cErrorMsg);
  if (result == 0 && !tmclient::SetSession(session.SESSION_TOKEN)) {
    cErrorMsg.set_code(tmclient::kErrBadReplyFrame);
    cErrorMsg.set_msg(tmd_getErrorMsg(tmclient::kErrBadReplyFrame));
    return tmclient::kErrBadReplyFrame;
  }
  return result;
}

int SignOut(const std::string& brokerName) {
  MSysmgnt::IOperatorAuth auth;
  int result = auth.bind(kAuthInterface, brokerName);
  if (result == 0) {
    QRSErrorMsg error;
    result = auth.signOut(error);
  }
  tmclient::SetSession("");
  return result;
}

bool HeadlessPassword(const std::string& passwordFile, std::string& password, std::string& error) {
  password.clear();
  if (passwordFile.empty()) {
    const char* env = std::getenv("MPAY_PASSWORD");
    if (env == nullptr || *env == '\0') {
      error = "no password: set MPAY_PASSWORD or give --password-file";
      return false;
    }
    password = env;
    return true;
  }
  const int fd = ::open(passwordFile.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    error = passwordFile + ": cannot be opened";
    return false;
  }
  struct stat st {};
  constexpr off_t kMaxSize = 1024;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxSize) {
    error = passwordFile + ": not a regular file of at most 1 KiB";
  } else if ((st.st_mode & 077) != 0 || st.st_uid != ::geteuid()) {
    error = passwordFile + ": others can read or write it (chmod 600, owned by this user)";
  } else {
    char buffer[kMaxSize + 1];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      error = passwordFile + ": cannot be read";
    } else {
      password.assign(buffer, static_cast<std::size_t>(n));
      password.erase(std::min(password.find('\n'), password.size()));
      if (!password.empty() && password.back() == '\r') password.pop_back();
      if (password.empty()) error = passwordFile + ": holds no password";
    }
  }
  ::close(fd);
  return error.empty() ? true : (password.clear(), false);
}

}  // namespace service
