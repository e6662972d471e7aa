#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>

#include "nodes/media/MediaFolderLocalEquivalent.h"
#include "nodes/playlist/PlaylistItem.h"
#include "nodes/playlist/PlaylistItemAccessor.h"
#include "platform/DateFormatter.h"
#include "tests/support/CapturedDiagnostics.h"
#include "tests/support/TemporaryDirectory.h"

namespace nodes {
namespace {

using namespace std::chrono_literals;

platform::Date utc(int year, int month, int day, int hour, int minute) {
  const std::chrono::sys_days days{std::chrono::year{year} / month / day};
  return platform::Date(days + std::chrono::hours{hour} + std::chrono::minutes{minute});
}

// An item in the state a playlist row typically has.
std::shared_ptr<PlaylistItem> sampleItem() {
  auto item = std::make_shared<PlaylistItem>();
  item->update([](PlaylistItemFields& f) {
    f.attributes = platform::Dictionary{{kClipEndBehaviourAttribute, platform::Value("Loop")}};
    f.mediaItemUniqueID = "MEDIA-1";
    f.inPointInSeconds = 2.0;
    f.outPointInSeconds = 8.0;
    f.online = true;
    f.audioVolume = 0.5;
    f.nodeName = "Node 1";
    f.nodeUniqueID = "NODE-1";
    f.playbackNodeName = "Node 2";
    f.displayName = "News";
    f.absolutePathToMediaItem = "/media/news/news.mov";
    f.relativePathToMediaItem = "news/news.mov";
    f.framesPerSecond = 25.0;
    f.mediaItemDurationInSeconds = 10.0;
    f.creationDate = utc(2015, 6, 1, 8, 0);
    f.lastModificationDate = utc(2015, 6, 30, 12, 5);
    f.lastModificationDateAsString = "2015-06-30 14:05";
    f.finderLabelIndex = 2;
    f.finderLabelName = "Red";
    f.blockDurationInSeconds = 20.0;
    f.mediaItemStartTimeCode = "10:00:00:00";
    f.invalidReason = 3;
    f.languages = {"en", "fr"};
    f.mediaFolderPath = "/media";
    f.mediaFolderUniqueID = "FOLDER-1";
    f.videoCodecDescription = "H.264";
    f.languagesDescription = "en-fr";
    f.displayOriginX = 10;
    f.displaySizeWidth = 960;
    f.displaySizeHeight = 540;
    f.naturalSizeWidth = 1920;
    f.naturalSizeHeight = 1080;
    f.validationStatus = 2;
  });
  return item;
}

TEST(PlaylistItemTest, NewItemHasTheDocumentedDefaults) {
  PlaylistItem item;
  EXPECT_FALSE(item.hasInPoint());
  EXPECT_FALSE(item.hasOutPoint());
  EXPECT_EQ(item.durationInSeconds(), 0.0);
  EXPECT_EQ(item.itemType(), ClipItemType::Movie);
  EXPECT_FALSE(item.isResized());
  EXPECT_FALSE(item.resizeIsEffective());
  EXPECT_EQ(item.audioVolume(), 1.0);
  EXPECT_EQ(item.invalidReason(), -1);
  EXPECT_EQ(item.mediaItemStartTimeCode(), "00:00:00:00");
  EXPECT_EQ(item.attributes(), platform::Dictionary{});
  EXPECT_EQ(item.mediaItemUniqueID(), std::nullopt);
  ASSERT_TRUE(item.uniqueID() && item.playbackUniqueID());
  EXPECT_NE(*item.uniqueID(), *item.playbackUniqueID());
  EXPECT_EQ(item.timeCodeFormatter().format(), kTimeFormatTimeCode);
}

TEST(PlaylistItemTest, DurationsAndFinalPoints) {
  struct Case {
    double media, in, out;
    double duration, finalIn, finalOut;
  } cases[] = {
      {10, 2, 8, 6, 2, 8},
      {10, 2, 12, 10, 2, 10},       // out beyond the file: unclamped duration, final out at the end
      {10, -1, -1, 10, 0, 10},      // no points
      {10, -0.5, -1, 10.5, 0, 10},  // -0.5 is an in point, but not a final one
      {10, 12, -1, -2, 0, 10},      // in beyond the file
      {10, 8, 2, -6, 8, 2},         // in after out: negative duration
      {10, 0, 10, 10, 0, 10},       // out at the very end is the end
      {10, 3, 0, -3, 3, 10},        // out point 0 is not a final out point
      {0, -1, -1, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.media << " / " << c.in << " / " << c.out);
    PlaylistItem item;
    item.setMediaItemDurationInSeconds(c.media);
    item.setInPointInSeconds(c.in);
    item.setOutPointInSeconds(c.out);
    EXPECT_DOUBLE_EQ(item.durationInSeconds(), c.duration);
    EXPECT_DOUBLE_EQ(item.realDurationInSeconds(), c.duration);
    EXPECT_DOUBLE_EQ(item.finalInPointInSeconds(), c.finalIn);
    EXPECT_DOUBLE_EQ(item.finalOutPointInSeconds(), c.finalOut);
  }
}

TEST(PlaylistItemTest, PointFlagsFollowTheSeconds) {
  PlaylistItem item;
  item.setHasInPoint(true);  // a flag alone makes no in point
  EXPECT_FALSE(item.hasInPoint());
  item.setInPointInSeconds(3.0);
  item.setOutPointInSeconds(4.0);
  EXPECT_TRUE(item.hasInPoint());
  item.setHasInPoint(true);
  EXPECT_EQ(item.inPointInSeconds(), 3.0);
  item.setHasInPoint(false);
  item.setHasOutPoint(false);
  EXPECT_EQ(item.inPointInSeconds(), kNoPoint);
  EXPECT_EQ(item.outPointInSeconds(), kNoPoint);
}

TEST(PlaylistItemTest, DurationTextUsesTheItemsRate) {
  PlaylistItem item;
  item.setMediaItemDurationInSeconds(10.0);
  item.setInPointInSeconds(2.5);
  item.setFramesPerSecond(25.0);
  EXPECT_EQ(item.durationToDisplay(), "00:00:07:12");
  item.setFramesPerSecond(30000.0 / 1001.0);
  item.setDropFrame(true);
  EXPECT_EQ(item.timeCodeFormatter().framesPerSeconds(), 30000.0 / 1001.0);
  EXPECT_TRUE(item.timeCodeFormatter().dropFrame());
  EXPECT_EQ(item.durationAsString(), "00:00:07;14");
  item.setRelativeStartTime(65.0);
  EXPECT_EQ(item.relativeStartTimeInSeconds(), 65.0);
  EXPECT_EQ(item.relativeStartTimeAsString(), "00:01:05;00");
}

TEST(PlaylistItemTest, ItemTypeByExactExtension) {
  struct Case {
    const char* path;
    ClipItemType type;
  } cases[] = {
      {"/m/a.jpg", ClipItemType::StillImage}, {"/m/a.jpeg", ClipItemType::StillImage},
      {"/m/a.png", ClipItemType::StillImage}, {"/m/a.tif", ClipItemType::StillImage},
      {"/m/a.psd", ClipItemType::StillImage}, {"/m/a.tga", ClipItemType::StillImage},
      {"/m/a.JPG", ClipItemType::Movie},      {"/m/a.tiff", ClipItemType::Movie},
      {"/m/a.mov", ClipItemType::Movie},      {"/m/noextension", ClipItemType::Movie},
      {"/m.jpg/clip", ClipItemType::Movie},   {"", ClipItemType::Movie},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    PlaylistItem item;
    item.setAbsolutePathToMediaItem(c.path);
    EXPECT_EQ(item.itemType(), c.type);
  }
}

TEST(PlaylistItemTest, ResizeFlags) {
  struct Case {
    float x, y, width, height;
    bool resized, effective;
  } cases[] = {
      {0, 0, 0, 0, false, false},   {0, 0, 1920, 1080, false, true},  // the natural size at the origin
      {0, 0, 960, 540, true, true}, {10, 0, 1920, 1080, true, true}, {0, 0, 1920, 0, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.x << "," << c.y << " " << c.width << "x" << c.height);
    PlaylistItem item;
    item.setNaturalSizeWidth(1920);
    item.setNaturalSizeHeight(1080);
    item.setDisplayOriginX(c.x);
    item.setDisplayOriginY(c.y);
    item.setDisplaySizeWidth(c.width);
    item.setDisplaySizeHeight(c.height);
    EXPECT_EQ(item.isResized(), c.resized);
    EXPECT_EQ(item.resizeIsEffective(), c.effective);
  }
}

TEST(PlaylistItemTest, UnsetStartTimeCodeReadsAsDropFrameZero) {
  PlaylistItem item;
  item.setMediaItemStartTimeCode(std::nullopt);
  EXPECT_EQ(item.mediaItemStartTimeCode(), "00:00:00;00");
}

TEST(PlaylistItemTest, EndBehaviourAndChaining) {
  struct Case {
    std::optional<platform::Value> behaviour;
    ClipEndBehaviour parsed;
    bool chainsInChainMode, chainsOtherwise;
  } cases[] = {
      {std::nullopt, ClipEndBehaviour::Absent, true, false},
      {platform::Value("Normal"), ClipEndBehaviour::Normal, true, false},
      {platform::Value("Chain"), ClipEndBehaviour::Chain, true, true},
      {platform::Value("Loop"), ClipEndBehaviour::Loop, false, false},
      {platform::Value("Stop At End"), ClipEndBehaviour::StopAtEnd, false, false},
      {platform::Value("Hold Last Frame"), ClipEndBehaviour::HoldLastFrame, false, false},
      {platform::Value("chain"), ClipEndBehaviour::Other, false, false},
      {platform::Value(1), ClipEndBehaviour::Other, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.behaviour ? c.behaviour->describe() : "absent");
    PlaylistItem item;
    if (c.behaviour) item.setAttributeValue(kClipEndBehaviourAttribute, *c.behaviour);
    EXPECT_EQ(item.clipEndBehaviour(), c.parsed);
    EXPECT_EQ(item.chainsIntoNextItem(true), c.chainsInChainMode);
    EXPECT_EQ(item.chainsIntoNextItem(false), c.chainsOtherwise);
  }
  PlaylistItem withoutAttributes;
  withoutAttributes.setAttributes(std::nullopt);
  EXPECT_EQ(withoutAttributes.clipEndBehaviour(), ClipEndBehaviour::Absent);
}

TEST(PlaylistItemTest, CopyIsTheSameClipAsANewEntryAndSharesNothing) {
  auto source = sampleItem();
  source->update([](PlaylistItemFields& f) {
    f.locked = true;
    f.playbackStatus = kPlaybackStatusPlaying;
    f.abRollClipPosition = ABRollClipPosition::NodeB;
    f.relativeStartTimeInSeconds = 12.0;
    f.relativeStartTimeAsString = "00:00:12:00";
    f.thumbnail = std::make_shared<const RGBAImage>(RGBAImage{1, 1, {1, 2, 3, 4}});
    f.metadataArray = {Metadata::fromRow({{"Key", platform::Value("Title")}})};
    f.resized = true;
  });
  const PlaylistItemFields before = source->fields();
  auto copy = source->copy();
  PlaylistItemFields copied = copy->fields();

  EXPECT_EQ(copied.uniqueID, before.uniqueID);
  EXPECT_NE(copied.playbackUniqueID, before.playbackUniqueID);
  EXPECT_FALSE(copied.locked);
  EXPECT_EQ(copied.playbackStatus, kPlaybackStatusStopped);
  EXPECT_EQ(copied.abRollClipPosition, ABRollClipPosition::None);
  EXPECT_EQ(copied.relativeStartTimeInSeconds, 0.0);
  EXPECT_EQ(copied.relativeStartTimeAsString, std::nullopt);
  EXPECT_EQ(copied.thumbnail, nullptr);
  EXPECT_TRUE(copied.metadataArray.empty());
  EXPECT_FALSE(copied.resized);

  // Everything else is the source's.
  PlaylistItemFields expected = before;
  expected.playbackUniqueID = copied.playbackUniqueID;
  expected.locked = false;
  expected.playbackStatus = kPlaybackStatusStopped;
  expected.abRollClipPosition = ABRollClipPosition::None;
  expected.relativeStartTimeInSeconds = 0.0;
  expected.relativeStartTimeAsString.reset();
  expected.thumbnail.reset();
  expected.metadataArray.clear();
  expected.resized = false;
  EXPECT_EQ(copied, expected);

  // Changing the copy's attributes leaves the source's alone.
  copy->setAttributeValue(kClipEndBehaviourAttribute, platform::Value("Chain"));
  copy->setAttributeValue("Audio Volume", platform::Value("0.5"));
  EXPECT_EQ(source->attributes(), before.attributes);
  EXPECT_EQ(source->clipEndBehaviour(), ClipEndBehaviour::Loop);
}

TEST(PlaylistItemTest, UpdateWithClipTakesFileFieldsAndKeepsTheEntry) {
  auto row = std::make_shared<PlaylistItem>();
  row->setAttributeValue(kClipEndBehaviourAttribute, platform::Value("Chain"));
  row->setLocked(true);
  row->setAbRollClipPosition(ABRollClipPosition::NodeA);
  row->setPlaybackStatus(kPlaybackStatusCued);
  row->setAudioVolume(0.25);
  row->setLanguages({"de"});
  const PlaylistItemFields rowBefore = row->fields();

  auto clip = sampleItem();
  row->updateWithClip(*clip);
  const PlaylistItemFields after = row->fields();
  const PlaylistItemFields source = clip->fields();

  EXPECT_EQ(after.uniqueID, rowBefore.uniqueID);
  EXPECT_EQ(after.playbackUniqueID, rowBefore.playbackUniqueID);
  EXPECT_EQ(after.attributes, rowBefore.attributes);
  EXPECT_TRUE(after.locked);
  EXPECT_EQ(after.abRollClipPosition, ABRollClipPosition::NodeA);
  EXPECT_EQ(after.playbackStatus, kPlaybackStatusCued);
  EXPECT_EQ(after.audioVolume, 0.25);
  EXPECT_EQ(after.languages, rowBefore.languages);

  EXPECT_EQ(after.displayName, source.displayName);
  EXPECT_EQ(after.inPointInSeconds, source.inPointInSeconds);
  EXPECT_EQ(after.outPointInSeconds, source.outPointInSeconds);
  EXPECT_EQ(after.mediaItemDurationInSeconds, source.mediaItemDurationInSeconds);
  EXPECT_EQ(after.mediaItemUniqueID, source.mediaItemUniqueID);
  EXPECT_EQ(after.creationDate, source.creationDate);
  EXPECT_EQ(after.lastModificationDate, source.lastModificationDate);
  EXPECT_EQ(after.displayOriginX, source.displayOriginX);
  EXPECT_EQ(after.nodeUniqueID, source.nodeUniqueID);
  EXPECT_EQ(after.mediaItemStartTimeCode, source.mediaItemStartTimeCode);
}

TEST(PlaylistItemTest, InitWithMediaItem) {
  EXPECT_EQ(PlaylistItem::initWithMediaItem(nullptr), nullptr);

  MediaItemInfo info;
  info.uniqueID = "MEDIA-7";
  info.mediaFolderPath = "/media";
  info.mediaFolderUniqueID = "FOLDER-1";
  info.absolutePath = "/media/clip.mov";
  info.relativePath = "clip.mov";
  info.nodeName = "Node 1";
  info.nodeUniqueID = "NODE-1";
  info.displayName = "clip";
  info.lastModificationDate = utc(2020, 1, 2, 3, 4);
  info.languagesArray = {"en", "fr"};
  info.startTimeCode = "01:00:00:00";
  info.durationInSeconds = 12.5;
  info.framesPerSecond = 50.0;
  info.naturalVideoSizeWidth = 1280;
  info.naturalVideoSizeHeight = 720;
  info.validationStatus = 1;
  info.invalidReason = 4;
  auto item = PlaylistItem::initWithMediaItem(std::make_shared<const MediaItem>(info));
  ASSERT_NE(item, nullptr);
  const PlaylistItemFields f = item->fields();
  EXPECT_EQ(f.mediaItemUniqueID, "MEDIA-7");
  EXPECT_NE(f.uniqueID, f.mediaItemUniqueID);
  EXPECT_EQ(f.absolutePathToMediaItem, "/media/clip.mov");
  EXPECT_EQ(f.relativePathToMediaItem, "clip.mov");
  EXPECT_EQ(f.nodeName, "Node 1");
  EXPECT_EQ(f.mediaItemDurationInSeconds, 12.5);
  EXPECT_EQ(f.mediaItemStartTimeCode, "01:00:00:00");
  EXPECT_EQ(f.displaySizeWidth, 1280);
  EXPECT_EQ(f.displaySizeHeight, 720);
  EXPECT_FALSE(item->isResized());
  EXPECT_EQ(f.languagesDescription, "en-fr");
  EXPECT_EQ(f.lastModificationDate, info.lastModificationDate);
  EXPECT_TRUE(f.lastModificationDateAsString.has_value());
  EXPECT_FALSE(item->hasInPoint());
  EXPECT_FALSE(f.online);
  EXPECT_EQ(f.audioVolume, 1.0);
  EXPECT_EQ(f.invalidReason, 4);
  EXPECT_EQ(item->timeCodeFormatter().framesPerSeconds(), 50.0);

  testing_support::CapturedDiagnostics diagnostics;
  info.nodeName.reset();
  ASSERT_NE(PlaylistItem::initWithMediaItem(std::make_shared<const MediaItem>(info)), nullptr);
  EXPECT_EQ(diagnostics.count("nodeName is nil"), 1u);
}

TEST(PlaylistItemTest, LanguagesDescription) {
  struct Case {
    std::vector<std::string> languages;
    const char* text;
  } cases[] = {
      {{}, ""}, {{"en"}, "en"}, {{"en", "fr"}, "en-fr"}, {{"e"}, "e-"}, {{"e", "f"}, "e-f"},
  };
  for (const Case& c : cases) EXPECT_EQ(languagesDescriptionFromLanguages(c.languages), c.text);
}

TEST(PlaylistItemTest, DateToStringIsLocalYearMonthDayHourMinute) {
  ASSERT_TRUE(platform::setCurrentTimeZoneForTesting("Europe/Zurich").ok());
  EXPECT_EQ(PlaylistItem::dateToString(utc(2015, 6, 30, 12, 5)), "2015-06-30 14:05");
  ASSERT_TRUE(platform::setCurrentTimeZoneForTesting("America/New_York").ok());
  EXPECT_EQ(PlaylistItem::dateToString(utc(2015, 1, 1, 3, 59)), "2014-12-31 22:59");
  PlaylistItem item;
  item.setLastModificationDate(utc(2015, 6, 30, 12, 5));
  EXPECT_EQ(item.lastModificationDateAsString(), "2015-06-30 08:05");
  item.setLastModificationDate(std::nullopt);
  EXPECT_EQ(item.lastModificationDateAsString(), std::nullopt);
  ASSERT_TRUE(platform::setCurrentTimeZoneForTesting("").ok());
}

// Dates from a node or a file may lie anywhere a property-list date reaches,
// far outside the years a nanosecond clock can hold.
TEST(PlaylistItemTest, DateToStringFormatsDatesFarFromToday) {
  ASSERT_TRUE(platform::setCurrentTimeZoneForTesting("UTC").ok());
  const struct {
    platform::Date date;
    const char* text;
  } cases[] = {
      {utc(1601, 6, 30, 14, 5), "1601-06-30 14:05"},
      {utc(1677, 9, 21, 0, 0), "1677-09-21 00:00"},
      {utc(2262, 4, 12, 0, 0), "2262-04-12 00:00"},
      {utc(2300, 1, 2, 3, 4), "2300-01-02 03:04"},
      {utc(9999, 12, 31, 23, 59), "9999-12-31 23:59"},
  };
  for (const auto& c : cases) EXPECT_EQ(PlaylistItem::dateToString(c.date), c.text) << c.text;
  for (platform::Date extreme : {platform::Date::min(), platform::Date::max()}) {
    EXPECT_FALSE(PlaylistItem::dateToString(extreme).empty());
  }
  ASSERT_TRUE(platform::setCurrentTimeZoneForTesting("").ok());
}

// Dates of one UTC minute in a row, as a file's clips often are: each still
// reads as its own local minute, also where the zone's offset was not whole
// minutes (Monrovia, 44 min 30 s behind until 1972), and after a zone change.
TEST(PlaylistItemTest, DateToStringOfDatesInOneMinuteGivesEachItsLocalMinute) {
  using std::chrono::seconds;
  const struct {
    const char* zone;
    platform::Date date;
    const char* text;
  } rows[] = {
      {"Europe/Zurich", utc(2015, 6, 30, 12, 5) + seconds(10), "2015-06-30 14:05"},
      {"Europe/Zurich", utc(2015, 6, 30, 12, 5) + seconds(50), "2015-06-30 14:05"},
      {"Europe/Zurich", utc(2015, 6, 30, 12, 5) + seconds(59), "2015-06-30 14:05"},
      {"Europe/Zurich", utc(2015, 6, 30, 12, 6), "2015-06-30 14:06"},
      {"America/New_York", utc(2015, 6, 30, 12, 6) + seconds(1), "2015-06-30 08:06"},
      {"Africa/Monrovia", utc(1960, 1, 15, 12, 0) + seconds(10), "1960-01-15 11:15"},
      {"Africa/Monrovia", utc(1960, 1, 15, 12, 0) + seconds(40), "1960-01-15 11:16"},
      {"Africa/Monrovia", utc(1960, 1, 15, 12, 0) + seconds(20), "1960-01-15 11:15"},
  };
  for (const auto& row : rows) {
    ASSERT_TRUE(platform::setCurrentTimeZoneForTesting(row.zone).ok()) << row.zone;
    EXPECT_EQ(PlaylistItem::dateToString(row.date), row.text) << row.zone << " " << row.text;
  }
  ASSERT_TRUE(platform::setCurrentTimeZoneForTesting("").ok());
}

TEST(PlaylistItemTest, SmallSetterRules) {
  PlaylistItem item;
  item.setFinderLabelName("Red");
  item.setFinderLabelName(std::nullopt);
  EXPECT_EQ(item.finderLabelName(), "");

  testing_support::CapturedDiagnostics diagnostics;
  const PlaylistItemFields before = item.fields();
  item.setObject(platform::Value("x"), "displayName");
  EXPECT_EQ(item.fields(), before);
  EXPECT_EQ(diagnostics.count("**** setObject:forKey called for PlaylistItem ****"), 1u);
}

TEST(PlaylistItemTest, PreviewInterfaceAnswersAreFixed) {
  PlaylistItem item;
  item.setLocked(true);
  item.setZira(true);
  item.setNextItemMixPointInSeconds(3.0);
  item.setPreviousItemMixPointInSeconds(1.0);
  item.clearNextItemMixPoint();
  EXPECT_TRUE(item.locked());
  EXPECT_FALSE(item.isLocked());
  EXPECT_FALSE(item.zira());
  EXPECT_FALSE(item.isRemote());
  EXPECT_FALSE(item.hasOverridenInOutPoint());
  EXPECT_EQ(item.overridenInPointInSeconds(), -1.0);
  EXPECT_EQ(item.overridenOutPointInSeconds(), -1.0);
  EXPECT_FALSE(item.hasNextItemMixPoint());
  EXPECT_FALSE(item.hasPreviousItemMixPoint());
  EXPECT_EQ(item.nextItemMixPointInSeconds(), 0.0);
  EXPECT_EQ(item.previousItemMixPointInSeconds(), 0.0);
  EXPECT_EQ(item.ziraSourceName(), "");
  EXPECT_EQ(item.validationErrorReason(), std::nullopt);
  EXPECT_TRUE(item.objectSpecifier().isNone());
  EXPECT_TRUE(item.handleStartPlayback(platform::Value()).isNone());
}

TEST(PlaylistItemTest, DurationObserversHearOfEachOfItsThreeInputs) {
  EXPECT_EQ(PlaylistItem::keyPathsForValuesAffectingValueForKey("durationInSeconds"),
            (std::vector<std::string>{"inPointInSeconds", "outPointInSeconds", "mediaItemDurationInSeconds"}));
  EXPECT_TRUE(PlaylistItem::keyPathsForValuesAffectingValueForKey("displayName").empty());

  PlaylistItem item;
  EXPECT_EQ(item.keyPathsForValueAffectingItemDuration(),
            PlaylistItem::keyPathsForValuesAffectingValueForKey("durationInSeconds"));
  std::vector<std::pair<double, double>> changes;
  auto token = item.observeKey("durationInSeconds", [&](const platform::Value& old, const platform::Value& now) {
    changes.emplace_back(old.realOr(-99), now.realOr(-99));
  });
  item.setMediaItemDurationInSeconds(10.0);
  item.setInPointInSeconds(2.0);
  item.setOutPointInSeconds(8.0);
  item.setDisplayName("unrelated");
  item.setOutPointInSeconds(8.0);  // no change, no call
  item.setHasOutPoint(false);
  EXPECT_EQ(changes, (std::vector<std::pair<double, double>>{{0, 10}, {10, 8}, {8, 6}, {6, 8}}));

  token.reset();
  item.setInPointInSeconds(1.0);
  EXPECT_EQ(changes.size(), 4u);
}

TEST(PlaylistItemTest, ObserversMayReadTheItemAndSeeEveryChangedKeyOfAnUpdate) {
  PlaylistItem item;
  std::vector<std::string> heard;
  auto volume = item.observeKey("audioVolume", [&](const platform::Value&, const platform::Value& now) {
    heard.push_back("audioVolume " + now.describe());
    EXPECT_EQ(item.audioVolume(), now.realOr(-1));  // the lock is not held
  });
  auto locked =
      item.observeKey("locked", [&](const platform::Value&, const platform::Value&) { heard.push_back("locked"); });
  auto isLocked =
      item.observeKey("isLocked", [&](const platform::Value&, const platform::Value&) { heard.push_back("isLocked"); });
  item.update([](PlaylistItemFields& f) {
    f.audioVolume = 0.5;
    f.locked = true;
  });
  // Both changed keys are heard once; the fixed "isLocked" never changes.
  ASSERT_EQ(heard.size(), 2u);
  EXPECT_EQ(std::count(heard.begin(), heard.end(), "locked"), 1);
  EXPECT_EQ(std::count(heard.begin(), heard.end(), "isLocked"), 0);
}

TEST(PlaylistItemTest, ResolvedAbsolutePath) {
  testing_support::TemporaryDirectory folder;
  std::filesystem::create_directories(folder / "first");
  std::filesystem::create_directories(folder / "second");
  const auto touch = [](const std::filesystem::path& path) { std::ofstream(path) << "x"; };
  platform::UserDefaults defaults("");
  auto entry = [](const std::string& folderID, const std::filesystem::path& local) {
    return platform::Value(platform::Dictionary{{"mediaFolderUniqueID", platform::Value(folderID)},
                                                {"equivalentLocalPath", platform::Value(local.string())}});
  };
  defaults.setObject(platform::Array{entry("OTHER", folder / "elsewhere"), entry("FOLDER-1", folder / "first"),
                                     entry("FOLDER-1", folder / "second")},
                     kMediaFoldersLocalEquivalentPathsKey);

  PlaylistItem item;
  item.setAbsolutePathToMediaItem((folder / "node" / "clip.mov").string());
  item.setRelativePathToMediaItem("clip.mov");
  item.setMediaFolderUniqueID("FOLDER-1");

  // Two matching entries and no file at either: the second candidate.
  EXPECT_EQ(item.resolvedAbsolutePath(defaults), folder / "second" / "clip.mov");
  touch(folder / "first" / "clip.mov");
  EXPECT_EQ(item.resolvedAbsolutePath(defaults), folder / "first" / "clip.mov");
  std::filesystem::create_directories(folder / "node");
  touch(folder / "node" / "clip.mov");
  EXPECT_EQ(item.resolvedAbsolutePath(defaults), folder / "node" / "clip.mov");
  EXPECT_EQ(item.resolvedURL(defaults), folder / "node" / "clip.mov");

  // No matching entry: the absolute path, found or not.
  item.setMediaFolderUniqueID("NONE");
  item.setAbsolutePathToMediaItem("/nowhere/clip.mov");
  EXPECT_EQ(item.resolvedAbsolutePath(defaults), "/nowhere/clip.mov");
  item.setAbsolutePathToMediaItem("");
  EXPECT_EQ(item.resolvedURL(defaults), std::nullopt);
}

TEST(PlaylistItemTest, AccessorRefersWithoutOwning) {
  PlaylistItemAccessor empty;
  EXPECT_EQ(empty.playlistItem(), nullptr);

  auto item = std::make_shared<PlaylistItem>();
  PlaylistItemAccessor accessor;
  accessor.setPlaylistItem(item);
  PlaylistItemAccessor copy = accessor;
  EXPECT_EQ(copy.playlistItem(), item);
  EXPECT_EQ(item.use_count(), 1);

  auto other = std::make_shared<PlaylistItem>();
  accessor.setPlaylistItem(other);  // re-pointing the one does not move the copy
  EXPECT_EQ(accessor.playlistItem(), other);
  EXPECT_EQ(copy.playlistItem(), item);
  item.reset();
  EXPECT_EQ(copy.playlistItem(), nullptr);
}

}  // namespace
}  // namespace nodes
