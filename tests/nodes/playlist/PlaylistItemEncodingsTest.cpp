#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

#include "nodes/media/ClipInfoKeys.h"
#include "nodes/media/NodeModelErrors.h"
#include "nodes/playlist/PlaylistItem.h"
#include "nodes/playlist/PlaylistItemPasteboard.h"
#include "platform/DateFormatter.h"
#include "platform/PropertyList.h"
#include "tests/support/CapturedDiagnostics.h"

namespace nodes {
namespace {

using namespace clipinfo;
using platform::Dictionary;
using platform::Value;

platform::Date utc(int year, int month, int day, int hour, int minute) {
  const std::chrono::sys_days days{std::chrono::year{year} / month / day};
  return platform::Date(days + std::chrono::hours{hour} + std::chrono::minutes{minute});
}

class PlaylistItemEncodingsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(platform::setCurrentTimeZoneForTesting("Europe/Zurich").ok()); }
  void TearDown() override { ASSERT_TRUE(platform::setCurrentTimeZoneForTesting("").ok()); }

  // Readers report what they refuse; the tests look at it here.
  testing_support::CapturedDiagnostics diagnostics_;

  // Every field an encoding carries set to something other than its default.
  static std::shared_ptr<PlaylistItem> fullItem() {
    auto item = std::make_shared<PlaylistItem>();
    item->update([](PlaylistItemFields& f) {
      f.attributes = Dictionary{{kClipEndBehaviourAttribute, Value("Chain")}, {"Audio Volume", Value("0.8")}};
      f.mediaItemUniqueID = "MEDIA-1";
      f.thumbnail = std::make_shared<const RGBAImage>(RGBAImage{2, 1, {10, 20, 30, 255, 40, 50, 60, 128}});
      f.inPointInSeconds = 1.5;
      f.outPointInSeconds = 9.25;
      f.online = true;
      f.nodeName = "Node 1";
      f.nodeUniqueID = "NODE-1";
      f.displayName = "Morning News";
      f.absolutePathToMediaItem = "/Volumes/Media/news.mov";
      f.relativePathToMediaItem = "news.mov";
      f.framesPerSecond = 30000.0 / 1001.0;
      f.dropFrame = true;
      f.lastModificationDate = utc(2015, 6, 30, 12, 5);
      f.lastModificationDateAsString = "2015-06-30 14:05";
      f.mediaItemDurationInSeconds = 10.0;
      f.finderLabelIndex = 6;
      f.finderLabelName = "Purple";
      f.mediaItemStartTimeCode = "10:00:00;00";
      f.invalidReason = 2;
      f.languages = {"en", "de"};
      f.mediaFolderPath = "/Volumes/Media";
      f.mediaFolderUniqueID = "FOLDER-1";
      f.videoCodecDescription = "H.264";
      f.languagesDescription = "en-de";
      f.displayOriginX = 0.25f;
      f.displayOriginY = -3.5f;
      f.displaySizeWidth = 1280.5f;
      f.displaySizeHeight = 720;
      f.naturalSizeWidth = 1920;
      f.naturalSizeHeight = 1080;
      f.validationStatus = 1;
      f.metadataArray = {Metadata::fromRow({{"ClipInfoUniqueID", Value("C")},
                                            {"Key", Value("Title")},
                                            {"Type", Value("NSString")},
                                            {"Value", Value("News")}})};
    });
    return item;
  }
};

TEST_F(PlaylistItemEncodingsTest, DocumentRoundTripThroughPropertyListText) {
  auto item = fullItem();
  const Dictionary written = item->dictionary();

  platform::Result<std::string> text = platform::writePropertyList(Value(written));
  ASSERT_TRUE(text.ok()) << text.error().describe();
  platform::Result<Value> parsed = platform::readPropertyList(*text);
  ASSERT_TRUE(parsed.ok() && parsed->dictionary());

  platform::Status problems;
  auto read = PlaylistItem::initWithDictionary(*parsed->dictionary(), &problems);
  EXPECT_TRUE(problems.ok()) << problems.error().describe();
  EXPECT_EQ(read->dictionary(), written);
  EXPECT_EQ(read->durationAsString(), item->durationAsString());
  EXPECT_EQ(read->mediaItemStartTimeCode(), "10:00:00;00");
  EXPECT_EQ(read->playbackUniqueID(), item->playbackUniqueID());
  EXPECT_EQ(read->thumbnail() ? *read->thumbnail() : RGBAImage{}, *item->thumbnail());
}

