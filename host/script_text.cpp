#include "script_text.h"

#include "tmclient/text_escape.h"

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
  tmclient::EscapeStyle style;
  style.bShortForms = true;
  style.bUtf8C1 = true;  // the output is UTF-8
  return tmclient::Escaped(text, style);
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
