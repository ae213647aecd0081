#include "tmclient/text_escape.h"

namespace tmclient {
namespace {

constexpr char kHex[] = "0123456789abcdef";

void Hex(std::string& out, const char* prefix, unsigned char b) {
  out += prefix;
  out += kHex[b >> 4];
  out += kHex[b & 15];
}

// The two-character form of `c` under `style`, or 0 for none.
char ShortForm(char c, EscapeStyle style) {
  if (style.bQuotes && c == '"') return '"';
  if (!style.bShortForms) return 0;
  switch (c) {
    case '\\':
      return '\\';
    case '\n':
      return 'n';
    case '\t':
      return 't';
    case '\r':
      return 'r';
    default:
      return 0;
  }
}

}  // namespace

void AppendEscaped(std::string& out, std::string_view text, EscapeStyle style) {
  out.reserve(out.size() + text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const auto b = static_cast<unsigned char>(c);
    if (style.bUtf8C1 && b == 0xc2 && i + 1 < text.size() &&
        (static_cast<unsigned char>(text[i + 1]) & 0xe0) == 0x80) {
      Hex(out, "\\u00", static_cast<unsigned char>(text[++i]));
    } else if (const char form = ShortForm(c, style); form != 0) {
      out += '\\';
      out += form;
    } else if (b < 0x20 || b == 0x7f) {
      Hex(out, "\\x", b);
    } else {
      out += c;
    }
  }
}

std::string Escaped(std::string_view text, EscapeStyle style) {
  std::string out;
  AppendEscaped(out, text, style);
  return out;
}

}  // namespace tmclient
