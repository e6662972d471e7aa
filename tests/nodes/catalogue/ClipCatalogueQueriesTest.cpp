// The catalogue's queries: by node, unique ID, path and media item identity,
// the document-entry and dropped-file look-ups.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "foundation/GenerateUniqueID.h"
#include "nodes/catalogue/ClipCatalogue.h"
#include "tests/nodes/catalogue/ClipCatalogueFixture.h"

namespace nodes {
namespace {

using catalogue_testing::ClipSample;
using catalogue_testing::makeClip;
using catalogue_testing::mediaItemID;
using platform::Value;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;
using PlaylistItems = ClipCatalogue::PlaylistItems;

std::vector<std::string> ids(const PlaylistItems& items) {
  std::vector<std::string> result;
  for (const auto& item : items) result.push_back(item->uniqueID().value_or(""));
  return result;
}

std::map<std::string, std::string> ids(const ClipCatalogue::PlaylistItemsByKey& items) {
  std::map<std::string, std::string> result;
  for (const auto& [key, item] : items) result[key] = item->uniqueID().value_or("");
  return result;
}

std::shared_ptr<MediaFolder> folder(const std::string& id, const std::string& path) {
  auto folder = std::make_shared<MediaFolder>();
  folder->setUniqueID(id);
  folder->setPath(path);
  return folder;
}

class ClipCatalogueQueriesTest : public catalogue_testing::ClipCatalogueFixture {
 protected:
  ClipCatalogue::Options options() override {
    ClipCatalogue::Options options = ClipCatalogueFixture::options();
    options.mediaFoldersForNode =
        [this](const std::string& node) -> std::optional<std::vector<std::shared_ptr<MediaFolder>>> {
      auto found = folders_.find(node);
      if (found == folders_.end()) return std::nullopt;
      return found->second;
    };
    options.nodeNameForNodeWithUniqueID = [](const std::string& node) { return "Studio " + node; };
    return options;
  }

  void SetUp() override {
    catalogue_ = open();
    ASSERT_TRUE(catalogue_->isEnabled());
    storeClips(*catalogue_,
               {
                   makeClip({"a", "/media/A/a.mov", mediaItemID(1, "-1"), "node-1", "folder-1"}),
                   makeClip({"a-offline", "/media/A/old/a.mov", mediaItemID(1, "-2"), "node-1", "folder-2", false}),
                   makeClip({"b-offline", "/media/A/b.mov", mediaItemID(2, "-1"), "node-1", "folder-1", false}),
                   makeClip({"b-elsewhere", "/media/B/b.mov", mediaItemID(2, "-2"), "node-1", "folder-2", false}),
                   makeClip({"c", "/media/A/a.mov", mediaItemID(1, "-1"), "node-2", "folder-9"}),
               });
  }

