// A program with the telemetry SDK and the crash service, for the tests that
// need a crash between two launches. Arguments: mode and log URL.
//   crash    sets a session and a user, holds the channel group queue, enqueues
//            five logs (they wait in the crash log buffer) and dereferences null;
//   deliver  starts, lets processing run on a manual clock and exits 0 once the
//            store is empty and the crash log was sent (exit 3 when not in time);
//   runtime-error, out-of-range
//            start, print the address of the function that throws and let a
//            std::runtime_error("boom") or a std::vector::at throw go uncaught;
//   event-exception
//            start with "NSApplicationCrashOnExceptions" set, hand a caught
//            std::runtime_error("boom") to the forwarder the crash service
//            installed, as the application object does, then abort as the
//            application's own reporting does;
//   store    starts with the store capped at the third argument's bytes (0: no
//            cap), lets processing run and exits 0 once no crash file waits or
//            after 20 steps, printing what the crash folder and the store hold.
// Everything lives below $HOME (the test gives each run the same one).

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <vector>
#include <string>

#include "platform/ApplicationExceptionForwarding.h"
#include "platform/Clock.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"
#include "telemetry/core/DRTLLogWithProperties.h"
#include "telemetry/core/DRTLSessionContext.h"
#include "telemetry/core/DRTLStorage.h"
#include "telemetry/core/Services/DRTLDirAraded.h"
#include "telemetry/services/crashes/DRTLCrashes.h"
#include "tests/support/RunLoopWait.h"

using telemetry::core::DRTLDirAraded;
using telemetry::crashes::DRTLCrashes;

