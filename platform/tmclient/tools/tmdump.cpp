// tmdump FILE: prints the items of a captured stream frame, one per line.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "tmclient/stream_dump.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tmdump FILE\n");
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "tmdump: cannot open %s\n", argv[1]);
    return 1;
  }
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const std::string listing = tmclient::DumpStream(bytes);
  std::cout << listing;
  // A listing that ends in an error line means the frame does not decode.
  const std::size_t last = listing.rfind('\n', listing.size() >= 2 ? listing.size() - 2 : 0);
  const std::size_t from = last == std::string::npos ? 0 : last + 1;
  return listing.compare(from, 15, "error at offset") == 0 ? 1 : 0;
}
