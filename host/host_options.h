#pragma once

#include <QStringList>
#include <string>
#include <vector>

// The host's command line.
struct CHostOptions {
  std::vector<std::string> modules;  // --module PATH, in order; empty: the modules folder
  std::string strOperatorFile;       // --operator FILE; empty: the demo operator
  std::vector<int> openIds;          // --open ID, in order
  bool bHeadless = false;            // --headless
  std::string strScript;             // --script FILE; empty: standard input
};

enum class TParseResult { kRun, kHelp, kError };

// Parses `arguments` (the program name first). kHelp: `text` is the help;
// kError: `text` says what is wrong (exit status 2).
TParseResult ParseHostOptions(const QStringList& arguments, CHostOptions& options,
                              std::string& text);
