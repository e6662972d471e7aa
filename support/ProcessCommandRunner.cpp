#include "support/ProcessCommandRunner.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "platform/DispatchQueue.h"

extern char** environ;

namespace support {

struct ProcessCommandRunner::Child {
  std::mutex mutex;
  pid_t pid = -1;
  bool reaped = false;
  bool killed = false;

  // Safe against pid reuse: a child is only signalled before it is reaped.
  void kill() {
    std::lock_guard lock(mutex);
    if (pid > 0 && !reaped) {
      killed = true;
      ::kill(-pid, SIGKILL);
    }
  }
};

namespace {

void readAll(int fd, const Command& command, CommandResult& result) {
  std::array<char, 65536> buffer;
  for (;;) {
    ssize_t count = ::read(fd, buffer.data(), buffer.size());
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    std::size_t room = command.maxOutputBytes - result.output.size();
    std::size_t kept = std::min<std::size_t>(room, static_cast<std::size_t>(count));
    result.output.append(buffer.data(), kept);
    if (kept < static_cast<std::size_t>(count)) result.outputTruncated = true;
  }
}

int waitForExit(ProcessCommandRunner::Child& child) {
  siginfo_t info{};
  while (::waitid(P_PID, static_cast<id_t>(child.pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
  }
  {
    std::lock_guard lock(child.mutex);
    child.reaped = true;
  }
  int status = 0;
  while (::waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

CommandResult launchFailure(std::string text) {
  CommandResult result;
  result.launchError = std::move(text);
  return result;
}

}  // namespace

void ProcessCommandRunner::run(Command command, Completion completion) {
  auto finish = [completion](CommandResult result) {
    platform::DispatchQueue::main().async([completion, result = std::move(result)]() mutable {
      completion(std::move(result));
    });
  };
  if (command.argv.empty()) {
    finish(launchFailure("No command to run."));
    return;
  }
  int outputFd = -1;
  int readFd = -1;
  if (command.outputFile) {
    outputFd = ::open(command.outputFile->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (outputFd < 0) {
      finish(launchFailure("Cannot create " + command.outputFile->string() + ": " + std::strerror(errno)));
      return;
    }
  } else {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
      finish(launchFailure(std::string("Cannot make a pipe: ") + std::strerror(errno)));
      return;
    }
    readFd = fds[0];
    outputFd = fds[1];
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
  if (command.workingFolder) posix_spawn_file_actions_addchdir_np(&actions, command.workingFolder->c_str());
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);

  std::vector<char*> argv;
  for (auto& argument : command.argv) argv.push_back(argument.data());
  argv.push_back(nullptr);
  auto child = std::make_shared<Child>();
  int spawnError = ::posix_spawnp(&child->pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(outputFd);
  if (spawnError != 0) {
    if (readFd >= 0) ::close(readFd);
    finish(launchFailure("Cannot run " + command.argv[0] + ": " + std::strerror(spawnError)));
    return;
  }

  auto limit = platform::DispatchQueue::global().after(command.timeLimit, [child] { child->kill(); });
  std::lock_guard lock(mutex_);
  children_.push_back(child);
  readers_.emplace_back([child, readFd, command = std::move(command), finish, limit]() mutable {
    CommandResult result;
    if (readFd >= 0) {
      readAll(readFd, command, result);
      ::close(readFd);
    }
    result.exitStatus = waitForExit(*child);
    limit.cancel();
    {
      std::lock_guard childLock(child->mutex);
      if (child->killed) {
        result.timedOut = true;
        result.exitStatus = -1;
      }
    }
    finish(std::move(result));
  });
}

ProcessCommandRunner::~ProcessCommandRunner() {
  std::vector<std::thread> readers;
  {
    std::lock_guard lock(mutex_);
    for (auto& child : children_) child->kill();
    readers.swap(readers_);
  }
  for (auto& reader : readers) reader.join();
}

}  // namespace support
