#include "backoffice/options.h"

#include <charconv>
#include <cstdint>
#include <string_view>

#include "backoffice/log.h"

namespace backoffice {
namespace {

bool ParseInt(std::string_view text, int64_t min, int64_t max, int64_t& out) {
  int64_t v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || v < min || v > max) return false;
  out = v;
  return true;
}

}  // namespace

const char* Usage() {
  return "usage: mpay-backoffice --db FILE [--listen tcp://127.0.0.1:PORT|tls://HOST:PORT]... "
         "[--tls-cert FILE --tls-key FILE]\n"
         "                      [--nats nats://HOST:PORT[,HOST:PORT]] [--broker NAME] [--workers "
         "N] "
         "[--max-rows N]\n"
         "                      [--max-connections N] [--idle-timeout S] [--write-timeout S]\n"
         "                      [--max-buffered-mb N] [--on-audit-failure refuse|continue]\n"
         "                      [--audit-keep-days N] [--audit-key FILE]\n"
         "                      [--metrics tcp://127.0.0.1:PORT [--metrics-public]] "
         "[--log-level debug|info|warn|error]\n"
         "                      [--auth required|off] [--max-failed-signins N] [--lockout S]\n"
         "                      [--session-idle S] [--session-max-age S]\n"
         "       mpay-backoffice --init-demo FILE [--rows N]\n"
         "       mpay-backoffice --db FILE --add-operator LOGIN [--op-name TEXT] [--org-id N]\n"
         "                      [--rights CODE[,CODE]]\n"
         "       mpay-backoffice --db FILE --passwd-operator|--lock-operator|--unlock-operator "
         "LOGIN\n"
         "       mpay-backoffice --db FILE --list-operators\n"
         "       mpay-backoffice --db FILE --verify-audit [--from ID] [--audit-key FILE]\n"
         "       mpay-backoffice --db FILE --make-audit-key [--audit-key FILE]\n"
         "  (a password is read from the terminal without echo, or from standard input)\n";
}

