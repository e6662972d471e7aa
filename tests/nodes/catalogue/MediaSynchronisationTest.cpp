// Media synchronisation: media folders, media items, their change lists and
// the clip attributes, against a scripted node (the steps run on the test
// thread, standing in for the polling thread) and against the stand-in node
// through the real polling thread and the catalogue.

#include "nodes/catalogue/MediaSynchronisation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/AlertPresenter.h"
#include "foundation/RecordingAlertPresenter.h"
#include "nodes/link/NodeConnection.h"
#include "nodes/catalogue/PseudoServerDataSource.h"
#include "platform/Clock.h"
#include "platform/DispatchQueue.h"
#include "platform/PropertyList.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"
#include "tests/nodes/catalogue/StandinCatalogue.h"
#include "tests/nodes/ScriptedNodeServer.h"
#include "tests/support/CapturedDiagnostics.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace nodes {
namespace {

using platform::Array;
using platform::Dictionary;
using platform::Value;
using testing_support::runMainLoopUntil;
using testing_support::ScriptedNodeServer;
using Reply = ScriptedNodeServer::Reply;
using Lines = std::vector<std::string>;

std::string plist(const Value& value) { return platform::writePropertyList(value).value(); }

const std::string kBrokenPropertyList =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<array><dict><key>changeType</key>"
    "</array>\n</plist>\n";

Dictionary clipInfo(const std::string& name, double duration = 2.0) {
  return Dictionary{{"clipInfoRelativePathToMediaItem", Value(name)},
                    {"clipInfoAbsolutePathToMediaItem", Value("/media/F1/" + name)},
                    {"clipInfoDisplayName", Value(name)},
                    {"clipInfoDurationInSeconds", Value(duration)},
                    {"clipInfoFramesPerSecond", Value(25.0)},
                    {"clipInfoValidationStatus", Value(2)},
                    {"clipInfoMediaFolderPath", Value("/media/F1")}};
}

Dictionary change(const char* type, Value id, const char* idKey = "mediaItemUniqueID") {
  return Dictionary{{"changeType", Value(type)}, {idKey, std::move(id)}};
}

// What the scripted node holds; every reply is written from it. Replies are
// raw texts where a test wants to send something malformed.
struct FakeNode {
  std::string folderList = plist(Array{"F1"});
  std::string folderChangeNumber = "100";
  std::string itemList = plist(Array{"I1", "I2"});
  std::map<std::string, std::string> itemInfo{{"I1", plist(clipInfo("one.mov"))}, {"I2", plist(clipInfo("two.mov"))}};
  std::string folderChanges = plist(Array{});
  std::string attributeChangeNumber = "7";
  std::string attributeNames = plist(Array{"Clip End Behaviour", "Alpha Key"});
  std::map<std::string, std::string> attributeInfo{
      {"Clip End Behaviour", plist(Dictionary{{"attributeType", "MultipleValues"},
                                              {"attributePossibleValues", Array{"Stop", "Loop"}},
                                              {"attributeDirection", "Output"},
                                              {"attributeDisplayName", "End"},
                                              {"attributeDefaultValue", "Stop"},
                                              {"attributePluginName", "Player"}})},
      {"Alpha Key", plist(Dictionary{{"attributeType", "Boolean"},
                                     {"attributePossibleValues", Array{"On", "Off"}},
                                     {"attributeDirection", "Input"}})}};
  std::string attributeChanges = plist(Array{});

