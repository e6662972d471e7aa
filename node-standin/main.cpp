// node-standin: a stand-in playout node for tests and for trying the operator
// application without a real node. See node-standin/README.md.
//
// Prints "listening on ADDRESS:PORT" as its first line on standard output
// once it accepts clients; logs to standard error; ends cleanly on SIGINT or
// SIGTERM.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <mutex>
#include <pthread.h>
#include <sys/resource.h>

#include "node-standin/BonjourAdvertiser.h"
#include "node-standin/MediaLibrary.h"
#include "node-standin/NodeOptions.h"
#include "node-standin/NodeServer.h"
#include "node-standin/NodeSession.h"
#include "node-standin/NodeState.h"
#include "media/readers/StandardAssetReaders.h"
#include "platform/Clock.h"

namespace {

std::mutex logMutex;

void logLine(const std::string& message) {
  const std::lock_guard lock(logMutex);
  std::cerr << "node-standin: " << message << '\n';
}

// Blocks the shut-down signals in every thread (threads inherit the mask), so
// that main alone receives them through sigwait.
sigset_t blockShutdownSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  return signals;
}

// Every client takes a file descriptor: the soft limit goes up to the hard one,
// so the number of clients is bounded by what the system allows, not by a
// default set for small programs.
void raiseOpenFileLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const platform::Result<standin::NodeOptions> parsed =
      standin::parseNodeOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed) {
    std::cerr << "node-standin: " << parsed.error().localizedDescription << "\n" << standin::nodeOptionsUsage();
    return 2;
  }
  const standin::NodeOptions& options = parsed.value();
  if (options.help) {
    std::cout << standin::nodeOptionsUsage();
    return 0;
  }
  const sigset_t shutdownSignals = blockShutdownSignals();
  raiseOpenFileLimit();
  media::registerStandardAssetReaders();

  standin::MediaLibrary::Options libraryOptions;
  const auto started = platform::Clock::current().wallNow().time_since_epoch();
  libraryOptions.firstChangeNumber =
      static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(started).count());
  libraryOptions.log = logLine;
  standin::MediaLibrary library(options.mediaFolders, libraryOptions);
  for (const standin::MediaFolderIndex& folder : library.folders()) {
    logLine("media folder " + folder.pathText() + ": " + std::to_string(folder.items().size()) + " files");
  }

  const standin::NodeIdentity identity{
      options.uniqueID.value_or(standin::defaultNodeUniqueID(options.name, options.mediaFolders)), options.name};
  standin::NodeState node({identity, options.password, {}, logLine}, library);
  standin::NodeSessionFactory sessions(node);
  standin::NodeServer server(sessions, {}, logLine);
  if (const platform::Status started = server.start(options.listenAddress, options.listenPort); !started) {
    logLine(started.error().localizedDescription);
    return 1;
  }
  std::cout << "listening on " << server.listeningAddress() << std::endl;
  logLine("node '" + identity.name + "' (" + identity.uniqueID + ") is up");

  standin::BonjourAdvertiser advertiser(logLine);
  if (options.bonjour) {
    ::setenv("AVAHI_COMPAT_NOWARN", "1", 0);
    if (const platform::Status announced = advertiser.start(options.name, server.port()); !announced) {
      logLine(announced.error().localizedDescription + "; going on without it");
    }
  }

  int received = 0;
  sigwait(&shutdownSignals, &received);
  logLine(std::string("stopping on ") + (received == SIGINT ? "SIGINT" : "SIGTERM"));
  advertiser.stop();
  server.stop();
  return 0;
}
