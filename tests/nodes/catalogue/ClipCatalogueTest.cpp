// The clip catalogue's set-up, its queue of write operations and their
// notifications: batch merges, deletes with their side rows, offline marks,
// failed saves and a store that cannot be opened.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>

#include "nodes/catalogue/ClipCatalogue.h"
#include "platform/PropertyList.h"
#include "platform/RunLoop.h"
#include "tests/nodes/catalogue/ClipCatalogueFixture.h"

namespace nodes {
namespace {

using namespace clipinfo;
using catalogue_testing::ClipSample;
using catalogue_testing::makeClip;
using catalogue_testing::makeMediaItem;
using catalogue_testing::mediaItemID;
using catalogue_testing::MediaItemSample;
using catalogue_testing::strings;
using platform::Value;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

class ClipCatalogueTest : public catalogue_testing::ClipCatalogueFixture {
 protected:
  void SetUp() override {
    catalogue_ = open();
    ASSERT_TRUE(catalogue_->isEnabled()) << catalogue_->openError()->describe();
  }

  void sync(const std::vector<MediaItemSample>& samples) {
    std::vector<std::shared_ptr<MediaItem>> items;
    for (const MediaItemSample& sample : samples) items.push_back(makeMediaItem(sample));
    perform([&] { catalogue_->addOrUpdateClipsWithMediaItems(items); });
  }

  std::vector<CatalogueRow> rows(const ClipPredicate& predicate = {}) {
    auto fetched = catalogue_->store()->fetchClips(predicate);
    EXPECT_TRUE(fetched.ok());
    return fetched.ok() ? *fetched : std::vector<CatalogueRow>{};
  }

