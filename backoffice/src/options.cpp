#include "backoffice/options.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>

#include "backoffice/key_value_lines.h"
#include "backoffice/log.h"

#ifndef MPAY_BACKOFFICE_CONFIG
#define MPAY_BACKOFFICE_CONFIG ""
#endif

namespace backoffice {
namespace {

bool ParseInt(std::string_view text, int64_t min, int64_t max, int64_t& out) {
  int64_t v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || v < min || v > max) return false;
  out = v;
  return true;
}

// An option's setter takes its value ("" for one without) and returns "" or
// why the value is wrong, worded to follow the option's name ("takes 1 to 256").
using Setter = std::string (*)(std::string_view value, Options& o);

template <auto kField, int64_t kMin, int64_t kMax, bool kSeconds = false>
std::string SetInt(std::string_view value, Options& o) {
  int64_t n = 0;
  if (!ParseInt(value, kMin, kMax, n)) {
    return "takes " + std::to_string(kMin) + " to " + std::to_string(kMax) +
           (kSeconds ? " seconds" : "");
  }
  o.*kField = static_cast<std::remove_reference_t<decltype(o.*kField)>>(n);
  return "";
}

template <auto kField>
std::string SetText(std::string_view value, Options& o) {
  o.*kField = value;
  return "";
}

std::string SetOperatorCommand(Options& o, Options::OperatorCommand command,
                               std::string_view login) {
  if (login.empty() || login.size() > 64) return "takes a login name";
  o.operatorCommand = command;
  o.operatorLogin = login;
  return "";
}

struct OptionDef {
  std::string_view name;  // after "--"; the configuration file's key
  bool takesValue;
  bool commandLineOnly;  // a command or a choice for this run only: not in the file
  Setter set;
  // Repeatable options only: drops what the file gave, before the command
  // line's first value.
  void (*clear)(Options& o) = nullptr;
};

constexpr bool kValue = true, kFlag = false;
constexpr bool kAnywhere = false, kCommandLine = true;
using C = Options::OperatorCommand;

const OptionDef kOptions[] = {
    {"help", kFlag, kCommandLine,
     [](std::string_view, Options& o) {
       o.help = true;
       return std::string();
     }},
    {"config", kValue, kCommandLine, [](std::string_view, Options&) { return std::string(); }},
    {"db", kValue, kAnywhere, SetText<&Options::db>},
    {"db-read", kValue, kAnywhere,
     [](std::string_view v, Options& o) {
       if (!v.starts_with("postgresql://") && !v.starts_with("postgres://"))
         return std::string("takes the postgresql:// URI of a read replica");
       o.dbRead.emplace_back(v);
       return std::string();
     },
     [](Options& o) { o.dbRead.clear(); }},
    {"db-read-max-lag", kValue, kAnywhere, SetInt<&Options::dbReadMaxLagS, 1, 3600, true>},
    {"listen", kValue, kAnywhere,
     [](std::string_view v, Options& o) {
       if (!v.starts_with("tcp://") && !v.starts_with("tls://"))
         return std::string("takes tcp://HOST:PORT or tls://HOST:PORT");
       o.listen.emplace_back(v);
       return std::string();
     },
     [](Options& o) { o.listen.clear(); }},
    {"tls-cert", kValue, kAnywhere, SetText<&Options::tlsCert>},
    {"tls-key", kValue, kAnywhere, SetText<&Options::tlsKey>},
    {"nats", kValue, kAnywhere,
     [](std::string_view v, Options& o) {
       if (!v.starts_with("nats://")) return std::string("takes nats://HOST:PORT");
       o.nats = v;
       return std::string();
     }},
    {"broker", kValue, kAnywhere,
     [](std::string_view v, Options& o) {
       if (v.empty()) return std::string("needs a name");
       o.broker = v;
       return std::string();
     }},
    {"workers", kValue, kAnywhere, SetInt<&Options::workers, 1, 256>},
    {"max-rows", kValue, kAnywhere, SetInt<&Options::maxRows, 1, 10000000>},
    {"max-connections", kValue, kAnywhere, SetInt<&Options::maxConnections, 1, 1000000>},
    {"idle-timeout", kValue, kAnywhere, SetInt<&Options::idleTimeoutS, 1, 86400, true>},
    {"write-timeout", kValue, kAnywhere, SetInt<&Options::writeTimeoutS, 1, 3600, true>},
    {"max-buffered-mb", kValue, kAnywhere, SetInt<&Options::maxBufferedMb, 1, 65536>},
    {"on-audit-failure", kValue, kAnywhere,
     [](std::string_view v, Options& o) {
       if (v != "refuse" && v != "continue") return std::string("takes refuse or continue");
       o.auditFailClosed = v == "refuse";
       return std::string();
     }},
    {"audit-keep-days", kValue, kAnywhere, SetInt<&Options::auditKeepDays, 0, 36500>},
    {"audit-verify-hours", kValue, kAnywhere, SetInt<&Options::auditVerifyHours, 0, 8760>},
    {"audit-journal", kValue, kAnywhere,
     [](std::string_view v, Options& o) {
       if (v.empty()) return std::string("needs a folder name");
       o.auditJournal = v;
       return std::string();
     }},
    {"audit-key", kValue, kAnywhere,
     [](std::string_view v, Options& o) {
       if (v.empty()) return std::string("needs a file name");
       o.auditKey = v;
       return std::string();
     }},
    {"verify-audit", kFlag, kCommandLine,
     [](std::string_view, Options& o) {
       o.auditCommand = Options::AuditCommand::kVerify;
       return std::string();
     }},
    {"make-audit-key", kFlag, kCommandLine,
     [](std::string_view, Options& o) {
       o.auditCommand = Options::AuditCommand::kMakeKey;
       return std::string();
     }},
    {"from", kValue, kCommandLine, SetInt<&Options::verifyFrom, 1, INT64_MAX>},
    {"metrics", kValue, kAnywhere,
     [](std::string_view v, Options& o) {
       if (!v.starts_with("tcp://")) return std::string("takes tcp://HOST:PORT");
       o.metrics = v;
       return std::string();
     }},
    {"metrics-public", kFlag, kAnywhere,
     [](std::string_view, Options& o) {
       o.metricsPublic = true;
       return std::string();
     }},
    {"log-level", kValue, kAnywhere,
     [](std::string_view v, Options& o) {
       log::Level level;
       if (!log::ParseLevel(v, level)) return std::string("takes debug, info, warn or error");
       o.logLevel = v;
       return std::string();
     }},
    {"auth", kValue, kAnywhere,
     [](std::string_view v, Options& o) {
       if (v != "required" && v != "off") return std::string("takes required or off");
       o.authRequired = v == "required";
       return std::string();
     }},
    {"max-failed-signins", kValue, kAnywhere, SetInt<&Options::maxFailedSignIns, 1, 1000>},
    {"lockout", kValue, kAnywhere, SetInt<&Options::lockoutS, 1, 86400 * 30, true>},
    {"session-idle", kValue, kAnywhere, SetInt<&Options::sessionIdleS, 1, 86400 * 7, true>},
    {"session-max-age", kValue, kAnywhere, SetInt<&Options::sessionMaxAgeS, 1, 86400 * 30, true>},
    {"lock-unused-days", kValue, kAnywhere, SetInt<&Options::lockUnusedDays, 0, 36500>},
    {"ldap", kValue, kAnywhere,
     [](std::string_view v, Options& o) {
       // One server; ldap:// to another machine is encrypted with StartTLS.
       const bool ok = (v.starts_with("ldaps://") || v.starts_with("ldap://")) &&
                       v.substr(v.find("://") + 3).find_first_of("/ ") == std::string_view::npos &&
                       !v.ends_with("://");
       if (!ok) return std::string("takes ldaps://HOST[:PORT] or ldap://HOST[:PORT]");
       o.ldap = v;
       return std::string();
     }},
    {"ldap-ca", kValue, kAnywhere, SetText<&Options::ldapCa>},
    {"ldap-bind-dn", kValue, kAnywhere, SetText<&Options::ldapBindDn>},
    {"ldap-password-file", kValue, kAnywhere, SetText<&Options::ldapPasswordFile>},
    {"ldap-map", kValue, kAnywhere, SetText<&Options::ldapMap>},
    {"ldap-order", kValue, kAnywhere,
     [](std::string_view v, Options& o) {
       if (v != "local-first" && v != "directory-first")
         return std::string("takes local-first or directory-first");
       o.ldapFirst = v == "directory-first";
       return std::string();
     }},
    {"ldap-recheck", kValue, kAnywhere, SetInt<&Options::ldapRecheckS, 10, 86400, true>},
    {"add-operator", kValue, kCommandLine,
     [](std::string_view v, Options& o) { return SetOperatorCommand(o, C::kAdd, v); }},
    {"passwd-operator", kValue, kCommandLine,
     [](std::string_view v, Options& o) { return SetOperatorCommand(o, C::kPasswd, v); }},
    {"lock-operator", kValue, kCommandLine,
     [](std::string_view v, Options& o) { return SetOperatorCommand(o, C::kLock, v); }},
    {"unlock-operator", kValue, kCommandLine,
     [](std::string_view v, Options& o) { return SetOperatorCommand(o, C::kUnlock, v); }},
    {"list-operators", kFlag, kCommandLine,
     [](std::string_view, Options& o) {
       o.operatorCommand = C::kList;
       return std::string();
     }},
    {"op-name", kValue, kCommandLine, SetText<&Options::operatorName>},
    {"org-id", kValue, kCommandLine, SetInt<&Options::operatorOrg, 0, 2147483647>},
    {"rights", kValue, kCommandLine, SetText<&Options::operatorRights>},
    {"init-demo", kValue, kCommandLine, SetText<&Options::initDemo>},
    {"rows", kValue, kCommandLine, SetInt<&Options::demoRows, 0, 1000000000>},
};

const OptionDef* FindOption(std::string_view name) {
  for (const OptionDef& def : kOptions) {
    if (def.name == name) return &def;
  }
  return nullptr;
}

// Walks argv: each(def, arg, value) for every option, "" when it takes none.
// Returns "" or what is wrong with the command line.
template <class Each>
std::string WalkArgs(int argc, const char* const* argv, Each&& each) {
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "-h") arg = "--help";
    const OptionDef* def = arg.starts_with("--") ? FindOption(arg.substr(2)) : nullptr;
    if (def == nullptr) return "unknown option " + std::string(arg);
    std::string_view value;
    if (def->takesValue) {
      if (i + 1 >= argc) return "missing value after " + std::string(arg);
      value = argv[++i];
    }
    std::string why = each(*def, value);
    if (!why.empty()) return std::string(arg) + " " + why;
  }
  return "";
}

