#include "script_text.h"

#include "guicommon/control_text.h"

CScriptLine SplitScriptLine(std::string_view line) {
  CScriptLine parsed;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);  // CRLF scripts
  const size_t first = line.find_first_not_of(' ');
  if (first == std::string_view::npos || line[first] == '#') return parsed;
  line.remove_prefix(first);
  const size_t blank = line.find(' ');
  parsed.strCommand = line.substr(0, blank);
  if (blank != std::string_view::npos) {
    parsed.strRest = line.substr(blank + 1);
    parsed.bHasRest = true;
  }
  return parsed;
}

bool SplitArguments(std::string_view rest, size_t count, std::vector<std::string>& args) {
  args.clear();
  if (count == 0) return true;
  while (args.size() + 1 < count) {
    const size_t blank = rest.find(' ');
    if (blank == std::string_view::npos) return false;
    args.emplace_back(rest.substr(0, blank));
    rest.remove_prefix(blank + 1);
  }
  args.emplace_back(rest);
  return true;
}

std::string EscapeField(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const auto b = static_cast<unsigned char>(c);
    // The C1 controls, U+0080 to U+009F (0xC2 0x80 to 0xC2 0x9F in UTF-8),
    // which some terminals obey as escape sequences.
    if (b == 0xc2 && i + 1 < text.size() &&
        (static_cast<unsigned char>(text[i + 1]) & 0xe0) == 0x80) {
      const auto next = static_cast<unsigned char>(text[++i]);
      out += "\\u00";
      out += kHex[next >> 4];
      out += kHex[next & 15];
      continue;
    }
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (b < 0x20 || b == 0x7f)
          out += EscapeControls(text.substr(i, 1));
        else
          out += c;
    }
  }
  return out;
}

std::string OutputLine(const std::vector<std::string>& fields) {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line += '\t';
    line += fields[i];
  }
  line += '\n';
  return line;
}

std::vector<std::string> SplitOutputLine(std::string_view line) {
  std::vector<std::string> fields;
  for (;;) {
    const size_t tab = line.find('\t');
    fields.emplace_back(line.substr(0, tab));
    if (tab == std::string_view::npos) return fields;
    line.remove_prefix(tab + 1);
  }
}
