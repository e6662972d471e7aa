#pragma once
// A catalogue connected to a stand-in node that serves a media folder: the
// pseudo-server data source with media synchronisation, on a manual clock,
// with its own home folder, user defaults, notification centre and recorded
// alerts. Tests of the catalogue and of the media browser share it.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "foundation/AlertPresenter.h"
#include "foundation/RecordingAlertPresenter.h"
#include "nodes/catalogue/MediaSynchronisation.h"
#include "nodes/catalogue/PseudoServerDataSource.h"
#include "nodes/link/NodeConnection.h"
#include "platform/Clock.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "tests/nodes/NodeStandinProcess.h"
#include "tests/support/CapturedDiagnostics.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace testing_support {

// A one-second clip small enough to make in a moment.
inline bool makeTinyClip(const std::filesystem::path& path) {
  const std::string command =
      "ffmpeg -v error -nostdin -f lavfi -i testsrc=duration=1:size=64x36:rate=25 -c:v mpeg4 -y '" + path.string() +
      "' >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

// Why a stand-in catalogue cannot run here, or empty.
inline std::string standinCatalogueUnavailable() {
  if (!NodeStandinProcess::findBinary()) return "node-standin is not built";
  if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) return "ffmpeg is not installed";
  return {};
}

class StandinCatalogue {
 public:
  StandinCatalogue() = default;
  // The polling thread waits on this object's clock: it must end while the
  // clock is here, even when an assertion ends the test early (queued
  // notifications may keep the connection alive after the data source).
  ~StandinCatalogue() {
    if (connection_) connection_->stopConnection();
  }
  StandinCatalogue(const StandinCatalogue&) = delete;
  StandinCatalogue& operator=(const StandinCatalogue&) = delete;

  // Starts the node on `media` and connects the catalogue to it: empty, or what failed.
  std::string start(const std::filesystem::path& media, const std::string& nodeName) {
    if (std::string failure = node_.start({"--media", media.string(), "--name", nodeName}); !failure.empty()) {
      return failure;
    }
    nodes::PseudoServerDataSource::Options options;
    options.notificationCenter = &center_;
    options.bundleName = "Test";
    source_ = nodes::PseudoServerDataSource::create(home_.path(), nullptr, std::move(options));
    source().setNodePollingHooks(std::make_shared<nodes::MediaSynchronisation>());
    nodes::StaticNodeInfo info;
    info.setIpAdress("127.0.0.1");
    info.setPortNumber(std::to_string(node_.port()));
    source().addStaticNodeInfoInCache(info);
    source().tryToConnectRegisteredNodes();
    if (source().nodes().size() != 1) return "the catalogue holds no connection to the node";
    connection_ = source().nodes().front();
    return {};
  }

  // Runs polling ticks until `done` holds or two media polls have passed,
  // each tick once the polling thread waits for the next.
  ::testing::AssertionResult tickMediaPollsUntil(const std::function<bool()>& done) {
    for (std::uint64_t tick = connection_->pollingTickCount();
         !done() && tick <= 2 * nodes::NodeConnection::kMediaPollTicks; ++tick) {
      if (!waitForCondition([&] { return connection_->pollingTickCount() == tick && clock_.waiterCount() == 1; },
                            "a tick to end")) {
        return ::testing::AssertionFailure() << "tick " << tick << " did not end";
      }
      clock_.advance(nodes::NodeConnection::kPollingTick);
    }
    return ::testing::AssertionSuccess();
  }

  nodes::PseudoServerDataSource& source() { return static_cast<nodes::PseudoServerDataSource&>(*source_); }
  const std::shared_ptr<nodes::DataSource>& sharedSource() const { return source_; }
  const nodes::NodeConnectionPtr& connection() const { return connection_; }
  platform::NotificationCenter& center() { return center_; }

 private:
  NodeStandinProcess node_;
  platform::ManualClock clock_;
  platform::ScopedClockOverride clockOverride_{clock_};
  CapturedDiagnostics diagnostics_;
  std::shared_ptr<foundation::RecordingAlertPresenter> alerts_ = std::make_shared<foundation::RecordingAlertPresenter>();
  foundation::ScopedAlertPresenter scopedAlerts_{alerts_};
  TemporaryDirectory home_;
  platform::UserDefaults defaults_{home_ / "defaults.plist"};
  platform::ScopedStandardUserDefaultsOverride defaultsOverride_{defaults_};
  platform::NotificationCenter center_;
  std::shared_ptr<nodes::DataSource> source_;
  nodes::NodeConnectionPtr connection_;
};

}  // namespace testing_support
