#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Operators kept in a company directory (LDAP), beside the local ones. A
// service account searches for the operator's entry; a bind as that entry
// with the operator's password checks the password, which is neither logged
// nor kept. The entry's attributes give the operator record's fields and
// its groups the rights, through a mapping (docs/operations.md, "Directory
// sign-in").
namespace backoffice {

// Where the directory keeps operators, and how they read as ours.
struct DirectoryMap {
  std::string base;                                         // where operators are searched
  std::string filter = "(uid=%s)";                          // %s: the login, escaped
  std::string opIdAttribute = "employeeNumber";             // OP_ID, a number
  std::string orgIdAttribute;                               // ORG_ID, a number; "": 0
  std::string nameAttribute = "cn";                         // OP_NAME
  std::string groupBase;                                    // "": the base
  std::string groupFilter = "(member=%d)";                  // %d: the entry's name, escaped
  std::vector<std::pair<std::string, std::string>> rights;  // group's name, service code
};

// Reads a mapping file's text (KEY = VALUE lines, # comments; `right CODE =
// GROUP` once per right and group). "" and `out` filled, or what is wrong,
// with `name` and the line.
std::string ParseDirectoryMap(std::string_view text, const std::string& name, DirectoryMap& out);

struct DirectoryConfig {
  std::string uri;     // ldaps://HOST[:PORT], or ldap://HOST[:PORT] (StartTLS unless loopback)
  std::string caFile;  // the certificates the server's is checked with; "": the system's
  std::string bindDn;  // the service account
  std::string bindPassword;
  int timeoutMs = 3000;  // of each operation, connecting included
  DirectoryMap map;
};

// An operator as the directory has it.
struct DirectoryEntry {
  std::string dn;
  int32_t opId = 0;
  int32_t orgId = 0;
  std::string name;
  std::vector<std::string> rights;  // service codes, sorted
};

class Directory {
 public:
  enum class Result {
    kFound,          // (and for SignIn: the password is right)
    kNotFound,       // no such enabled operator (none, disabled, or more than one entry)
    kWrongPassword,  // found, and `out` filled, but the password is wrong
    kUnreachable,    // the directory could not be asked (down, TLS, the service account refused)
  };
  virtual ~Directory() = default;
  // Finds `login`'s entry and binds as it with `password` (an empty one is
  // wrong, never an anonymous bind). Thread-safe.
  virtual Result SignIn(std::string_view login, std::string_view password, DirectoryEntry& out) = 0;
  // Finds `login`'s entry, as the service account: is it still there and
  // enabled, and what are its fields and rights now. Thread-safe.
  virtual Result Find(std::string_view login, DirectoryEntry& out) = 0;
  // What the last kUnreachable was, for the logs (never a password).
  virtual std::string lastError() const = 0;
};

// A secret from `file` (its first line), which only its owner, this user,
// may read or change: false with the reason in `why` (never the secret).
bool ReadSecretFile(const std::string& file, std::string& secret, std::string& why);

// The directory of `config`, on OpenLDAP's client library. Connects on
// first use.
std::unique_ptr<Directory> MakeLdapDirectory(DirectoryConfig config);

}  // namespace backoffice