TEST_F(PlaylistItemEncodingsTest, DocumentEntryHoldsTheDocumentKeysWithTheirTypes) {
  const Dictionary d = fullItem()->dictionary();
  struct Case {
    const char* key;
    Value expected;
  } cases[] = {
      {kHasInPoint, Value(true)},
      {kInPointInSeconds, Value(1.5)},
      {kMediaFileDurationInSeconds, Value(10.0)},
      {kDurationInSeconds, Value(7.75)},
      {kDropFrame, Value(true)},
      {kValidationStatus, Value(1)},
      {kInvalidReason, Value(2)},
      {kFinderLabelIndex, Value(6)},
      {kDisplayVideoOriginY, Value(-3.5)},
      {kDisplayVideoSizeWidth, Value(1280.5)},
      {kLastModificationDate, Value(utc(2015, 6, 30, 12, 5))},
      {kLastModificationDateString, Value("2015-06-30 14:05")},
      {kLanguages, Value(platform::Array{Value("en"), Value("de")})},
      {kStartTimeCode, Value("10:00:00;00")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    EXPECT_EQ(Value(d)[c.key], c.expected);
  }
  EXPECT_TRUE(Value(d)[kThumbnail].isData());
  // Not carried by documents.
  for (const char* key : {kMetadata, kCreationDate}) EXPECT_FALSE(d.contains(key)) << key;
}

TEST_F(PlaylistItemEncodingsTest, ReadBackItemHasDefaultVolumeAndNoPlaylistState) {
  auto item = fullItem();
  item->setAudioVolume(0.3);
  item->setLocked(true);
  item->setAbRollClipPosition(ABRollClipPosition::NodeB);
  item->setPlaybackStatus(kPlaybackStatusPlaying);
  item->setCreationDate(utc(2014, 1, 1, 0, 0));
  auto read = PlaylistItem::initWithDictionary(item->dictionary());
  EXPECT_EQ(read->audioVolume(), 1.0);  // not 0.0: no encoding carries the volume
  EXPECT_FALSE(read->locked());
  EXPECT_EQ(read->abRollClipPosition(), ABRollClipPosition::None);
  EXPECT_EQ(read->playbackStatus(), kPlaybackStatusStopped);
  EXPECT_EQ(read->creationDate(), std::nullopt);
  EXPECT_EQ(read->metadataArray(), std::vector<Metadata>{});
}

TEST_F(PlaylistItemEncodingsTest, WritersLeaveOutWhatTheItemDoesNotHave) {
  // A dictionary with none of the optional keys reads into an item without
  // attributes, dates, media item ID or unique ID.
  auto bare = PlaylistItem::initWithDictionary(Dictionary{{kNodeName, Value("Node 1")}});
  EXPECT_EQ(bare->attributes(), std::nullopt);
  EXPECT_EQ(bare->uniqueID(), std::nullopt);
  EXPECT_EQ(bare->mediaItemStartTimeCode(), "00:00:00;00");
  ASSERT_TRUE(bare->playbackUniqueID().has_value());  // an entry must be addressable
  EXPECT_FALSE(bare->playbackUniqueID()->empty());

  const Dictionary d = bare->dictionary();
  for (const char* key :
       {kAttributes, kMediaItemUniqueID, kLastModificationDate, kLastModificationDateString, kUniqueID, kThumbnail}) {
    EXPECT_FALSE(d.contains(key)) << key;
  }
  EXPECT_EQ(Value(d)[kStartTimeCode], Value("00:00:00;00"));
  EXPECT_TRUE(platform::writePropertyList(Value(d)).ok());  // nothing none inside

  // Its node dictionary still has attributes, as an empty dictionary.
  EXPECT_EQ(Value(bare->dictionaryForNode())[kAttributes], Value(Dictionary{}));

  // A new item writes its empty attributes into both.
  PlaylistItem fresh;
  EXPECT_EQ(Value(fresh.dictionary())[kAttributes], Value(Dictionary{}));
  EXPECT_EQ(Value(fresh.dictionaryForNode())[kAttributes], Value(Dictionary{}));
}

TEST_F(PlaylistItemEncodingsTest, NodeDictionaryHasFifteenKeysInOrderWithFinalPoints) {
  auto item = fullItem();
  item->setInPointInSeconds(12.0);  // beyond the 10-second file
  item->setOutPointInSeconds(12.0);
  const auto ordered = item->orderedDictionaryForNode();
  std::vector<std::string> keys;
  for (const auto& [key, value] : ordered) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{
                      "clipInfoAttributes", "clipInfoHasInPoint", "clipInfoHasOutPoint", "clipInfoInPointInSeconds",
                      "clipInfoOutPointInSeconds", "clipInfoDisplayVideoOriginX", "clipInfoDisplayVideoOriginY",
                      "clipInfoDisplayVideoSizeWidth", "clipInfoDisplayVideoSizeHeight", "clipInfoMediaFolderUniqueID",
                      "clipInfoMediaItemUniqueID", "clipInfoAbsolutePathToMediaItem", "clipInfoDisplayName",
                      "clipInfoUniqueID", "clipInfoPlaybackUniqueID"}));
  EXPECT_EQ(keys, PlaylistItem::nodeDictionaryKeys());

  const Value node(item->dictionaryForNode());
  EXPECT_EQ(node[kInPointInSeconds], Value(0.0));
  EXPECT_EQ(node[kOutPointInSeconds], Value(10.0));
  EXPECT_EQ(node[kHasInPoint], Value(true));
  EXPECT_EQ(node[kAttributes], Value(*item->attributes()));
  EXPECT_EQ(Value(item->dictionary())[kInPointInSeconds], Value(12.0));
}