  Reply answer(const std::string& line) const {
    const auto argument = [&](std::string_view command) { return line.substr(command.size()); };
    const auto found = [](const std::map<std::string, std::string>& replies, const std::string& key) {
      const auto reply = replies.find(key);
      return Reply::text(reply == replies.end() ? "ERROR\r\n" : reply->second);
    };
    if (line == "version") return Reply::text("201\r\n");  // the test thread does the polling
    if (line == "fmmediafoldersuniqueids") return Reply::text(folderList);
    if (line.starts_with("fmmediafolderinfo ")) {
      return Reply::text(plist(Dictionary{{"absolutePath", "/media/" + argument("fmmediafolderinfo ")},
                                          {"caseSensitive", true}}));
    }
    if (line.starts_with("fmlastchangenumber ")) return Reply::text(folderChangeNumber + "\r\n");
    if (line.starts_with("fmmediaitemsuniqueids ")) return Reply::text(itemList);
    if (line.starts_with("fmmediaiteminfo F1 ")) return found(itemInfo, argument("fmmediaiteminfo F1 "));
    if (line.starts_with("fmmediaitemschangessince ")) return Reply::text(folderChanges);
    if (line == "atlastchangenumber") return Reply::text(attributeChangeNumber + "\r\n");
    if (line == "atattributenames") return Reply::text(attributeNames);
    if (line.starts_with("atattributeinfo ")) return found(attributeInfo, argument("atattributeinfo "));
    if (line.starts_with("atattributechangessince ")) return Reply::text(attributeChanges);
    return Reply::text("ERROR\r\n");
  }
};

// Records what reaches the delegate; it must all arrive on the main thread.
class RecordingMediaDelegate : public NodeConnectionDelegate {
 public:
  void mediaFoldersDidChange(const NodeMediaFoldersInfo& info) override {
    onMain();
    folderReports.push_back(info);
  }
  void addOrUpdateClipsWithMediaItems(const std::vector<std::shared_ptr<MediaItem>>& items) override {
    onMain();
    batches.push_back(items);
  }
  void markClipsAsOfflineForMediaItemsUniqueIDs(const Array& items) override {
    onMain();
    offline.push_back(items);
  }
  void possibleClipAttributeDidChange(const Dictionary& info) override {
    onMain();
    attributeReports.push_back(info);
  }

  std::vector<NodeMediaFoldersInfo> folderReports;
  std::vector<std::vector<std::shared_ptr<MediaItem>>> batches;
  std::vector<Array> offline;
  std::vector<Dictionary> attributeReports;
  bool allOnMainThread = true;

 private:
  void onMain() { allOnMainThread = allOnMainThread && platform::isMainThread(); }
};

std::vector<std::string> ids(const std::vector<std::shared_ptr<MediaItem>>& items) {
  std::vector<std::string> result;
  for (const auto& item : items) result.push_back(item->uniqueID().value_or("?"));
  return result;
}

std::vector<std::string> names(const std::vector<std::shared_ptr<Attribute>>& attributes) {
  std::vector<std::string> result;
  for (const auto& attribute : attributes) result.push_back(attribute->name().value_or("?"));
  return result;
}

class MediaSynchronisationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    connection_ = NodeConnection::create(delegate_);
    connection_->setAddress("127.0.0.1");
    connection_->setPortNumber(std::to_string(server_.port()));
    connection_->startConnection();
    // The node answers "version" 201, so the polling thread ends at once and
    // the test thread sends the commands.
    ASSERT_TRUE(runMainLoopUntil(
        [&] { return connection_->isConnected() && server_.countLines("version") == 1 && !connection_->isRunning(); },
        "the link to open"));
    connection_->setNodeUniqueID("uid-1");
    connection_->setName("Studio A");
  }
  void TearDown() override { connection_->stopConnection(); }

  void editNode(const std::function<void(FakeNode&)>& edit) {
    std::lock_guard lock(mutex_);
    edit(node_);
  }
  std::shared_ptr<MediaFolder> folder() const { return connection_->mediaFolderWithUniqueID("F1"); }
  // Lines the node received from `first` on.
  Lines linesFrom(std::size_t first) const {
    const Lines all = server_.lines();
    return Lines(all.begin() + static_cast<std::ptrdiff_t>(std::min(first, all.size())), all.end());
  }
  // Runs the first check and lets its reports arrive.
  void synchroniseFolderOnce() {
    sync_.checkForMediaFolderChanges(*connection_);
    ASSERT_TRUE(runMainLoopUntil([&] { return delegate_->batches.size() == 1; }, "the first batch"));
    ASSERT_TRUE(folder()->initialized());
  }
  void drainMainQueue() {
    bool done = false;
    platform::DispatchQueue::main().async([&] { done = true; });
    ASSERT_TRUE(runMainLoopUntil([&] { return done; }, "the main queue to run empty"));
  }

  platform::ManualClock clock_;
  platform::ScopedClockOverride clockOverride_{clock_};
  testing_support::CapturedDiagnostics diagnostics_;
  std::mutex mutex_;
  FakeNode node_;  // guarded by mutex_
  ScriptedNodeServer server_{[this](const std::string& line) {
    std::lock_guard lock(mutex_);
    return node_.answer(line);
  }};
  std::shared_ptr<RecordingMediaDelegate> delegate_ = std::make_shared<RecordingMediaDelegate>();
  std::shared_ptr<NodeConnection> connection_;
  MediaSynchronisation sync_;
};

