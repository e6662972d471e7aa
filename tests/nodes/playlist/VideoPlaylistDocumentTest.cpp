#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/CVNLogController.h"
#include "nodes/media/ClipInfoKeys.h"
#include "nodes/playlist/PlaylistDocumentErrors.h"
#include "nodes/playlist/VideoPlaylistDocument.h"
#include "platform/Bundle.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"
#include "tests/support/CapturedDiagnostics.h"
#include "tests/support/SilentNotificationCenter.h"
#include "tests/support/TemporaryDirectory.h"

namespace nodes {
namespace {

using platform::Dictionary;
using platform::Value;
using Names = std::vector<std::string>;
using Positions = std::vector<ABRollClipPosition>;
constexpr auto kType = kVideoPlaylistDocumentType;
constexpr auto A = ABRollClipPosition::NodeA;
constexpr auto B = ABRollClipPosition::NodeB;
constexpr auto None = ABRollClipPosition::None;

class FakeWindow : public VideoPlaylistDocumentDelegate {
 public:
  void updateTableView() override { ++tableUpdates; }
  std::optional<WindowFrame> windowFrame() const override { return frame; }
  std::int64_t lastClickedRow() const override { return clickedRow; }
  void playButtonPushed() override { pressed.push_back("play"); }
  void stopButtonPushed() override { pressed.push_back("stop"); }
  void pauseButtonPushed() override { pressed.push_back("pause"); }
  bool isPlaying() const override { return playing; }
  std::int64_t currentlyPlayingClipIndex() const override { return playingIndex; }
  double elapsedTimeInSeconds() const override { return 12.5; }
  double remainingTimeInSeconds() const override { return 7.5; }

  int tableUpdates = 0;
  std::optional<WindowFrame> frame;
  std::int64_t clickedRow = kNoClipIndex;
  std::vector<std::string> pressed;
  bool playing = false;
  std::int64_t playingIndex = 0;
};

// The catalogue of one node: clips by media path and by media item ID.
class FakeCatalogue : public PlaylistDocumentDataSource {
 public:
  std::optional<PlaylistItemsByKey> playlistItemsWithAbsolutePaths(const std::vector<std::string>& paths,
                                                                   const std::string& node) override {
    PlaylistItemsByKey found;
    for (const auto& clip : clips) {
      for (const auto& path : paths) {
        if (clip->nodeUniqueID() == node && clip->absolutePathToMediaItem() == path) found.emplace(path, clip);
      }
    }
    return found;
  }
  std::optional<PlaylistItemsByKey> playlistItemsWithMediaItemUniqueIDs(const std::vector<std::string>& ids,
                                                                        const std::string& node) override {
    PlaylistItemsByKey found;
    for (const auto& clip : clips) {
      for (const auto& id : ids) {
        if (clip->nodeUniqueID() == node && clip->mediaItemUniqueID() == id) found.emplace(id, clip);
      }
    }
    return found;
  }
  std::optional<PlaylistItems> clipsWithMediaItemUniqueID(const std::string&, const std::optional<std::string>&,
                                                          const std::optional<std::string>&) override {
    return PlaylistItems{};
  }
  std::optional<PlaylistItems> clipsWithMediaItemAbsolutePath(const std::string&,
                                                              const std::optional<std::string>&) override {
    return PlaylistItems{};
  }
  void requestThumbnailForMediaItemWithUniqueID(std::string_view item, std::string_view, std::string_view node,
                                                double position) override {
    thumbnailRequests.push_back(std::string(item) + "@" + std::string(node) + "@" + std::to_string(position));
  }
  std::optional<PlaylistItems> playlistItemsArrayFromDict(const Dictionary& root, const std::string& node) override {
    legacyNode = node;
    legacyRootKeys = root.size();
    return legacyRows;
  }

