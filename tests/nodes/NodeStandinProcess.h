#pragma once
// NodeStandinProcess: runs the stand-in playout node as a child process on
// 127.0.0.1 with a port of its own choosing, for the tests and measurements
// that talk to a real node program. The binary is looked for next to the
// running test or benchmark binary (<build>/node-standin/node-standin, the
// running binary being two folders below <build>); when it is missing,
// start() says so and callers skip.
//
// Owned by one test; the destructor stops the child (SIGTERM, then SIGKILL
// after a few seconds) and reaps it. Header-only so a benchmark can use it.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

class NodeStandinProcess {
 public:
  // <build>/node-standin/node-standin when it exists.
  static std::optional<std::filesystem::path> findBinary() {
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return std::nullopt;
    for (auto folder = self.parent_path(); !folder.empty() && folder != folder.root_path();
         folder = folder.parent_path()) {
      const auto candidate = folder / "node-standin" / "node-standin";
      if (std::filesystem::is_regular_file(candidate, error)) return candidate;
    }
    return std::nullopt;
  }

  NodeStandinProcess() = default;
  ~NodeStandinProcess() { stop(); }
  NodeStandinProcess(const NodeStandinProcess&) = delete;
  NodeStandinProcess& operator=(const NodeStandinProcess&) = delete;

  // Starts the node with `arguments` after "--listen 127.0.0.1:0" and waits
  // (real time, at most `limit`) for its "listening on ADDRESS:PORT" line.
  // An empty string on success, else why not.
  std::string start(const std::vector<std::string>& arguments,
                    std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto binary = findBinary();
    if (!binary) return "node-standin binary not built";
    int output[2];
    if (::pipe2(output, O_CLOEXEC) != 0) return "pipe failed";
    std::vector<std::string> argv{binary->string(), "--listen", "127.0.0.1:0"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(output[1], STDOUT_FILENO);
      const int devnull = ::open("/dev/null", O_WRONLY);
      if (devnull >= 0) ::dup2(devnull, STDERR_FILENO);
      std::vector<char*> raw;
      for (auto& argument : argv) raw.push_back(argument.data());
      raw.push_back(nullptr);
      ::execv(raw[0], raw.data());
      ::_exit(127);
    }
    ::close(output[1]);
    if (pid_ < 0) {
      ::close(output[0]);
      return "fork failed";
    }
    std::string line;
    const auto giveUpAt = std::chrono::steady_clock::now() + limit;
    while (line.find('\n') == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(giveUpAt - std::chrono::steady_clock::now());
      pollfd in{output[0], POLLIN, 0};
      if (left.count() <= 0 || ::poll(&in, 1, static_cast<int>(left.count())) <= 0) break;
      char chunk[256];
      const ssize_t n = ::read(output[0], chunk, sizeof chunk);
      if (n <= 0) break;
      line.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(output[0]);
    const auto colon = line.rfind(':', line.find('\n'));
    if (line.rfind("listening on ", 0) != 0 || colon == std::string::npos) return "no listening line: " + line;
    port_ = std::stoi(line.substr(colon + 1));
    return {};
  }

  int port() const { return port_; }

  void stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    const auto giveUpAt = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (::waitpid(pid_, nullptr, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() >= giveUpAt) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace testing_support
