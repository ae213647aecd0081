// mpay-table: shows the list dumps of `mpay-host --headless` as aligned
// tables; every other line of the host's output passes unchanged.
//
//   mpay-host --headless --script demo.txt | mpay-table

#include <iostream>

#include "dump_table.h"

int main() {
  FormatDumps(std::cin, std::cout);
  return 0;
}
