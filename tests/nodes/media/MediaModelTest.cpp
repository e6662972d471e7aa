// Media items, folders, attributes and local folder equivalents: new values,
// dictionary forms with good and bad input, archives, copies and locks.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>

#include "nodes/media/Attribute.h"
#include "nodes/media/MediaFolder.h"
#include "nodes/media/MediaFolderLocalEquivalent.h"
#include "nodes/media/MediaItem.h"
#include "nodes/media/NodeModelErrors.h"
#include "nodes/media/Plugin.h"
#include "platform/KeyedArchive.h"
#include "platform/UserDefaults.h"

namespace nodes {
namespace {

using platform::Array;
using platform::Dictionary;
using platform::Value;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

// The keys an error names as refused.
std::vector<std::string> refusedKeys(const platform::Status& status) {
  std::vector<std::string> keys;
  if (status.ok()) return keys;
  for (const Value& key : *status.error().userInfo.at(kNodeModelErrorKeysKey).array()) keys.push_back(*key.string());
  return keys;
}

MediaItemInfo filledInfo() {
  MediaItemInfo info;
  info.uniqueID = "ITEM-1";
  info.mediaFolderPath = "/media/news";
  info.mediaFolderUniqueID = "FOLDER-1";
  info.absolutePath = "/media/news/a/clip.mov";
  info.relativePath = "/a/clip.mov";
  info.nodeName = "Node A";
  info.lastModificationDate = platform::Date(std::chrono::seconds(1'700'000'000));
  info.languagesArray = {"en", "fr"};
  info.displayName = "Clip";
  info.startTimeCode = "10:00:00:00";
  info.nodeMetadataDict = Dictionary{{"title", "News"}, {"rating", 3}};
  info.validationStatus = 2;
  info.durationInSeconds = 12.5;
  info.framesPerSecond = 29.97;
  info.dropFrame = true;
  info.videoCodec = 0x61766331;
  info.videoCodecDescription = "H.264";
  info.invalidReason = 4;
  info.finderLabelIndex = 3;
  info.finderLabelName = "Red";
  info.online = true;
  info.naturalVideoSizeWidth = 1920;
  info.naturalVideoSizeHeight = 1080;
  return info;
}

TEST(MediaItem, NewItemHasDocumentedValues) {
  const MediaItemInfo info = MediaItem().info();
  EXPECT_EQ(info.videoCodecDescription, "Unknown");
  EXPECT_EQ(info.startTimeCode, "00:00:00:00");
  EXPECT_EQ(info.invalidReason, -1);
  EXPECT_EQ(info.videoCodec, 0x3F3F3F3Fu);
  EXPECT_FALSE(info.uniqueID.has_value());
  EXPECT_EQ(info.finderLabelName, "");
  EXPECT_EQ(info.nodeUniqueID, "");
}

TEST(MediaItem, FinderLabelNameNoneStoresEmptyString) {
  MediaItem item;
  item.setFinderLabelName("Red");
  item.setFinderLabelName(std::nullopt);
  EXPECT_EQ(item.finderLabelName(), "");
}

TEST(MediaItem, DictionaryRoundTripsAndLeavesOutNoneFields) {
  MediaItem item(filledInfo());
  const Dictionary dict = item.dictionary();
  EXPECT_EQ(dict.at("clipInfoVideoCodec"), Value(0x61766331u));
  EXPECT_EQ(dict.at("clipInfoNaturalVideoSizeWidth"), Value(1920.0));

  auto restored = MediaItem::fromDictionary(dict);
  EXPECT_EQ(restored->info(), item.info());

  const Dictionary empty = MediaItem().dictionary();
  for (const char* key : {"clipInfoMediaItemUniqueID", "clipInfoMediaFolderPath", "clipInfoNodeName",
                          "clipInfoAbsolutePathToMediaItem", "clipInfoDisplayName", "clipInfoLastModificationDate"}) {
    EXPECT_FALSE(empty.contains(key)) << key;
  }
  EXPECT_EQ(empty.at("clipInfoStartTimeCode"), Value("00:00:00:00"));
}

struct BadField {
  const char* key;
  Value value;
  NodeModelErrorCode code;
};

TEST(MediaItem, BadDictionaryValuesKeepDefaultsAndAreNamed) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const BadField cases[] = {
      {"clipInfoMediaItemUniqueID", Value(5), NodeModelErrorCode::WrongType},
      {"clipInfoValidationStatus", Value("3"), NodeModelErrorCode::WrongType},
      {"clipInfoValidationStatus", Value(std::int64_t{1} << 40), NodeModelErrorCode::OutOfRange},
      {"clipInfoInvalidReason", Value(1e12), NodeModelErrorCode::OutOfRange},
      {"clipInfoVideoCodec", Value(-1), NodeModelErrorCode::OutOfRange},
      {"clipInfoVideoCodec", Value(std::int64_t{1} << 32), NodeModelErrorCode::OutOfRange},
      {"clipInfoDurationInSeconds", Value(nan), NodeModelErrorCode::OutOfRange},
      {"clipInfoDurationInSeconds", Value(-1.0), NodeModelErrorCode::OutOfRange},
      {"clipInfoFramesPerSecond", Value("25"), NodeModelErrorCode::WrongType},
      {"clipInfoNaturalVideoSizeWidth", Value(1e300), NodeModelErrorCode::OutOfRange},
      {"clipInfoDropFrame", Value("YES"), NodeModelErrorCode::WrongType},
      {"clipInfoLanguages", Value(Array{"en", 3}), NodeModelErrorCode::WrongType},
      {"clipInfoLanguages", Value("en"), NodeModelErrorCode::WrongType},
      {"clipInfoMetadata", Value(Array{}), NodeModelErrorCode::WrongType},
      {"clipInfoLastModificationDate", Value("2024-01-01"), NodeModelErrorCode::WrongType},
      {"clipInfoStartTimeCode", Value(platform::Data{1, 2}), NodeModelErrorCode::WrongType},
  };
  for (const BadField& bad : cases) {
    SCOPED_TRACE(std::string(bad.key) + " = " + bad.value.describe());
    MediaItem item;
    platform::Status status = item.setValuesFromDictionary(Dictionary{{bad.key, bad.value}});
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().domain, kNodeModelErrorDomain);
    EXPECT_EQ(status.error().code, static_cast<std::int64_t>(bad.code));
    EXPECT_THAT(refusedKeys(status), ElementsAre(bad.key));
    EXPECT_NE(status.error().localizedDescription.find(bad.key), std::string::npos);
    EXPECT_EQ(item.info(), MediaItemInfo());
  }
}

TEST(MediaItem, GoodKeysApplyBesideBadOnesAndNumbersConvert) {
  MediaItem item;
  platform::Status status = item.setValuesFromDictionary(Dictionary{
      {"clipInfoDisplayName", "Good"},
      {"clipInfoDurationInSeconds", 10},  // an integer for a double
      {"clipInfoValidationStatus", 7.0},  // an integral real for an int
      {"clipInfoDropFrame", 1},
      {"clipInfoOnline", "no"},
      {"clipInfoFinderLabelName", Dictionary{}},
  });
  EXPECT_THAT(refusedKeys(status), UnorderedElementsAre("clipInfoOnline", "clipInfoFinderLabelName"));
  EXPECT_EQ(item.displayName(), "Good");
  EXPECT_EQ(item.durationInSeconds(), 10.0);
  EXPECT_EQ(item.validationStatus(), 7);
  EXPECT_TRUE(item.dropFrame());
  EXPECT_FALSE(item.online());
  EXPECT_TRUE(MediaItem().setValuesFromDictionary({}).ok());
}

class MediaItemArchive : public ::testing::Test {
 protected:
  void SetUp() override { MediaItem::registerArchiveClass(registry_); }
  platform::KeyedArchiveRegistry registry_;
};

TEST_F(MediaItemArchive, RoundTripsEveryFieldButNodeIDAndInitialized) {
  MediaItemInfo info = filledInfo();
  info.nodeUniqueID = "NODE-1";
  info.initialized = true;
  MediaItem item(info);

  platform::Result<std::string> bytes = platform::archivedData(item);
  ASSERT_TRUE(bytes.ok()) << bytes.error().describe();
  auto restored = platform::unarchiveAs<MediaItem>(*bytes, registry_);
  ASSERT_TRUE(restored.ok()) << restored.error().describe();

  info.nodeUniqueID = "";
  info.initialized = false;
  EXPECT_EQ((*restored)->info(), info);
}

TEST_F(MediaItemArchive, MistypedKeyRefusesTheArchiveWithItsLocation) {
  platform::Result<Value> archive = platform::archive(MediaItem(filledInfo()));
  ASSERT_TRUE(archive.ok());
  Value tampered = *archive;
  (*(*tampered.dictionary())["$top"].dictionary())["clipInfoDurationInSeconds"] = "long";

  auto restored = platform::unarchiveAs<MediaItem>(tampered, registry_);
  ASSERT_FALSE(restored.ok());
  EXPECT_EQ(restored.error().domain, platform::kKeyedArchiveErrorDomain);
  EXPECT_NE(restored.error().localizedDescription.find("clipInfoDurationInSeconds"), std::string::npos);
}

TEST(MediaItem, CopySharesNothingWithItsSource) {
  MediaItem source(filledInfo());
  auto copy = source.copy();
  copy->update([](MediaItemInfo& info) {
    info.languagesArray.push_back("de");
    info.nodeMetadataDict["title"] = "Changed";
  });
  EXPECT_THAT(source.languagesArray(), ElementsAre("en", "fr"));
  EXPECT_EQ(source.nodeMetadataDict().at("title"), Value("News"));
}

TEST(MediaItem, ComparesByAbsolutePath) {
  MediaItem a, b, none;
  a.setAbsolutePath("/media/a.mov");
  b.setAbsolutePath("/media/b.mov");
  EXPECT_EQ(a.compareByAbsolutePath(b), -1);
  EXPECT_EQ(b.compareByAbsolutePath(a), 1);
  EXPECT_EQ(a.compareByAbsolutePath(a), 0);
  EXPECT_EQ(none.compareByAbsolutePath(a), -1);
}

std::shared_ptr<MediaItem> itemWithID(const std::string& uniqueID) {
  auto item = std::make_shared<MediaItem>();
  item->setUniqueID(uniqueID);
  return item;
}

TEST(MediaFolder, NewFolderAndDictionaryRoundTrip) {
  MediaFolder folder;
  EXPECT_FALSE(folder.uniqueID().has_value());
  EXPECT_EQ(folder.lastChangeNumber(), 0u);
  EXPECT_FALSE(folder.initialized());
  EXPECT_EQ(folder.mediaItemsCount(), 0u);
  EXPECT_EQ(folder.dictionary(), (Dictionary{{"mediaFolderLastChangeNumber", 0},
                                             {"mediaFolderInitialized", false},
                                             {"mediaFolderIsCaseSensitive", false}}));

  folder.setUniqueID("F1");
  folder.setPath("/media/news");
  folder.setLastChangeNumber(42);
  folder.setInitialized(true);
  folder.setCaseSensitive(true);
  auto restored = MediaFolder::fromDictionary(folder.dictionary());
  EXPECT_EQ(restored->dictionary(), folder.dictionary());
  EXPECT_EQ(restored->lastChangeNumber(), 42u);
}

TEST(MediaFolder, BadDictionaryValuesKeepFieldValues) {
  MediaFolder folder;
  folder.setLastChangeNumber(9);
  platform::Status status = folder.setValuesFromDictionary(Dictionary{
      {"mediaFolderUniqueID", "F1"},
      {"mediaFolderPath", 3},
      {"mediaFolderLastChangeNumber", -5},
      {"mediaFolderInitialized", "YES"},
  });
  EXPECT_THAT(refusedKeys(status),
              ElementsAre("mediaFolderPath", "mediaFolderLastChangeNumber", "mediaFolderInitialized"));
  EXPECT_EQ(folder.uniqueID(), "F1");
  EXPECT_FALSE(folder.path().has_value());
  EXPECT_EQ(folder.lastChangeNumber(), 9u);
  EXPECT_FALSE(folder.initialized());
}

TEST(MediaFolder, RemovesItemsByIdentityAndByUniqueID) {
  MediaFolder folder;
  auto first = itemWithID("A");
  auto twin = itemWithID("A");
  auto other = itemWithID("B");
  folder.setMediaItems({first, other, twin});

  folder.removeMediaItem(first);
  EXPECT_EQ(folder.mediaItems(), (MediaFolder::MediaItems{other, twin}));
  folder.setMediaItems({first, other, twin});
  folder.removeMediaItemWithUniqueID("A");
  EXPECT_EQ(folder.mediaItems(), (MediaFolder::MediaItems{other}));
}

TEST(MediaFolder, ItemsToSaveAreKeyedByUniqueIDAndTakenAtOnce) {
  MediaFolder folder;
  EXPECT_FALSE(folder.addMediaItemToSave(std::make_shared<MediaItem>()));  // no unique ID
  auto a = itemWithID("A");
  auto b = itemWithID("B");
  EXPECT_TRUE(folder.addMediaItemToSave(b));
  EXPECT_TRUE(folder.addMediaItemToSave(a));
  EXPECT_TRUE(folder.addMediaItemToSave(itemWithID("A")));  // replaces
  EXPECT_EQ(folder.mediaItemsToSaveCount(), 2u);
  folder.removeMediaItemToSave(*b);
  EXPECT_EQ(folder.mediaItemsToSaveCount(), 1u);
  auto taken = folder.takeMediaItemsToSave();
  ASSERT_EQ(taken.size(), 1u);
  EXPECT_EQ(taken[0]->uniqueID(), "A");
  EXPECT_NE(taken[0], a);
  EXPECT_EQ(folder.mediaItemsToSaveCount(), 0u);
}

TEST(MediaFolder, CopyHasItsOwnCollectionsAndItems) {
  MediaFolder source;
  auto item = itemWithID("A");
  source.addMediaItem(item);
  source.addMediaItemToSave(itemWithID("S"));

  auto copy = source.copy();
  copy->addMediaItem(itemWithID("B"));
  copy->firstMediaItem()->setDisplayName("changed");
  copy->takeMediaItemsToSave();

  EXPECT_EQ(source.mediaItems(), (MediaFolder::MediaItems{item}));
  EXPECT_FALSE(item->displayName().has_value());
  EXPECT_EQ(source.mediaItemsToSaveCount(), 1u);
}

// The polling thread fills a folder while the main thread reads it.
TEST(MediaFolder, CollectionsMayBeChangedAndReadFromTwoThreads) {
  MediaFolder folder;
  constexpr int kItems = 500;
  std::thread filler([&] {
    for (int i = 0; i < kItems; ++i) {
      auto item = itemWithID(std::to_string(i));
      folder.addMediaItem(item);
      item->setOnline(true);
      folder.addMediaItemToSave(item);
      folder.removeMediaItem(item);
    }
  });
  std::size_t seen = 0;
  for (int i = 0; i < kItems; ++i) {
    for (const auto& item : folder.mediaItems()) seen += item->online() ? 1 : 0;
    seen += folder.mediaItemsToSave().size() > 0 ? 1 : 0;
  }
  filler.join();
  EXPECT_EQ(folder.mediaItemsCount(), 0u);
  EXPECT_EQ(folder.takeMediaItemsToSave().size(), static_cast<std::size_t>(kItems));
  (void)seen;
}

TEST(Attribute, ValueFallsBackToDefaultWhichIsNotSentToTheNode) {
  Attribute attribute;
  attribute.setName("Audio Volume");
  attribute.setDefaultValue("1.0");
  EXPECT_EQ(attribute.value(), "1.0");
  EXPECT_FALSE(attribute.dictionaryForNode().has_value());

  attribute.setValue("0.5");
  EXPECT_EQ(attribute.value(), "0.5");
  EXPECT_EQ(attribute.dictionaryForNode(), (Dictionary{{"Audio Volume", "0.5"}}));
  EXPECT_EQ(attribute.displayName(), "Audio Volume");  // the name when there is no display name
}

TEST(Attribute, PossibleValuesAreKeptSortedWithNumbers) {
  Attribute attribute;
  attribute.setPossibleValues(std::vector<std::string>{"Logo 10", "logo 2", "None", "Logo 1"});
  EXPECT_THAT(*attribute.possibleValues(), ElementsAre("Logo 1", "logo 2", "Logo 10", "None"));
}

TEST(Attribute, DictionaryRoundTripsAndBadKeysAreRefused) {
  Attribute attribute;
  attribute.setName("Overlay Logo");
  attribute.setDisplayName("Logo");
  attribute.setDefaultValue("None");
  attribute.setPluginName("Logos");
  attribute.setValueType("MultipleValues");
  attribute.setPossibleValues(std::vector<std::string>{"None", "Big"});
  attribute.setIsWritable(true);
  attribute.setValue("Big");

  const Dictionary dict = attribute.dictionary();
  EXPECT_FALSE(dict.contains("value"));
  auto restored = Attribute::fromDictionary(dict);
  EXPECT_EQ(restored->dictionary(), dict);
  EXPECT_EQ(Attribute().dictionary(), (Dictionary{{"isWritable", false}}));

  Attribute bad;
  platform::Status status = bad.setValuesFromDictionary(Dictionary{
      {"name", "Speed"}, {"attributePossibleValues", Array{"1", Dictionary{}}}, {"isWritable", "true"}});
  EXPECT_THAT(refusedKeys(status), ElementsAre("attributePossibleValues", "isWritable"));
  EXPECT_EQ(bad.name(), "Speed");
  EXPECT_FALSE(bad.possibleValues().has_value());
  EXPECT_FALSE(bad.isWritable());
}

TEST(Attribute, CompareByNameIgnoresCaseAndOrdersNumbers) {
  Attribute a, b;
  a.setDisplayName("Input 2");
  b.setDisplayName("input 10");
  EXPECT_EQ(a.compareByName(b), -1);
  EXPECT_EQ(b.compareByName(a), 1);
}

TEST(Attribute, CopySharesNothingWithItsSource) {
  Attribute source;
  source.setPossibleValues(std::vector<std::string>{"A"});
  auto copy = source.copy();
  copy->setPossibleValues(std::vector<std::string>{"B", "C"});
  copy->setValue("B");
  EXPECT_THAT(*source.possibleValues(), ElementsAre("A"));
  EXPECT_FALSE(source.valueAsSet().has_value());
}

TEST(Attribute, BadgeImagesForAttributes) {
  struct Case {
    Dictionary attributes;
    bool dark;
    std::vector<std::string> images;
  };
  const Case cases[] = {
      {{{"Clip End Behaviour", "Loop"}, {"Speed", "2"}}, false, {"Loop", "Attribute"}},
      {{{"Clip End Behaviour", "Loop"}, {"Speed", "2"}}, true, {"LoopDark", "AttributeDark"}},
      {{{"Alpha Key", "On"}, {"Audio Source", "Input 1"}, {"Audio Volume", "0.5"}, {"Overlay Logo", "Big"},
        {"Reverse Field Order", "Reversed"}},
       false,
       {"Key", "AudioInput", "Volume", "Logo", "ReverseFieldsOrder"}},
      // Listed names at their neutral values show nothing, nor the other badge.
      {{{"Alpha Key", "Off"}, {"Audio Source", "Player"}, {"Audio Volume", "1.0"}, {"Clip End Behaviour", "Normal"},
        {"Overlay Logo", "None"}, {"Reverse Field Order", "Normal"}},
       false,
       {}},
      {{}, false, {}},
      {{{"Audio Volume", 1.0}}, false, {"Volume"}},  // not the text "1.0"
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Attribute::imagesForAttributes(c.attributes, c.dark), c.images) << Value(c.attributes).describe();
  }
}

TEST(Plugin, HoldsItsAttributes) {
  Plugin plugin;
  EXPECT_TRUE(plugin.attributes().empty());
  plugin.setName("Logos");
  plugin.addAttribute(std::make_shared<Attribute>());
  plugin.addAttribute(nullptr);
  EXPECT_EQ(plugin.attributes().size(), 1u);
  EXPECT_EQ(plugin.name(), "Logos");
}

TEST(MediaFolderLocalEquivalent, DictRoundTripAndLoadKeepsMissingAndMistypedKeys) {
  MediaFolderLocalEquivalent equivalent;
  EXPECT_EQ(equivalent.dict().at("nodeName"), Value(""));
  equivalent.setNodeName("Node A");
  equivalent.setNodeUniqueID("N1");
  equivalent.setMediaFolderPath("/media/news");
  equivalent.setEquivalentLocalPath("/mnt/news");
  equivalent.setMediaFolderUniqueID("F1");
  MediaFolderLocalEquivalent restored;
  ASSERT_TRUE(restored.loadFromDict(equivalent.dict()).ok());
  EXPECT_EQ(restored, equivalent);

  platform::Status status = restored.loadFromDict(Dictionary{{"equivalentLocalPath", 7}, {"nodeName", "B"}});
  EXPECT_THAT(refusedKeys(status), ElementsAre("equivalentLocalPath"));
  EXPECT_EQ(restored.equivalentLocalPath(), "/mnt/news");
  EXPECT_EQ(restored.nodeName(), "B");
}

class LocalEquivalentDefaults : public ::testing::Test {
 protected:
  platform::UserDefaults defaults_{std::filesystem::path()};
};

TEST_F(LocalEquivalentDefaults, SavedListSkipsEntriesThatAreNotDictionaries) {
  defaults_.setObject(Array{Dictionary{{"mediaFolderUniqueID", "F1"}, {"equivalentLocalPath", "/mnt/a"}}, "junk", 3,
                            Dictionary{{"mediaFolderUniqueID", 9}}},
                      kMediaFoldersLocalEquivalentPathsKey);
  auto saved = MediaFolderLocalEquivalent::savedEquivalents(defaults_);
  ASSERT_EQ(saved.size(), 2u);
  EXPECT_EQ(saved[0].equivalentLocalPath(), "/mnt/a");
  EXPECT_EQ(saved[1].mediaFolderUniqueID(), "");

  defaults_.setObject("not a list", kMediaFoldersLocalEquivalentPathsKey);
  EXPECT_TRUE(MediaFolderLocalEquivalent::savedEquivalents(defaults_).empty());
}

TEST_F(LocalEquivalentDefaults, CandidatesFollowTheSavedOrderAndJoinPathComponents) {
  MediaFolderLocalEquivalent first, other, second, noPath;
  first.setMediaFolderUniqueID("F1");
  first.setEquivalentLocalPath("/mnt/a/");
  other.setMediaFolderUniqueID("F2");
  other.setEquivalentLocalPath("/mnt/other");
  second.setMediaFolderUniqueID("F1");
  second.setEquivalentLocalPath("/mnt/b");
  noPath.setMediaFolderUniqueID("F1");
  MediaFolderLocalEquivalent::saveEquivalents({first, other, second, noPath}, defaults_);

  EXPECT_EQ(MediaFolderLocalEquivalent::savedEquivalents(defaults_).size(), 4u);
  EXPECT_THAT(MediaFolderLocalEquivalent::candidateLocalPaths(defaults_, "F1", "/news/clip.mov"),
              ElementsAre("/mnt/a/news/clip.mov", "/mnt/b/news/clip.mov"));
  EXPECT_TRUE(MediaFolderLocalEquivalent::candidateLocalPaths(defaults_, "F9", "clip.mov").empty());
}

}  // namespace
}  // namespace nodes
