#pragma once

#include <string>
#include <utility>

namespace backoffice {

// The outcome of a step that may fail: 0, or a result code with the text
// that explains it (for the service's own codes, the operator's message in
// GBK; elsewhere a reason for the log). What the back office's steps return
// instead of out-parameters, exceptions or bare codes.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(int code, std::string text) : iCode(code), strText(std::move(text)) {}

  bool ok() const { return iCode == 0; }
  int code() const { return iCode; }
  const std::string& text() const { return strText; }

 private:
  int iCode = 0;
  std::string strText;
};

}  // namespace backoffice
