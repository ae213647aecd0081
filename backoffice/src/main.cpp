#include <cstdio>

#include "backoffice/demo_data.h"
#include "backoffice/options.h"
#include "backoffice/sqlite_db.h"

int main(int argc, char** argv) {
  backoffice::Options options;
  std::string error = backoffice::ParseOptions(argc, argv, options);
  if (!error.empty() || options.help) {
    if (!error.empty()) std::fprintf(stderr, "mpay-backoffice: %s\n", error.c_str());
    std::fputs(backoffice::Usage(), error.empty() ? stdout : stderr);
    return error.empty() ? 0 : 2;
  }
  try {
    if (!options.initDemo.empty()) {
      backoffice::DemoOptions demo;
      demo.rows = options.demoRows;
      auto s = backoffice::GenerateDemo(options.initDemo, demo);
      std::printf("demo database %s: %lld log rows (%lld .. %lld), %lld users\n",
                  options.initDemo.c_str(), static_cast<long long>(s.logRows),
                  static_cast<long long>(s.firstStamp), static_cast<long long>(s.lastStamp),
                  static_cast<long long>(s.users));
      return 0;
    }
  } catch (const backoffice::DbError& e) {
    std::fprintf(stderr, "mpay-backoffice: %s\n", e.what());
    return 1;
  }
  return 0;
}
