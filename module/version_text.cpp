#include "version_text.h"

#include <cstring>
#include <string>

namespace micropaylog {

int CopyVersionText(const char* version, std::size_t size, char* buffer) {
  if (buffer == nullptr) return -1;
  // A working copy that ends in a NUL even when the text fills the buffer.
  const std::string text(version, size == 0 ? 0 : strnlen(version, size - 1));
  std::size_t end = text.size();
  while (end > 0 && text[end - 1] == ' ') --end;
  std::size_t begin = 0;
  while (begin < end && text[begin] == ' ') ++begin;
  std::memcpy(buffer, text.data() + begin, end - begin);
  buffer[end - begin] = '\0';
  return 0;
}

}  // namespace micropaylog