std::string ParseOptions(int argc, const char* const* argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      o.help = true;
      continue;
    }
    if (arg == "--metrics-public") {
      o.metricsPublic = true;
      continue;
    }
    if (arg == "--list-operators") {
      o.operatorCommand = Options::OperatorCommand::kList;
      continue;
    }
    if (arg == "--verify-audit" || arg == "--make-audit-key") {
      o.auditCommand = arg == "--verify-audit" ? Options::AuditCommand::kVerify
                                               : Options::AuditCommand::kMakeKey;
      continue;
    }
    if (i + 1 >= argc) return "missing value after " + std::string(arg);
    std::string_view value = argv[++i];
    int64_t n = 0;
    if (arg == "--db") {
      o.db = value;
    } else if (arg == "--listen") {
      if (!value.starts_with("tcp://") && !value.starts_with("tls://"))
        return "--listen takes tcp://HOST:PORT or tls://HOST:PORT";
      o.listen.emplace_back(value);
    } else if (arg == "--tls-cert") {
      o.tlsCert = value;
    } else if (arg == "--tls-key") {
      o.tlsKey = value;
    } else if (arg == "--nats") {
      if (!value.starts_with("nats://")) return "--nats takes nats://HOST:PORT";
      o.nats = value;
    } else if (arg == "--broker") {
      if (value.empty()) return "--broker needs a name";
      o.broker = value;
    } else if (arg == "--workers") {
      if (!ParseInt(value, 1, 256, n)) return "--workers takes 1 to 256";
      o.workers = static_cast<int>(n);
    } else if (arg == "--max-rows") {
      if (!ParseInt(value, 1, 10000000, n)) return "--max-rows takes 1 to 10000000";
      o.maxRows = n;
    } else if (arg == "--max-connections") {
      if (!ParseInt(value, 1, 1000000, n)) return "--max-connections takes 1 to 1000000";
      o.maxConnections = static_cast<int>(n);
    } else if (arg == "--idle-timeout") {
      if (!ParseInt(value, 1, 86400, n)) return "--idle-timeout takes 1 to 86400 seconds";
      o.idleTimeoutS = static_cast<int>(n);
    } else if (arg == "--write-timeout") {
      if (!ParseInt(value, 1, 3600, n)) return "--write-timeout takes 1 to 3600 seconds";
      o.writeTimeoutS = static_cast<int>(n);
    } else if (arg == "--on-audit-failure") {
      if (value != "refuse" && value != "continue")
        return "--on-audit-failure takes refuse or continue";
      o.auditFailClosed = value == "refuse";
    } else if (arg == "--audit-keep-days") {
      if (!ParseInt(value, 0, 36500, n)) return "--audit-keep-days takes 0 to 36500";
      o.auditKeepDays = static_cast<int>(n);
    } else if (arg == "--audit-key") {
      if (value.empty()) return "--audit-key needs a file name";
      o.auditKey = value;
    } else if (arg == "--from") {
      if (!ParseInt(value, 1, INT64_MAX, n)) return "--from takes an audit row id";
      o.verifyFrom = n;
    } else if (arg == "--max-buffered-mb") {
      if (!ParseInt(value, 1, 65536, n)) return "--max-buffered-mb takes 1 to 65536";
      o.maxBufferedMb = static_cast<int>(n);
    } else if (arg == "--metrics") {
      if (!value.starts_with("tcp://")) return "--metrics takes tcp://HOST:PORT";
      o.metrics = value;
    } else if (arg == "--log-level") {
      log::Level level;
      if (!log::ParseLevel(value, level)) return "--log-level takes debug, info, warn or error";
      o.logLevel = value;
    } else if (arg == "--auth") {
      if (value != "required" && value != "off") return "--auth takes required or off";
      o.authRequired = value == "required";
    } else if (arg == "--max-failed-signins") {
      if (!ParseInt(value, 1, 1000, n)) return "--max-failed-signins takes 1 to 1000";
      o.maxFailedSignIns = static_cast<int>(n);
    } else if (arg == "--lockout") {
      if (!ParseInt(value, 1, 86400 * 30, n)) return "--lockout takes 1 to 2592000 seconds";
      o.lockoutS = static_cast<int>(n);
    } else if (arg == "--session-idle") {
      if (!ParseInt(value, 1, 86400 * 7, n)) return "--session-idle takes 1 to 604800 seconds";
      o.sessionIdleS = static_cast<int>(n);
    } else if (arg == "--session-max-age") {
      if (!ParseInt(value, 1, 86400 * 30, n)) return "--session-max-age takes 1 to 2592000 seconds";
      o.sessionMaxAgeS = static_cast<int>(n);
    } else if (arg == "--add-operator" || arg == "--passwd-operator" || arg == "--lock-operator" ||
               arg == "--unlock-operator") {
      if (value.empty() || value.size() > 64) return std::string(arg) + " takes a login name";
      using C = Options::OperatorCommand;
      o.operatorCommand = arg == "--add-operator"      ? C::kAdd
                          : arg == "--passwd-operator" ? C::kPasswd
                          : arg == "--lock-operator"   ? C::kLock
                                                       : C::kUnlock;
      o.operatorLogin = value;
    } else if (arg == "--op-name") {
      o.operatorName = value;
    } else if (arg == "--org-id") {
      if (!ParseInt(value, 0, 2147483647, n)) return "--org-id takes 0 to 2147483647";
      o.operatorOrg = static_cast<int>(n);
    } else if (arg == "--rights") {
      o.operatorRights = value;
    } else if (arg == "--init-demo") {
      o.initDemo = value;
    } else if (arg == "--rows") {
      if (!ParseInt(value, 0, 1000000000, n)) return "--rows takes 0 to 1000000000";
      o.demoRows = n;
    } else {
      return "unknown option " + std::string(arg);
    }
  }
  if (o.help) return "";
  if (o.operatorCommand != Options::OperatorCommand::kNone ||
      o.auditCommand != Options::AuditCommand::kNone) {
    return o.db.empty() ? "--db FILE is required" : "";
  }
  if (o.initDemo.empty()) {
    if (o.db.empty()) return "--db FILE is required";
    if (o.listen.empty() && o.nats.empty()) return "give --listen, --nats or both";
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
    if (!o.authRequired) {
      // Without sign-in anyone who reaches an endpoint may query: only this
      // machine's own processes, and only over direct connections.
      if (!o.nats.empty()) return "--auth off is refused with --nats";
      for (const std::string& url : o.listen) {
        if (!url.starts_with("tcp://") || !IsLoopbackUrl(url))
          return "--auth off is refused with " + url + ": not tcp:// on loopback";
      }
    }
  }
  return "";
}

bool IsLoopbackUrl(const std::string& url) {
  const std::string_view rest = std::string_view(url).substr(std::string_view("tcp://").size());
  const std::string_view host = rest.substr(0, rest.rfind(':'));
  return host == "localhost" || host == "[::1]" || host == "::1" || host.starts_with("127.");
}

}  // namespace backoffice
