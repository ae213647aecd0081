#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

// Terminal tables of the headless host's list dumps, for people: `make run`
// shows its result lists this way.

// Columns a UTF-8 text takes on a terminal: two for East Asian wide and
// full-width characters (Chinese among them), one for the others.
int DisplayWidth(std::string_view utf8);

// One table: the captions and the rows of cells, in order.
struct CDumpTable {
  std::vector<std::string> vCaptions;
  std::vector<std::vector<std::string>> vRows;
};

// Writes the table with every column padded to its widest cell, columns two
// blanks apart, a rule under the captions and the row count at the end.
void WriteTable(const CDumpTable& table, std::ostream& out);

// Copies the host's output from `in` to `out`, writing each dump (a
// `columns` line, its `row` lines and the `rows` line) as a table; every
// other line passes unchanged.
void FormatDumps(std::istream& in, std::ostream& out);
