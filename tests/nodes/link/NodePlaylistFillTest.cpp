#include "nodes/link/NodePlaylistFill.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "nodes/link/DataSource.h"
#include "nodes/playlist/VideoPlaylistDocument.h"
#include "platform/NotificationCenter.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"
#include "tests/support/TemporaryDirectory.h"

namespace nodes {
namespace {

using platform::Dictionary;
using platform::Value;

// A catalogue of two clips: "m1" found by media item and folder, "m2" only
// by its path on node-a.
class CatalogueStub final : public DataSource {
 public:
  std::optional<PlaylistItems> clipsWithMediaItemUniqueID(const std::string& mediaItemUniqueID,
                                                          const std::optional<std::string>& nodeUniqueID,
                                                          const std::optional<std::string>& folder) override {
    lookups.push_back("id " + mediaItemUniqueID + " node " + nodeUniqueID.value_or("any") + " folder " +
                      folder.value_or("any"));
    if (mediaItemUniqueID != "m1") return PlaylistItems{};
    return PlaylistItems{catalogueClip("m1")};
  }
  std::optional<PlaylistItems> clipsWithMediaItemAbsolutePath(const std::string& path,
                                                              const std::optional<std::string>& nodeUniqueID) override {
    lookups.push_back("path " + path + " node " + nodeUniqueID.value_or("any"));
    if (path != "/media/m2.mov" || nodeUniqueID != "node-a") return PlaylistItems{};
    return PlaylistItems{catalogueClip("m2")};
  }
  static std::shared_ptr<PlaylistItem> catalogueClip(const std::string& mediaItem) {
    auto clip = std::make_shared<PlaylistItem>();
    clip->setMediaItemUniqueID(mediaItem);
    clip->setMediaItemDurationInSeconds(20.0);
    clip->setDisplayName(mediaItem + " name");
    return clip;
  }
  std::vector<std::string> lookups;
};

Dictionary entry(const std::string& playbackID, const std::string& mediaItem, const std::string& path) {
  return {{"clipInfoPlaybackUniqueID", Value(playbackID)},
          {"clipInfoUniqueID", Value("clip-" + playbackID)},
          {"clipInfoMediaItemUniqueID", Value(mediaItem)},
          {"clipInfoMediaFolderUniqueID", Value("folder-1")},
          {"clipInfoAbsolutePathToMediaItem", Value(path)},
          {"clipInfoAttributes", Value(Dictionary{{"Clip End Behaviour", Value("Chain")}})},
          {"clipInfoInPointInSeconds", Value(2.0)},
          {"clipInfoOutPointInSeconds", Value(12.0)},
          {"clipInfoHasInPoint", Value(true)},
          {"clipInfoHasOutPoint", Value(false)},
          {"clipInfoDisplayVideoSizeWidth", Value(640.0)},
          {"clipInfoOnline", Value(true)}};
}

TEST(NodePlaylistFillTest, TakesTheNodesPlaylistOverWithTheCatalogueClipsItFinds) {
  platform::RunLoop::main().attachCurrentThread();
  testing_support::TemporaryDirectory folder;
  platform::UserDefaults defaults{folder / "defaults.plist"};
  platform::ScopedStandardUserDefaultsOverride defaultsOverride{defaults};
  auto dataSource = std::make_shared<CatalogueStub>();
  auto document = std::make_shared<VideoPlaylistDocument>();
  document->setAbRoll(true);
  document->setNodeBName("Studio B");
  EXPECT_FALSE(dataSource->nodeControlFillDocument(*document, "node-a")) << "unknown node";

  StaticNodeInfo info;
  info.setIpAdress("10.1.1.1");
  info.setPortNumber("7000");
  dataSource->addStaticNodeInfoInCache(info);
  const NodeConnectionPtr node = dataSource->nodes().back();
  node->setNodeUniqueID("node-a");
  node->setName("Studio A");
  EXPECT_FALSE(dataSource->nodeControlFillDocument(*document, "node-a")) << "no playlist on the node";
  EXPECT_FALSE(dataSource->nodeControlFillDocument(*document, ""));

  node->setCurrentPlaylist({Value(entry("p1", "m1", "/media/m1.mov")), Value(entry("p2", "other", "/media/m2.mov")),
                            Value(entry("p3", "unknown", "/media/unknown.mov"))});
  node->setCurrentStatus({{"status", Value("PAUSED")},
                          {"playlistUniqueID", Value("node-playlist")},
                          {"loopMode", Value(true)},
                          {"chainMode", Value(false)},
                          {"cueMode", Value(true)}});
  std::vector<std::string> posted;
  std::vector<platform::ObserverToken> observers;
  for (const char* name : {"lockedClipsDidChange", "playbackStatusDidChange", "playbackAuthenticationDidChange"}) {
    observers.push_back(platform::NotificationCenter::defaultCenter().addObserver(
        name, nullptr, [&posted](const platform::Notification& n) { posted.push_back(n.name); }));
  }

  ASSERT_TRUE(dataSource->nodeControlFillDocument(*document, "node-a"));
  platform::RunLoop::main().drainReadyTasks();

  const auto rows = document->playlist();
  ASSERT_EQ(rows.size(), 2u) << "the entry without a catalogue clip is left out";
  EXPECT_EQ(rows[0]->playbackUniqueID(), "p1");
  EXPECT_EQ(rows[1]->playbackUniqueID(), "p2");
  EXPECT_EQ(rows[1]->displayName(), "m2 name") << "the catalogue clip found by path";
  EXPECT_EQ(rows[1]->mediaItemUniqueID(), "other") << "the node's IDs win";
  EXPECT_EQ(rows[0]->uniqueID(), "clip-p1");
  EXPECT_EQ(rows[0]->nodeUniqueID(), "node-a");
  EXPECT_EQ(rows[0]->inPointInSeconds(), 2.0);
  EXPECT_FALSE(rows[0]->hasOutPoint()) << "the node said it has none";
  EXPECT_EQ(rows[0]->displaySizeWidth(), 640.0f);
  EXPECT_EQ(rows[0]->clipEndBehaviour(), ClipEndBehaviour::Chain);
  EXPECT_EQ(dataSource->lookups.front(), "id m1 node any folder folder-1");

  EXPECT_EQ(document->uniqueID(), "node-playlist");
  EXPECT_TRUE(document->loop());
  EXPECT_FALSE(document->chain());
  EXPECT_TRUE(document->cueMode());
  EXPECT_FALSE(document->abRoll());
  EXPECT_EQ(document->nodeAUniqueID(), "node-a");
  EXPECT_EQ(document->nodeAName(), "Studio A");
  EXPECT_EQ(document->nodeBName(), std::nullopt);
  EXPECT_TRUE(document->isDocumentEdited());
  EXPECT_GT(rows[0]->relativeStartTimeAsString().value_or("").size(), 0u) << "start times computed";

  // One thumbnail request per row, at its middle.
  std::vector<std::string> requests;
  for (const auto& command : node->controlCommands()) requests.push_back(command->command());
  EXPECT_EQ(requests, (std::vector<std::string>{"fmmediaitemthumbnail folder-1 m1 11.000000",
                                                "fmmediaitemthumbnail folder-1 other 11.000000"}));
  EXPECT_EQ(posted, (std::vector<std::string>{"lockedClipsDidChange", "playbackStatusDidChange",
                                              "playbackAuthenticationDidChange"}));
}

}  // namespace
}  // namespace nodes
