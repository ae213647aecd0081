#pragma once

#include <exception>
#include <string>

namespace backoffice {

// Raised by the storage layer; never leaves the service's request handler.
// The text names what failed and never holds a password.
class DbError : public std::exception {
 public:
  explicit DbError(std::string what) : strWhat(std::move(what)) {}
  const char* what() const noexcept override { return strWhat.c_str(); }

 private:
  std::string strWhat;
};

}  // namespace backoffice
