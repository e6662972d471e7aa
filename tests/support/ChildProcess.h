#pragma once
// ChildProcess: a program a test starts (a stand-in node, a private message
// bus, an mDNS daemon) with its standard output and error collected by a
// reader thread, so the test can wait for a line such as "listening on" with a
// real-time limit. Destruction stops the program (SIGTERM, then SIGKILL after
// the limit) and reaps it; nothing it started outlives the test.
//
// Header-only test helper; owned by one test, used from its thread.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace testing_support {

class ChildProcess {
 public:
  using Environment = std::vector<std::pair<std::string, std::string>>;
  static constexpr std::chrono::milliseconds kStopLimit{5000};

  // Starts argv[0] (a path) with the test's environment plus `extra`. None
  // when the program could not be started; `error` says why.
  static std::unique_ptr<ChildProcess> start(const std::vector<std::string>& argv, const Environment& extra,
                                             std::string* error) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return fail(error, "pipe");
    if (::pipe2(err, O_CLOEXEC) != 0) {
      closeBoth(out);
      return fail(error, "pipe");
    }
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
      const std::string_view text(*entry);
      const bool replaced = std::any_of(extra.begin(), extra.end(), [&](const auto& pair) {
        return text.starts_with(pair.first + "=");
      });
      if (!replaced) environment.emplace_back(text);
    }
    for (const auto& [name, value] : extra) environment.push_back(name + "=" + value);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::vector<char*> args = pointers(argv);
    std::vector<char*> env = pointers(environment);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    if (spawned != 0) {
      ::close(out[0]);
      ::close(err[0]);
      return fail(error, argv[0] + ": " + std::strerror(spawned));
    }
    return std::unique_ptr<ChildProcess>(new ChildProcess(pid, out[0], err[0]));
  }

  ~ChildProcess() {
    stop();
    reader_.request_stop();
    if (reader_.joinable()) reader_.join();
    ::close(outFd_);
    ::close(errFd_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }

  // Waits until standard output (or error) holds `text`; false at the limit
  // or when the program ended without writing it.
  bool waitForOutput(std::string_view text, bool onStandardError, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] {
      const std::string& collected = onStandardError ? err_ : out_;
      return collected.find(text) != std::string::npos || (outClosed_ && errClosed_);
    }) && (onStandardError ? err_ : out_).find(text) != std::string::npos;
  }

  std::string standardOutput() const {
    std::lock_guard lock(mutex_);
    return out_;
  }
  std::string standardError() const {
    std::lock_guard lock(mutex_);
    return err_;
  }

  // The program ended (reaped here); its exit status, none while it runs.
  std::optional<int> exitStatus() {
    reap(false);
    return status_;
  }

  // Sends `signal` and waits up to `limit` for the program to end (reaped
  // then); false when it still runs.
  bool signalAndWaitForExit(int signal, std::chrono::milliseconds limit) {
    if (status_) return true;
    ::kill(pid_, signal);
    if (!waitForExit(limit)) return false;
    reap(true);
    return true;
  }

  // SIGTERM, wait up to `limit`, then SIGKILL; always reaps. Idempotent.
  void stop(std::chrono::milliseconds limit = kStopLimit) {
    if (status_) return;
    ::kill(pid_, SIGTERM);
    if (!waitForExit(limit)) {
      ::kill(pid_, SIGKILL);
      waitForExit(kStopLimit);
    }
    reap(true);
  }

 private:
  ChildProcess(pid_t pid, int outFd, int errFd) : pid_(pid), outFd_(outFd), errFd_(errFd) {
    reader_ = std::jthread([this](std::stop_token stop) { readOutput(stop); });
  }

  static std::unique_ptr<ChildProcess> fail(std::string* error, std::string why) {
    if (error) *error = std::move(why);
    return nullptr;
  }
  static void closeBoth(int fds[2]) {
    ::close(fds[0]);
    ::close(fds[1]);
  }
  static std::vector<char*> pointers(const std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (const auto& s : strings) result.push_back(const_cast<char*>(s.c_str()));
    result.push_back(nullptr);
    return result;
  }

  // Waits for the process to end without reaping it (pidfd); true when it did.
  bool waitForExit(std::chrono::milliseconds limit) {
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    if (pidfd < 0) return false;
    pollfd polled{pidfd, POLLIN, 0};
    const bool ended = ::poll(&polled, 1, static_cast<int>(limit.count())) > 0;
    ::close(pidfd);
    return ended;
  }

  void reap(bool wait) {
    if (status_) return;
    int status = 0;
    if (::waitpid(pid_, &status, wait ? 0 : WNOHANG) == pid_) status_ = status;
  }

  void readOutput(const std::stop_token& stop) {
    bool outOpen = true, errOpen = true;
    while (!stop.stop_requested() && (outOpen || errOpen)) {
      pollfd polled[2] = {{outOpen ? outFd_ : -1, POLLIN, 0}, {errOpen ? errFd_ : -1, POLLIN, 0}};
      if (::poll(polled, 2, 100) <= 0) continue;
      for (int i = 0; i < 2; ++i) {
        if (!polled[i].revents) continue;
        char buffer[4096];
        const ssize_t got = ::read(polled[i].fd, buffer, sizeof buffer);
        std::lock_guard lock(mutex_);
        if (got <= 0) {
          (i == 0 ? outOpen : errOpen) = false;
          (i == 0 ? outClosed_ : errClosed_) = true;
        } else {
          (i == 0 ? out_ : err_).append(buffer, static_cast<std::size_t>(got));
        }
        changed_.notify_all();
      }
    }
  }

  const pid_t pid_;
  const int outFd_;
  const int errFd_;
  std::optional<int> status_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::string out_;          // guarded by mutex_
  std::string err_;          // guarded by mutex_
  bool outClosed_ = false;   // guarded by mutex_
  bool errClosed_ = false;   // guarded by mutex_
  std::jthread reader_;      // last: started in the constructor body
};