TEST_F(MediaSynchronisationTest, FirstCheckEnumeratesFetchesAndHandsTheFolderOverInOneBatch) {
  const std::size_t start = server_.lines().size();
  sync_.checkForMediaFolderChanges(*connection_);
  EXPECT_EQ(linesFrom(start), (Lines{"fmmediafoldersuniqueids", "fmmediafolderinfo F1", "fmlastchangenumber F1",
                                     "fmmediaitemsuniqueids F1", "fmmediaiteminfo F1 I1", "fmmediaiteminfo F1 I2",
                                     "fmlastchangenumber F1"}));
  // Posted, not called: the polling thread never waits for the main thread.
  EXPECT_TRUE(delegate_->batches.empty());
  ASSERT_TRUE(folder());
  EXPECT_TRUE(folder()->initialized());
  EXPECT_EQ(folder()->lastChangeNumber(), 100u);
  EXPECT_EQ(folder()->path(), "/media/F1");
  EXPECT_TRUE(folder()->caseSensitive());
  EXPECT_EQ(folder()->mediaItemsCount() + folder()->mediaItemsToSaveCount(), 0u);

  ASSERT_TRUE(runMainLoopUntil([&] { return delegate_->batches.size() == 1 && delegate_->folderReports.size() == 2; },
                               "the reports"));
  EXPECT_TRUE(delegate_->allOnMainThread);
  const auto& batch = delegate_->batches.front();
  ASSERT_EQ(ids(batch), (std::vector<std::string>{"I1", "I2"}));
  const MediaItemInfo first = batch.front()->info();
  EXPECT_EQ(first.absolutePath, "/media/F1/one.mov");
  EXPECT_EQ(first.relativePath, "one.mov");
  EXPECT_EQ(first.mediaFolderUniqueID, "F1");
  EXPECT_EQ(first.durationInSeconds, 2.0);
  EXPECT_EQ(first.validationStatus, 2);
  EXPECT_EQ(first.nodeName, "Studio A");
  EXPECT_EQ(first.nodeUniqueID, "uid-1");
  EXPECT_TRUE(first.initialized);

  // The folder added, then the folder initialized; each report is a copy of
  // the list taken when it was made, never the live folders.
  const NodeMediaFoldersInfo& added = delegate_->folderReports.front();
  const NodeMediaFoldersInfo& initialized = delegate_->folderReports.back();
  EXPECT_EQ(initialized.nodeUniqueID, "uid-1");
  EXPECT_EQ(initialized.nodeName, "Studio A");
  ASSERT_EQ(added.mediaFoldersArray.size(), 1u);
  ASSERT_EQ(initialized.mediaFoldersArray.size(), 1u);
  EXPECT_FALSE(added.mediaFoldersArray.front()->initialized());
  EXPECT_TRUE(initialized.mediaFoldersArray.front()->initialized());
  EXPECT_NE(initialized.mediaFoldersArray.front(), folder());
  folder()->setLastChangeNumber(5);
  EXPECT_EQ(initialized.mediaFoldersArray.front()->lastChangeNumber(), 100u);
}

