#include "host_options.h"

#include <QCommandLineParser>

TParseResult ParseHostOptions(const QStringList& arguments, CHostOptions& options,
                              std::string& text) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "The MDI host of the business modules: loads each module, lists its businesses in the "
      "menu \"业务\" and opens their windows for the operator.\n"
      "Exit status: 0 normal, 1 a module, the operator file or a script command could not be "
      "used, 2 a wrong command line.");
  const QCommandLineOption help({"h", "help"}, "Shows this help.");
  const QCommandLineOption module(
      "module", "Loads the module PATH (repeatable). Without it, every *.so of the modules folder.",
      "PATH");
  const QCommandLineOption operatorFile(
      "operator",
      "Reads the operator record from FILE (lines FIELD = value) and signs in nowhere: for a back "
      "office that runs with --auth off.",
      "FILE");
  const QCommandLineOption login(
      "login",
      "Signs in as NAME. Headless, the password comes from --password-file or MPAY_PASSWORD; with "
      "a display, the sign-in dialog comes up with NAME (and that password) filled in.",
      "NAME");
  const QCommandLineOption passwordFile(
      "password-file",
      "The password of --login: the first line of FILE, which only its owner "
      "may read.",
      "FILE");
  const QCommandLineOption demoOperator("demo-operator",
                                        "Says that --login names the demo database's operator.");
  const QCommandLineOption open("open", "Opens a window of business ID at start (repeatable).",
                                "ID");
  const QCommandLineOption headless(
      "headless", "Runs a script without a display and prints what an operator would see.");
  const QCommandLineOption script("script", "The script of --headless (default: standard input).",
                                  "FILE");
  parser.addOptions(
      {help, module, operatorFile, login, passwordFile, demoOperator, open, headless, script});
  if (!parser.parse(arguments)) {
    text = parser.errorText().toStdString();
    return TParseResult::kError;
  }
  if (parser.isSet(help)) {
    text = parser.helpText().toStdString();
    return TParseResult::kHelp;
  }
  if (!parser.positionalArguments().isEmpty()) {
    text = "unexpected argument " + parser.positionalArguments().first().toStdString();
    return TParseResult::kError;
  }
  if (parser.values(operatorFile).size() > 1 || parser.values(script).size() > 1) {
    text = "--operator and --script may be given once";
    return TParseResult::kError;
  }
  if (parser.isSet(operatorFile) && parser.isSet(login)) {
    text = "--operator signs in nowhere: it does not go with --login";
    return TParseResult::kError;
  }
  if ((parser.isSet(passwordFile) || parser.isSet(demoOperator)) && !parser.isSet(login)) {
    text = "--password-file and --demo-operator need --login";
    return TParseResult::kError;
  }
  if (parser.isSet(script) && !parser.isSet(headless)) {
    text = "--script needs --headless";
    return TParseResult::kError;
  }
  for (const QString& path : parser.values(module)) options.vModules.push_back(path.toStdString());
  for (const QString& value : parser.values(open)) {
    bool ok = false;
    const int id = value.toInt(&ok);
    if (!ok) {
      text = "--open takes a business id, not " + value.toStdString();
      return TParseResult::kError;
    }
    options.vOpenIds.push_back(id);
  }
  options.strOperatorFile = parser.value(operatorFile).toStdString();
  options.strLogin = parser.value(login).toStdString();
  options.strPasswordFile = parser.value(passwordFile).toStdString();
  options.bDemoOperator = parser.isSet(demoOperator);
  options.bHeadless = parser.isSet(headless);
  options.strScript = parser.value(script).toStdString();
  return TParseResult::kRun;
}
