// A crash with 16 and 64 threads parked 512 frames deep: the time from the
// fault to the closed report (the crashing child measures it on
// CLOCK_MONOTONIC and sends it through a pipe), the peak use of the 64 KiB
// alternate signal stack (limit 32 KiB), and glibc's backtrace() of the same
// stacks outside a crash, in the same run, for the ratio.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Figures {
  bool ok = false;
  double reportSeconds = 0;
  double alternateStackPeak = 0;
  double backtraceSeconds = 0;
};

Figures crashOnce(int threads, const std::filesystem::path& cache) {
  Figures figures;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return figures;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 3);  // the figures go to fd 3
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::string(*e).rfind("XDG_CACHE_HOME=", 0) != 0) environment.emplace_back(*e);
  }
  environment.push_back("XDG_CACHE_HOME=" + cache.string());
  std::vector<char*> envp;
  for (auto& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string program = CRASH_BENCH_CHILD, mode = "bench", count = std::to_string(threads), fd = "3";
  char* argv[] = {program.data(), mode.data(), count.data(), fd.data(), nullptr};
  pid_t pid;
  const bool spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data()) == 0;
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (!spawned) {
    close(fds[0]);
    return figures;
  }
  char line[128] = {};
  std::size_t got = 0;
  pollfd wait{fds[0], POLLIN, 0};
  while (got + 1 < sizeof line && poll(&wait, 1, 20000) == 1) {
    const ssize_t n = read(fds[0], line + got, sizeof line - 1 - got);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  close(fds[0]);
  kill(pid, SIGKILL);  // normally dead already, by its own signal
  int status = 0;
  waitpid(pid, &status, 0);
  long long reportNs = 0, backtraceNs = 0;
  unsigned long long peak = 0;
  if (std::sscanf(line, "%lld %llu %lld", &reportNs, &peak, &backtraceNs) == 3) {
    figures = {true, static_cast<double>(reportNs) / 1e9, static_cast<double>(peak), static_cast<double>(backtraceNs) / 1e9};
  }
  return figures;
}

void BM_CrashToClosedReport(benchmark::State& state) {
  const auto cache = std::filesystem::temp_directory_path() / ("crash-handler-bench-" + std::to_string(getpid()));
  double peak = 0, report = 0, backtrace = 0;
  for (auto _ : state) {
    const Figures figures = crashOnce(static_cast<int>(state.range(0)), cache);
    if (!figures.ok) {
      state.SkipWithError("the crashing child sent no figures");
      break;
    }
    state.SetIterationTime(figures.reportSeconds);
    peak = figures.alternateStackPeak > peak ? figures.alternateStackPeak : peak;
    report += figures.reportSeconds;
    backtrace += figures.backtraceSeconds;
  }
  std::filesystem::remove_all(cache);
  state.counters["alt_stack_peak_bytes"] = peak;
  state.counters["alt_stack_limit_bytes"] = 32 * 1024;
  state.counters["backtrace_ms_per_crash"] = backtrace * 1e3 / static_cast<double>(state.iterations());
  state.counters["report_vs_backtrace"] = backtrace > 0 ? report / backtrace : 0;
}

BENCHMARK(BM_CrashToClosedReport)->Arg(16)->Arg(64)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace
