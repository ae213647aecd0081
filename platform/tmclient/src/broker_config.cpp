#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>

#include "private_file.h"
#include "tmclient/broker_config.h"

namespace tmclient {
namespace {

constexpr long long kMaxDeadlineMs = 86400000;
constexpr int64_t kMaxReplyMbLimit = 256;  // tmb_stream::kMaxFrameSize
constexpr int64_t kMaxRowsLimit = 100000000;

std::string_view Trim(std::string_view s) {
  const char* ws = " \t\r\n";
  auto b = s.find_first_not_of(ws);
  if (b == std::string_view::npos) return {};
  auto e = s.find_last_not_of(ws);
  return s.substr(b, e - b + 1);
}

bool Fail(std::string* why, const char* text) {
  if (why) *why = text;
  return false;
}

bool ParsePort(std::string_view s, uint16_t& port) {
  unsigned v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || ec != std::errc() || p != s.data() + s.size() || v == 0 || v > 65535)
    return false;
  port = static_cast<uint16_t>(v);
  return true;
}

bool ParseEndpoint(std::string_view s, BrokerEndpoint& out) {
  std::string_view host;
  std::string_view port;
  if (!s.empty() && s.front() == '[') {
    auto close = s.find(']');
    if (close == std::string_view::npos || close + 1 >= s.size() || s[close + 1] != ':')
      return false;
    host = s.substr(1, close - 1);
    port = s.substr(close + 2);
  } else {
    auto colon = s.rfind(':');
    if (colon == std::string_view::npos) return false;
    host = s.substr(0, colon);
    port = s.substr(colon + 1);
    if (host.find(':') != std::string_view::npos) return false;
  }
  if (host.empty()) return false;
  for (char c : host) {
    if (c <= ' ' || c == '/' || c == '?' || c == ',' || c == '@' || c == '[' || c == ']' ||
        static_cast<unsigned char>(c) >= 0x7f)
      return false;
  }
  if (!ParsePort(port, out.port)) return false;
  out.host = std::string(host);
  return true;
}

// A whole number from 1 to `max`.
bool ParseCount(std::string_view value, int64_t max, int64_t& out) {
  long long n = 0;
  auto [p, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
  if (value.empty() || ec != std::errc() || p != value.data() + value.size() || n < 1 || n > max)
    return false;
  out = n;
  return true;
}

bool ParseOptions(std::string_view opts, BrokerUrl& out, std::string* why) {
  while (!opts.empty()) {
    auto amp = opts.find('&');
    std::string_view item = opts.substr(0, amp);
    opts = amp == std::string_view::npos ? std::string_view() : opts.substr(amp + 1);
    auto eq = item.find('=');
    std::string_view key = item.substr(0, eq);
    std::string_view value =
        eq == std::string_view::npos ? std::string_view() : item.substr(eq + 1);
    if (key == "broker") {
      if (!IsValidBrokerToken(value))
        return Fail(why, "broker= takes letters, digits, '_' and '-' only");
      out.broker = std::string(value);
      continue;
    }
    if (key == "idempotent") {
      out.idempotent.clear();
      while (true) {
        const auto comma = value.find(',');
        const std::string_view code = value.substr(0, comma);
        if (!IsValidBrokerToken(code))
          return Fail(why, "idempotent= takes service codes joined by ','");
        out.idempotent.emplace_back(code);
        if (comma == std::string_view::npos) break;
        value = value.substr(comma + 1);
      }
      continue;
    }
    if (key == "ca" || key == "creds") {
      if (value.empty()) return Fail(why, "ca= and creds= take a file's path");
      (key == "ca" ? out.caFile : out.credsFile) = std::string(value);
      continue;
    }
    if (key == "max_reply_mb") {
      if (!ParseCount(value, kMaxReplyMbLimit, out.maxReplyMb))
        return Fail(why, "max_reply_mb takes 1 to 256");
      continue;
    }
    if (key == "max_rows") {
      if (!ParseCount(value, kMaxRowsLimit, out.maxRows))
        return Fail(why, "max_rows takes 1 to 100000000");
      continue;
    }
    int64_t* ms = key == "deadline_ms"  ? &out.deadlineMs
                  : key == "attempt_ms" ? &out.attemptMs
                  : key == "retry_ms"   ? &out.retryMs
                                        : nullptr;
    if (ms == nullptr)
      return Fail(
          why,
          "unknown option (deadline_ms, broker, idempotent, attempt_ms, retry_ms, max_reply_mb, "
          "max_rows, ca and creds are known)");
    if (!ParseCount(value, kMaxDeadlineMs, *ms))
      return Fail(why,
                  "deadline_ms, attempt_ms and retry_ms take whole milliseconds, 1 to 86400000");
  }
  return true;
}

bool IsFile(const std::string& path) {
  return !path.empty() && access(path.c_str(), F_OK) == 0;
}

}  // namespace

bool IsValidBrokerToken(std::string_view name) {
  if (name.empty() || name.size() > 200) return false;
  for (char c : name) {
    bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

bool ParseBrokerUrl(std::string_view url, BrokerUrl& out, std::string* why) {
  out = BrokerUrl();
  url = Trim(url);
  auto sep = url.find("://");
  if (sep == std::string_view::npos || sep == 0) return Fail(why, "expected SCHEME://...");
  for (char c : url.substr(0, sep)) {
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-'))
      return Fail(why, "the scheme must be lower-case letters and digits");
  }
  out.scheme = std::string(url.substr(0, sep));
  std::string_view rest = url.substr(sep + 3);
  auto q = rest.find('?');
  if (q != std::string_view::npos) {
    if (!ParseOptions(rest.substr(q + 1), out, why)) return false;
    rest = rest.substr(0, q);
  }
  if (rest.empty()) return Fail(why, "nothing after SCHEME://");
  out.target = std::string(rest);
  const bool direct = out.scheme == "tcp" || out.scheme == "tls";
  if (!direct && out.scheme != "nats") return true;
  if (!out.caFile.empty() && out.scheme == "tcp")
    return Fail(why, "ca= is for tls:// and nats://; tcp:// is clear text");
  if (!out.credsFile.empty() && out.scheme != "nats") return Fail(why, "creds= is for nats://");

  while (true) {
    auto comma = rest.find(',');
    BrokerEndpoint ep;
    if (!ParseEndpoint(rest.substr(0, comma), ep)) return Fail(why, "expected HOST:PORT");
    out.endpoints.push_back(std::move(ep));
    if (comma == std::string_view::npos) break;
    rest = rest.substr(comma + 1);
  }
  if (direct && out.endpoints.size() != 1)
    return Fail(why, "tcp:// and tls:// take exactly one HOST:PORT");
  return true;
}

std::string UserBrokerConfigPath() {
  if (const char* conf = std::getenv("TMCLIENT_CONF"); conf && *conf) return conf;
  std::string xdg;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) {
    xdg = x;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    xdg = std::string(home) + "/.config";
  }
  if (xdg.empty()) return "";
  std::string user = xdg + "/tmclient/brokers.conf";
  return IsFile(user) ? user : "";
}

BrokerConfig ReadBrokerConfig(const std::string& path) {
  BrokerConfig cfg;
  cfg.path = path;
  // Only a file that is not there at all means "no configuration": one that
  // cannot be used is an error, which a user's file or a default never hides.
  if (::access(path.c_str(), F_OK) != 0 && errno == ENOENT) return cfg;
  std::string text;
  if (!ReadCheckedFile(path, FileUse::kShared, text, cfg.error)) return cfg;
  cfg.found = true;
  std::string_view rest = text;
  int lineNo = 0;
  while (!rest.empty()) {
    ++lineNo;
    auto nl = rest.find('\n');
    std::string_view line = Trim(rest.substr(0, nl));
    rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
    if (line.empty() || line.front() == '#') continue;
    auto eq = line.find('=');
    if (eq == std::string_view::npos && line.starts_with("lock") && line.size() > 4 &&
        (line[4] == ' ' || line[4] == '\t')) {
      const std::string_view locked = Trim(line.substr(4));
      if (locked.find_first_of(" \t") == std::string_view::npos) {
        cfg.locked.emplace(locked);
        continue;
      }
    }
    std::string_view name = eq == std::string_view::npos ? line : Trim(line.substr(0, eq));
    std::string_view url =
        eq == std::string_view::npos ? std::string_view() : Trim(line.substr(eq + 1));
    bool nameOk = !name.empty() && name.find_first_of(" \t") == std::string_view::npos;
    if (eq == std::string_view::npos || !nameOk || url.empty()) {
      cfg.problems.push_back(path + ":" + std::to_string(lineNo) +
                             ": expected NAME = URL or lock NAME");
      continue;
    }
    cfg.urls[std::string(name)] = std::string(url);
  }
  return cfg;
}

}  // namespace tmclient
