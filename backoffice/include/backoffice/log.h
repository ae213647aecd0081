#pragma once

// The back office's log: one line per event on standard error, in logfmt
//   ts=2026-12-07T15:20:03.123Z level=warn event=audit_batch_lost entries=12 reason="..."
// so that a log collector can parse it. Text values are quoted when they
// need it, and phone and certificate numbers in them are masked
// (13812345678 -> 138****5678): the log never holds a whole one. The lines
// that scripts wait for (the start-up lines) go to standard output instead,
// and are not written through here.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace backoffice::log {

enum class Level { kDebug, kInfo, kWarn, kError };

// "debug", "info", "warn" or "error"; false for anything else.
bool ParseLevel(std::string_view text, Level& level);
// Events below `level` are not written. The default is kInfo.
void SetLevel(Level level);
bool Enabled(Level level);

// One key=value of a line. Numbers are written as they are; texts are
// masked and quoted as needed.
struct Field {
  Field(std::string_view k, std::string_view text) : key(k), strText(text), bText(true) {}
  Field(std::string_view k, const std::string& text) : Field(k, std::string_view(text)) {}
  Field(std::string_view k, const char* text) : Field(k, std::string_view(text)) {}
  Field(std::string_view k, int64_t number) : key(k), iNumber(number) {}
  Field(std::string_view k, int number) : Field(k, int64_t{number}) {}
  Field(std::string_view k, uint64_t number) : Field(k, static_cast<int64_t>(number)) {}
  Field(std::string_view k, double number) : key(k), dNumber(number), bDouble(true) {}
  // A text that holds no personal data and must stay whole (hashes,
  // signatures): never masked.
  static Field Verbatim(std::string_view k, std::string_view text) {
    Field f(k, text);
    f.bVerbatim = true;
    return f;
  }

  std::string_view key;
  std::string_view strText;
  int64_t iNumber = 0;
  double dNumber = 0;
  bool bText = false;
  bool bDouble = false;
  bool bVerbatim = false;
};

// Writes one line when `level` is enabled; whole lines only, from any thread.
void Write(Level level, std::string_view event, std::initializer_list<Field> fields = {});

// The line Write would write, without its newline, at `unixMillis`.
std::string Format(int64_t unixMillis, Level level, std::string_view event,
                   std::initializer_list<Field> fields);

// `text` with every run of digits that may be a phone or certificate number
// (7 or more digits, a certificate's trailing X included) masked: the first
// three and last four kept for 11 and more, only the last four below.
std::string Masked(std::string_view text);

}  // namespace backoffice::log