  std::unique_ptr<ClipCatalogue> catalogue_;
};

TEST_F(ClipCatalogueTest, ANewInstallationHasItsFoldersFilesAndAnEmptyStore) {
  EXPECT_EQ(catalogue_->rootPath(), root());
  EXPECT_TRUE(std::filesystem::is_regular_file(root() / "Private" / "MediaPrivateDataStore.sql"));
  EXPECT_TRUE(catalogue_->storeWasCreated());
  auto categories = platform::readPropertyListFile(root() / "Categories");
  ASSERT_TRUE(categories.ok());
  EXPECT_EQ((*categories)["dataBaseRoot"], Value(root().string()));
  auto version = platform::readPropertyListFile(root() / "Versions" / "MediaDatabaseVersion.plist");
  ASSERT_TRUE(version.ok());
  EXPECT_EQ((*version)["version"], Value(101));

  // The reset of a new installation marks nothing offline.
  perform([&] { catalogue_->markAllClipsAsOffline(); });
  EXPECT_THAT(changeNames(), IsEmpty());
  EXPECT_EQ(count(catalogue::kStartedCoreDataOperationNotification), 1u);

  catalogue_.reset();
  EXPECT_FALSE(open()->storeWasCreated());
}

TEST_F(ClipCatalogueTest, AnOlderPreferencesFileBecomesTheCategoriesFileUnchanged) {
  catalogue_.reset();
  std::filesystem::remove(root() / "Categories");
  const Value older(platform::Dictionary{{"dataBaseRoot", Value("/elsewhere")}, {"kept", Value(1)}});
  ASSERT_TRUE(platform::writePropertyListFile(root() / "Preferences", older).ok());
  catalogue_ = open();
  EXPECT_FALSE(std::filesystem::exists(root() / "Preferences"));
  EXPECT_EQ(*platform::readPropertyListFile(root() / "Categories"), older);
}

TEST_F(ClipCatalogueTest, ABatchMakesOneClipPerFileWhateverItsOrderAndRepeats) {
  struct Case {
    const char* name;
    std::vector<MediaItemSample> stored;
    std::vector<MediaItemSample> batch;
    std::size_t clips;
    std::size_t added;
    std::size_t changed;
  };
  const std::vector<Case> cases = {
      {"a new path twice in one batch", {}, {{"/m/x.mov", mediaItemID(1)}, {"/m/x.mov", mediaItemID(2)}}, 1, 1, 0},
      {"a stored path twice in one batch",
       {{"/m/x.mov"}},
       {{"/m/x.mov", mediaItemID(1)}, {"/m/x.mov", mediaItemID(2)}},
       1,
       0,
       1},
      {"an unsorted batch over stored rows",
       {{"/m/b.mov"}, {"/m/a.mov"}, {"/m/\xC3\xA9t\xC3\xA9.mov"}, {"/m/B.mov"}},
       {{"/m/B.mov"}, {"/m/\xC3\xA9t\xC3\xA9.mov"}, {"/m/a.mov"}, {"/m/b.mov"}},
       4,
       0,
       4},
      {"paths that sort apart by case",
       {{"/m/a.mov"}, {"/m/B.mov"}},
       {{"/m/c.mov"}, {"/m/a.mov"}, {"/m/B.mov"}},
       3,
       1,
       2},
      {"the same path on another node", {{"/m/x.mov"}}, {{"/m/x.mov", mediaItemID(1), "node-2"}}, 2, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    catalogue_.reset();
    std::filesystem::remove_all(root());
    catalogue_ = open();
    if (!c.stored.empty()) sync(c.stored);
    posted_.clear();
    sync(c.batch);
    EXPECT_EQ(rows().size(), c.clips);
    const auto added = postedNamed(catalogue::kClipsAddedNotification);
    const auto changed = postedNamed(catalogue::kClipsDidChangeNotification);
    EXPECT_EQ(added.empty() ? 0 : strings(added.front().object).size(), c.added);
    EXPECT_EQ(changed.empty() ? 0 : strings(changed.front().object).size(), c.changed);
    for (const CatalogueRow& row : rows()) EXPECT_EQ(row.at(kOnline), Value(true));
  }
}

TEST_F(ClipCatalogueTest, ASyncKeepsTheOperatorsEditsUnlessTheFileChangedLength) {
  sync({{"/m/x.mov"}});
  std::shared_ptr<PlaylistItem> clip = catalogue_->clipWithUniqueID(rows().front().at(kUniqueID).stringOr(""));
  ASSERT_TRUE(clip);
  clip->setInPointInSeconds(2.0);
  clip->setDisplayName("Morning news");
  perform([&] { catalogue_->addOrUpdateClips({clip}); });

  sync({{"/m/x.mov", mediaItemID(1), "node-1", "folder-1", 10.0}});
  std::shared_ptr<PlaylistItem> same = catalogue_->clipWithUniqueID(clip->uniqueID());
  EXPECT_EQ(same->inPointInSeconds(), 2.0);
  EXPECT_EQ(same->displayName(), "Morning news");

  sync({{"/m/x.mov", mediaItemID(1), "node-1", "folder-1", 12.0}});
  std::shared_ptr<PlaylistItem> longer = catalogue_->clipWithUniqueID(clip->uniqueID());
  EXPECT_FALSE(longer->hasInPoint());
  EXPECT_EQ(longer->mediaItemDurationInSeconds(), 12.0);
  EXPECT_EQ(longer->displayName(), "Morning news");
}

TEST_F(ClipCatalogueTest, AddOrUpdateClipsInsertsNewClipsAndLeavesTheFileOfKnownOnes) {
  perform([&] { catalogue_->addOrUpdateClips({makeClip({"clip-1", "/m/x.mov"})}); });
  std::shared_ptr<PlaylistItem> edited = makeClip({"clip-1", "/m/elsewhere.mov"});
  edited->setDisplayName("Renamed");
  edited->setMediaItemStartTimeCode("01:00:00:00");
  perform([&] { catalogue_->addOrUpdateClips({edited, makeClip({"clip-2", "/m/y.mov"})}); });

  EXPECT_THAT(strings(postedNamed(catalogue::kClipsAddedNotification).at(1).object), ElementsAre("clip-2"));
  EXPECT_THAT(strings(postedNamed(catalogue::kClipsDidChangeNotification).at(0).object), ElementsAre("clip-1"));
  const CatalogueRow row = rows({.uniqueID = "clip-1"}).at(0);
  EXPECT_EQ(row.at(kDisplayName), Value("Renamed"));
  EXPECT_EQ(row.at(kAbsolutePathToMediaItem), Value("/m/x.mov"));
  EXPECT_EQ(row.at(kStartTimeCode), Value("00:00:00:00"));
}

// Two clips, each with an attribute, a language and a metadata row.
class ClipCatalogueDeleteTest : public ClipCatalogueTest {
 protected:
  void SetUp() override {
    ClipCatalogueTest::SetUp();
    fill();
  }

  // A fresh catalogue holding the two clips.
  void restart() {
    catalogue_.reset();
    std::filesystem::remove_all(root());
    catalogue_ = open();
    fill();
  }

  void fill() {
    storeClips(*catalogue_, {makeClip({"gone", "/m/a.mov", mediaItemID(1), "node-1", "folder-1"}),
                             makeClip({"kept", "/m/b.mov", mediaItemID(2), "node-2", "folder-2"})});
    ClipCatalogueStore& store = *catalogue_->store();
    ASSERT_TRUE(
        store
            .performTransaction([&]() -> platform::Status {
              for (const char* id : {"gone", "kept"}) {
                if (auto s = store.setAttributes(id, {{"Clip End Behaviour", Value("Loop")}}); !s.ok()) return s;
                if (auto s = store.setLanguages(id, {"en"}); !s.ok()) return s;
                if (auto s = store.insertMetadata({{"ClipInfoUniqueID", Value(id)}, {"Key", Value("Title")}}); !s.ok())
                  return s;
              }
              return {};
            })
            .ok());
  }

  std::vector<std::string> owners(const std::vector<CatalogueRow>& sideRows, const char* key) {
    std::vector<std::string> ids;
    for (const CatalogueRow& row : sideRows) ids.push_back(row.at(key).stringOr(""));
    return ids;
  }
};

TEST_F(ClipCatalogueDeleteTest, DeletingAClipDeletesItsAttributeLanguageAndMetadataRows) {
  struct Case {
    const char* name;
    std::function<void()> remove;
    std::vector<std::string> announced;  // name, then its object's text
  };
  const std::vector<Case> cases = {
      {"by unique ID",
       [&] {
         catalogue_->removeClipsWithUniqueIDs({"gone", "unknown"});
       },
       {"clipsDidChange", "gone"}},
      {"by media item",
       [&] { catalogue_->removeClipsWithMediaItemsUniqueIDs({mediaItemID(1, "-other")}); },
       {"clipsDidChange", "gone"}},
      {"by media folder",
       [&] { catalogue_->removeClipsWithMediaFolderUniqueID("folder-1"); },
       {"mediaFolderDeleted", "folder-1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (&c != &cases.front()) restart();
    posted_.clear();
    perform(c.remove);
    ASSERT_THAT(changeNames(), ElementsAre(c.announced[0]));
    const Value& object = posted_.at(1).object;
    EXPECT_EQ(object.isString() ? object.stringOr("") : strings(object).at(0), c.announced[1]);
    EXPECT_THAT(owners(catalogue_->clipsAttributes(), "toClipInfoUniqueID"), ElementsAre("kept"));
    EXPECT_THAT(owners(catalogue_->clipsLanguages(), "toClipInfoUniqueID"), ElementsAre("kept"));
    EXPECT_THAT(catalogue_->metadataArrayWithClipWithUniqueID("gone"), IsEmpty());
    EXPECT_THAT(catalogue_->metadataArrayWithClipWithUniqueID("kept"), ::testing::SizeIs(1));
  }
}

TEST_F(ClipCatalogueDeleteTest, DeletesThatMatchNothingAnnounceNothing) {
  perform([&] { catalogue_->removeClipsWithMediaFolderUniqueID("folder-9"); });
  // Neither an empty nor a short media item ID stands for a group of files.
  perform([&] { catalogue_->removeClipsWithMediaItemsUniqueIDs({"", "ITEM"}); });
  EXPECT_THAT(changeNames(), IsEmpty());
  EXPECT_EQ(rows().size(), 2u);
}

TEST_F(ClipCatalogueDeleteTest, ErasingANodeDeletesItsClipsAtOnce) {
  ASSERT_TRUE(catalogue_->eraseClipsForNodeWithUniqueID("node-1").ok());
  EXPECT_EQ(rows().size(), 1u);
  EXPECT_THAT(owners(catalogue_->clipsAttributes(), "toClipInfoUniqueID"), ElementsAre("kept"));
}

TEST_F(ClipCatalogueTest, OfflineMarksAnnounceTheClipsTheyChanged) {
  storeClips(*catalogue_, {makeClip({"a", "/m/a.mov", mediaItemID(1), "node-1", "folder-1"}),
                           makeClip({"b", "/m/b.mov", mediaItemID(1), "node-1", "folder-2"}),
                           makeClip({"c", "/m/c.mov", mediaItemID(3), "node-1", "folder-1"})});
  const platform::Dictionary deleted{{"mediaItemUniqueId", Value(mediaItemID(1))},
                                     {"mediaFolderUniqueID", Value("folder-1")}};
  perform([&] { catalogue_->markClipsAsOfflineForMediaItemsUniqueIDs({Value(deleted)}); });
  EXPECT_THAT(strings(posted_.at(1).object), ElementsAre("a"));
  EXPECT_EQ(rows({.uniqueID = "a"}).at(0).at(kOnline), Value(false));
  EXPECT_EQ(rows({.uniqueID = "b"}).at(0).at(kOnline), Value(true));

  posted_.clear();
  perform([&] { catalogue_->markAllClipsAsOffline(); });
  EXPECT_THAT(strings(posted_.at(1).object), UnorderedElementsAre("a", "b", "c"));
  for (const CatalogueRow& row : rows()) EXPECT_EQ(row.at(kOnline), Value(false));
}

TEST_F(ClipCatalogueTest, AQueuedOperationWritesTheValuesOfItsCall) {
  std::shared_ptr<MediaItem> item = makeMediaItem({"/m/x.mov"});
  std::shared_ptr<PlaylistItem> clip = makeClip({"clip-1", "/m/y.mov"});
  catalogue_->addOrUpdateClipsWithMediaItems({item});
  catalogue_->addOrUpdateClips({clip});
  // Changed by their owners before the queue runs.
  item->setAbsolutePath(std::string("/m/changed.mov"));
  clip->setDisplayName("Changed");
  perform([] {});
  EXPECT_EQ(rows({.absolutePath = "/m/x.mov"}).size(), 1u);
  EXPECT_EQ(rows({.uniqueID = "clip-1"}).at(0).at(kDisplayName), Value("Clip"));
  // Operations run in order, each announced after its own save.
  EXPECT_THAT(changeNames(), ElementsAre("clipsAdded", "clipsAdded"));
}

TEST_F(ClipCatalogueTest, ARefusedClipRollsBackItsWholeOperationAndAnnouncesNothing) {
  perform([&] { catalogue_->addOrUpdateClips({makeClip({"clip-1", "/m/x.mov"}), makeClip({"", "/m/y.mov"})}); });
  EXPECT_THAT(rows(), IsEmpty());
  EXPECT_THAT(changeNames(), IsEmpty());
  ASSERT_EQ(alerts_->errors().size(), 1u);
  EXPECT_EQ(alerts_->errors().front().code, static_cast<std::int64_t>(ClipCatalogueErrorCode::ConstraintViolated));

  perform([&] { catalogue_->addOrUpdateClips({makeClip({"clip-1", "/m/x.mov"})}); });
  EXPECT_THAT(changeNames(), ElementsAre("clipsAdded"));
}

class ClipCatalogueBusyTest : public ClipCatalogueTest {
 protected:
  ClipCatalogue::Options options() override {
    ClipCatalogue::Options options = ClipCatalogueTest::options();
    options.store.busyTimeout = std::chrono::milliseconds(0);
    return options;
  }
};

TEST_F(ClipCatalogueBusyTest, AnOperationThatCannotCommitStoresAndAnnouncesNothing) {
  storeClips(*catalogue_, {makeClip({"clip-1", "/m/x.mov"})});
  auto other = ClipCatalogueStore::open(catalogue_->mediaStoreURL());
  ASSERT_TRUE(other.ok());
  // Another connection holds the write lock while the operation runs.
  platform::Status held = (*other)->performTransaction([&]() -> platform::Status {
    perform([&] { catalogue_->removeClipsWithUniqueIDs({"clip-1"}); });
    return platform::Error("test", 1, "released");
  });
  EXPECT_FALSE(held.ok());
  EXPECT_THAT(changeNames(), IsEmpty());
  ASSERT_EQ(alerts_->errors().size(), 1u);
  EXPECT_EQ(alerts_->errors().front().code, static_cast<std::int64_t>(ClipCatalogueErrorCode::Busy));
  EXPECT_EQ(rows().size(), 1u);
}

TEST_F(ClipCatalogueTest, AStoreThatCannotBeOpenedIsOneErrorAndADisabledCatalogue) {
  catalogue_.reset();
  const auto storeFile = root() / "Private" / "MediaPrivateDataStore.sql";
  const std::string contents = "Operator notes, not a catalogue\n";
  std::ofstream(storeFile, std::ios::binary | std::ios::trunc) << contents;

  catalogue_ = open();
  EXPECT_FALSE(catalogue_->isEnabled());
  ASSERT_TRUE(catalogue_->openError());
  EXPECT_EQ(catalogue_->openError()->code, static_cast<std::int64_t>(ClipCatalogueErrorCode::CannotOpen));
  EXPECT_EQ(alerts_->errors().size(), 1u);

  catalogue_->addOrUpdateClipsWithMediaItems({makeMediaItem({"/m/x.mov"})});
  catalogue_->addOrUpdateClips({makeClip({"clip-1", "/m/x.mov"})});
  catalogue_->markAllClipsAsOffline();
  catalogue_->duplicateClip(*makeClip({"clip-1", "/m/x.mov"}));
  EXPECT_FALSE(catalogue_->eraseClipsForNodeWithUniqueID("node-1").ok());
  EXPECT_EQ(catalogue_->pendingOperationCount(), 0u);
  platform::RunLoop::main().drainReadyTasks();
  EXPECT_THAT(posted_, IsEmpty());
  EXPECT_THAT(catalogue_->clipsForNodeUniqueID("node-1"), IsEmpty());
  EXPECT_EQ(alerts_->errors().size(), 1u);
  std::ifstream in(storeFile, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), contents);
}

// Garbage inside a catalogue once let it open and then failed every write, in
// this run and every later one.
TEST_F(ClipCatalogueTest, ADamagedStoreIsKeptAsideAndAFreshOneStartedWithOneAlert) {
  std::vector<std::shared_ptr<PlaylistItem>> clips;
  for (int i = 0; i < 300; ++i) clips.push_back(makeClip({"clip-" + std::to_string(i), "/m/" + std::to_string(i) + ".mov"}));
  storeClips(*catalogue_, clips);
  catalogue_.reset();
  const auto storeFile = root() / "Private" / "MediaPrivateDataStore.sql";
  ASSERT_GT(std::filesystem::file_size(storeFile), 16u * 4096u);
  {
    std::fstream file(storeFile, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(2 * 4096);  // the header page stays: the file still opens as a database
    const std::string garbage(8 * 4096, '\xAB');
    file.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
  }
  std::ifstream damagedFile(storeFile, std::ios::binary);
  const std::string damaged(std::istreambuf_iterator<char>(damagedFile), {});

  catalogue_ = open();
  ASSERT_TRUE(catalogue_->isEnabled()) << catalogue_->openError()->describe();
  EXPECT_TRUE(catalogue_->storeWasCreated()) << "the owner enumerates every folder again";
  EXPECT_THAT(rows(), IsEmpty());
  std::vector<std::filesystem::path> kept;
  for (const auto& entry : std::filesystem::directory_iterator(root() / "Private")) {
    if (entry.path().filename().string().starts_with("MediaPrivateDataStore.sql.corrupt-")) kept.push_back(entry.path());
  }
  ASSERT_EQ(kept.size(), 1u);
  std::ifstream keptFile(kept[0], std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(keptFile), {}), damaged);
  ASSERT_EQ(alerts_->alerts().size(), 1u);
  EXPECT_EQ(alerts_->alerts()[0].title, catalogue::kDatabaseDamagedTitle);
  EXPECT_NE(alerts_->alerts()[0].message.find(kept[0].string()), std::string::npos) << alerts_->alerts()[0].message;

  perform([&] { catalogue_->addOrUpdateClips({makeClip({"clip-new", "/m/new.mov"})}); });
  EXPECT_EQ(rows().size(), 1u);
  catalogue_.reset();
  catalogue_ = open();
  EXPECT_EQ(rows().size(), 1u);
  EXPECT_EQ(alerts_->alerts().size(), 1u) << "told once";
}

// Damage that appears while the catalogue is open is found by the write it
// breaks: the store is replaced and the operation still stored, with one alert.
TEST_F(ClipCatalogueTest, DamageFoundByAWriteReplacesTheStoreAndTheWriteIsStillStored) {
  std::vector<std::shared_ptr<PlaylistItem>> clips;
  for (int i = 0; i < 300; ++i) clips.push_back(makeClip({"clip-" + std::to_string(i), "/m/" + std::to_string(i) + ".mov"}));
  storeClips(*catalogue_, clips);
  const auto storeFile = root() / "Private" / "MediaPrivateDataStore.sql";

  // A second connection moves every page into the file, then changes the
  // log, so the catalogue's connection drops its cached pages before its
  // next write and reads them from the file again.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open_v2(storeFile.c_str(), &other, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(other, "PRAGMA wal_checkpoint(TRUNCATE); PRAGMA user_version = 1", nullptr, nullptr, nullptr),
            SQLITE_OK)
      << sqlite3_errmsg(other);
  sqlite3_close(other);
  const auto size = std::filesystem::file_size(storeFile);
  ASSERT_GT(size, 16u * 4096u);
  {
    std::fstream file(storeFile, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(4096);  // everything but the header page, which the log holds anyway
    const std::string garbage(size - 4096, '\xAB');
    file.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
  }
  ASSERT_THAT(alerts_->alerts(), IsEmpty());

  perform([&] { catalogue_->addOrUpdateClips({makeClip({"clip-new", "/m/new.mov"})}); });
  ASSERT_EQ(alerts_->alerts().size(), 1u);
  EXPECT_EQ(alerts_->alerts()[0].title, catalogue::kDatabaseDamagedTitle);
  EXPECT_THAT(alerts_->errors(), IsEmpty()) << "the retried write was stored";
  EXPECT_TRUE(catalogue_->storeWasCreated());
  std::size_t kept = 0;
  for (const auto& entry : std::filesystem::directory_iterator(root() / "Private")) {
    kept += entry.path().filename().string().starts_with("MediaPrivateDataStore.sql.corrupt-") ? 1 : 0;
  }
  EXPECT_EQ(kept, 1u);
  const std::vector<CatalogueRow> stored = rows();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored.front().at(kUniqueID).stringOr(""), "clip-new");
}

TEST_F(ClipCatalogueTest, DuplicatesTakeTheNextFreeCopyName) {
  struct Case {
    std::string name;
    std::vector<std::string> existing;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"News", {}, "News copy"},
      {"News copy", {"News copy"}, "News copy 2"},
      {"News copy 2", {"News copy", "News copy 2"}, "News copy 3"},
      {"copy", {}, "copy copy"},
      {"News", {"News copyright"}, "News copy"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::shared_ptr<PlaylistItem>> existing;
    for (const std::string& name : c.existing) {
      existing.push_back(makeClip({"existing-" + std::to_string(++n), "/m/x.mov"}));
      existing.back()->setDisplayName(name);
    }
    storeClips(*catalogue_, existing);
    std::shared_ptr<PlaylistItem> original = makeClip({"original-" + std::to_string(++n), "/m/x.mov"});
    original->setDisplayName(c.name);
    posted_.clear();
    perform([&] { catalogue_->duplicateClip(*original); });
    const std::vector<std::string> added = strings(postedNamed(catalogue::kClipsAddedNotification).at(0).object);
    ASSERT_EQ(added.size(), 1u);
    EXPECT_NE(added.front(), original->uniqueID());
    EXPECT_EQ(catalogue_->clipWithUniqueID(added.front())->displayName(), c.expected);
    perform([&] { catalogue_->removeClipsWithMediaFolderUniqueID("folder-1"); });
  }
}

TEST(ClipCatalogueNames, OriginalDisplayNameDropsTheCopySuffix) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"News", "News"},         {"News copy", "News"},          {"Big News copy 12", "Big News"},
      {"News copy 3x", "News"}, {"News copy 0", "News copy 0"}, {"copy 2", ""},
      {"copy", "copy"},         {"News  copy", "News "},
  };
  for (const auto& [name, base] : cases) {
    EXPECT_EQ(ClipCatalogue::originalDisplayNameWithString(name), base) << name;
  }
}

}  // namespace
}  // namespace nodes
