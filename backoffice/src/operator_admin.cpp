#include "backoffice/operator_admin.h"

#include <sodium.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <iostream>
#include <string>

#include "backoffice/authenticator.h"
#include "backoffice/credentials.h"
#include "backoffice/protocol.h"
#include "backoffice/stamp.h"
#include "backoffice/store.h"
#include "records/operations.h"

namespace backoffice {
namespace {

constexpr std::size_t kMinPassword = 8;
constexpr std::size_t kMaxPassword = 128;

// The passwords guessed first: the most common ones, and the most common
// ones with a digit or two added to reach the length. Compared ignoring
// case.
constexpr std::string_view kCommonPasswords[] = {
    "12345678", "123456789", "1234567890", "87654321",   "11111111",  "88888888",   "00000000",
    "66666666", "12341234",  "11223344",   "password",   "password1", "password12", "passw0rd",
    "p@ssw0rd", "qwertyui",  "qwerty123",  "qwertyuiop", "1qaz2wsx",  "asdfghjk",   "zxcvbnm1",
    "abcd1234", "abc12345",  "a1234567",   "iloveyou",   "admin123",  "admin1234",  "administrator",
    "welcome1", "letmein1",  "sunshine",   "changeme",   "woaini520", "woaini1314", "5201314520",
    "aa123456", "qq123456",  "abcdefgh",   "football",   "baseball",  "superman",   "trustno1",
    "dragon12", "monkey12",  "12qwaszx",   "1q2w3e4r",   "zaq12wsx",  "123qweasd",  "qweasdzxc",
    "mpay1234", "operator",  "operator1",
};

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// Wipes a password however the command ends.
struct Secret {
  std::string text;
  ~Secret() { sodium_memzero(text.data(), text.size()); }
};

// One line of standard input, echo off when it is a terminal. False at the
// end of the input.
bool ReadLine(const char* prompt, Secret& out) {
  const bool terminal = isatty(STDIN_FILENO) != 0;
  termios saved{};
  if (terminal) {
    std::fprintf(stderr, "%s", prompt);
    std::fflush(stderr);
    tcgetattr(STDIN_FILENO, &saved);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  const bool read = static_cast<bool>(std::getline(std::cin, out.text));
  if (terminal) {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fprintf(stderr, "\n");
  }
  if (!out.text.empty() && out.text.back() == '\r') out.text.pop_back();
  return read;
}

// The new password of `login`, or false after saying on stderr why there
// is none.
bool ReadNewPassword(std::string_view login, Secret& password) {
  if (!ReadLine("new password: ", password)) {
    std::fprintf(stderr, "mpay-backoffice: no password given\n");
    return false;
  }
  if (const std::string fault = PasswordFault(password.text, login); !fault.empty()) {
    std::fprintf(stderr, "mpay-backoffice: %s\n", fault.c_str());
    return false;
  }
  if (isatty(STDIN_FILENO)) {
    Secret again;
    if (!ReadLine("again: ", again) || again.text != password.text) {
      std::fprintf(stderr, "mpay-backoffice: the passwords differ\n");
      return false;
    }
  }
  return true;
}

int Add(OperatorStore& store, const Options& o) {
  OperatorAccount a;
  a.rights = SplitRights(o.operatorRights);
  for (const std::string& code : a.rights) {
    if (!operations::IsKnownRight(code)) {
      std::fprintf(stderr, "mpay-backoffice: --rights: no right %s here (%s)\n", code.c_str(),
                   operations::KnownRights().c_str());
      return 2;
    }
  }
  Secret password;
  if (!ReadNewPassword(o.operatorLogin, password)) return 1;
  a.record.set_LOGIN_NAME(o.operatorLogin);
  a.record.set_OP_NAME(o.operatorName.empty() ? o.operatorLogin : o.operatorName);
  a.record.set_ORG_ID(o.operatorOrg);
  a.record.set_OP_STATUS(1);
  a.record.set_LOCK_STATUS(0);
  a.record.set_CREATE_DATE(FromStamp(NowStamp()));
  a.passwordHash = HashPassword(password.text);
  OperatorAccount existing;
  if (store.FindOperator(o.operatorLogin, existing)) {
    std::fprintf(stderr, "mpay-backoffice: operator %s exists\n", o.operatorLogin.c_str());
    return 1;
  }
  const int32_t id = store.AddOperator(a);
  std::printf("operator %s added: OP_ID %d\n", o.operatorLogin.c_str(), id);
  return 0;
}

void List(OperatorStore& store) {
  std::printf("%-8s %-16s %-8s %-6s %-6s %-7s %-14s %-14s %s\n", "OP_ID", "LOGIN_NAME", "ORG_ID",
              "STATUS", "LOCKED", "FAILED", "LOCKED_UNTIL", "EXPIRE_DATE", "RIGHTS");
  for (const OperatorAccount& a : store.ListOperators()) {
    std::string rights;
    for (const std::string& r : a.rights) rights += (rights.empty() ? "" : ",") + r;
    std::printf("%-8d %-16s %-8d %-6d %-6d %-7d %-14lld %-14lld %s\n", a.record.OP_ID,
                a.record.LOGIN_NAME.c_str(), a.record.ORG_ID, a.record.OP_STATUS,
                a.record.LOCK_STATUS, a.failedSignIns, static_cast<long long>(a.lockedUntil),
                static_cast<long long>(ToStamp(a.record.EXPIRE_DATE)), rights.c_str());
  }
}

}  // namespace

std::string PasswordFault(std::string_view password, std::string_view login) {
  if (password.size() < kMinPassword || password.size() > kMaxPassword) {
    return "a password has " + std::to_string(kMinPassword) + " to " +
           std::to_string(kMaxPassword) + " characters";
  }
  const Secret lower{Lower(password)};
  if (!login.empty() && lower.text.find(Lower(login)) != std::string::npos)
    return "a password may not hold the login";
  for (std::string_view common : kCommonPasswords) {
    if (lower.text == common) return "that password is among the first any guesser tries";
  }
  return "";
}

int RunOperatorCommand(const Options& o) {
  // An existing database only; one made before sign-in gets the tables.
  OpenStore(o.db)->EnsureSchema();
  const std::unique_ptr<OperatorStore> operators = OpenOperatorStore(o.db);
  if (!operators) {
    std::fprintf(stderr, "mpay-backoffice: %s cannot hold operators\n", o.db.c_str());
    return 1;
  }
  OperatorStore& store = *operators;
  using C = Options::OperatorCommand;
  const char* login = o.operatorLogin.c_str();
  switch (o.operatorCommand) {
    case C::kNone:
      return 2;
    case C::kAdd:
      return Add(store, o);
    case C::kList:
      List(store);
      return 0;
    case C::kPasswd: {
      OperatorAccount a;
      if (!store.FindOperator(o.operatorLogin, a)) break;
      Secret password;
      if (!ReadNewPassword(o.operatorLogin, password)) return 1;
      store.SetPasswordHash(o.operatorLogin, HashPassword(password.text));
      std::printf("operator %s: password changed\n", login);
      return 0;
    }
    case C::kLock:
    case C::kUnlock:
      if (!store.SetLocked(o.operatorLogin, o.operatorCommand == C::kLock)) break;
      std::printf("operator %s %s\n", login, o.operatorCommand == C::kLock ? "locked" : "unlocked");
      return 0;
  }
  std::fprintf(stderr, "mpay-backoffice: no operator %s\n", login);
  return 1;
}

}  // namespace backoffice
