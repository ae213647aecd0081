#include "bounded_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

std::string Check(int fd, const CFileLimits& limits) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return std::string("cannot be read: ") + std::strerror(errno);
  if (!S_ISREG(st.st_mode)) return "not a regular file";
  if (limits.bOwnerOnly && (st.st_mode & 077) != 0)
    return "other users may read or write it (chmod 600 it)";
  if (static_cast<std::size_t>(st.st_size) > limits.iMaxBytes)
    return "larger than " + std::to_string(limits.iMaxBytes) + " bytes";
  return {};
}

}  // namespace

bool ReadBoundedFile(const std::string& path, const CFileLimits& limits, std::string& text,
                     std::string& error) {
  // Non-blocking, so that opening a FIFO returns at once and is refused.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    error = std::string("cannot be read: ") + std::strerror(errno);
    return false;
  }
  error = Check(fd, limits);
  std::string content;
  if (error.empty()) {
    // One byte more than allowed tells a file that grew since it was looked at.
    content.resize(limits.iMaxBytes + 1);
    std::size_t got = 0;
    while (got < content.size()) {
      const ssize_t n = ::read(fd, content.data() + got, content.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) error = std::string("cannot be read: ") + std::strerror(errno);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    content.resize(got);
    if (error.empty() && got > limits.iMaxBytes)
      error = "larger than " + std::to_string(limits.iMaxBytes) + " bytes";
  }
  ::close(fd);
  if (!error.empty()) return false;
  text = std::move(content);
  return true;
}