  PlaylistItems clips;
  PlaylistItems legacyRows;
  std::vector<std::string> thumbnailRequests;
  std::string legacyNode;
  std::size_t legacyRootKeys = 0;
};

std::shared_ptr<PlaylistItem> makeRow(const std::string& name, double seconds,
                                      std::optional<std::string> endBehaviour = std::nullopt) {
  PlaylistItemFields f;
  f.displayName = name;
  f.mediaItemDurationInSeconds = seconds;
  f.framesPerSecond = 25.0;
  f.online = true;
  f.nodeName = "Studio A";
  f.nodeUniqueID = "NODE-A";
  f.mediaItemUniqueID = "MEDIA-" + name;
  f.uniqueID = "CLIP-" + name;
  f.playbackUniqueID = "PLAY-" + name;
  f.absolutePathToMediaItem = "/media/" + name + ".mov";
  f.relativePathToMediaItem = name + ".mov";
  f.mediaFolderPath = "/media";
  f.mediaFolderUniqueID = "FOLDER-1";
  if (endBehaviour) f.attributes = Dictionary{{kClipEndBehaviourAttribute, Value(*endBehaviour)}};
  return std::make_shared<PlaylistItem>(std::move(f));
}

Names namesOf(const VideoPlaylistDocument& document) {
  Names names;
  for (const auto& row : document.playlist()) names.push_back(row->displayName());
  return names;
}

std::string readBytes(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string plistText(const Dictionary& root) {
  platform::Result<std::string> text = platform::writePropertyList(Value(root));
  EXPECT_TRUE(text.ok());
  return text.ok() ? *text : std::string();
}

class VideoPlaylistDocumentTest : public ::testing::Test {
 protected:
  VideoPlaylistDocumentTest() {
    foundation::CVNLogController::Environment environment;
    environment.defaults = &defaults_;
    environment.bundle = std::make_shared<platform::Bundle>(bundleFolder_.path());
    environment.notificationCenter = std::make_shared<testing_support::SilentNotificationCenter>();
    environment.console = [this](std::string_view line) {
      std::lock_guard guard(consoleMutex_);
      console_.emplace_back(line);
    };
    log_ = std::make_unique<foundation::CVNLogController>(std::move(environment));
    foundation::CVNLogController::setSharedLogControllerForTesting(log_.get());
    document_.setDelegate(&window_);
  }
  ~VideoPlaylistDocumentTest() override { foundation::CVNLogController::setSharedLogControllerForTesting(nullptr); }

  std::size_t consoleLinesWith(std::string_view text) {
    std::lock_guard guard(consoleMutex_);
    std::size_t count = 0;
    for (const auto& line : console_) count += line.find(text) != std::string::npos;
    return count;
  }

  void addRows(VideoPlaylistDocument& document, const std::vector<std::shared_ptr<PlaylistItem>>& rows) {
    for (const auto& row : rows) ASSERT_TRUE(document.insertClip(row, document.clipCount()));
  }

  // A document of `count` rows, written to `path`.
  std::string savedDocument(const std::filesystem::path& path, int count) {
    VideoPlaylistDocument document;
    for (int i = 0; i < count; ++i) addRows(document, {makeRow("R" + std::to_string(i), 10.0)});
    EXPECT_TRUE(document.writeToURL(path, kType, VideoPlaylistDocument::SaveOperation::Save).ok());
    return readBytes(path);
  }

  testing_support::TemporaryDirectory folder_;
  testing_support::TemporaryDirectory bundleFolder_;
  testing_support::CapturedDiagnostics diagnostics_;
  platform::UserDefaults defaults_{std::filesystem::path()};
  platform::ScopedStandardUserDefaultsOverride defaultsOverride_{defaults_};
  std::mutex consoleMutex_;
  std::vector<std::string> console_;
  std::unique_ptr<foundation::CVNLogController> log_;
  FakeWindow window_;
  VideoPlaylistDocument document_;
};

// ---- The file ----

TEST_F(VideoPlaylistDocumentTest, WritesTheExactLayoutOfASmallDocument) {
  auto row = makeRow("News", 10.0, "Normal");
  document_.setPlaylist({row});
  document_.setUniqueID("PLAYLIST-1");
  document_.setNodeAName("Studio A");
  document_.setNodeAUniqueID("NODE-A");
  document_.setAbsoluteStartTime(3600.0);
  window_.frame = WindowFrame{10.0, 20.0, 800.0, 600.5};

  platform::Result<std::string> data = document_.dataOfType(kType);
  ASSERT_TRUE(data.ok()) << data.error().describe();
  // The platform's fixed prologue, as the writer makes it for any list.
  const std::string empty = plistText({});
  const std::string prologue = empty.substr(0, empty.find("<plist"));
  const std::string expected = prologue +
                               "<plist version=\"1.0\">\n"
                               "<dict>\n"
                               "\t<key>Clip 0</key>\n"
                               "\t<dict>\n"
                               "\t\t<key>clipInfoAbsolutePathToMediaItem</key>\n\t\t<string>/media/News.mov</string>\n"
                               "\t\t<key>clipInfoAttributes</key>\n"
                               "\t\t<dict>\n"
                               "\t\t\t<key>Clip End Behaviour</key>\n\t\t\t<string>Normal</string>\n"
                               "\t\t</dict>\n"
                               "\t\t<key>clipInfoDisplayName</key>\n\t\t<string>News</string>\n"
                               "\t\t<key>clipInfoDisplayVideoOriginX</key>\n\t\t<real>0</real>\n"
                               "\t\t<key>clipInfoDisplayVideoOriginY</key>\n\t\t<real>0</real>\n"
                               "\t\t<key>clipInfoDisplayVideoSizeHeight</key>\n\t\t<real>0</real>\n"
                               "\t\t<key>clipInfoDisplayVideoSizeWidth</key>\n\t\t<real>0</real>\n"
                               "\t\t<key>clipInfoDropFrame</key>\n\t\t<false/>\n"
                               "\t\t<key>clipInfoDurationInSeconds</key>\n\t\t<real>10</real>\n"
                               "\t\t<key>clipInfoFinderLabelIndex</key>\n\t\t<integer>0</integer>\n"
                               "\t\t<key>clipInfoFinderLabelName</key>\n\t\t<string></string>\n"
                               "\t\t<key>clipInfoFramesPerSecond</key>\n\t\t<real>25</real>\n"
                               "\t\t<key>clipInfoHasInPoint</key>\n\t\t<false/>\n"
                               "\t\t<key>clipInfoHasOutPoint</key>\n\t\t<false/>\n"
                               "\t\t<key>clipInfoInPointInSeconds</key>\n\t\t<real>-1</real>\n"
                               "\t\t<key>clipInfoInvalidReason</key>\n\t\t<integer>-1</integer>\n"
                               "\t\t<key>clipInfoLanguages</key>\n\t\t<array/>\n"
                               "\t\t<key>clipInfoLanguagesDescription</key>\n\t\t<string></string>\n"
                               "\t\t<key>clipInfoMediaFileDurationInSeconds</key>\n\t\t<real>10</real>\n"
                               "\t\t<key>clipInfoMediaFolderPath</key>\n\t\t<string>/media</string>\n"
                               "\t\t<key>clipInfoMediaFolderUniqueID</key>\n\t\t<string>FOLDER-1</string>\n"
                               "\t\t<key>clipInfoMediaItemUniqueID</key>\n\t\t<string>MEDIA-News</string>\n"
                               "\t\t<key>clipInfoNaturalVideoSizeHeight</key>\n\t\t<real>0</real>\n"
                               "\t\t<key>clipInfoNaturalVideoSizeWidth</key>\n\t\t<real>0</real>\n"
                               "\t\t<key>clipInfoNodeName</key>\n\t\t<string>Studio A</string>\n"
                               "\t\t<key>clipInfoNodeUniqueID</key>\n\t\t<string>NODE-A</string>\n"
                               "\t\t<key>clipInfoOnline</key>\n\t\t<true/>\n"
                               "\t\t<key>clipInfoOutPointInSeconds</key>\n\t\t<real>-1</real>\n"
                               "\t\t<key>clipInfoPlaybackUniqueID</key>\n\t\t<string>PLAY-News</string>\n"
                               "\t\t<key>clipInfoRelativePathToMediaItem</key>\n\t\t<string>News.mov</string>\n"
                               "\t\t<key>clipInfoStartTimeCode</key>\n\t\t<string>00:00:00:00</string>\n"
                               "\t\t<key>clipInfoUniqueID</key>\n\t\t<string>CLIP-News</string>\n"
                               "\t\t<key>clipInfoValidationStatus</key>\n\t\t<integer>0</integer>\n"
                               "\t\t<key>clipInfoVideoCodecDescription</key>\n\t\t<string></string>\n"
                               "\t</dict>\n"
                               "\t<key>Document Settings</key>\n"
                               "\t<dict>\n"
                               "\t\t<key>ABRoll</key>\n\t\t<false/>\n"
                               "\t\t<key>Chain</key>\n\t\t<true/>\n"
                               "\t\t<key>Cue</key>\n\t\t<false/>\n"
                               "\t\t<key>Loop</key>\n\t\t<false/>\n"
                               "\t\t<key>NodeAUniqueID</key>\n\t\t<string>NODE-A</string>\n"
                               "\t\t<key>NodeNameA</key>\n\t\t<string>Studio A</string>\n"
                               "\t\t<key>PlaylistUniqueID</key>\n\t\t<string>PLAYLIST-1</string>\n"
                               "\t\t<key>WindowFrameOriginX</key>\n\t\t<real>10</real>\n"
                               "\t\t<key>WindowFrameOriginY</key>\n\t\t<real>20</real>\n"
                               "\t\t<key>WindowFrameSizeHeight</key>\n\t\t<real>600.5</real>\n"
                               "\t\t<key>WindowFrameSizeWidth</key>\n\t\t<real>800</real>\n"
                               "\t\t<key>absoluteStartTime</key>\n\t\t<real>3600</real>\n"
                               "\t</dict>\n"
                               "</dict>\n"
                               "</plist>\n";
  EXPECT_EQ(*data, expected);
  EXPECT_EQ(document_.windowFrame(), *window_.frame);  // the frame at saving is kept

  EXPECT_TRUE(document_.dataOfType("Other").error().is(kPlaylistDocumentErrorDomain,
                                                       PlaylistDocumentErrorCode::WrongDocumentType));
}

TEST_F(VideoPlaylistDocumentTest, ReadsBackWhatItWrote) {
  addRows(document_, {makeRow("One", 10.0, "Chain"), makeRow("Two", 4.0, "Loop")});
  document_.setLoop(true);
  document_.setCueMode(true);
  document_.setAbRoll(true);
  document_.setNodeBName("Studio B");
  document_.setNodeBUniqueID("NODE-B");
  document_.setAbsoluteStartTime(45296.0);
  document_.setWindowFrame(WindowFrame{-12.0, 30.5, 1024.0, 700.25});
  const auto path = folder_ / "show.playlist";
  ASSERT_TRUE(document_.writeToURL(path, kType, VideoPlaylistDocument::SaveOperation::Save).ok());
  EXPECT_FALSE(document_.isDocumentEdited());

  document_.setDelegate(nullptr);  // read without a window: the frame comes from the file
  VideoPlaylistDocument read;
  ASSERT_TRUE(read.readFromURL(path, kType).ok());
  EXPECT_FALSE(read.wasReadWithLosses());
  EXPECT_FALSE(read.needDefaultValues());
  EXPECT_FALSE(read.isDocumentEdited());
  EXPECT_EQ(read.fileURL(), path);
  EXPECT_EQ(read.settingsDictionary(), document_.settingsDictionary());
  ASSERT_EQ(read.clipCount(), 2u);
  for (std::size_t i = 0; i < 2; ++i)
    EXPECT_EQ(read.playlist()[i]->dictionary(), document_.playlist()[i]->dictionary());
  EXPECT_EQ(read.playlistDurationInSeconds(), 14.0);  // start times are computed after reading
  EXPECT_EQ(read.playlist()[1]->relativeStartTimeInSeconds(), 45306.0);

  // A plain save writes the same file again, byte for byte.
  const std::string first = readBytes(path);
  ASSERT_TRUE(read.writeToURL(path, kType, VideoPlaylistDocument::SaveOperation::Save).ok());
  EXPECT_EQ(readBytes(path), first);
}

TEST_F(VideoPlaylistDocumentTest, SaveAsRenewsThePlaylistAndPlaybackIDsOnlyWhenItWrites) {
  addRows(document_, {makeRow("One", 10.0), makeRow("Two", 10.0)});
  const std::string playlistID = document_.uniqueID();
  const auto original = folder_ / "original.playlist";
  ASSERT_TRUE(document_.writeToURL(original, kType, VideoPlaylistDocument::SaveOperation::Save).ok());
  EXPECT_EQ(document_.uniqueID(), playlistID);
  EXPECT_EQ(document_.playlist()[0]->playbackUniqueID(), "PLAY-One");

  // A Save As that cannot write leaves the identities the nodes know.
  EXPECT_FALSE(
      document_.writeToURL(folder_ / "missing" / "copy.playlist", kType, VideoPlaylistDocument::SaveOperation::SaveAs)
          .ok());
  EXPECT_EQ(document_.uniqueID(), playlistID);
  EXPECT_EQ(document_.playlist()[1]->playbackUniqueID(), "PLAY-Two");
  EXPECT_EQ(document_.fileURL(), original);

  const auto copy = folder_ / "copy.playlist";
  ASSERT_TRUE(document_.writeToURL(copy, kType, VideoPlaylistDocument::SaveOperation::SaveAs).ok());
  EXPECT_NE(document_.uniqueID(), playlistID);
  EXPECT_EQ(document_.fileURL(), copy);
  VideoPlaylistDocument written;
  ASSERT_TRUE(written.readFromURL(copy, kType).ok());
  EXPECT_EQ(written.uniqueID(), document_.uniqueID());
  std::set<std::string> ids;
  for (const auto& row : written.playlist()) ids.insert(row->playbackUniqueID().value_or(""));
  EXPECT_EQ(ids.size(), 2u);
  EXPECT_FALSE(ids.contains("PLAY-One"));
  EXPECT_FALSE(ids.contains("PLAY-Two"));
  EXPECT_EQ(written.playlist()[0]->uniqueID(), "CLIP-One");  // the clip stays the same clip

  VideoPlaylistDocument old;
  ASSERT_TRUE(old.readFromURL(original, kType).ok());
  EXPECT_EQ(old.uniqueID(), playlistID);
  EXPECT_EQ(old.playlist()[0]->playbackUniqueID(), "PLAY-One");
}

TEST_F(VideoPlaylistDocumentTest, ReadsWhatIsLeftOfATruncatedFileAndWillNotOverwriteItUnasked) {
  const auto path = folder_ / "cut.playlist";
  const std::string whole = savedDocument(path, 12);
  // Entries are written in key order: Clip 0, 1, 10, 11, 2, ...; cut inside "Clip 2".
  const std::string cut = whole.substr(0, whole.find("<string>PLAY-R2</string>"));
  writeBytes(path, cut);

  ASSERT_TRUE(document_.readFromURL(path, kType).ok());
  EXPECT_EQ(namesOf(document_), (Names{"R0", "R1", "R10", "R11"}));
  ASSERT_TRUE(document_.wasReadWithLosses());
  const platform::Error& losses = *document_.readLosses();
  EXPECT_TRUE(losses.is(kPlaylistDocumentErrorDomain, PlaylistDocumentErrorCode::ReadWithLosses));
  const platform::Array* skipped = losses.userInfo.at(kPlaylistDocumentSkippedKey).array();
  ASSERT_NE(skipped, nullptr);
  const std::string all = losses.localizedDescription;
  EXPECT_NE(all.find("cut short inside the entry \"Clip 2\""), std::string::npos) << all;
  EXPECT_NE(all.find("\"Clip 2\" to \"Clip 9\""), std::string::npos) << all;
  EXPECT_NE(all.find("Document Settings"), std::string::npos) << all;
  EXPECT_EQ(skipped->size(), 3u) << all;
  EXPECT_EQ(consoleLinesWith("read with parts left out"), 1u);
  EXPECT_EQ(readBytes(path), cut);  // reading never writes

  platform::Status refused = document_.writeToURL(path, kType, VideoPlaylistDocument::SaveOperation::Save);
  EXPECT_TRUE(refused.error().is(kPlaylistDocumentErrorDomain, PlaylistDocumentErrorCode::SaveNeedsConfirmation));
  EXPECT_EQ(readBytes(path), cut);
  // Elsewhere the damaged original stays as it is: no confirmation needed.
  const auto elsewhere = folder_ / "rescued.playlist";
  EXPECT_FALSE(document_.saveNeedsConfirmation(elsewhere));
  ASSERT_TRUE(document_.writeToURL(elsewhere, kType, VideoPlaylistDocument::SaveOperation::SaveAs).ok());
  EXPECT_FALSE(document_.wasReadWithLosses());

  VideoPlaylistDocument again;
  ASSERT_TRUE(again.readFromURL(path, kType).ok());
  ASSERT_TRUE(again
                  .writeToURL(path, kType, VideoPlaylistDocument::SaveOperation::Save,
                              VideoPlaylistDocument::SaveConfirmation::Confirmed)
                  .ok());
  EXPECT_NE(readBytes(path), cut);
  EXPECT_FALSE(again.wasReadWithLosses());
}

TEST_F(VideoPlaylistDocumentTest, LeavesOutAnUnreadableEntryAndReadsThoseAfterIt) {
  const auto path = folder_ / "damaged.playlist";
  std::string text = savedDocument(path, 3);
  const std::size_t clip1 = text.find("<key>Clip 1</key>");
  const std::size_t number = text.find("<integer>-1</integer>", clip1);
  text.replace(number, 21, "<integer>minus one</integer>");

  ASSERT_TRUE(document_.readFromData(text, kType).ok());
  EXPECT_EQ(namesOf(document_), (Names{"R0", "R2"}));
  EXPECT_TRUE(document_.chain());  // the settings after the damage are read
  const std::string losses = document_.readLosses()->localizedDescription;
  EXPECT_NE(losses.find("\"Clip 1\" cannot be read"), std::string::npos) << losses;
  EXPECT_NE(losses.find("no entry \"Clip 1\""), std::string::npos) << losses;
}

TEST_F(VideoPlaylistDocumentTest, ReadsAFileCutAnywhereWithoutFault) {
  const std::string whole = savedDocument(folder_ / "whole.playlist", 3);
  for (std::size_t length = 0; length < whole.size(); length += 37) {
    VideoPlaylistDocument document;
    platform::Status status = document.readFromData(whole.substr(0, length), kType);
    if (status.ok()) {
      // Once the root's end tag has begun, every entry is whole.
      const bool wholeRoot = length >= whole.rfind("</dict>") + 2;
      EXPECT_EQ(document.wasReadWithLosses(), !wholeRoot) << "cut at " << length;
      EXPECT_LE(document.clipCount(), 3u) << "cut at " << length;
    } else {
      EXPECT_TRUE(status.error().is(kPlaylistDocumentErrorDomain, PlaylistDocumentErrorCode::Unreadable));
    }
  }
}

TEST_F(VideoPlaylistDocumentTest, ReadsEveryRowAcrossAGapInTheNumbering) {
  Dictionary root{{"Document Settings", Dictionary{{"PlaylistUniqueID", Value("P")}}}};
  for (int index : {0, 1, 3, 7}) {
    root.emplace("Clip " + std::to_string(index), makeRow("R" + std::to_string(index), 5.0)->dictionary());
  }
  ASSERT_TRUE(document_.readFromData(plistText(root), kType).ok());
  EXPECT_EQ(namesOf(document_), (Names{"R0", "R1", "R3", "R7"}));
  ASSERT_TRUE(document_.wasReadWithLosses());
  const std::string text = document_.readLosses()->localizedDescription;
  EXPECT_NE(text.find("no entry \"Clip 2\""), std::string::npos) << text;
  EXPECT_NE(text.find("no entries \"Clip 4\" to \"Clip 6\""), std::string::npos) << text;
  EXPECT_TRUE(document_.saveNeedsConfirmation(folder_ / "any.playlist"));  // no file known: every save asks
}

TEST_F(VideoPlaylistDocumentTest, LeavesOutEntriesOfTheWrongTypeAndKeepsTheRest) {
  Dictionary badRow = makeRow("Bad", 5.0)->dictionary();
  badRow[clipinfo::kInPointInSeconds] = Value("soon");
  badRow[clipinfo::kHasInPoint] = Value(true);
  Dictionary root{
      {"Document Settings", Dictionary{{"PlaylistUniqueID", Value("P")},
                                       {"Loop", Value("YES")},
                                       {"Chain", Value(false)},
                                       {"absoluteStartTime", Value(-5.0)},
                                       {"NodeAUniqueID", Value(std::int64_t{7})}}},
      {"Clip 0", makeRow("Good", 5.0)->dictionary()},
      {"Clip 1", Value("not a clip")},
      {"Clip 2", badRow},
      {"Clip 02", makeRow("Odd", 5.0)->dictionary()},
  };
  ASSERT_TRUE(document_.readFromData(plistText(root), kType).ok());
  EXPECT_EQ(namesOf(document_), (Names{"Good", "Bad"}));
  EXPECT_FALSE(document_.loop());
  EXPECT_FALSE(document_.chain());  // sound keys beside refused ones are read
  EXPECT_EQ(document_.absoluteStartTime(), 0.0);
  EXPECT_EQ(document_.nodeAUniqueID(), std::nullopt);
  const std::string text = document_.readLosses()->localizedDescription;
  for (const char* expected : {"\"Loop\"", "\"absoluteStartTime\"", "\"NodeAUniqueID\"", "\"Clip 1\" is left out",
                               "\"Clip 2\"", "clipInfoInPointInSeconds", "\"Clip 02\" is not part of a playlist"}) {
    EXPECT_NE(text.find(expected), std::string::npos) << expected << " in " << text;
  }
}

TEST_F(VideoPlaylistDocumentTest, RefusesWhatIsNoPlaylistAndKeepsTheDocument) {
  addRows(document_, {makeRow("Kept", 5.0)});
  const std::string list = plistText({{"Document Settings", Dictionary{}}});
  struct Case {
    std::string data;
    std::string type;
    PlaylistDocumentErrorCode code;
  } cases[] = {
      {"not a property list", kType, PlaylistDocumentErrorCode::Unreadable},
      {"<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>x</string></array></plist>", kType,
       PlaylistDocumentErrorCode::Unreadable},
      {"<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Clip 0</key><dict>", kType,
       PlaylistDocumentErrorCode::Unreadable},
      {list, "OtherDocument", PlaylistDocumentErrorCode::WrongDocumentType},
  };
  for (const Case& c : cases) {
    platform::Status status = document_.readFromData(c.data, c.type);
    ASSERT_FALSE(status.ok()) << c.data;
    EXPECT_TRUE(status.error().is(kPlaylistDocumentErrorDomain, c.code)) << c.data << ": " << status.error().describe();
  }
  EXPECT_EQ(namesOf(document_), Names{"Kept"});
  EXPECT_TRUE(document_.needDefaultValues());
}

TEST_F(VideoPlaylistDocumentTest, ConvertsALegacyPlaylistForTheDefaultNodeA) {
  FakeCatalogue catalogue;
  catalogue.legacyRows = {makeRow("Old", 8.0)};
  document_.setDataSource(&catalogue);
  defaults_.setObject(Value("NODE-DEFAULT"), kDefaultNodeAUniqueIDKey);
  const Dictionary root{{"Document Settings", Dictionary{{"Loop", Value(true)}}}, {"Clip 0", Dictionary{}}};

  ASSERT_TRUE(document_.readFromData(plistText(root), kType).ok());
  EXPECT_EQ(catalogue.legacyNode, "NODE-DEFAULT");
  EXPECT_EQ(catalogue.legacyRootKeys, 2u);
  EXPECT_EQ(document_.nodeAUniqueID(), "NODE-DEFAULT");
  EXPECT_TRUE(document_.loop());
  EXPECT_EQ(namesOf(document_), Names{"Old"});
  EXPECT_EQ(document_.playlistDurationInSeconds(), 8.0);
  EXPECT_FALSE(document_.wasReadWithLosses());
}

// ---- Timing ----

struct TimingCase {
  const char* name;
  bool chain;
  double absoluteStartTime;
  std::vector<std::pair<double, std::optional<std::string>>> rows;  // duration, end behaviour
  std::vector<double> starts;
  std::vector<double> blocks;
};

class StartTimeTable : public VideoPlaylistDocumentTest, public ::testing::WithParamInterface<TimingCase> {};

TEST_P(StartTimeTable, ComputesStartTimesBlocksAndDuration) {
  const TimingCase& c = GetParam();
  document_.setChain(c.chain);
  document_.setAbsoluteStartTime(c.absoluteStartTime);
  double total = 0.0;
  for (std::size_t i = 0; i < c.rows.size(); ++i) {
    document_.setPlaylist([&] {
      auto rows = document_.playlist();
      rows.push_back(makeRow("R" + std::to_string(i), c.rows[i].first, c.rows[i].second));
      return rows;
    }());
    total += c.rows[i].first;
  }
  const int updatesBefore = window_.tableUpdates;
  document_.updatePlaylistMovieAndStartTimes();
  EXPECT_EQ(window_.tableUpdates, updatesBefore + 1);
  std::vector<double> starts;
  std::vector<double> blocks;
  for (const auto& row : document_.playlist()) {
    starts.push_back(row->relativeStartTimeInSeconds());
    blocks.push_back(row->blockDurationInSeconds());
  }
  EXPECT_EQ(starts, c.starts);
  EXPECT_EQ(blocks, c.blocks);
  EXPECT_EQ(document_.playlistDurationInSeconds(), total);
}

const std::string kNormal = kClipEndBehaviourNormal;
const std::string kChain = kClipEndBehaviourChain;
INSTANTIATE_TEST_SUITE_P(
    Rows, StartTimeTable,
    ::testing::Values(
        TimingCase{"ChainModeNormalRowsAreOneBlock",
                   true,
                   0.0,
                   {{10, kNormal}, {20, kNormal}, {30, kNormal}},
                   {0, 10, 30},
                   {60, 60, 60}},
        TimingCase{"ChainModeRowsWithoutEndBehaviourChain", true, 0.0, {{10, {}}, {20, {}}}, {0, 10}, {30, 30}},
        TimingCase{"WithoutChainModeEachNormalRowIsABlock", false, 0.0, {{10, kNormal}, {20, {}}}, {0, 0}, {10, 20}},
        TimingCase{"WithoutChainModeAChainRowJoinsTheNext",
                   false,
                   0.0,
                   {{10, kNormal}, {20, kChain}, {30, kNormal}},
                   {0, 0, 20},
                   {10, 50, 50}},
        TimingCase{"LoopStopAndHoldEndABlock",
                   true,
                   0.0,
                   {{10, kNormal}, {20, "Loop"}, {5, "Stop At End"}, {7, "Hold Last Frame"}, {3, kNormal}},
                   {0, 10, 0, 0, 0},
                   {30, 30, 5, 7, 3}},
        TimingCase{"AbsoluteStartWrapsPastMidnight",
                   true,
                   82800.0,
                   {{3600, {}}, {3600, {}}, {3600, {}}},
                   {82800, 86400, 3600},
                   {10800, 10800, 10800}},
        TimingCase{"AbsoluteStartRunsOnAcrossBlocks",
                   false,
                   82800.0,
                   {{3600, {}}, {3600, {}}, {3600, {}}},
                   {82800, 86400, 3600},
                   {3600, 3600, 3600}}),
    [](const ::testing::TestParamInfo<TimingCase>& info) { return std::string(info.param.name); });

TEST_F(VideoPlaylistDocumentTest, FindsThePlaylistStartForAStartTimeAtTheClickedRow) {
  addRows(document_, {makeRow("One", 3600.0), makeRow("Two", 1800.0), makeRow("Three", 60.0)});
  window_.clickedRow = 2;
  EXPECT_EQ(document_.playlistAbsoluteStartTimeWithStartTime(7200.0), 1800.0);
  EXPECT_EQ(document_.playlistAbsoluteStartTimeWithStartTime(3600.0), 84600.0);  // the day before
  EXPECT_EQ(document_.playlistAbsoluteStartTimeWithStartTime(0.0), 0.0);
  window_.clickedRow = 0;
  EXPECT_EQ(document_.playlistAbsoluteStartTimeWithStartTime(3600.0), 3600.0);
}

// ---- A/B roll ----

struct ABCase {
  const char* name;
  bool abRoll;
  std::optional<std::string> nodeB;
  std::vector<std::optional<std::string>> endBehaviours;
  Positions positions;
};

class ABRollTable : public VideoPlaylistDocumentTest, public ::testing::WithParamInterface<ABCase> {};

TEST_P(ABRollTable, AssignsRowsToNodes) {
  const ABCase& c = GetParam();
  document_.setAbRoll(c.abRoll);
  document_.setNodeAUniqueID("NODE-A");
  document_.setNodeBUniqueID(c.nodeB);
  VideoPlaylistDocument::Rows rows;
  for (std::size_t i = 0; i < c.endBehaviours.size(); ++i) {
    rows.push_back(makeRow("R" + std::to_string(i), 10.0, c.endBehaviours[i]));
    rows.back()->setAbRollClipPosition(B);  // whatever it was before
  }
  document_.setPlaylist(rows);
  document_.updateBubbleDirections();
  Positions positions;
  for (const auto& row : document_.playlist()) positions.push_back(row->abRollClipPosition());
  EXPECT_EQ(positions, c.positions);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ABRollTable,
    ::testing::Values(ABCase{"NormalRowsAlternate", true, "NODE-B", {kNormal, kChain, kNormal, kNormal}, {A, B, B, A}},
                      ABCase{"ChainedRowsStayOnTheirNode", true, "NODE-B", {kChain, kChain, "Loop", {}}, {A, A, A, B}},
                      ABCase{"WithoutNodeBEveryRowIsUnassigned", true, std::nullopt, {kNormal, kNormal}, {None, None}},
                      ABCase{"NoneNodeBIsNoNodeB", true, "<None>", {kNormal, kNormal}, {None, None}},
                      ABCase{"WithoutABRollEveryRowIsUnassigned", false, "NODE-B", {kNormal, kNormal}, {None, None}}),
    [](const ::testing::TestParamInfo<ABCase>& info) { return std::string(info.param.name); });

TEST_F(VideoPlaylistDocumentTest, SendingToNodeBTakesNodeBsDirtyFlag) {
  document_.setAbRoll(true);
  document_.setNodeAUniqueID("NODE-A");
  document_.setNodeBUniqueID("NODE-B");
  addRows(document_, {makeRow("One", 10.0, kNormal), makeRow("Two", 10.0, kNormal)});
  document_.setDirtyOnNodeA(true);
  document_.setDirtyOnNodeB(true);

  EXPECT_EQ(document_.nodeForStartClip(std::nullopt), PlaylistNode::A);
  EXPECT_EQ(document_.nodeForStartClip("PLAY-Two"), PlaylistNode::B);
  EXPECT_EQ(document_.nodeForStartClip("PLAY-Elsewhere"), std::nullopt);
  EXPECT_TRUE(document_.takeDirtyFlag(PlaylistNode::B));
  EXPECT_FALSE(document_.dirtyOnNodeB());
  EXPECT_TRUE(document_.dirtyOnNodeA());  // node A still has to be sent its copy
  EXPECT_FALSE(document_.takeDirtyFlag(PlaylistNode::B));
  EXPECT_TRUE(document_.takeDirtyFlag(PlaylistNode::A));

  document_.setAbRoll(false);
  EXPECT_EQ(document_.nodeForStartClip("PLAY-Two"), PlaylistNode::A);
}

TEST_F(VideoPlaylistDocumentTest, RefreshesRowsFromTheirNodesCatalogue) {
  FakeCatalogue catalogue;
  document_.setDataSource(&catalogue);
  document_.setAbRoll(true);
  document_.setNodeAUniqueID("NODE-A");
  document_.setNodeBUniqueID("NODE-B");
  auto found = makeRow("Found", 10.0, kNormal);
  auto moved = makeRow("Moved", 10.0, kNormal);
  auto gone = makeRow("Gone", 10.0, kNormal);
  document_.setPlaylist({found, moved, gone});  // positions A, B, A

  auto foundClip = makeRow("Found", 10.0);
  foundClip->update([](PlaylistItemFields& f) {
    f.finderLabelName = "Red";
    f.uniqueID = "CATALOGUE-1";
  });
  auto movedClip = makeRow("Moved", 10.0);  // on node B at another path, found by its media item ID
  movedClip->update([](PlaylistItemFields& f) {
    f.nodeUniqueID = "NODE-B";
    f.nodeName = "Studio B";
    f.absolutePathToMediaItem = "/other/Moved.mov";
    f.online = false;
  });
  catalogue.clips = {foundClip, movedClip};

  document_.updateBubbleDirections();
  EXPECT_EQ(found->finderLabelName(), "Red");
  EXPECT_EQ(found->uniqueID(), "CATALOGUE-1");
  EXPECT_EQ(found->playbackUniqueID(), "PLAY-Found");  // the entry keeps its own identity
  EXPECT_EQ(moved->nodeName(), "Studio B");
  EXPECT_EQ(moved->absolutePathToMediaItem(), "/other/Moved.mov");
  EXPECT_FALSE(moved->online());
  EXPECT_FALSE(gone->online());
  // Thumbnails at the middle of what the row plays (no in point: from 0), the
  // position the window matches replies by.
  EXPECT_EQ(catalogue.thumbnailRequests,
            (std::vector<std::string>{"MEDIA-Found@NODE-A@5.000000", "MEDIA-Moved@NODE-B@5.000000"}));
}

// ---- Queries ----

TEST_F(VideoPlaylistDocumentTest, AnswersTheIndexQueriesOfWindowAndDataSource) {
  auto one = makeRow("One", 10.0, kNormal);
  auto two = makeRow("Two", 10.0, kChain);
  auto three = makeRow("Three", 10.0, kNormal);
  auto offline = makeRow("Offline", 10.0, kNormal);
  offline->setOnline(false);
  document_.setPlaylist({one, two, three, offline});
  document_.setNodeAUniqueID("NODE-A");
  document_.setNodeBUniqueID("NODE-B");

  EXPECT_EQ(document_.clipIndexWithUniqueID("PLAY-Three"), 2);
  EXPECT_EQ(document_.clipIndexWithUniqueID("PLAY-None"), kNoClipIndex);
  EXPECT_EQ(document_.clipIndexWithMediaItemUniqueID("MEDIA-Two"), 1);
  EXPECT_EQ(document_.nextClipIndexAfterIndex(kNoClipIndex, "NODE-A"), 0);
  EXPECT_EQ(document_.nextClipIndexAfterIndex(2, "NODE-A"), kNoClipIndex);  // the last row is offline
  EXPECT_EQ(document_.nextClipAfterIndex(0, "NODE-A"), two);
  // Row 2 follows a "Chain" row and so starts no block.
  EXPECT_EQ(document_.previousClipIndexBeforeIndex(4, "NODE-A"), 1);
  EXPECT_EQ(document_.previousClipBeforeIndex(1, "NODE-A"), one);
  EXPECT_EQ(document_.previousClipIndexBeforeIndex(0, "NODE-A"), kNoClipIndex);

  one->setPlaybackStatus(kPlaybackStatusEndedOrWaiting);
  three->setPlaybackStatus(kPlaybackStatusEndedOrWaiting);
  three->setAbRollClipPosition(B);
  two->setPlaybackStatus(kPlaybackStatusEndedOrWaiting);
  EXPECT_EQ(document_.holdLastFrameClipIndexForNodeUniqueID("NODE-A"), 2);
  two->setAbRollClipPosition(B);
  three->setAbRollClipPosition(A);
  EXPECT_EQ(document_.holdLastFrameClipIndexForNodeUniqueID("NODE-B"), 1);
  EXPECT_EQ(document_.holdLastFrameClipIndexForNodeUniqueID("NODE-C"), kNoClipIndex);

  EXPECT_EQ(document_.playlistItemAccessorForClipAtIndex(1).playlistItem(), two);
  EXPECT_EQ(document_.playlistItemAccessor().playlistItem(), two);
  EXPECT_EQ(document_.playlistItemAccessorForClipAtIndex(9).playlistItem(), nullptr);

  for (auto [word, status] : std::vector<std::pair<const char*, int>>{
           {"PLAYING", 3}, {"PAUSED", 1}, {"CUED", 2}, {"STOPPED", 0}, {"NOT_INITIALIZED", 0}, {"playing", 0}}) {
    EXPECT_EQ(VideoPlaylistDocument::statusWithString(word), status) << word;
  }
  EXPECT_EQ(VideoPlaylistDocument::preferenceNameForLabel(7), "Gray");
  EXPECT_EQ(VideoPlaylistDocument::preferenceNameForLabel(8), "");
  platform::UserDefaults labels{std::filesystem::path()};
  labels.setObject(Value("Urgent"), "Label_Name_1");
  EXPECT_EQ(VideoPlaylistDocument::preferenceNameForLabel(1, &labels), "Urgent");
}

TEST_F(VideoPlaylistDocumentTest, TakesTheDefaultNodesForItsWindow) {
  defaults_.setObject(Value("<None>"), kDefaultNodeAUniqueIDKey);
  defaults_.setObject(Value("<None>"), kDefaultNodeBUniqueIDKey);
  document_.adoptDefaultNodes(defaults_);
  EXPECT_EQ(document_.nodeAUniqueID(), "<None>");
  EXPECT_EQ(document_.nodeBUniqueID(), std::nullopt);
  defaults_.setObject(Value("NODE-B"), kDefaultNodeBUniqueIDKey);
  document_.setNodeAUniqueID("NODE-A");
  document_.adoptDefaultNodes(defaults_);
  EXPECT_EQ(document_.nodeAUniqueID(), "NODE-A");
  EXPECT_EQ(document_.nodeBUniqueID(), "NODE-B");
}

// ---- Modes and scripts ----

TEST_F(VideoPlaylistDocumentTest, ModeSettersNotifyAndMarkChangesOnlyWithRows) {
  std::vector<std::string> heard;
  auto token = document_.observeKey(
      "loop", [&](const Value& old, const Value& now) { heard.push_back(old.describe() + "->" + now.describe()); });
  document_.setLoop(true);
  EXPECT_FALSE(document_.isDocumentEdited());  // no rows yet
  document_.setPlaylist({makeRow("One", 1.0)});
  document_.setLoop(true);  // unchanged
  EXPECT_FALSE(document_.isDocumentEdited());
  document_.setLoop(false);
  EXPECT_TRUE(document_.isDocumentEdited());
  EXPECT_EQ(heard.size(), 2u);
}

TEST_F(VideoPlaylistDocumentTest, ScriptCommandsReachTheWindow) {
  document_.handlePushPlaybackButton();
  document_.handleStartPlayback();
  document_.handlePausePlayback();
  document_.handleStopPlayback();
  EXPECT_EQ(window_.pressed, (std::vector<std::string>{"play", "play", "pause", "stop"}));
  EXPECT_EQ(diagnostics_.count(kScriptStopMessage), 1u);

  EXPECT_EQ(document_.asPlayingClipIndex(), 0);
  window_.playing = true;
  window_.playingIndex = 0;
  EXPECT_TRUE(document_.asIsPlaying());
  EXPECT_EQ(document_.asPlayingClipIndex(), 1);
  EXPECT_EQ(document_.asElapsedTime(), 12.5);
  EXPECT_EQ(document_.asRemainingTime(), 7.5);

  document_.setDelegate(nullptr);
  document_.handlePushPlaybackButton();  // no window: nothing to press
  EXPECT_FALSE(document_.asIsPlaying());
  EXPECT_EQ(document_.asPlayingClipIndex(), 0);
}

// ---- Editing ----

TEST_F(VideoPlaylistDocumentTest, UndoesAndRedoesInsertRemoveMoveAndEdit) {
  platform::UndoManager& undo = document_.undoManager();
  auto one = makeRow("One", 10.0);
  addRows(document_, {one, makeRow("Two", 20.0), makeRow("Three", 30.0)});
  EXPECT_EQ(undo.undoActionName(), kUndoActionAdd);
  ASSERT_TRUE(document_.removeClipAtIndex(1));
  EXPECT_EQ(undo.undoActionName(), kUndoActionDelete);
  ASSERT_TRUE(document_.moveClip(0, 1));
  EXPECT_EQ(undo.undoActionName(), kUndoActionMove);
  ASSERT_TRUE(document_.editClipAtIndex(
      1, [](PlaylistItemFields& f) { f.inPointInSeconds = 4.0; }, "Mark In"));
  ASSERT_TRUE(document_.replaceClipAtIndex(0, makeRow("Four", 5.0)));
  EXPECT_EQ(namesOf(document_), (Names{"Four", "One"}));
  EXPECT_EQ(one->durationInSeconds(), 6.0);
  EXPECT_EQ(document_.playlistDurationInSeconds(), 11.0);

  // The row plays meanwhile: undoing the edit leaves that alone.
  one->setPlaybackStatus(kPlaybackStatusPlaying);
  const std::vector<std::pair<std::string, Names>> steps = {
      {"Replace", {"Three", "One"}},
      {"Mark In", {"Three", "One"}},
      {"Move Clip", {"One", "Three"}},
      {"Delete/Cut", {"One", "Two", "Three"}},
  };
  for (const auto& [name, names] : steps) {
    EXPECT_EQ(undo.undoActionName(), name);
    undo.undo();
    EXPECT_EQ(namesOf(document_), names) << "after undoing " << name;
  }
  EXPECT_EQ(one->inPointInSeconds(), kNoPoint);
  EXPECT_EQ(one->playbackStatus(), kPlaybackStatusPlaying);
  EXPECT_EQ(document_.playlistDurationInSeconds(), 60.0);  // start times follow every undo

  for (std::size_t i = 0; i < steps.size(); ++i) undo.redo();
  EXPECT_EQ(namesOf(document_), (Names{"Four", "One"}));
  EXPECT_EQ(one->inPointInSeconds(), 4.0);
  EXPECT_EQ(undo.redoMenuItemTitle(), "Redo");

  EXPECT_FALSE(document_.removeClipAtIndex(5));
  EXPECT_FALSE(document_.moveClip(0, 2));
  EXPECT_FALSE(document_.insertClip(makeRow("Far", 1.0), 3));
  EXPECT_EQ(undo.undoActionName(), kUndoActionReplace);  // refused edits leave no history
}

TEST_F(VideoPlaylistDocumentTest, UndoingEveryEditLeavesTheDocumentUnedited) {
  std::vector<bool> edited;
  auto token = document_.observeKey("documentEdited",
                                    [&](const Value&, const Value& now) { edited.push_back(now.booleanOr(false)); });
  addRows(document_, {makeRow("One", 1.0), makeRow("Two", 1.0)});
  EXPECT_TRUE(document_.isDocumentEdited());
  document_.undoManager().undo();
  document_.undoManager().undo();
  EXPECT_FALSE(document_.isDocumentEdited());
  document_.undoManager().redo();
  EXPECT_TRUE(document_.isDocumentEdited());
  EXPECT_EQ(edited, (std::vector<bool>{true, false, true}));
}

TEST_F(VideoPlaylistDocumentTest, OneUndoOfAGroupedActionLeavesTheDocumentUnedited) {
  // A paste of three rows is one action: one undo takes the document back
  // to unedited, and the next action counts again.
  for (int round = 0; round < 2; ++round) {
    document_.undoManager().beginUndoGrouping();
    for (const char* name : {"One", "Two", "Three"}) {
      ASSERT_TRUE(document_.insertClip(makeRow(name, 1.0), document_.clipCount()));
    }
    document_.undoManager().endUndoGrouping();
    EXPECT_TRUE(document_.isDocumentEdited());
    document_.undoManager().undo();
    EXPECT_FALSE(document_.isDocumentEdited()) << "round " << round;
    EXPECT_EQ(document_.clipCount(), 0u);
  }
}

}  // namespace
}  // namespace nodes
