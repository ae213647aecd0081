#pragma once

// Runs mpay-host as a child process with a script on its standard input and
// collects its standard output and error apart. Bounded: a host still
// running after the limit is killed, and the result says so.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "../backoffice/child_process.h"

struct CHostRun {
  int iExitStatus = -1;  // -1: killed or did not end normally
  std::string strOut;
  std::string strErr;
  // The lines of standard output.
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < strOut.size()) {
      size_t nl = strOut.find('\n', start);
      if (nl == std::string::npos) nl = strOut.size();
      lines.push_back(strOut.substr(start, nl - start));
      start = nl + 1;
    }
    return lines;
  }
};

inline CHostRun RunProgram(const std::vector<std::string>& argv, const std::string& input,
                           std::chrono::seconds limit = std::chrono::seconds(60)) {
  CHostRun run;
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    return run;
  }
  const pid_t pid = Spawn(argv, in[0], out[1], err[1]);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (pid < 0) {
    close(in[1]);
    close(out[0]);
    close(err[0]);
    return run;
  }
  // Scripts are small: they fit the pipe, so writing cannot block.
  const ssize_t written = write(in[1], input.data(), input.size());
  (void)written;
  close(in[1]);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&run.strOut, &run.strErr};
  int open = 2;
  bool killed = false;
  while (open > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      kill(pid, SIGKILL);
      killed = true;
      break;
    }
    if (poll(fds, 2, static_cast<int>(left.count())) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char chunk[4096];
      const ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
      if (n > 0) {
        sinks[i]->append(chunk, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (const pollfd& p : fds) {
    if (p.fd >= 0) close(p.fd);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (!killed && WIFEXITED(status)) run.iExitStatus = WEXITSTATUS(status);
  return run;
}
