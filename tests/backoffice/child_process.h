#pragma once

// Runs a program of the test (mpay-backoffice, nats-server) as a child
// process and always stops it: the destructor kills what is still running.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "../support/loopback_port.h"

// Starts `argv` (its program found on PATH unless it names a path) with `in`
// (-1: this process's), `out` and `err` as its standard input, output and
// error. The child's pid, or -1 when it cannot start.
inline pid_t Spawn(const std::vector<std::string>& argv, int in, int out, int err) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  if (in >= 0) dup2(in, 0);
  dup2(out, 1);
  dup2(err, 2);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execvp(args[0], args.data());
  _exit(127);
}

class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() { Kill(SIGKILL); }

  // Starts `argv` with its stdout and stderr on one pipe. False when it
  // cannot start.
  bool Start(const std::vector<std::string>& argv) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    iPid = Spawn(argv, -1, fds[1], fds[1]);
    close(fds[1]);
    if (iPid < 0) {
      close(fds[0]);
      return false;
    }
    iOut = fds[0];
    return true;
  }

  // Reads output until a line containing `text` arrives; returns that line,
  // or "" when the program ends or `limit` passes first.
  std::string WaitForLine(const std::string& text,
                          std::chrono::seconds limit = std::chrono::seconds(20)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      size_t nl;
      while ((nl = strBuffer.find('\n')) != std::string::npos) {
        std::string line = strBuffer.substr(0, nl);
        strBuffer.erase(0, nl + 1);
        strOutput += line + "\n";
        if (line.find(text) != std::string::npos) return line;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || iOut < 0) return "";
      pollfd p{iOut, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char chunk[4096];
      ssize_t n = read(iOut, chunk, sizeof chunk);
      if (n <= 0) {
        close(iOut);
        iOut = -1;
        return "";
      }
      strBuffer.append(chunk, static_cast<size_t>(n));
    }
  }

  // Sends `sig` and waits for the end; returns the exit status (-1 if not
  // running). Idempotent.
  int Kill(int sig) {
    if (iPid <= 0) return -1;
    ::kill(iPid, sig);
    return Wait();
  }

  // Waits for the child to end; its wait status, or -1.
  int Wait() {
    if (iPid <= 0) return -1;
    int status = 0;
    waitpid(iPid, &status, 0);
    iPid = -1;
    if (iOut >= 0) {
      close(iOut);
      iOut = -1;
    }
    return status;
  }

  bool running() const { return iPid > 0; }
  pid_t pid() const { return iPid; }
  // Every complete line seen so far, for failure messages.
  const std::string& output() const { return strOutput; }

 private:
  pid_t iPid = -1;
  int iOut = -1;
  std::string strBuffer;
  std::string strOutput;
};

#ifdef BACKOFFICE_EXE
// nats-server on 127.0.0.1 and a free port.
struct NatsServer {
  ChildProcess proc;
  int port = 0;
  // A few attempts: the free port may be taken before the server binds it.
  bool Start() {
    for (int attempt = 0; attempt < 3; ++attempt) {
      port = FreePort();
      if (proc.Start({"nats-server", "-a", "127.0.0.1", "-p", std::to_string(port)}) &&
          !proc.WaitForLine("Server is ready").empty()) {
        return true;
      }
      proc.Kill(SIGKILL);
    }
    return false;
  }
  std::string Url() const { return "nats://127.0.0.1:" + std::to_string(port); }
};

// mpay-backoffice started from the build tree.
struct Backoffice {
  ChildProcess proc;
  int port = 0;
  // Serves `db`; tcp on `tcpPort` (0: any) unless negative, NATS when `nats`
  // is given.
  bool Start(const std::string& db, int tcpPort, const std::string& nats = "",
             std::vector<std::string> extra = {}) {
    std::vector<std::string> argv{BACKOFFICE_EXE, "--db", db, "--workers", "4"};
    if (tcpPort >= 0) {
      argv.push_back("--listen");
      argv.push_back("tcp://127.0.0.1:" + std::to_string(tcpPort));
    }
    if (!nats.empty()) {
      argv.push_back("--nats");
      argv.push_back(nats);
    }
    argv.insert(argv.end(), extra.begin(), extra.end());
    if (!proc.Start(argv)) return false;
    if (tcpPort >= 0) {
      std::string line = proc.WaitForLine("serving tcp://");
      size_t colon = line.rfind(':');
      if (colon == std::string::npos) return false;
      port = std::atoi(line.c_str() + colon + 1);
    }
    return nats.empty() || !proc.WaitForLine("queue group").empty();
  }
  std::string Url() const { return "tcp://127.0.0.1:" + std::to_string(port); }
};
#endif
