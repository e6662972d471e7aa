// node-standin: a stand-in playout node for tests and for trying the operator
// application without a real node. See node-standin/README.md.
//
// Prints "listening on ADDRESS:PORT" as its first line on standard output
// once it accepts clients; logs to standard error; ends cleanly on SIGINT or
// SIGTERM. The main thread drives the main run loop, where the engine's
// delegate calls arrive; the server thread reads what they report through
// the engine's status board.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <mutex>
#include <pthread.h>
#include <sys/resource.h>

#include "node-standin/BonjourAdvertiser.h"
#include "node-standin/EngineHost.h"
#include "node-standin/EngineTransport.h"
#include "node-standin/MediaLibrary.h"
#include "node-standin/NodeOptions.h"
#include "node-standin/NodeServer.h"
#include "node-standin/NodeSession.h"
#include "node-standin/NodeState.h"
#include "node-standin/PlayoutEngine.h"
#include "media/readers/StandardAssetReaders.h"
#include "platform/Bundle.h"
#include "platform/Clock.h"
#include "platform/RunLoop.h"

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

// The shut-down signal waiting, 0 when none; never blocks.
int pendingShutdownSignal(const sigset_t& signals) {
  const timespec noWait{};
  const int received = sigtimedwait(&signals, nullptr, &noWait);
  return received > 0 ? received : 0;
}

standin::PlayoutEngineSettings engineSettings(const standin::NodeOptions& options) {
  standin::PlayoutEngineSettings settings;
  settings.bundle = platform::Bundle::main()->resourcesPath();
  if (options.displayModeName) settings.displayModeName = *options.displayModeName;
  if (options.bufferFormat) settings.bufferFormat = *options.bufferFormat;
  settings.outputFile = options.outputFile;
  settings.preview = options.preview;
  return settings;
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
    // scripts/run.sh reads the last line to decide whether to show the output.
    std::cout << standin::nodeOptionsUsage() << "playout engine: "
              << (standin::playoutEngineIsBuiltIn() ? "built in" : "not built in") << '\n';
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
  // A build without the engine plays on its clock unless the engine's output is asked for (then refused).
  const bool withEngine =
      !options.noEngine && (standin::playoutEngineIsBuiltIn() || options.asksForEngineOutput());
  platform::RunLoop::main().attachCurrentThread();
  standin::EngineItemSource engineItems;
  standin::EngineStatusBoard engineBoard;
  standin::EngineHost engineHost(engineItems, engineBoard);
  std::unique_ptr<standin::RunningPlayoutEngine> engine;
  standin::TransportFactory transport;
  if (withEngine) {
    platform::Result<std::unique_ptr<standin::RunningPlayoutEngine>> started =
        standin::startPlayoutEngine(engineSettings(options), engineHost);
    if (!started) {
      logLine("the playout engine did not start: " + started.error().localizedDescription);
      return 1;
    }
    engine = std::move(started.value());
    transport = [&](const standin::Playlist& playlist) {
      return std::make_unique<standin::EngineTransport>(
          playlist, standin::EngineTransport::Parts{*engine, engineItems, engineBoard, logLine});
    };
  }
  standin::NodeState node({identity, options.password, {}, logLine, transport}, library);
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
  while (received == 0) {
    // The run loop may ask more than once after the signal came: keep it.
    platform::RunLoop::main().runUntil(
        [&] {
          if (received == 0) received = pendingShutdownSignal(shutdownSignals);
          return received != 0;
        },
        std::chrono::minutes(1));
  }
  logLine(std::string("stopping on ") + (received == SIGINT ? "SIGINT" : "SIGTERM"));
  advertiser.stop();
  server.stop();
  // After the server: no command reaches the engine any more. Stopping it closes the recording.
  engine.reset();
  return 0;
}