TEST_F(MediaSynchronisationTest, ChangeListRefetchesChangedItemsMarksDeletedOnesOfflineAndAdvances) {
  synchroniseFolderOnce();
  editNode([](FakeNode& node) {
    node.folderChangeNumber = "105";
    node.folderChanges = plist(Array{change("mediaItemChangeTypeAdded", "I3"), change("mediaItemChangeTypeAdded", "I3"),
                                     change("mediaItemChangeTypeBecameInvalid", "I1"),
                                     change("mediaItemChangeTypeDeleted", "I2"),
                                     change("mediaItemChangeTypeDeleted", "I2"),
                                     change("mediaItemChangeTypeRenamed", "I4")});
    node.itemInfo["I3"] = plist(clipInfo("three.mov"));
    Dictionary invalid = clipInfo("one.mov");
    invalid["clipInfoValidationStatus"] = 1;
    node.itemInfo["I1"] = plist(invalid);
  });
  sync_.checkForMediaFolderChanges(*connection_);
  EXPECT_EQ(server_.countLines("fmmediaitemschangessince F1 100i"), 1u);
  EXPECT_EQ(folder()->lastChangeNumber(), 105u);
  const auto pending = folder()->mediaItems();
  ASSERT_EQ(ids(pending), (std::vector<std::string>{"I3", "I1"}));
  EXPECT_TRUE(pending.front()->online());
  ASSERT_TRUE(runMainLoopUntil([&] { return delegate_->offline.size() == 1; }, "the offline report"));
  EXPECT_EQ(delegate_->offline.front(),
            (Array{Dictionary{{"mediaItemUniqueId", "I2"}, {"mediaFolderUniqueID", "F1"}}}));

  // Their info is fetched at the next check, and the item that became
  // invalid carries its new status.
  sync_.checkForMediaFolderChanges(*connection_);
  ASSERT_TRUE(runMainLoopUntil([&] { return delegate_->batches.size() == 2; }, "the second batch"));
  const auto& batch = delegate_->batches.back();
  ASSERT_EQ(ids(batch), (std::vector<std::string>{"I1", "I3"}));
  EXPECT_EQ(batch.front()->validationStatus(), 1);
  EXPECT_EQ(server_.countLines("fmmediaitemschangessince F1 100i"), 1u);

  // A change number below the stored one: enumerated afresh at the next check.
  editNode([](FakeNode& node) { node.folderChangeNumber = "50"; });
  sync_.checkForMediaFolderChanges(*connection_);
  EXPECT_FALSE(folder()->initialized());
  sync_.checkForMediaFolderChanges(*connection_);
  EXPECT_EQ(server_.countLines("fmmediaitemsuniqueids F1"), 2u);
  EXPECT_TRUE(folder()->initialized());
  EXPECT_EQ(folder()->lastChangeNumber(), 50u);
}

TEST_F(MediaSynchronisationTest, MissingOrMalformedChangeListKeepsTheChangeNumber) {
  struct Case {
    const char* name;
    std::string changeNumber;
    std::string changes;
  };
  const std::string oneAdded = plist(Array{change("mediaItemChangeTypeAdded", "I3")});
  const std::vector<Case> cases{
      {"refused list", "105", "ERROR\r\n"},
      {"list that does not parse", "105", kBrokenPropertyList},
      {"dictionary instead of a list", "105", plist(change("mediaItemChangeTypeAdded", "I3"))},
      // Read leniently these would be 0 and 12: below 100, a full enumeration.
      {"refused change number", "ERROR", oneAdded},
      {"change number with trailing text", "12abc", oneAdded},
      {"negative change number", "-3", oneAdded},
  };
  synchroniseFolderOnce();
  for (const Case& c : cases) {
    editNode([&](FakeNode& node) {
      node.folderChangeNumber = c.changeNumber;
      node.folderChanges = c.changes;
    });
    const std::size_t logged = diagnostics_.messages().size();
    sync_.checkForMediaFolderChanges(*connection_);
    EXPECT_EQ(folder()->lastChangeNumber(), 100u) << c.name;
    EXPECT_TRUE(folder()->initialized()) << c.name;
    EXPECT_EQ(folder()->mediaItemsCount(), 0u) << c.name;
    EXPECT_GT(diagnostics_.messages().size(), logged) << c.name;
  }
  EXPECT_EQ(server_.countLines("fmmediaitemsuniqueids F1"), 1u);

  // Once the node answers properly the same changes are taken.
  editNode([&](FakeNode& node) {
    node.folderChangeNumber = "105";
    node.folderChanges = oneAdded;
  });
  sync_.checkForMediaFolderChanges(*connection_);
  EXPECT_EQ(folder()->lastChangeNumber(), 105u);
  EXPECT_EQ(ids(folder()->mediaItems()), std::vector<std::string>{"I3"});
  drainMainQueue();
  EXPECT_TRUE(delegate_->offline.empty());
}