namespace {

class SentFlag : public telemetry::crashes::DRTLCrashesDelegate {
 public:
  void crashesDidSucceedSendingErrorReport(DRTLCrashes&, const telemetry::crashes::DRTLErrorReport&) override {
    sent = true;
  }
  std::atomic<bool> sent{false};
};

void startSdk(const std::string& url) {
  DRTLDirAraded::setLogUrl(url);
  DRTLDirAraded::start("secret-1", {&DRTLCrashes::serviceClass});
}

int crash(const std::string& url) {
  startSdk(url);
  // Start-up clears the history of earlier launches; the crash's session and user come after it.
  DRTLCrashes::sharedInstance()->unprocessedCrashReports();
  telemetry::core::DRTLSessionContext::sharedInstance()->setSessionId("session-1");
  DRTLDirAraded::setUserId("user-1");
  auto group = DRTLDirAraded::sharedInstance()->channelGroup();
  auto unit = group->addChannelUnitWithConfiguration(
      telemetry::core::DRTLChannelUnitConfiguration::defaultConfiguration("Buffered"));
  // Hold the group queue so no enqueueing finishes before the crash.
  std::mutex mutex;
  std::condition_variable never;
  std::atomic<bool> held{false};
  group->logsDispatchQueue()->async([&] {
    std::unique_lock lock(mutex);
    held = true;
    never.wait(lock, [] { return false; });
  });
  while (!held) std::this_thread::yield();
  for (int i = 0; i < 5; ++i) {
    auto log = std::make_shared<telemetry::core::DRTLLogWithProperties>();
    log->type = "event";
    log->properties = std::map<std::string, std::string>{{"name", "buffered-" + std::to_string(i)}};
    unit->enqueueItem(log, 1);
  }
  volatile int* null = nullptr;
  return *null;
}

[[gnu::noinline]] void throwBoom() { throw std::runtime_error("boom"); }
// Caught and thrown again later, as a worker's exception is: the stack at
// termination no longer holds throwBoom, only the one recorded at the throw does.
[[gnu::noinline]] std::exception_ptr caughtBoom() {
  try {
    throwBoom();
  } catch (...) {
    return std::current_exception();
  }
  return nullptr;
}

[[gnu::noinline]] int readPastTheEnd(const std::vector<int>& values) { return values.at(values.size() + 2); }

// Prints where the throwing function lies, then throws out of main's reach.
int throwUncaught(const std::string& url, bool outOfRange) {
  startSdk(url);
  // The caller is printed too: the test's window for the thrower ends where the caller begins.
  std::printf("thrower %p caller %p\n",
              outOfRange ? reinterpret_cast<void*>(&readPastTheEnd) : reinterpret_cast<void*>(&throwBoom),
              outOfRange ? reinterpret_cast<void*>(&throwUncaught) : reinterpret_cast<void*>(&caughtBoom));
  std::fflush(stdout);
  if (outOfRange) return readPastTheEnd({1, 2, 3});
  std::rethrow_exception(caughtBoom());
}

// An exception caught around an event handler goes to the crash service's
// forwarder; the application then ends the process.
int forwardEventException(const std::string& url) {
  platform::UserDefaults::standard().registerDefaults({{"NSApplicationCrashOnExceptions", true}});
  startSdk(url);
  const platform::ApplicationExceptionForwarder forwarder = platform::applicationExceptionForwarder();
  if (!forwarder) return 4;
  std::printf("thrower %p caller %p\n", reinterpret_cast<void*>(&throwBoom), reinterpret_cast<void*>(&caughtBoom));
  std::fflush(stdout);
  forwarder(caughtBoom());
  std::abort();
}

// The clock of a later launch: calendar time after the crash, as in real life.
struct LaterLaunch {
  platform::ManualClock clock{std::chrono::system_clock::now()};
  platform::ScopedClockOverride override{clock};
};

// The logs in the store, of one channel or of all.
std::uint64_t storedLogs(const std::string& groupId = {}) {
  auto group = DRTLDirAraded::sharedInstance()->channelGroup();
  std::uint64_t count = 1;
  group->logsDispatchQueue()->sync(
      [&] {
        count = groupId.empty() ? group->storage()->countLogs() : group->storage()->countLogsWithGroupId(groupId);
      },
      std::chrono::seconds(5));
  return count;
}

int deliver(const std::string& url) {
  LaterLaunch launch;
  auto flag = std::make_shared<SentFlag>();
  DRTLCrashes::setDelegate(flag);
  startSdk(url);
  const bool done = testing_support::advanceClockUntil(
      launch.clock, std::chrono::seconds(1), [&] { return flag->sent.load() && storedLogs() == 0; }, 200);
  std::printf("crashed-last-session %d\n", DRTLCrashes::hasCrashedInLastSession() ? 1 : 0);
  std::fflush(stdout);
  return done ? 0 : 3;
}

int store(const std::string& url, std::int64_t maxBytes) {
  LaterLaunch launch;
  if (maxBytes > 0) DRTLDirAraded::setMaxStorageSize(maxBytes, nullptr);
  startSdk(url);
  auto crashes = DRTLCrashes::sharedInstance();
  (void)testing_support::advanceClockUntil(
      launch.clock, std::chrono::seconds(1), [&] { return crashes->crashFiles().empty(); }, 20);
  // One more step, so a refused log has certainly been through the store.
  launch.clock.advance(std::chrono::seconds(1));
  std::printf("crashed-last-session %d\ncrash-files %zu\nstored-crash-logs %llu\n",
              DRTLCrashes::hasCrashedInLastSession() ? 1 : 0, crashes->crashFiles().size(),
              static_cast<unsigned long long>(storedLogs(telemetry::crashes::kDRTLCrashesGroupId)));
  std::fflush(stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string mode = argv[1];
  if (mode == "crash") return crash(argv[2]);
  if (mode == "deliver") return deliver(argv[2]);
  if (mode == "runtime-error" || mode == "out-of-range") return throwUncaught(argv[2], mode == "out-of-range");
  if (mode == "event-exception") return forwardEventException(argv[2]);
  if (mode == "store") return store(argv[2], argc > 3 ? std::atoll(argv[3]) : 0);
  return 2;
}
