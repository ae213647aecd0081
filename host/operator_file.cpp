#include "operator_file.h"

#include <QStringDecoder>
#include <charconv>
#include <limits>

#include "bounded_file.h"
#include "toolkit/qtext.h"

using MSysmgntDef::SOperator;

namespace {

std::string_view TrimBlanks(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

// A mistyped field name is shown; anything else in its place might be part
// of a value (a password line with a blank in the wrong place) and is not.
std::string PrintableName(std::string_view name) {
  const bool plain = !name.empty() && name.size() <= 32 &&
                     name.find_first_not_of(
                         "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                         "abcdefghijklmnopqrstuvwxyz0123456789_") == std::string_view::npos;
  return plain ? std::string(name) : std::string("(not a field name)");
}

template <class Int>
bool ParseValue(std::string_view text, Int& value) {
  long long v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() ||
      v < std::numeric_limits<Int>::min() || v > std::numeric_limits<Int>::max()) {
    return false;
  }
  value = static_cast<Int>(v);
  return true;
}

bool ParseValue(std::string_view text, std::string& value) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
  const QString decoded = utf8.decode(QByteArrayView(text.data(), qsizetype(text.size())));
  if (utf8.hasError()) return false;
  value = QStringToGbk(decoded);
  return true;
}

// "yyyymmddhhmmss", "yyyy-mm-dd", "yyyy-mm-dd hh:mm:ss"; empty: none.
bool ParseValue(std::string_view text, QRSDateTime& value) {
  if (text.empty()) {
    value = QRSDateTime();
    return true;
  }
  std::string digits;
  if (text.size() == 14) {
    digits = text;
  } else if ((text.size() == 10 || text.size() == 19) && text[4] == '-' && text[7] == '-') {
    digits = std::string(text.substr(0, 4)) + std::string(text.substr(5, 2)) +
             std::string(text.substr(8, 2));
    if (text.size() == 19) {
      if (text[10] != ' ' || text[13] != ':' || text[16] != ':') return false;
      digits += std::string(text.substr(11, 2)) + std::string(text.substr(14, 2)) +
                std::string(text.substr(17, 2));
    } else {
      digits += "000000";
    }
  } else {
    return false;
  }
  const QRSDateTime parsed(digits);
  // "00000000000000" is the one all-zero text; anything else that gives the
  // empty value was not a date.
  if (parsed.isNull() && digits != "00000000000000") return false;
  value = parsed;
  return true;
}

template <class T, void (SOperator::*Set)(const T&)>
bool SetField(SOperator& record, std::string_view text) {
  T value{};
  if (!ParseValue(text, value)) return false;
  (record.*Set)(value);
  return true;
}

struct CFieldEntry {
  const char* name;
  bool (*set)(SOperator&, std::string_view);
};

#define HOST_OPERATOR_FIELD_(k, T, NAME) {#NAME, &SetField<T, &SOperator::set_##NAME>},
constexpr CFieldEntry kFields[] = {MPAY_SOPERATOR_FIELDS(HOST_OPERATOR_FIELD_)};
#undef HOST_OPERATOR_FIELD_
constexpr size_t kFieldCount = sizeof kFields / sizeof kFields[0];

}  // namespace

bool ParseOperatorText(std::string_view text, SOperator& record, std::string& error) {
  SOperator parsed;
  bool seen[kFieldCount] = {};
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // a UTF-8 byte order mark
  int lineNumber = 0;
  while (!text.empty()) {
    const size_t nl = text.find('\n');
    const std::string_view rawLine = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    ++lineNumber;
    const std::string where = "line " + std::to_string(lineNumber) + ": ";
    if (rawLine.size() > kMaxOperatorLineBytes) {
      error = where + "longer than " + std::to_string(kMaxOperatorLineBytes) + " bytes";
      return false;
    }
    const std::string_view line = TrimBlanks(rawLine);
    if (line.empty() || line.front() == '#') continue;
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      error = where + "expected FIELD = value";
      return false;
    }
    const std::string_view name = TrimBlanks(line.substr(0, eq));
    const std::string_view value = TrimBlanks(line.substr(eq + 1));
    size_t f = 0;
    while (f < kFieldCount && name != kFields[f].name) ++f;
    if (f == kFieldCount) {
      error = where + "unknown field " + PrintableName(name);
      return false;
    }
    if (seen[f]) {
      error = where + kFields[f].name + " is given twice";
      return false;
    }
    seen[f] = true;
    if (!kFields[f].set(parsed, value)) {
      error = where + "the value of " + kFields[f].name + " cannot be read";
      return false;
    }
  }
  record = std::move(parsed);
  return true;
}

bool ReadOperatorFile(const std::string& path, SOperator& record, std::string& error) {
  std::string content;
  if (!ReadBoundedFile(path, {kMaxOperatorFileBytes, true}, content, error)) {
    error = path + ": " + error;
    return false;
  }
  if (!ParseOperatorText(content, record, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

SOperator DemoOperator() {
  SOperator op;
  op.set_OP_ID(8001);
  op.set_OP_NAME(QStringToGbk(QStringLiteral("演示操作员")));
  op.set_LOGIN_NAME("demo");
  op.set_TYPE(1);
  op.set_OP_STATUS(1);
  op.set_CREATE_DATE(QRSDateTime(2020, 1, 1, 0, 0, 0));
  op.set_VALID_DATE(QRSDateTime(2020, 1, 1, 0, 0, 0));
  op.set_EXPIRE_DATE(QRSDateTime(2099, 12, 31, 23, 59, 59));
  op.set_ORG_ID(100);
  op.set_COUNTY_CODE(1);
  op.set_REGION_CODE(10);
  return op;
}
