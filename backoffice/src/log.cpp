#include "backoffice/log.h"

#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "tmclient/text_escape.h"

namespace backoffice::log {
namespace {

std::atomic<Level> gLevel{Level::kInfo};

constexpr std::string_view kLevelNames[] = {"debug", "info", "warn", "error"};
constexpr std::size_t kMinMasked = 7;
constexpr std::size_t kKeptHead = 3;
constexpr std::size_t kKeptTail = 4;
constexpr std::size_t kHeadFrom = 11;  // shorter runs keep no head: 3 + 4 would be all of them

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// A value is quoted when logfmt could not read it bare.
bool NeedsQuotes(std::string_view v) {
  if (v.empty()) return true;
  for (char c : v) {
    if (c == ' ' || c == '=' || c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20 ||
        c == 0x7f) {
      return true;
    }
  }
  return false;
}

void AppendText(std::string& out, std::string_view raw, bool verbatim = false) {
  const std::string v = verbatim ? std::string(raw) : Masked(raw);
  if (!NeedsQuotes(v)) {
    out += v;
    return;
  }
  tmclient::EscapeStyle style;
  style.bShortForms = true;
  style.bQuotes = true;
  out += '"';
  tmclient::AppendEscaped(out, v, style);
  out += '"';
}

}  // namespace

bool ParseLevel(std::string_view text, Level& level) {
  for (std::size_t i = 0; i < std::size(kLevelNames); ++i) {
    if (text == kLevelNames[i]) {
      level = static_cast<Level>(i);
      return true;
    }
  }
  return false;
}

void SetLevel(Level level) {
  gLevel.store(level, std::memory_order_relaxed);
}

bool Enabled(Level level) {
  return level >= gLevel.load(std::memory_order_relaxed);
}

std::string Masked(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    if (!IsDigit(text[i])) {
      out += text[i++];
      continue;
    }
    std::size_t end = i;
    while (end < text.size() && IsDigit(text[end])) ++end;
    if (end < text.size() && (text[end] == 'X' || text[end] == 'x')) ++end;
    const std::size_t n = end - i;
    if (n < kMinMasked) {
      out.append(text, i, n);
    } else {
      if (n >= kHeadFrom) out.append(text, i, kKeptHead);
      out += "****";
      out.append(text, end - kKeptTail, kKeptTail);
    }
    i = end;
  }
  return out;
}

std::string Format(int64_t unixMillis, Level level, std::string_view event,
                   std::initializer_list<Field> fields) {
  const std::time_t seconds = static_cast<std::time_t>(unixMillis / 1000);
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  char ts[80];
  std::snprintf(ts, sizeof ts, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                static_cast<int>(unixMillis % 1000));
  std::string line = "ts=";
  line += ts;
  line += " level=";
  line += kLevelNames[static_cast<int>(level)];
  line += " event=";
  AppendText(line, event);
  for (const Field& f : fields) {
    line += ' ';
    line += f.key;
    line += '=';
    if (f.bText) {
      AppendText(line, f.strText, f.bVerbatim);
    } else if (f.bDouble) {
      char number[32];
      std::snprintf(number, sizeof number, "%.6g", f.dNumber);
      line += number;
    } else {
      line += std::to_string(f.iNumber);
    }
  }
  return line;
}

void Write(Level level, std::string_view event, std::initializer_list<Field> fields) {
  if (!Enabled(level)) return;
  const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  std::string line = Format(now, level, event, fields);
  line += '\n';
  // One write per line: lines from several threads never interleave.
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace backoffice::log
