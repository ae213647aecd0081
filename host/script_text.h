#pragma once

#include <string>
#include <string_view>
#include <vector>

// The text side of the headless script language: splitting script lines and
// writing output lines. Scripts and output are UTF-8.

// A script line cut into its command word and the rest. Blank lines and
// lines whose first non-blank character is '#' have an empty command.
struct CScriptLine {
  std::string strCommand;
  std::string strRest;  // after the one blank that follows the command
  bool bHasRest = false;
};
CScriptLine SplitScriptLine(std::string_view line);

// Cuts `rest` into exactly `count` arguments separated by one blank, the
// last taking what remains of the line (blanks included). False when there
// are fewer.
bool SplitArguments(std::string_view rest, size_t count, std::vector<std::string>& args);

// A field of an output line: '\\', '\n', '\t' and '\r' written as two
// characters each, so that a field never holds a tab or ends a line; every
// other control character as \xNN (U+0080 to U+009F as \u00NN), so that a
// server's text cannot drive the terminal the output reaches.
std::string EscapeField(std::string_view text);

// The fields of an output line (without its line feed), as they stand.
std::vector<std::string> SplitOutputLine(std::string_view line);

// The fields joined by tabs, with a final line feed. Fields are escaped by
// the caller where they carry free text.
std::string OutputLine(const std::vector<std::string>& fields);