TEST_F(PlaylistItemEncodingsTest, NodeDictionaryGivesAMissingUniqueIDOnceAndTheItemKeepsIt) {
  for (std::optional<std::string> missing : {std::optional<std::string>(), std::optional<std::string>("")}) {
    PlaylistItem item;
    item.setUniqueID(missing);
    const Value first(item.dictionaryForNode());
    ASSERT_TRUE(first[kUniqueID].string());
    EXPECT_FALSE(first[kUniqueID].string()->empty());
    EXPECT_EQ(item.uniqueID(), *first[kUniqueID].string());
    EXPECT_EQ(Value(item.dictionaryForNode())[kUniqueID], first[kUniqueID]);
  }
}

TEST_F(PlaylistItemEncodingsTest, PointFlagsDecideWhetherReadSecondsCount) {
  struct Case {
    std::optional<Value> seconds, flag;
    double point;
  } cases[] = {
      {Value(4.0), Value(true), 4.0},
      {Value(4.0), std::nullopt, kNoPoint},  // seconds without the flag: no in point
      {Value(4.0), Value(false), kNoPoint},
      {std::nullopt, Value(true), 0.0},  // a flag without seconds: the missing seconds read as 0
      {Value(4), Value(1), 4.0},         // integers serve as numbers and booleans
      {std::nullopt, std::nullopt, kNoPoint},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << (c.seconds ? c.seconds->describe() : "-") << " / "
                                      << (c.flag ? c.flag->describe() : "-"));
    Dictionary d{{kNodeName, Value("N")}};
    if (c.seconds) d[kInPointInSeconds] = *c.seconds;
    if (c.flag) d[kHasInPoint] = *c.flag;
    EXPECT_EQ(PlaylistItem::initWithDictionary(d)->inPointInSeconds(), c.point);
  }
}