  std::map<std::string, std::vector<std::shared_ptr<MediaFolder>>> folders_ = {
      {"node-1", {folder("folder-1", "/media/A/"), folder("folder-2", "/media/B")}}};
  std::unique_ptr<ClipCatalogue> catalogue_;
};

TEST_F(ClipCatalogueQueriesTest, ClipsOfANodeCarryTheirMetadataAndAttributes) {
  ClipCatalogueStore& store = *catalogue_->store();
  ASSERT_TRUE(
      store.performTransaction([&] {
             return store.setAttributes("a", {{"Clip End Behaviour", Value("Loop")}});
           })
          .ok());
  auto item = catalogue_testing::makeMediaItem({"/media/A/a.mov"});
  item->setNodeMetadataDict({{"Title", Value("News")}, {"Rating", Value(3)}});
  ASSERT_TRUE(catalogue_->addMetadataInDataBaseWithMediaItem(*item, "a").ok());

  PlaylistItems clips = catalogue_->clipsForNodeUniqueID("node-1");
  ASSERT_THAT(ids(clips), UnorderedElementsAre("a", "a-offline", "b-offline", "b-elsewhere"));
  for (const auto& clip : clips) {
    if (clip->uniqueID() == "a") {
      EXPECT_EQ(clip->attributes(), (platform::Dictionary{{"Clip End Behaviour", Value("Loop")}}));
      EXPECT_EQ(clip->metadataArray().size(), 2u);
    } else {
      EXPECT_EQ(clip->attributes(), std::nullopt);
      EXPECT_THAT(clip->metadataArray(), IsEmpty());
    }
  }
  EXPECT_EQ(catalogue_->clipWithUniqueID("a")->metadataArray().size(), 2u);
  EXPECT_EQ(catalogue_->attributesForClipWithUniqueID("a"),
            (platform::Dictionary{{"Clip End Behaviour", Value("Loop")}}));
  EXPECT_THAT(ids(catalogue_->clipsWithUniqueIDs({"a", "c", "unknown", "a"})), UnorderedElementsAre("a", "c"));
  EXPECT_EQ(catalogue_->clipWithUniqueID(std::nullopt), nullptr);
  EXPECT_EQ(catalogue_->clipWithUniqueID("unknown"), nullptr);
}

TEST_F(ClipCatalogueQueriesTest, MediaItemIdentityIsTheFirst24Characters) {
  struct Case {
    const char* name;
    std::string id;
    std::optional<std::string> node;
    std::optional<std::string> folder;
    std::optional<std::vector<std::string>> expected;
  };
  const std::vector<Case> cases = {
      {"24 characters", mediaItemID(1, ""), std::nullopt, std::nullopt, std::nullopt},
      {"any node", mediaItemID(1, "-9"), std::nullopt, std::nullopt, std::vector<std::string>{"a", "a-offline", "c"}},
      {"one node", mediaItemID(1, "-9"), "node-1", std::nullopt, std::vector<std::string>{"a", "a-offline"}},
      {"node and folder", mediaItemID(1, "-9"), "node-1", "folder-2", std::vector<std::string>{"a-offline"}},
      {"folder without node", mediaItemID(1, "-9"), std::nullopt, "folder-2",
       std::vector<std::string>{"a", "a-offline", "c"}},
      {"unknown item", mediaItemID(7, "-1"), std::nullopt, std::nullopt, std::vector<std::string>{}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto found = catalogue_->clipsWithMediaItemUniqueID(c.id, c.node, c.folder);
    ASSERT_EQ(found.has_value(), c.expected.has_value());
    if (found) {
      EXPECT_THAT(ids(*found), ::testing::UnorderedElementsAreArray(*c.expected));
    }
  }
}

TEST_F(ClipCatalogueQueriesTest, DictionaryQueriesAnswerEachKeyOnce) {
  const auto byMediaItem = catalogue_->playlistItemsWithMediaItemUniqueIDs(
      {mediaItemID(1, "-1"), mediaItemID(2, "-1"), mediaItemID(1, "-2"), mediaItemID(1, "-1"), mediaItemID(5)},
      "node-1");
  // An ID whose clips are all offline answers the first online clip of its
  // identity, else the first clip of it.
  EXPECT_EQ(ids(byMediaItem),
            (std::map<std::string, std::string>{
                {mediaItemID(1, "-1"), "a"}, {mediaItemID(1, "-2"), "a"}, {mediaItemID(2, "-1"), "b-offline"}}));

  const auto byPath = catalogue_->playlistItemsWithAbsolutePaths(
      {"/media/A/b.mov", "/media/A/a.mov", "/media/A/b.mov", "/media/none.mov"}, "node-1");
  EXPECT_EQ(ids(byPath),
            (std::map<std::string, std::string>{{"/media/A/a.mov", "a"}, {"/media/A/b.mov", "b-offline"}}));
  EXPECT_THAT(catalogue_->playlistItemsWithAbsolutePaths({}, "node-1"), IsEmpty());
  EXPECT_THAT(catalogue_->playlistItemsWithMediaItemUniqueIDs({mediaItemID(1)}, ""), IsEmpty());
}

TEST_F(ClipCatalogueQueriesTest, ADocumentEntryFindsItsClipOrAnOfflineRecordUnderAMediaFolder) {
  struct Case {
    const char* name;
    std::string node;
    std::string path;
    std::optional<std::string> mediaItem;
    std::optional<std::string> folder;
    std::optional<std::string> expected;  // clip ID, "offline" for a new record, none for nothing
  };
  const std::vector<Case> cases = {
      {"by path", "node-1", "/media/A/a.mov", std::nullopt, std::nullopt, "a"},
      {"by media item", "node-1", "/media/A/moved.mov", mediaItemID(2, "-7"), std::nullopt, "b-offline"},
      {"by media item in a folder", "node-1", "/media/A/moved.mov", mediaItemID(2, "-7"), "folder-2", "b-elsewhere"},
      {"a file under a folder", "node-1", "/media/A/new/clip.mov", std::nullopt, std::nullopt, "offline"},
      {"a folder name that only starts alike", "node-1", "/media/AB/clip.mov", std::nullopt, std::nullopt,
       std::nullopt},
      {"a node without folders", "node-2", "/media/A/new.mov", std::nullopt, std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::shared_ptr<PlaylistItem> item =
        catalogue_->playlistItemWithNodeUniqueID(c.node, c.path, c.mediaItem, c.folder);
    if (!c.expected) {
      EXPECT_EQ(item, nullptr);
    } else if (*c.expected != "offline") {
      ASSERT_TRUE(item);
      EXPECT_EQ(item->uniqueID(), c.expected);
    } else {
      ASSERT_TRUE(item);
      const PlaylistItemFields f = item->fields();
      EXPECT_FALSE(f.online);
      EXPECT_EQ(f.validationStatus, 2);
      EXPECT_EQ(f.videoCodecDescription, "<Unknown Format>");
      EXPECT_EQ(f.displayName, "clip.mov");
      EXPECT_EQ(f.relativePathToMediaItem, "/new/clip.mov");
      EXPECT_EQ(f.mediaFolderUniqueID, "folder-1");
      EXPECT_EQ(f.nodeName, "Studio node-1");
      EXPECT_EQ(f.mediaItemUniqueID, "");
      EXPECT_TRUE(f.uniqueID && !f.uniqueID->empty());
      EXPECT_EQ(catalogue_->clipWithUniqueID(f.uniqueID), nullptr);  // not stored
    }
  }
}

TEST_F(ClipCatalogueQueriesTest, DroppedFilesAreLookedUpByPathOrIdentityAndFoldersOnce) {
  const auto dropped = folder_ / "dropped";
  std::filesystem::create_directories(dropped / "sub");
  for (const char* name : {"known.mov", "sub/hashed.mov", "unknown.mov"}) std::ofstream(dropped / name) << name;
  std::filesystem::create_directory_symlink(dropped, dropped / "sub" / "loop");
  const std::optional<std::string> hash =
      foundation::GenerateUniqueID::hashStringForFileAtURL(dropped / "sub/hashed.mov");
  ASSERT_TRUE(hash);
  storeClips(*catalogue_, {makeClip({"known", (dropped / "known.mov").string(), mediaItemID(8), "node-1"}),
                           makeClip({"hashed", "/media/A/hashed.mov", *hash + "-0001", "node-1"})});

  bool found = true;
  PlaylistItems items =
      catalogue_->playlistItemsFromPaths({dropped.string(), (folder_ / "missing.mov").string()}, "node-1", &found);
  EXPECT_THAT(ids(items), ElementsAre("known", "hashed"));
  EXPECT_FALSE(found);

  found = false;
  items = catalogue_->playlistItemsFromPaths({(dropped / "known.mov").string(), (folder_ / "missing").string()},
                                             "node-1", &found);
  EXPECT_THAT(ids(items), ElementsAre("known"));
  EXPECT_TRUE(found);
}

TEST_F(ClipCatalogueQueriesTest, LiveClipsAreFoundByTheirFlag) {
  ClipCatalogueStore& store = *catalogue_->store();
  ASSERT_TRUE(store
                  .performTransaction([&]() -> platform::Status {
                    auto r = store.updateClip("c", {{catalogue::kZira, Value(true)}});
                    return r.ok() ? platform::Status() : r.error();
                  })
                  .ok());
  EXPECT_THAT(ids(catalogue_->ziraClips()), ElementsAre("c"));
}

}  // namespace
}  // namespace nodes
