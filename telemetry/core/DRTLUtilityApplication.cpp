#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <mutex>
#include <optional>

#include "platform/DispatchQueue.h"
#include "platform/RunLoop.h"
#include "telemetry/core/DRTLUtility.h"

extern char** environ;

namespace telemetry::core {
namespace {

std::mutex providerMutex;
std::function<bool()> hiddenProvider;  // guarded by providerMutex

// The opener's process id, or none when it could not be started.
std::optional<pid_t> startOpener(const std::string& url) {
  const char* argv[] = {"xdg-open", url.c_str(), nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0) {
    return std::nullopt;
  }
  return pid;
}

bool openerSucceeded(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

void DRTLUtility::setApplicationHiddenProvider(std::function<bool()> provider) {
  std::lock_guard lock(providerMutex);
  hiddenProvider = std::move(provider);
}

int DRTLUtility::applicationState() { return sharedAppState(); }

int DRTLUtility::sharedAppState() {
  if (!platform::isMainThread()) return DRTLApplicationStateUnknown;
  std::function<bool()> provider;
  {
    std::lock_guard lock(providerMutex);
    provider = hiddenProvider;
  }
  return provider && provider() ? DRTLApplicationStateBackground : DRTLApplicationStateActive;
}

void DRTLUtility::sharedAppOpenUrl(const std::string& url, std::function<void(bool)> completionHandler) {
  // Started from the main queue; its exit is awaited on a global queue so the
  // main queue never blocks.
  platform::DispatchQueue::main().async([url, completionHandler = std::move(completionHandler)] {
    std::optional<pid_t> pid = startOpener(url);
    auto finish = [completionHandler](bool opened) {
      platform::DispatchQueue::main().async([completionHandler, opened] {
        if (completionHandler) completionHandler(opened);
      });
    };
    if (!pid) return finish(false);
    platform::DispatchQueue::global().async([pid = *pid, finish] { finish(openerSucceeded(pid)); });
  });
}

}  // namespace telemetry::core