TEST_F(MediaSynchronisationTest, EntriesOfTheWrongKindAreSkippedWithALogLine) {
  Dictionary mistyped = clipInfo("one.mov");
  mistyped["clipInfoDurationInSeconds"] = "long";
  mistyped["clipInfoLanguages"] = 5;
  editNode([&](FakeNode& node) {
    node.folderList = plist(Array{"F1", 7, "F 2", "F1", "F\n3"});
    node.itemList = plist(Array{"I1", Array{"I2"}, "I 2", ""});
    node.itemInfo["I1"] = plist(mistyped);
  });
  sync_.checkForMediaFolderChanges(*connection_);
  ASSERT_EQ(connection_->mediaFolders().size(), 1u);
  EXPECT_EQ(diagnostics_.count("fmmediafoldersuniqueids: skipped the entry"), 3u);  // the second "F1" is no problem
  EXPECT_EQ(diagnostics_.count("fmmediaitemsuniqueids F1: skipped the entry"), 3u);
  EXPECT_EQ(diagnostics_.count("\"clipInfoDurationInSeconds\": expected a number"), 1u);
  EXPECT_EQ(diagnostics_.count("\"clipInfoLanguages\": expected an array of strings"), 1u);
  ASSERT_TRUE(runMainLoopUntil([&] { return delegate_->batches.size() == 1; }, "the batch"));
  ASSERT_EQ(ids(delegate_->batches.front()), std::vector<std::string>{"I1"});
  EXPECT_EQ(delegate_->batches.front().front()->durationInSeconds(), 0.0);  // the value of a new item
  EXPECT_EQ(delegate_->batches.front().front()->displayName(), "one.mov");

  editNode([](FakeNode& node) {
    node.folderChangeNumber = "101";
    node.folderChanges = plist(Array{"junk", change("mediaItemChangeTypeAdded", Array{"I5"}),
                                     Dictionary{{"changeType", 3}, {"mediaItemUniqueID", "I5"}},
                                     change("mediaItemChangeTypeDeleted", "I 7"),
                                     change("mediaItemChangeTypeAdded", "I6")});
  });
  sync_.checkForMediaFolderChanges(*connection_);
  EXPECT_EQ(ids(folder()->mediaItems()), std::vector<std::string>{"I6"});
  EXPECT_EQ(diagnostics_.count("skipped the change"), 4u);
  EXPECT_EQ(folder()->lastChangeNumber(), 101u);
  for (const std::string& line : server_.lines()) {
    EXPECT_EQ(line.find("F 2"), std::string::npos) << line;
    EXPECT_EQ(line.find("I 2"), std::string::npos) << line;
  }
}

