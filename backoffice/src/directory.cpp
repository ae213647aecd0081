#include "backoffice/directory.h"

#include <fcntl.h>
#include <ldap.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <mutex>

#include "backoffice/authenticator.h"
#include "backoffice/key_value_lines.h"

namespace backoffice {
namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// A value inside a search filter: the characters a filter gives a meaning
// to, escaped, so that a login cannot widen the search ("*", "(", ...).
std::string FilterValue(std::string_view value) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string escaped;
  for (const char c : value) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '*' || c == '(' || c == ')' || c == '\\' || u == 0 || u >= 0x80) {
      escaped += '\\';
      escaped += kHex[u >> 4];
      escaped += kHex[u & 15];
    } else {
      escaped += c;
    }
  }
  return escaped;
}

// `pattern` with every `mark` ("%s", "%d") replaced by `value`.
std::string Fill(std::string_view pattern, std::string_view mark, const std::string& value) {
  std::string out;
  for (size_t at; (at = pattern.find(mark)) != std::string_view::npos;) {
    out.append(pattern.substr(0, at)).append(value);
    pattern.remove_prefix(at + mark.size());
  }
  return out.append(pattern);
}

bool IsLoopbackHost(std::string_view host) {
  return host == "localhost" || host.starts_with("127.") || host == "[::1]";
}

// A connection, unbound when it goes.
struct Handle {
  LDAP* ld = nullptr;
  ~Handle() {
    if (ld) ldap_unbind_ext_s(ld, nullptr, nullptr);
  }
};

class LdapDirectory final : public Directory {
 public:
  explicit LdapDirectory(DirectoryConfig config) : cConfig(std::move(config)) {
    const std::string_view rest = std::string_view(cConfig.uri).substr(cConfig.uri.find("://") + 3);
    bStartTls =
        cConfig.uri.starts_with("ldap://") && !IsLoopbackHost(rest.substr(0, rest.rfind(':')));
  }
  ~LdapDirectory() override {
    sodium_memzero(cConfig.bindPassword.data(), cConfig.bindPassword.size());
  }

  Result SignIn(std::string_view login, std::string_view password, DirectoryEntry& out) override {
    const Result found = Find(login, out);
    if (found != Result::kFound) return found;
    if (password.empty()) return Result::kWrongPassword;
    // A connection of its own, so that the service account's stays bound.
    Handle user;
    std::string why;
    if (!Connect(user, why)) return Unreachable(why);
    const int rc = Bind(user.ld, out.dn, password);
    if (rc == LDAP_SUCCESS) return Result::kFound;
    if (rc == LDAP_INVALID_CREDENTIALS) return Result::kWrongPassword;
    return Unreachable(std::string("bind: ") + ldap_err2string(rc));
  }

  Result Find(std::string_view login, DirectoryEntry& out) override {
    std::lock_guard lock(mService);
    // Once again on a new connection when the kept one has gone stale.
    for (int attempt = 0; attempt < 2; ++attempt) {
      std::string why;
      if (!cService.ld && !ConnectService(why)) return Unreachable(why);
      const int rc = Search(login, out);
      if (rc == LDAP_SUCCESS) return Result::kFound;
      if (rc == LDAP_NO_SUCH_OBJECT) return Result::kNotFound;
      why = std::string("search: ") + ldap_err2string(rc);
      if (cService.ld) {
        ldap_unbind_ext_s(cService.ld, nullptr, nullptr);
        cService.ld = nullptr;
      }
      if (attempt == 1) return Unreachable(why);
    }
    return Result::kUnreachable;
  }

  std::string lastError() const override {
    std::lock_guard lock(mError);
    return strError;
  }

 private:
  Result Unreachable(const std::string& why) {
    std::lock_guard lock(mError);
    strError = why;
    return Result::kUnreachable;
  }

