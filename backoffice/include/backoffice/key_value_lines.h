#pragma once
// Text of `KEY = VALUE` lines, as the configuration file and the directory's
// mapping file are written: blank lines and lines that begin with '#' are
// skipped, and the spaces around a key and a value are not part of them.

#include <algorithm>
#include <string>
#include <string_view>

namespace backoffice {

// TEXT without its leading and trailing spaces, tabs and carriage returns.
inline std::string_view TrimSpace(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// Calls each(where, key, value) for every line of TEXT in order, where is
// "NAME:LINE: " for the caller's messages. The first reason a call returns
// (or a line that is not KEY = VALUE) ends the walk and is returned; "" when
// every line was taken.
template <class Each>
std::string ForEachKeyValue(std::string_view text, const std::string& name, Each each) {
  int line = 0;
  while (!text.empty()) {
    ++line;
    const size_t end = std::min(text.find('\n'), text.size());
    const std::string_view content = TrimSpace(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
    if (content.empty() || content.front() == '#') continue;
    const std::string where = name + ":" + std::to_string(line) + ": ";
    const size_t eq = content.find('=');
    if (eq == std::string_view::npos) return where + "not KEY = VALUE";
    std::string why =
        each(where, TrimSpace(content.substr(0, eq)), TrimSpace(content.substr(eq + 1)));
    if (!why.empty()) return why;
  }
  return "";
}

}  // namespace backoffice
