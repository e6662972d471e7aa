#include "telemetry/services/crashes/DRTLCrashesMemoryPressureSource.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "platform/DispatchQueue.h"
#include "telemetry/core/DRTLLogger.h"

namespace telemetry::crashes {
namespace {

// Some task stalled 150 ms on memory within one second.
constexpr const char* kPressureTrigger = "some 150000 1000000";

std::mutex factoryMutex;
DRTLCrashesMemoryPressureSource::Factory factory;  // guarded by factoryMutex

// The path of this process's cgroup v2 "memory.events", or empty.
std::string cgroupMemoryEvents() {
  std::ifstream in("/proc/self/cgroup");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("0::", 0) == 0) return "/sys/fs/cgroup" + line.substr(3) + "/memory.events";
  }
  return {};
}

// The sum of the "high" and "max" counters of a memory.events text.
unsigned long long pressureEvents(int fd) {
  char text[1024];
  const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  if (n <= 0) return 0;
  text[n] = '\0';
  std::istringstream in(text);
  std::string key;
  unsigned long long value = 0, sum = 0;
  while (in >> key >> value) {
    if (key == "high" || key == "max") sum += value;
  }
  return sum;
}

class LinuxMemoryPressureSource final : public DRTLCrashesMemoryPressureSource {
 public:
  ~LinuxMemoryPressureSource() override { cancel(); }

  void resume(Handler handler) override {
    if (watcher_.joinable()) return;
    int events = POLLPRI;
    int fd = ::open("/proc/pressure/memory", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0 && ::write(fd, kPressureTrigger, std::strlen(kPressureTrigger) + 1) < 0) {
      ::close(fd);
      fd = -1;
    }
    bool counters = false;
    if (fd < 0) {
      const std::string path = cgroupMemoryEvents();
      fd = path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
      events = POLLPRI | POLLERR;
      counters = true;
    }
    if (fd < 0) {
      DRTLLogWarning("No memory pressure source on this system; memory warnings are not recorded.");
      return;
    }
    stop_ = ::eventfd(0, EFD_CLOEXEC);
    if (stop_ < 0) {
      ::close(fd);
      return;
    }
    watcher_ = std::thread([fd, events, counters, stop = stop_, handler = std::move(handler)] {
      unsigned long long seen = counters ? pressureEvents(fd) : 0;
      for (;;) {
        pollfd fds[2] = {{fd, static_cast<short>(events), 0}, {stop, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
          if (errno == EINTR) continue;
          break;
        }
        if (fds[1].revents != 0) break;
        if ((fds[0].revents & (POLLPRI | POLLERR)) == 0) continue;
        if (counters) {
          const unsigned long long now = pressureEvents(fd);
          if (now == seen) continue;
          seen = now;
        }
        platform::DispatchQueue::main().async(handler);
      }
      ::close(fd);
    });
  }

  void cancel() override {
    if (!watcher_.joinable()) return;
    const std::uint64_t one = 1;
    (void)::write(stop_, &one, sizeof one);
    watcher_.join();
    ::close(stop_);
    stop_ = -1;
  }

 private:
  std::thread watcher_;
  int stop_ = -1;
};

}  // namespace

std::unique_ptr<DRTLCrashesMemoryPressureSource> DRTLCrashesMemoryPressureSource::make() {
  {
    std::lock_guard lock(factoryMutex);
    if (factory) return factory();
  }
  return std::make_unique<LinuxMemoryPressureSource>();
}

void DRTLCrashesMemoryPressureSource::setFactory(Factory made) {
  std::lock_guard lock(factoryMutex);
  factory = std::move(made);
}

}  // namespace telemetry::crashes