  bool Connect(Handle& h, std::string& why) const {
    if (ldap_initialize(&h.ld, cConfig.uri.c_str()) != LDAP_SUCCESS || !h.ld) {
      why = "cannot use " + cConfig.uri;
      return false;
    }
    const int version = LDAP_VERSION3;
    ldap_set_option(h.ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    ldap_set_option(h.ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    timeval timeout{cConfig.timeoutMs / 1000, (cConfig.timeoutMs % 1000) * 1000};
    ldap_set_option(h.ld, LDAP_OPT_NETWORK_TIMEOUT, &timeout);
    ldap_set_option(h.ld, LDAP_OPT_TIMEOUT, &timeout);
    // The server's certificate must check out against the CA, name included.
    const int demand = LDAP_OPT_X_TLS_DEMAND;
    ldap_set_option(h.ld, LDAP_OPT_X_TLS_REQUIRE_CERT, &demand);
    if (!cConfig.caFile.empty())
      ldap_set_option(h.ld, LDAP_OPT_X_TLS_CACERTFILE, cConfig.caFile.c_str());
    const int server = 0;
    ldap_set_option(h.ld, LDAP_OPT_X_TLS_NEWCTX, &server);
    if (bStartTls) {
      const int rc = ldap_start_tls_s(h.ld, nullptr, nullptr);
      if (rc != LDAP_SUCCESS) {
        why = std::string("StartTLS: ") + ldap_err2string(rc);
        return false;
      }
    }
    return true;
  }

  static int Bind(LDAP* ld, const std::string& dn, std::string_view password) {
    berval credentials{static_cast<ber_len_t>(password.size()), const_cast<char*>(password.data())};
    return ldap_sasl_bind_s(ld, dn.c_str(), LDAP_SASL_SIMPLE, &credentials, nullptr, nullptr,
                            nullptr);
  }

  bool ConnectService(std::string& why) {
    Handle h;
    if (!Connect(h, why)) return false;
    const int rc = Bind(h.ld, cConfig.bindDn, cConfig.bindPassword);
    if (rc != LDAP_SUCCESS) {
      why = std::string("service account: ") + ldap_err2string(rc);
      return false;
    }
    cService.ld = std::exchange(h.ld, nullptr);
    return true;
  }

  // The first value of `attribute` of `entry`; "" when it has none.
  std::string Value(LDAPMessage* entry, const std::string& attribute) const {
    if (attribute.empty()) return "";
    berval** values = ldap_get_values_len(cService.ld, entry, attribute.c_str());
    std::string value;
    if (values && values[0]) value.assign(values[0]->bv_val, values[0]->bv_len);
    ldap_value_free_len(values);
    return value;
  }

  // LDAP_SUCCESS with `out` filled; LDAP_NO_SUCH_OBJECT when there is no
  // such operator (or more than one entry); else the failure.
  int Search(std::string_view login, DirectoryEntry& out) {
    const DirectoryMap& map = cConfig.map;
    timeval timeout{cConfig.timeoutMs / 1000, (cConfig.timeoutMs % 1000) * 1000};
    const std::string filter = Fill(map.filter, "%s", FilterValue(login));
    std::vector<std::string> names{map.opIdAttribute, map.nameAttribute};
    if (!map.orgIdAttribute.empty()) names.push_back(map.orgIdAttribute);
    std::vector<char*> attributes;
    for (std::string& n : names) attributes.push_back(n.data());
    attributes.push_back(nullptr);
    LDAPMessage* result = nullptr;
    int rc = ldap_search_ext_s(cService.ld, map.base.c_str(), LDAP_SCOPE_SUBTREE, filter.c_str(),
                               attributes.data(), 0, nullptr, nullptr, &timeout, 2, &result);
    struct Free {
      LDAPMessage*& m;
      ~Free() { ldap_msgfree(m); }
    } free{result};
    if (rc == LDAP_SIZELIMIT_EXCEEDED || rc == LDAP_NO_SUCH_OBJECT) return LDAP_NO_SUCH_OBJECT;
    if (rc != LDAP_SUCCESS) return rc;
    if (ldap_count_entries(cService.ld, result) != 1) return LDAP_NO_SUCH_OBJECT;
    LDAPMessage* entry = ldap_first_entry(cService.ld, result);
    char* dn = ldap_get_dn(cService.ld, entry);
    out = DirectoryEntry();
    out.dn = dn ? dn : "";
    ldap_memfree(dn);
    const std::string opId = Value(entry, map.opIdAttribute);
    const std::string orgId = Value(entry, map.orgIdAttribute);
    auto number = [](const std::string& text, int32_t& n) {
      const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
      return ec == std::errc() && end == text.data() + text.size() && n > 0;
    };
    // An entry without a usable OP_ID is no operator of ours.
    if (out.dn.empty() || !number(opId, out.opId)) return LDAP_NO_SUCH_OBJECT;
    if (!orgId.empty() && !number(orgId, out.orgId)) out.orgId = 0;
    out.name = Value(entry, map.nameAttribute);
    return Groups(out);
  }

  // The rights of the groups `out.dn` is a member of.
  int Groups(DirectoryEntry& out) {
    const DirectoryMap& map = cConfig.map;
    if (map.rights.empty()) return LDAP_SUCCESS;
    timeval timeout{cConfig.timeoutMs / 1000, (cConfig.timeoutMs % 1000) * 1000};
    const std::string filter = Fill(map.groupFilter, "%d", FilterValue(out.dn));
    char noAttributes[] = LDAP_NO_ATTRS;
    char* attributes[] = {noAttributes, nullptr};
    LDAPMessage* result = nullptr;
    const std::string& base = map.groupBase.empty() ? map.base : map.groupBase;
    const int rc = ldap_search_ext_s(cService.ld, base.c_str(), LDAP_SCOPE_SUBTREE, filter.c_str(),
                                     attributes, 0, nullptr, nullptr, &timeout, 1000, &result);
    struct Free {
      LDAPMessage*& m;
      ~Free() { ldap_msgfree(m); }
    } free{result};
    if (rc != LDAP_SUCCESS && rc != LDAP_NO_SUCH_OBJECT && rc != LDAP_SIZELIMIT_EXCEEDED) return rc;
    std::string joined;
    for (LDAPMessage* e = ldap_first_entry(cService.ld, result); e;
         e = ldap_next_entry(cService.ld, e)) {
      char* dn = ldap_get_dn(cService.ld, e);
      const std::string group = Lower(dn ? dn : "");
      ldap_memfree(dn);
      for (const auto& [name, code] : map.rights) {
        if (Lower(name) == group) joined += code + ",";
      }
    }
    out.rights = SplitRights(joined);
    return LDAP_SUCCESS;
  }

  DirectoryConfig cConfig;
  bool bStartTls = false;
  std::mutex mService;  // guards cService: one search at a time
  Handle cService;      // bound as the service account; null until needed
  mutable std::mutex mError;
  std::string strError;
};

}  // namespace

bool ReadSecretFile(const std::string& file, std::string& secret, std::string& why) {
  secret.clear();
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    why = file + ": cannot be opened";
    return false;
  }
  struct stat st {};
  constexpr off_t kMaxSize = 4096;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxSize) {
    why = file + ": not a regular file of at most 4 KiB";
  } else if ((st.st_mode & 077) != 0 || st.st_uid != ::geteuid()) {
    why = file + ": others can read or change it (chmod 600, owned by this user)";
  } else {
    char buffer[kMaxSize + 1];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) secret.assign(buffer, static_cast<std::size_t>(n));
    sodium_memzero(buffer, sizeof buffer);
    secret.erase(std::min(secret.find('\n'), secret.size()));
    if (!secret.empty() && secret.back() == '\r') secret.pop_back();
    if (secret.empty()) why = file + ": holds nothing";
  }
  ::close(fd);
  return why.empty();
}

