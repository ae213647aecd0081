#include "forms/keyfilters.h"

namespace MBaseWindow {

namespace {

constexpr signed char kBackspace = 8;
constexpr signed char kCtrlA = 1;
constexpr signed char kCtrlC = 3;
constexpr signed char kCtrlV = 22;
constexpr signed char kCtrlX = 24;

signed char Code(char key) {
  return static_cast<signed char>(key);
}

}  // namespace

bool AcceptsWholeNumberKey(char key) {
  const signed char c = Code(key);
  if (c >= '0' && c <= '9') return true;
  return c == kBackspace || c == kCtrlA || c == kCtrlC || c == kCtrlV || c == kCtrlX;
}

bool AcceptsDecimalKey(char key) {
  return AcceptsWholeNumberKey(key) || Code(key) == '.';
}

bool AcceptsRangeKey(char key) {
  return AcceptsWholeNumberKey(key) || Code(key) == '-' || Code(key) == ' ';
}

bool AcceptsSingleByteKey(char key) {
  return Code(key) >= 0;
}

}  // namespace MBaseWindow
