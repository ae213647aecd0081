#include "backoffice/options.h"

#include <charconv>
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
         "                      [--metrics tcp://127.0.0.1:PORT [--metrics-public]] "
         "[--log-level debug|info|warn|error]\n"
         "       mpay-backoffice --init-demo FILE [--rows N]\n";
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
    } else if (arg == "--metrics") {
      if (!value.starts_with("tcp://")) return "--metrics takes tcp://HOST:PORT";
      o.metrics = value;
    } else if (arg == "--log-level") {
      log::Level level;
      if (!log::ParseLevel(value, level)) return "--log-level takes debug, info, warn or error";
      o.logLevel = value;
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
  }
  return "";
}

bool IsLoopbackUrl(const std::string& url) {
  const std::string_view rest = std::string_view(url).substr(std::string_view("tcp://").size());
  const std::string_view host = rest.substr(0, rest.rfind(':'));
  return host == "localhost" || host == "[::1]" || host == "::1" || host.starts_with("127.");
}

}  // namespace backoffice