std::string ParseDirectoryMap(std::string_view text, const std::string& name, DirectoryMap& out) {
  out = DirectoryMap();
  const std::string why = ForEachKeyValue(
      text, name,
      [&](const std::string& where, std::string_view key, std::string_view value) -> std::string {
        if (key.starts_with("right ")) {
          const std::string_view code = TrimSpace(key.substr(6));
          if (code.empty() || value.empty()) return where + "right CODE = GROUP";
          out.rights.emplace_back(std::string(value), std::string(code));
          return "";
        }
        static constexpr std::pair<std::string_view, std::string DirectoryMap::*> kKeys[] = {
            {"base", &DirectoryMap::base},
            {"filter", &DirectoryMap::filter},
            {"op_id", &DirectoryMap::opIdAttribute},
            {"org_id", &DirectoryMap::orgIdAttribute},
            {"name", &DirectoryMap::nameAttribute},
            {"group_base", &DirectoryMap::groupBase},
            {"group_filter", &DirectoryMap::groupFilter},
        };
        const auto* known = std::find_if(std::begin(kKeys), std::end(kKeys),
                                         [&](const auto& k) { return k.first == key; });
        if (known == std::end(kKeys)) return where + "unknown key " + std::string(key);
        out.*(known->second) = std::string(value);
        return "";
      });
  if (!why.empty()) return why;
  if (out.base.empty()) return name + ": base = DN is missing";
  if (out.filter.find("%s") == std::string::npos) return name + ": the filter has no %s";
  if (out.opIdAttribute.empty()) return name + ": op_id = ATTRIBUTE is missing";
  if (!out.rights.empty() && out.groupFilter.find("%d") == std::string::npos)
    return name + ": the group filter has no %d";
  return "";
}

std::unique_ptr<Directory> MakeLdapDirectory(DirectoryConfig config) {
  return std::make_unique<LdapDirectory>(std::move(config));
}

}  // namespace backoffice
