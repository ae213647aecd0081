#pragma once

#include <QStringList>
#include <string>
#include <vector>

// The host's command line.
struct CHostOptions {
  std::vector<std::string> vModules;  // --module PATH, in order; empty: the modules folder
  std::string strOperatorFile;        // --operator FILE (no sign-in); empty: sign in
  std::string strLogin;               // --login NAME
  std::string strPasswordFile;        // --password-file FILE; empty: MPAY_PASSWORD
  bool bDemoOperator = false;         // --demo-operator: the login is the demo database's
  std::vector<int> vOpenIds;          // --open ID, in order
  bool bHeadless = false;             // --headless
  std::string strScript;              // --script FILE; empty: standard input
};

enum class TParseResult { kRun, kHelp, kError };

// Parses `arguments` (the program name first). kHelp: `text` is the help;
// kError: `text` says what is wrong (exit status 2).
TParseResult ParseHostOptions(const QStringList& arguments, CHostOptions& options,
                              std::string& text);
