#include <gtest/gtest.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "node-standin/MediaLibrary.h"
#include "node-standin/NodeServer.h"
#include "node-standin/NodeSession.h"
#include "node-standin/NodeState.h"
#include "nodes/playlist/PlaylistDocumentFormat.h"
#include "nodes/playlist/VideoPlaylistDocument.h"
#include "platform/Clock.h"
#include "platform/UserDefaults.h"
#include "tests/support/TemporaryDirectory.h"
#include "tools/SamplePlaylist.h"

namespace tools {
namespace {

using namespace std::chrono_literals;

constexpr auto kFetchLimit = 10s;

standin::MediaProbe fakeProbe(const std::filesystem::path& path) {
  standin::MediaProbe probe;
  probe.durationInSeconds = path.filename() == "b.mov" ? 6.0 : 4.0;
  probe.framesPerSecond = 25;
  return probe;
}

// A stand-in node in this process over three files (probed by a fake, so no
// FFmpeg is needed), one in a sub-folder, listed out of name order on disk.
class SamplePlaylistTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(media_ / "sub");
    for (const char* name : {"b.mov", "sub/c.mov", "a.mov"}) std::ofstream(media_ / name) << name;
    standin::MediaLibrary::Options options;
    options.prober = fakeProbe;
    library_.emplace(std::vector<std::filesystem::path>{media_.path()}, options);
    node_.emplace(standin::NodeState::Settings{{"NODE-ID", "Studio A"}, std::nullopt, {}, {}, {}}, *library_);
    sessions_.emplace(*node_);
    server_.emplace(*sessions_, standin::NodeServer::Options{}, nullptr);
    const platform::Status started = server_->start("127.0.0.1", 0);
    ASSERT_TRUE(started.ok()) << started.error().describe();
  }

  platform::ManualClock clock_;
  platform::ScopedClockOverride clockOverride_{clock_};
  testing_support::TemporaryDirectory media_;
  testing_support::TemporaryDirectory output_;
  platform::UserDefaults defaults_{output_ / "defaults.plist"};
  platform::ScopedStandardUserDefaultsOverride defaultsOverride_{defaults_};
  std::optional<standin::MediaLibrary> library_;
  std::optional<standin::NodeState> node_;
  std::optional<standin::NodeSessionFactory> sessions_;
  std::optional<standin::NodeServer> server_;  // declared last: stops first
};

TEST_F(SamplePlaylistTest, SavedRowsCarryTheNodesOwnMediaIDsAndPathsInFileNameOrder) {
  const auto media = fetchNodeMedia("127.0.0.1", server_->port(), kFetchLimit);
  ASSERT_TRUE(media.ok()) << media.error().describe();
  const std::filesystem::path file = output_ / "Sample.vzplaylist";
  ASSERT_TRUE(makeSamplePlaylistDocument(*media)
                  ->writeToURL(file, nodes::kVideoPlaylistDocumentType, nodes::VideoPlaylistDocument::SaveOperation::Save)
                  .ok());
  server_.reset();  // the library is the server thread's while it runs

  nodes::VideoPlaylistDocument read;
  ASSERT_TRUE(read.readFromURL(file, nodes::kVideoPlaylistDocumentType).ok());
  EXPECT_FALSE(read.wasReadWithLosses());
  EXPECT_EQ(read.nodeAUniqueID(), "NODE-ID");
  EXPECT_EQ(read.nodeAName(), "Studio A");
  const std::string folderID = library_->folders().front().uniqueID();
  const std::vector<std::pair<std::string, double>> expected{{"a.mov", 4.0}, {"b.mov", 6.0}, {"sub/c.mov", 4.0}};
  ASSERT_EQ(read.clipCount(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i].first);
    const auto row = read.clipAtIndex(static_cast<std::int64_t>(i));
    const std::string path = (media_ / expected[i].first).string();
    const auto found = library_->findItemAtPath(path);
    ASSERT_TRUE(found);
    EXPECT_EQ(row->mediaItemUniqueID(), found->item->uniqueID);
    EXPECT_EQ(row->mediaFolderUniqueID(), folderID);
    EXPECT_EQ(row->absolutePathToMediaItem(), path);
    EXPECT_EQ(row->relativePathToMediaItem(), expected[i].first);
    EXPECT_EQ(row->nodeUniqueID(), "NODE-ID");
    EXPECT_TRUE(row->online());
    EXPECT_EQ(row->mediaItemDurationInSeconds(), expected[i].second);
  }
}

TEST(SamplePlaylistFetchTest, SaysTheNodeWasNotReachedWhenNothingListens) {
  // A port that was free a moment ago: connecting is refused.
  const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length), 0);
  ::close(probe);

  testing_support::TemporaryDirectory home;
  platform::UserDefaults defaults(home / "defaults.plist");
  platform::ScopedStandardUserDefaultsOverride defaultsOverride(defaults);
  const auto media = fetchNodeMedia("127.0.0.1", ntohs(address.sin_port), 500ms);
  ASSERT_FALSE(media.ok());
  EXPECT_TRUE(media.error().is(kSamplePlaylistErrorDomain, SamplePlaylistError::NodeNotReached))
      << media.error().describe();
}

}  // namespace
}  // namespace tools
