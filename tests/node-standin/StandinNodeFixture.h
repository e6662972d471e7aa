#pragma once
// A stand-in node served over loopback for the protocol tests: two media
// files probed by a fake (no FFmpeg needed), a manual clock, the node's log
// kept for checks, and TestClient, a client over a real socket.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "node-standin/MediaLibrary.h"
#include "node-standin/NodeServer.h"
#include "node-standin/NodeSession.h"
#include "node-standin/NodeState.h"
#include "platform/Clock.h"
#include "platform/PropertyList.h"
#include "tests/support/NodeLineClient.h"
#include "tests/support/TemporaryDirectory.h"

namespace standin {
namespace testing_node {

using namespace std::chrono_literals;
using platform::Value;

constexpr std::size_t kTestLineLimit = 64 * 1024;

using TestClient = testing_support::NodeLineClient;

inline MediaProbe fakeProbe(const std::filesystem::path& path) {
  MediaProbe probe;
  probe.durationInSeconds = path.filename() == "a.mov" ? 4.0 : 6.0;
  probe.framesPerSecond = 25;
  return probe;
}

// A node over two media files of 4 s and 6 s (probed by a fake, so no FFmpeg
// is needed), listening on 127.0.0.1 with a free port, on a manual clock.
class NodeProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(media_ / "a.mov") << "a";
    std::ofstream(media_ / "b.mov") << "b";
  }

  void startNode(std::optional<std::string> password = std::nullopt,
                 NodeServer::Options serverOptions = {.maxLineBytes = kTestLineLimit}) {
    MediaLibrary::Options options;
    options.prober = fakeProbe;
    library_.emplace(std::vector<std::filesystem::path>{media_.path()}, options);
    NodeState::Settings settings{{"NODE-ID", "Studio A"}, std::move(password),
                                 [](const std::filesystem::path&, double seconds) -> platform::Result<platform::Data> {
                                   return platform::Data{'I', 'I', static_cast<std::uint8_t>(seconds)};
                                 },
                                 [this](const std::string& line) { keepLogLine(line); },
                                 {}};
    node_.emplace(std::move(settings), *library_);
    sessions_.emplace(*node_);
    server_.emplace(*sessions_, serverOptions, [this](const std::string& line) { keepLogLine(line); });
    const platform::Status started = server_->start("127.0.0.1", 0);
    ASSERT_TRUE(started.ok()) << started.error().describe();
    ASSERT_NE(server_->port(), 0);
  }

  // What the node and its server logged so far.
  std::vector<std::string> logLines() const {
    const std::lock_guard lock(logMutex_);
    return logLines_;
  }

  std::string folderID() const { return library_->folders().front().uniqueID(); }
  std::string itemID(const char* name) const {
    return library_->findItemAtPath((media_.path() / name).string())->item->uniqueID;
  }

  // Two clips as a client sends them: one property-list text over many lines.
  std::string clipsText() const {
    auto clip = [&](const char* playbackID, const char* name, const char* endBehaviour) {
      return Value(platform::Dictionary{
          {"clipInfoPlaybackUniqueID", Value(playbackID)},
          {"clipInfoMediaFolderUniqueID", Value(folderID())},
          {"clipInfoMediaItemUniqueID", Value(itemID(name))},
          {"clipInfoAttributes", Value(platform::Dictionary{{"Clip End Behaviour", Value(endBehaviour)}})},
          {"clipInfoHasInPoint", Value(true)},
          {"clipInfoInPointInSeconds", Value(1.0)},
          {"clipInfoHasOutPoint", Value(false)},
          {"clipInfoOutPointInSeconds", Value(0.0)},
      });
    };
    return platform::writePropertyList(
               Value(platform::Array{clip("P1", "a.mov", "Chain"), clip("P2", "b.mov", "Normal")}))
        .value();
  }

  void keepLogLine(const std::string& line) {
    const std::lock_guard lock(logMutex_);
    logLines_.push_back(line);
  }

  mutable std::mutex logMutex_;
  std::vector<std::string> logLines_;
  platform::ManualClock clock_;
  platform::ScopedClockOverride override_{clock_};
  testing_support::TemporaryDirectory media_;
  std::optional<MediaLibrary> library_;
  std::optional<NodeState> node_;
  std::optional<NodeSessionFactory> sessions_;
  std::optional<NodeServer> server_;  // declared last: stops first
};

}  // namespace testing_node
}  // namespace standin