TEST_F(MediaSynchronisationTest, FetchPassesOverAPendingItemAndStopsForControlCommands) {
  editNode([](FakeNode& node) {
    node.itemList = plist(Array{"I1", "I2", "I3"});
    node.itemInfo["I1"] = plist(Dictionary{{"clipInfoDisplayName", "still probing"}});  // no relative path
  });
  sync_.checkForMediaFolderChanges(*connection_);
  EXPECT_EQ(server_.countLines("fmmediaiteminfo F1 I1"), 1u);  // asked once, not again and again
  EXPECT_EQ(ids(folder()->mediaItems()), std::vector<std::string>{"I1"});  // I3 was refused and dropped
  EXPECT_FALSE(folder()->initialized());
  ASSERT_TRUE(runMainLoopUntil([&] { return delegate_->batches.size() == 1; }, "the batch"));
  EXPECT_EQ(ids(delegate_->batches.front()), std::vector<std::string>{"I2"});

  // Operator commands wait for one query at most: the fetch stops after it.
  editNode([](FakeNode& node) {
    node.itemInfo["I1"] = plist(clipInfo("one.mov"));
    node.itemInfo["I3"] = plist(clipInfo("three.mov"));
  });
  connection_->addControlCommand(ControlCommand::make("pbstatus"));
  std::size_t start = server_.lines().size();
  sync_.checkForMediaFolderChanges(*connection_);
  EXPECT_EQ(linesFrom(start), (Lines{"fmmediafoldersuniqueids", "fmlastchangenumber F1", "fmmediaitemsuniqueids F1",
                                     "fmmediaiteminfo F1 I1"}));
  EXPECT_EQ(ids(folder()->mediaItems()), (std::vector<std::string>{"I2", "I3"}));

  connection_->processControlCommandsAndUpdateStatus();
  sync_.checkForMediaFolderChanges(*connection_);
  EXPECT_TRUE(folder()->initialized());
  ASSERT_TRUE(runMainLoopUntil([&] { return delegate_->batches.size() == 2; }, "the second batch"));
  EXPECT_EQ(ids(delegate_->batches.back()), (std::vector<std::string>{"I1", "I2", "I3"}));
}

TEST_F(MediaSynchronisationTest, AttributesAreLoadedThenFollowTheirChangeList) {
  sync_.checkForAttributeChanges(*connection_);
  const std::vector<std::string> declared{"Clip End Behaviour", "Alpha Key"};
  ASSERT_EQ(names(connection_->possibleClipAttributes()), declared);
  const auto endBehaviour = connection_->possibleClipAttributes().front();
  EXPECT_EQ(endBehaviour->displayName(), "End");
  EXPECT_EQ(endBehaviour->pluginName(), "Player");
  EXPECT_EQ(endBehaviour->defaultValue(), "Stop");
  EXPECT_EQ(endBehaviour->valueType(), "MultipleValues");
  EXPECT_EQ(endBehaviour->possibleValues(), (std::vector<std::string>{"Loop", "Stop"}));
  EXPECT_TRUE(endBehaviour->isWritable());
  const auto alphaKey = connection_->possibleClipAttributes().back();
  EXPECT_FALSE(alphaKey->possibleValues());  // only kept for "MultipleValues"
  EXPECT_FALSE(alphaKey->isWritable());
  EXPECT_EQ(connection_->clipAttributesLastChangeNumber(), 7u);
  ASSERT_TRUE(runMainLoopUntil([&] { return delegate_->attributeReports.size() == 1; }, "the attribute report"));
  const Value loaded(delegate_->attributeReports.front());
  EXPECT_EQ(loaded["nodeUniqueID"], Value("uid-1"));
  EXPECT_EQ(loaded["nodeName"], Value("Studio A"));
  EXPECT_EQ(loaded["clipAttributesLastChangeNumber"], Value(7));
  ASSERT_TRUE(loaded["possibleClipAttributes"].array());
  EXPECT_EQ(loaded["possibleClipAttributes"].array()->size(), 2u);

  editNode([](FakeNode& node) {
    node.attributeChangeNumber = "9";
    node.attributeChanges = plist(Array{change("attributeChangeTypeChanged", "Alpha Key", "attributeName"),
                                        change("attributeChangeTypeDeleted", "Clip End Behaviour", "attributeName"),
                                        change("attributeChangeTypeAdded", "Speed", "attributeName"),
                                        Dictionary{{"changeType", 1}, {"attributeName", "Bad"}}});
    node.attributeInfo["Alpha Key"] = plist(Dictionary{{"attributeType", "Boolean"}, {"attributeDirection", "Output"}});
    node.attributeInfo["Speed"] = plist(Dictionary{{"attributeType", "Number"}});
  });
  sync_.checkForAttributeChanges(*connection_);
  EXPECT_EQ(server_.countLines("atattributechangessince 7"), 1u);
  EXPECT_EQ(names(connection_->possibleClipAttributes()), (std::vector<std::string>{"Alpha Key", "Speed"}));
  EXPECT_TRUE(connection_->possibleClipAttributes().front()->isWritable());
  EXPECT_EQ(connection_->clipAttributesLastChangeNumber(), 9u);
  ASSERT_TRUE(runMainLoopUntil([&] { return delegate_->attributeReports.size() == 5; }, "the change reports"));
  const Value changed(delegate_->attributeReports[1]);
  EXPECT_EQ(changed["changeType"], Value("attributeChangeTypeChanged"));
  EXPECT_EQ(changed["attributeName"], Value("Alpha Key"));
  EXPECT_EQ(changed["nodeUniqueID"], Value("uid-1"));
  EXPECT_EQ(changed["nodeName"], Value("Studio A"));
  EXPECT_EQ(Value(delegate_->attributeReports.back())["clipAttributesLastChangeNumber"], Value(9));
  EXPECT_TRUE(delegate_->allOnMainThread);

  // A change list that is not read keeps the number.
  editNode([](FakeNode& node) {
    node.attributeChangeNumber = "11";
    node.attributeChanges = "ERROR\r\n";
  });
  sync_.checkForAttributeChanges(*connection_);
  EXPECT_EQ(connection_->clipAttributesLastChangeNumber(), 9u);

  // A lower number empties the list; the next check loads them all again.
  editNode([](FakeNode& node) { node.attributeChangeNumber = "3"; });
  sync_.checkForAttributeChanges(*connection_);
  EXPECT_TRUE(connection_->possibleClipAttributes().empty());
  sync_.checkForAttributeChanges(*connection_);
  EXPECT_EQ(names(connection_->possibleClipAttributes()), declared);
  EXPECT_EQ(connection_->clipAttributesLastChangeNumber(), 3u);
}