// The stand-in node program of this build tree (next to the test binary's
// folder: <build>/node-standin/node-standin); none when it was not built.
inline std::optional<std::filesystem::path> standInNodeProgram() {
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return std::nullopt;
  const auto candidate = self.parent_path().parent_path().parent_path() / "node-standin" / "node-standin";
  if (!std::filesystem::is_regular_file(candidate, error)) return std::nullopt;
  return candidate;
}

// A running stand-in node on 127.0.0.1 (port 0 takes a free one).
struct StandInNode {
  std::unique_ptr<ChildProcess> process;
  int port = 0;
};

inline std::optional<StandInNode> startStandInNode(const std::filesystem::path& program,
                                                   const std::filesystem::path& mediaFolder, const std::string& name,
                                                   const std::string& uniqueID, int port, std::vector<std::string> extraArguments,
                                                   const ChildProcess::Environment& environment, std::string* error) {
  std::vector<std::string> argv{program.string(), "--listen", "127.0.0.1:" + std::to_string(port), "--media",
                                mediaFolder.string(), "--name", name, "--uid", uniqueID};
  argv.insert(argv.end(), extraArguments.begin(), extraArguments.end());
  auto process = ChildProcess::start(argv, environment, error);
  if (!process) return std::nullopt;
  const bool started = process->waitForOutput("\n", false, std::chrono::seconds(10));
  const std::string out = process->standardOutput();
  const std::string line = out.substr(0, out.find('\n'));
  if (!started || !line.starts_with("listening on ")) {
    if (error) *error = "the stand-in node did not start: " + process->standardError();
    return std::nullopt;
  }
  StandInNode node;
  node.port = std::stoi(line.substr(line.rfind(':') + 1));
  node.process = std::move(process);
  return node;
}

}  // namespace testing_support