// What the options must be together, once the file and the command line
// have both been read.
std::string CheckTogether(const Options& o) {
  if (o.help) return "";
  if (o.operatorCommand != Options::OperatorCommand::kNone ||
      o.auditCommand != Options::AuditCommand::kNone) {
    return o.db.empty() ? "--db FILE is required" : "";
  }
  if (!o.initDemo.empty()) return "";
  if (o.db.empty()) return "--db FILE is required";
  if (o.listen.empty() && o.nats.empty()) return "give --listen, --nats or both";
  if (!o.dbRead.empty() && !o.db.starts_with("postgresql://") && !o.db.starts_with("postgres://"))
    return "--db-read is for a PostgreSQL --db";
  if (!o.metrics.empty() && !IsLoopbackUrl(o.metrics) && !o.metricsPublic) {
    return "--metrics " + o.metrics +
           " is open to other machines: give --metrics-public as well if that is meant";
  }
  bool tls = false;
  for (const std::string& url : o.listen) tls = tls || url.starts_with("tls://");
  if (tls && (o.tlsCert.empty() || o.tlsKey.empty()))
    return "a tls:// listener needs --tls-cert FILE and --tls-key FILE";
  if (!tls && !(o.tlsCert.empty() && o.tlsKey.empty()))
    return "--tls-cert and --tls-key are for tls:// listeners; none is given";
  if (!o.ldap.empty()) {
    if (!o.authRequired) return "--ldap needs --auth required";
    if (o.ldapMap.empty() || o.ldapBindDn.empty())
      return "--ldap needs --ldap-map FILE and --ldap-bind-dn DN";
  }
  if (!o.authRequired) {
    // Without sign-in anyone who reaches an endpoint may query: only this
    // machine's own processes, and only over direct connections.
    if (!o.nats.empty()) return "--auth off is refused with --nats";
    for (const std::string& url : o.listen) {
      if (!url.starts_with("tcp://") || !IsLoopbackUrl(url))
        return "--auth off is refused with " + url + ": not tcp:// on loopback";
    }
  }
  return "";
}

// A mistyped key is shown; anything else in its place may be part of a value
// (a password pasted into the wrong line) and is not.
std::string PrintableKey(std::string_view key) {
  const bool plain =
      !key.empty() && key.size() <= 40 &&
      key.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-_") == std::string_view::npos;
  return plain ? std::string(key) : std::string("(not a key)");
}

}  // namespace

const char* Usage() {
  // Written as appends: GCC 12 misreports a join of a literal and a
  // std::string here as reading past the string (-Warray-bounds).
  static const std::string text = [] {
    std::string t(
        "usage: mpay-backoffice [--config FILE] --db FILE [--db-read URI]... "
        "[--db-read-max-lag S]\n"
        "                      [--listen tcp://127.0.0.1:PORT|tls://HOST:PORT]... "
        "[--tls-cert FILE --tls-key FILE]\n"
        "                      [--nats nats://HOST:PORT[,HOST:PORT]] [--broker NAME] "
        "[--workers N] [--max-rows N]\n"
        "                      [--max-connections N] [--idle-timeout S] [--write-timeout S]\n"
        "                      [--max-buffered-mb N] [--on-audit-failure refuse|continue]\n"
        "                      [--audit-keep-days N] [--audit-key FILE] [--audit-journal DIR]\n"
        "                      [--audit-verify-hours N]\n"
        "                      [--metrics tcp://127.0.0.1:PORT [--metrics-public]] "
        "[--log-level debug|info|warn|error]\n"
        "                      [--auth required|off] [--max-failed-signins N] [--lockout S]\n"
        "                      [--session-idle S] [--session-max-age S] [--lock-unused-days N]\n"
        "                      [--ldap ldaps://HOST[:PORT] --ldap-map FILE --ldap-bind-dn DN\n"
        "                       [--ldap-password-file FILE] [--ldap-ca FILE]\n"
        "                       [--ldap-order local-first|directory-first] [--ldap-recheck S]]\n"
        "       mpay-backoffice --init-demo FILE [--rows N]\n"
        "       mpay-backoffice --db FILE --add-operator LOGIN [--op-name TEXT] [--org-id N]\n"
        "                      [--rights RIGHT[,RIGHT]]\n"
        "       mpay-backoffice --db FILE --passwd-operator|--lock-operator|--unlock-operator "
        "LOGIN\n"
        "       mpay-backoffice --db FILE --list-operators\n"
        "       mpay-backoffice --db FILE --verify-audit [--from ID] [--audit-key FILE]\n"
        "       mpay-backoffice --db FILE --make-audit-key [--audit-key FILE]\n"
        "  (a password is read from the terminal without echo, or from standard input)\n"
        "  Every option but the commands may be a line `NAME = VALUE` of the configuration\n"
        "  file instead (`NAME = true` for one without a value); the command line wins.\n"
        "  --config '' reads none");
    t += std::string_view(MPAY_BACKOFFICE_CONFIG).empty()
             ? ".\n"
             : "; without --config, " MPAY_BACKOFFICE_CONFIG " is read when it exists.\n";
    return t;
  }();
  return text.c_str();
}