TEST_F(PlaylistItemEncodingsTest, MalformedDictionaryKeysReadAsDefaultsAndAreReported) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* key;
    Value bad;
    std::function<bool(const PlaylistItemFields&)> hasDefault;
  } cases[] = {
      {kMediaFileDurationInSeconds, Value("ten"), [](auto& f) { return f.mediaItemDurationInSeconds == 0.0; }},
      {kFramesPerSecond, Value(kNaN), [](auto& f) { return f.framesPerSecond == 0.0; }},
      {kDisplayName, Value(42), [](auto& f) { return f.displayName.empty(); }},
      {kValidationStatus, Value(std::int64_t{1} << 40), [](auto& f) { return f.validationStatus == 0; }},
      {kInvalidReason, Value("x"), [](auto& f) { return f.invalidReason == 0; }},
      {kNaturalVideoSizeWidth, Value(1e300), [](auto& f) { return f.naturalSizeWidth == 0; }},
      {kDropFrame, Value("YES"), [](auto& f) { return !f.dropFrame; }},
      {kLanguages, Value(platform::Array{Value("en"), Value(1)}), [](auto& f) { return f.languages.empty(); }},
      {kAttributes, Value("Loop"), [](auto& f) { return !f.attributes; }},
      {kLastModificationDate, Value("2015-06-30"),
       [](auto& f) { return !f.lastModificationDate && !f.lastModificationDateAsString; }},
      {kUniqueID, Value(7), [](auto& f) { return !f.uniqueID; }},
      {kThumbnail, Value("not data"), [](auto& f) { return !f.thumbnail; }},
      {kThumbnail, Value(platform::Data{1, 2, 3}), [](auto& f) { return !f.thumbnail; }},
      {kMetadata, Value("x"), [](auto& f) { return f.metadataArray.empty(); }},
      {kMetadata, Value(platform::Array{Value(1)}), [](auto& f) { return f.metadataArray.empty(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    const std::size_t reportsBefore = diagnostics_.count(c.key);
    Dictionary d = fullItem()->dictionary();
    d.erase(c.key);
    d.erase(kThumbnail);
    d[c.key] = c.bad;
    platform::Status problems;
    auto item = PlaylistItem::initWithDictionary(d, &problems);
    ASSERT_NE(item, nullptr);
    EXPECT_TRUE(c.hasDefault(item->fields()));
    ASSERT_FALSE(problems.ok());
    EXPECT_EQ(problems.error().domain, kNodeModelErrorDomain);
    EXPECT_EQ(problems.error().userInfo.at(kNodeModelErrorKeysKey), Value(platform::Array{Value(c.key)}));
    EXPECT_EQ(diagnostics_.count(c.key) - reportsBefore, 1u);
    // The other keys were read, and what it writes back is well typed.
    EXPECT_EQ(item->nodeName(), "Node 1");
    EXPECT_TRUE(platform::writePropertyList(Value(item->dictionary())).ok());
  }
}

TEST_F(PlaylistItemEncodingsTest, MissingNodeNameIsReported) {
  auto item = PlaylistItem::initWithDictionary(Dictionary{});
  EXPECT_EQ(item->nodeName(), "");
  EXPECT_EQ(diagnostics_.count("nodeName is nil"), 1u);
}

TEST_F(PlaylistItemEncodingsTest, ArchiveKeepsPlaybackIDAndMetadataButNotCreationDate) {
  platform::KeyedArchiveRegistry registry;
  PlaylistItem::registerArchiveClass(registry);
  auto item = fullItem();
  item->setCreationDate(utc(2014, 1, 1, 0, 0));
  item->setAudioVolume(0.2);

  platform::Result<std::string> bytes = platform::archivedData(*item);
  ASSERT_TRUE(bytes.ok()) << bytes.error().describe();
  auto read = platform::unarchiveAs<PlaylistItem>(*bytes, registry);
  ASSERT_TRUE(read.ok()) << read.error().describe();
  EXPECT_EQ((*read)->playbackUniqueID(), item->playbackUniqueID());
  EXPECT_EQ((*read)->metadataArray(), item->metadataArray());
  EXPECT_EQ((*read)->creationDate(), std::nullopt);
  EXPECT_EQ((*read)->audioVolume(), 1.0);
  EXPECT_EQ((*read)->dictionary(), item->dictionary());
}

TEST_F(PlaylistItemEncodingsTest, ArchiveWithAWrongTypedKeyIsRefused) {
  platform::KeyedArchiveRegistry registry;
  PlaylistItem::registerArchiveClass(registry);
  auto archiveOf = [](Dictionary object) {
    object["$class"] = Value(PlaylistItem::kClassName);
    return Value(Dictionary{{"$archiver", Value(platform::kKeyedArchiverName)},
                            {"$version", Value(platform::kKeyedArchiveVersion)},
                            {"$top", Value(std::move(object))}});
  };
  struct Case {
    const char* key;
    Value bad;
  } cases[] = {
      {kInPointInSeconds, Value("1.5")},
      {kPlaybackUniqueID, Value(3)},
      {kThumbnail, Value(platform::Data{0, 1})},
      {kMetadata, Value(platform::Array{Value("row")})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    auto read = platform::unarchive(archiveOf({{c.key, c.bad}}), registry);
    ASSERT_FALSE(read.ok());
    EXPECT_NE(read.error().localizedDescription.find(c.key), std::string::npos) << read.error().describe();
  }
  // Missing keys are fine: zero values and volume 1.0.
  auto empty = platform::unarchiveAs<PlaylistItem>(archiveOf({}), registry);
  ASSERT_TRUE(empty.ok()) << empty.error().describe();
  EXPECT_EQ((*empty)->audioVolume(), 1.0);
  EXPECT_FALSE((*empty)->hasInPoint());
}

TEST_F(PlaylistItemEncodingsTest, CatalogueRecordRoundTrip) {
  auto item = fullItem();
  item->setCreationDate(utc(2014, 1, 1, 0, 0));
  Dictionary record;
  item->fillCoreDataClipEntity(record);
  for (const char* key : {kAttributes, kLanguages, kPlaybackUniqueID, kThumbnail, kMetadata, kCreationDate}) {
    EXPECT_FALSE(record.contains(key)) << key;
  }
  EXPECT_EQ(Value(record)[kDurationInSeconds], Value(7.75));
  EXPECT_EQ(Value(record)[kLastModificationDateString], Value("2015-06-30 14:05"));

  record[kCreationDate] = Value(utc(2014, 1, 1, 0, 0));  // the catalogue stamps it itself
  platform::Status problems;
  auto clip = PlaylistItem::initWithCoreDataEntity(record, &problems);
  EXPECT_TRUE(problems.ok());
  EXPECT_EQ(clip->uniqueID(), item->uniqueID());
  EXPECT_NE(clip->playbackUniqueID(), item->playbackUniqueID());
  EXPECT_EQ(clip->creationDate(), utc(2014, 1, 1, 0, 0));
  EXPECT_EQ(clip->audioVolume(), 1.0);
  EXPECT_EQ(clip->attributes(), Dictionary{});
  Dictionary again;
  clip->fillCoreDataClipEntity(again);
  EXPECT_EQ(again, [&] {
    Dictionary r = record;
    r.erase(kCreationDate);
    return r;
  }());
}

TEST_F(PlaylistItemEncodingsTest, CatalogueWriterNeverWritesAnotherTypeForUnsetValues) {
  Dictionary record{{kLastModificationDate, Value(utc(2010, 1, 1, 0, 0))}, {kLastModificationDateString, Value("old")}};
  PlaylistItem fresh;  // no media item ID, no dates
  fresh.fillCoreDataClipEntity(record);
  EXPECT_FALSE(record.contains(kLastModificationDate));
  EXPECT_EQ(Value(record)[kLastModificationDateString], Value(""));
  EXPECT_EQ(Value(record)[kMediaItemUniqueID], Value(""));

  // A record without a unique ID gives a new one.
  record.erase(kUniqueID);
  auto clip = PlaylistItem::initWithCoreDataEntity(record);
  ASSERT_TRUE(clip->uniqueID().has_value());
  EXPECT_FALSE(clip->uniqueID()->empty());
}

TEST_F(PlaylistItemEncodingsTest, UpdateWithCatalogueRecordKeepsTheEntry) {
  auto row = fullItem();
  row->setLocked(true);
  row->setAbRollClipPosition(ABRollClipPosition::NodeA);
  const PlaylistItemFields before = row->fields();

  Dictionary record;
  auto other = std::make_shared<PlaylistItem>();
  other->setDisplayName("Renamed");
  other->setMediaItemDurationInSeconds(20.0);
  other->setOnline(false);
  other->fillCoreDataClipEntity(record);
  record[kFramesPerSecond] = Value("fast");  // refused; the rate stays

  platform::Status problems;
  row->updateWithCoreDataEntity(record, &problems);
  EXPECT_FALSE(problems.ok());
  const PlaylistItemFields after = row->fields();
  EXPECT_EQ(after.displayName, "Renamed");
  EXPECT_EQ(after.mediaItemDurationInSeconds, 20.0);
  EXPECT_FALSE(after.online);
  EXPECT_FALSE(row->hasInPoint());
  EXPECT_EQ(after.framesPerSecond, before.framesPerSecond);
  EXPECT_EQ(after.uniqueID, before.uniqueID);
  EXPECT_EQ(after.playbackUniqueID, before.playbackUniqueID);
  EXPECT_EQ(after.attributes, before.attributes);
  EXPECT_EQ(after.metadataArray, before.metadataArray);
  EXPECT_TRUE(after.locked);
  EXPECT_EQ(after.abRollClipPosition, ABRollClipPosition::NodeA);
}

TEST_F(PlaylistItemEncodingsTest, AttributeRecord) {
  auto item = fullItem();
  Dictionary record{{kAttributeValueKey, Value("stale")}};
  item->fillCoreDataAttributeEntity(record, kClipEndBehaviourAttribute);
  EXPECT_EQ(record,
            (Dictionary{{kAttributeNameKey, Value(kClipEndBehaviourAttribute)}, {kAttributeValueKey, Value("Chain")}}));
  item->fillCoreDataAttributeEntity(record, "Speed");
  EXPECT_EQ(record, (Dictionary{{kAttributeNameKey, Value("Speed")}}));
}

TEST_F(PlaylistItemEncodingsTest, PasteboardCarriesCopiesWithFreshPlaybackIDs) {
  platform::KeyedArchiveRegistry registry;
  auto first = fullItem();
  auto second = std::make_shared<PlaylistItem>();
  second->setDisplayName("Second");
  platform::Result<std::string> bytes = archivedPlaylistItems({first, nullptr, second});
  ASSERT_TRUE(bytes.ok()) << bytes.error().describe();

  auto items = unarchivePlaylistItems(*bytes, registry);
  ASSERT_TRUE(items.ok()) << items.error().describe();
  ASSERT_EQ(items->size(), 2u);
  EXPECT_EQ((*items)[0]->uniqueID(), first->uniqueID());
  EXPECT_NE((*items)[0]->playbackUniqueID(), first->playbackUniqueID());
  EXPECT_EQ((*items)[0]->displayName(), "Morning News");
  EXPECT_EQ((*items)[1]->displayName(), "Second");

  // A single item's archive is not a pasteboard of rows.
  auto single = unarchivePlaylistItems(*platform::archivedData(*first), registry);
  ASSERT_FALSE(single.ok());
  EXPECT_TRUE(single.error().is(platform::kKeyedArchiveErrorDomain, platform::KeyedArchiveErrorCode::WrongClass));
}

}  // namespace
}  // namespace nodes
