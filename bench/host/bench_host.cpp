// Time from starting `mpay-host --headless` with a script that opens the
// query window and quits, to its exit; alternating with a minimal Qt program
// that shows the same kind of window (bare_qt_window), so that both see the
// same machine load. Both run offscreen; the host's broker is a listening
// socket of this process, so that binding finds a peer at once.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench_rounds.h"

extern char** environ;

namespace {

double bestHost = 1e9;
double bestBare = 1e9;
std::vector<double> vHostSeconds, vBareSeconds;
std::string strScript;

// Runs the program to its end with its output discarded; wall-clock
// seconds, or -1 when it failed.
double RunSeconds(const std::vector<std::string>& argv) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? took.count() : -1;
}

void BM_HostOpenVsBareQt(benchmark::State& state) {
  for (auto _ : state) {
    const double host = RunSeconds({MPAY_HOST_EXE, "--headless", "--script", strScript});
    const double bare = RunSeconds({BARE_QT_EXE});
    if (host < 0 || bare < 0) {
      state.SkipWithError("a program failed");
      return;
    }
    bestHost = std::min(bestHost, host);
    bestBare = std::min(bestBare, bare);
    vHostSeconds.push_back(host);
    vBareSeconds.push_back(bare);
    state.SetIterationTime(host);
  }
  state.counters["bare_qt_ms"] = bestBare * 1e3;
}
BENCHMARK(BM_HostOpenVsBareQt)->Iterations(15)->UseManualTime()->Unit(benchmark::kMillisecond);

// A loopback listener that never answers: the host's broker binding
// connects to it.
int ListenOnLoopback(int& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(fd, 128) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return -1;
  }
  port = ntohs(address.sin_port);
  return fd;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  int port = 0;
  const int listener = ListenOnLoopback(port);
  if (listener < 0) {
    std::fprintf(stderr, "bench_host: no loopback listener\n");
    return 1;
  }
  setenv("TMCLIENT_BROKER_TALMIRON", ("tcp://127.0.0.1:" + std::to_string(port)).c_str(), 1);
  char path[] = "/tmp/bench-host-XXXXXX";
  const int fd = mkstemp(path);
  const std::string script = "open 10001\nquit\n";
  if (fd < 0 || write(fd, script.data(), script.size()) != static_cast<ssize_t>(script.size())) {
    std::fprintf(stderr, "bench_host: no script file\n");
    return 1;
  }
  close(fd);
  strScript = path;

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  unlink(path);
  close(listener);
  if (bestHost >= 1e9 || bestBare >= 1e9) {
    std::fprintf(stderr, "bench_host: a benchmark did not run\n");
    return 1;
  }
  std::printf("bare_qt_open_ms: %.1f\n", bestBare * 1e3);
  std::printf("host_open_ms: %.1f\n", bestHost * 1e3);
  // Five rounds of three starts of each, the best of each side in a round.
  bench::PrintRounds("host_open_vs_bare_qt",
                     bench::SliceRatios(vHostSeconds, vBareSeconds, bench::kMinRounds, 0.0), 3);
  return 0;
}