std::string ParseOptions(int argc, const char* const* argv, Options& o) {
  std::vector<const OptionDef*> cleared;
  std::string error = WalkArgs(argc, argv, [&](const OptionDef& def, std::string_view value) {
    if (def.clear != nullptr && std::find(cleared.begin(), cleared.end(), &def) == cleared.end()) {
      def.clear(o);
      cleared.push_back(&def);
    }
    return def.set(value, o);
  });
  return error.empty() ? CheckTogether(o) : error;
}

std::string ConfigFileOf(int argc, const char* const* argv) {
  const char* named = nullptr;
  WalkArgs(argc, argv, [&](const OptionDef& def, std::string_view value) {
    if (def.name == "config") named = value.data();
    return std::string();
  });
  if (named != nullptr) return named;
  const std::string builtIn = MPAY_BACKOFFICE_CONFIG;
  return !builtIn.empty() && ::access(builtIn.c_str(), F_OK) == 0 ? builtIn : "";
}

std::string ApplyConfigText(std::string_view text, const std::string& name, Options& o) {
  std::vector<const OptionDef*> given;
  return ForEachKeyValue(
      text, name,
      [&](const std::string& where, std::string_view key, std::string_view value) -> std::string {
        const OptionDef* def = FindOption(key);
        if (def == nullptr || def->commandLineOnly)
          return where + "unknown key " + PrintableKey(key);
        if (def->clear == nullptr && std::find(given.begin(), given.end(), def) != given.end())
          return where + std::string(key) + " is given twice";
        given.push_back(def);
        if (!def->takesValue) {
          if (value != "true" && value != "false")
            return where + std::string(key) + " takes true or false";
          if (value == "false") return "";
          value = {};
        }
        std::string why = def->set(value, o);
        return why.empty() ? why : where + std::string(key) + " " + why;
      });
}

std::string ApplyConfigFile(const std::string& file, Options& o) {
  constexpr off_t kMaxSize = 1 << 20;
  // The checks are made on the file opened, not on a name that may be
  // replaced meanwhile.
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return file + ": " + std::strerror(errno);
  std::string why;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    why = std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    why = "not a regular file";
  } else if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    why = "other users may change it (chmod go-w)";
  } else if (st.st_uid != 0 && st.st_uid != ::geteuid()) {
    why = "owned by another user, who may change it";
  } else if (st.st_size > kMaxSize) {
    why = "larger than 1 MiB";
  }
  std::string text;
  if (why.empty()) {
    text.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (got < text.size()) {
      const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    text.resize(got);
  }
  ::close(fd);
  return why.empty() ? ApplyConfigText(text, file, o) : file + ": " + why;
}

bool IsLoopbackUrl(const std::string& url) {
  const std::string_view rest = std::string_view(url).substr(std::string_view("tcp://").size());
  const std::string_view host = rest.substr(0, rest.rfind(':'));
  return host == "localhost" || host == "[::1]" || host == "::1" || host.starts_with("127.");
}

}  // namespace backoffice
