#include "private_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tmclient {
namespace {

constexpr std::size_t kMaxSize = 1u << 20;

bool Refuse(const std::string& path, const char* what, std::string& why) {
  why = path + ": " + what;
  return false;
}

}  // namespace

bool ReadCheckedFile(const std::string& path, FileUse use, std::string& out, std::string& why) {
  out.clear();
  // The checks are made on the file opened, not on a name that may be
  // replaced meanwhile.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return Refuse(path, std::strerror(errno), why);
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0;
  if (!ok) {
    Refuse(path, std::strerror(errno), why);
  } else if (!S_ISREG(st.st_mode)) {
    ok = Refuse(path, "not a regular file", why);
  } else if (use == FileUse::kSecret && (st.st_mode & (S_IRWXO | S_IWGRP)) != 0) {
    ok = Refuse(path, "other users may read or change it (chmod 600)", why);
  } else if (use == FileUse::kTrusted && (st.st_mode & (S_IWOTH | S_IWGRP)) != 0) {
    ok = Refuse(path, "other users may change it (chmod 644)", why);
  } else if (use == FileUse::kShared && (st.st_mode & S_IWOTH) != 0) {
    ok = Refuse(path, "other users may change it (chmod o-w)", why);
  } else if (static_cast<std::size_t>(st.st_size) > kMaxSize) {
    ok = Refuse(path, "larger than 1 MiB", why);
  }
  while (ok) {
    char buf[16384];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ok = Refuse(path, std::strerror(errno), why);
    } else if (out.size() + static_cast<std::size_t>(n) > kMaxSize) {
      ok = Refuse(path, "larger than 1 MiB", why);
    } else {
      out.append(buf, static_cast<std::size_t>(n));
    }
  }
  ::close(fd);
  if (!ok) {
    // What was read of a secret does not linger in freed memory.
    std::fill(out.begin(), out.end(), '\0');
    out.clear();
  }
  return ok;
}

}  // namespace tmclient
