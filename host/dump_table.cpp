#include "dump_table.h"

#include <algorithm>

#include "script_text.h"

namespace {

// Decodes the code point at `i` and moves past it; a byte that starts no
// valid sequence counts as one character.
char32_t NextCodePoint(std::string_view s, size_t& i) {
  const auto b = static_cast<unsigned char>(s[i]);
  const int length = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 1;
  if (length == 1 || i + length > s.size()) {
    ++i;
    return b;
  }
  char32_t c = b & (0x7F >> length);
  for (int k = 1; k < length; ++k) c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
  i += length;
  return c;
}

bool IsWide(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
         (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
         (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

// "CAPTION:WIDTH" without its width.
std::string Caption(const std::string& field) {
  const size_t colon = field.rfind(':');
  return colon == std::string::npos ? field : field.substr(0, colon);
}

}  // namespace

int DisplayWidth(std::string_view utf8) {
  int width = 0;
  for (size_t i = 0; i < utf8.size();) width += IsWide(NextCodePoint(utf8, i)) ? 2 : 1;
  return width;
}

void WriteTable(const CDumpTable& table, std::ostream& out) {
  std::vector<int> widths;
  auto measure = [&widths](const std::vector<std::string>& cells) {
    if (widths.size() < cells.size()) widths.resize(cells.size(), 0);
    for (size_t c = 0; c < cells.size(); ++c)
      widths[c] = std::max(widths[c], DisplayWidth(cells[c]));
  };
  measure(table.vCaptions);
  for (const auto& row : table.vRows) measure(row);
  auto write = [&](const std::vector<std::string>& cells) {
    std::string line;
    for (size_t c = 0; c < cells.size(); ++c) {
      line += cells[c];
      if (c + 1 < cells.size())
        line.append(static_cast<size_t>(widths[c] - DisplayWidth(cells[c]) + 2), ' ');
    }
    out << line << '\n';
  };
  write(table.vCaptions);
  int rule = 0;
  for (size_t c = 0; c < widths.size(); ++c) rule += widths[c] + (c ? 2 : 0);
  out << std::string(rule, '-') << '\n';
  for (const auto& row : table.vRows) write(row);
  out << "(" << table.vRows.size() << (table.vRows.size() == 1 ? " row)" : " rows)") << '\n';
}

void FormatDumps(std::istream& in, std::ostream& out) {
  std::string line;
  CDumpTable table;
  bool inDump = false;
  while (std::getline(in, line)) {
    std::vector<std::string> fields = SplitOutputLine(line);
    if (fields[0] == "columns") {
      table = {};
      for (size_t i = 1; i < fields.size(); ++i) table.vCaptions.push_back(Caption(fields[i]));
      inDump = true;
    } else if (inDump && fields[0] == "row") {
      table.vRows.emplace_back(fields.begin() + 1, fields.end());
    } else if (inDump && fields[0] == "rows") {
      WriteTable(table, out);
      inDump = false;
    } else {
      out << line << '\n';
    }
    out.flush();
  }
}