// --- Against the stand-in node, through the polling thread and the catalogue ---

TEST(MediaSynchronisationStandinTest, NodeClipsFillTheCatalogueAndANewFileFollowsAtTheNextChangeList) {
  if (const std::string why = testing_support::standinCatalogueUnavailable(); !why.empty()) GTEST_SKIP() << why;
  testing_support::TemporaryDirectory media;
  ASSERT_TRUE(testing_support::makeTinyClip(media / "first.mov"));
  ASSERT_TRUE(testing_support::makeTinyClip(media / "second.mov"));
  testing_support::StandinCatalogue catalogue;
  const std::string failure = catalogue.start(media.path(), "Sync Test");
  ASSERT_TRUE(failure.empty()) << failure;
  PseudoServerDataSource& source = catalogue.source();
  const NodeConnectionPtr& connection = catalogue.connection();

  const auto clipNames = [&] {
    std::vector<std::string> found;
    const auto clips = source.clipsForNodeUniqueID(connection->nodeUniqueID());
    for (const auto& clip : clips.value_or(DataSource::PlaylistItems{}))
      if (clip->online()) found.push_back(clip->displayName());
    std::sort(found.begin(), found.end());
    return found;
  };
  // The first check runs as soon as the node is connected, before any tick.
  ASSERT_TRUE(runMainLoopUntil([&] { return clipNames().size() == 2; }, "the first synchronisation"));
  EXPECT_EQ(clipNames(), (std::vector<std::string>{"first", "second"}));

  ASSERT_TRUE(testing_support::makeTinyClip(media / "third.mov"));
  source.forceEnumerationOnMediaFolderWithUniqueID(std::nullopt, connection->nodeUniqueID(), std::nullopt);
  // Tick 51 reads the change list, tick 102 fetches the new item's info.
  ASSERT_TRUE(catalogue.tickMediaPollsUntil([] { return false; }));
  ASSERT_TRUE(runMainLoopUntil([&] { return clipNames().size() == 3; }, "the new file"));
  EXPECT_EQ(clipNames(), (std::vector<std::string>{"first", "second", "third"}));
  EXPECT_EQ(names(connection->possibleClipAttributes()).size(), 3u);
}

}  // namespace
}  // namespace nodes
