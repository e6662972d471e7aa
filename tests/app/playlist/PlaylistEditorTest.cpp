// The playlist editor, headless: the edit guard, node sync of every row
// change (undo and redo included), copy and paste, moves and duplicates,
// drops of archives and files, thumbnails, mode exclusions and counters.

#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/playlist/PlaylistEditor.h"
#include "foundation/RecordingAlertPresenter.h"
#include "nodes/playlist/PlaylistDocumentDataSource.h"
#include "tests/app/playlist/FakePlaylistNodeControl.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;
using app_testing::FakePlaylistNodeControl;
using app_testing::makeDocument;
using app_testing::nodeStatus;
using Kind = nodes::VideoPlaylistDocument::RowEdit::Kind;
using Names = std::vector<std::string>;

class RecordingHost final : public app::PlaylistEditorHost {
 public:
  void tryUnlockingNodes() override { ++unlockRequests; }
  void rowsEdited(const nodes::VideoPlaylistDocument::RowEdit& edit) override {
    edits.emplace_back(edit.kind, edit.index);
  }
  void reloadTable() override { ++reloads; }

  int unlockRequests = 0;
  std::vector<std::pair<Kind, std::size_t>> edits;
  int reloads = 0;
};

// Catalogue clips by absolute media path; nothing else is known.
class FakeCatalogue final : public nodes::PlaylistDocumentDataSource {
 public:
  std::map<std::string, PlaylistItems> clipsByPath;

  std::optional<PlaylistItems> clipsWithMediaItemAbsolutePath(const std::string& path,
                                                              const std::optional<std::string>&) override {
    const auto found = clipsByPath.find(path);
    if (found == clipsByPath.end()) return std::nullopt;
    return found->second;
  }
  std::optional<PlaylistItemsByKey> playlistItemsWithAbsolutePaths(const std::vector<std::string>&,
                                                                   const std::string&) override {
    return std::nullopt;
  }
  std::optional<PlaylistItemsByKey> playlistItemsWithMediaItemUniqueIDs(const std::vector<std::string>&,
                                                                        const std::string&) override {
    return std::nullopt;
  }
  std::optional<PlaylistItems> clipsWithMediaItemUniqueID(const std::string&, const std::optional<std::string>&,
                                                          const std::optional<std::string>&) override {
    return std::nullopt;
  }
  void requestThumbnailForMediaItemWithUniqueID(std::string_view, std::string_view, std::string_view,
                                                double) override {}
  std::optional<PlaylistItems> playlistItemsArrayFromDict(const platform::Dictionary&,
                                                          const std::string&) override {
    return std::nullopt;
  }
};

std::shared_ptr<nodes::PlaylistItem> clip(const std::string& name, const std::string& node = "A") {
  auto item = std::make_shared<nodes::PlaylistItem>();
  item->update([&](nodes::PlaylistItemFields& f) {
    f.displayName = name;
    f.playbackUniqueID = name;
    f.nodeUniqueID = node;
    f.mediaItemDurationInSeconds = 60.0;
    f.framesPerSecond = 25.0;
    f.online = true;
  });
  return item;
}

class PlaylistEditorTest : public ::testing::Test {
 protected:
  // The editor over a fresh document; node A reports this playlist unless
  // the test changes the statuses first.
  app::PlaylistEditor& open(int rows, bool abRoll = false) {
    editor_.reset();
    document_ = makeDocument(rows, abRoll);
    document_->setDataSource(&catalogue_);
    if (!nodes_.statuses.contains("A")) nodes_.statuses["A"] = nodeStatus("STOPPED");
    editor_ = std::make_unique<app::PlaylistEditor>(document_, nodes_, host_);
    return *editor_;
  }
  // What the window does: the document's mode observers call the editor.
  void wireModeObservers() {
    tokens_.clear();
    tokens_.push_back(document_->observeKey("loop", [this](auto&, auto&) { editor_->loopValueChanged(); }));
    tokens_.push_back(document_->observeKey("chain", [this](auto&, auto&) { editor_->chainValueChanged(); }));
    tokens_.push_back(document_->observeKey("cueMode", [this](auto&, auto&) { editor_->cueValueChanged(); }));
    tokens_.push_back(document_->observeKey("abRoll", [this](auto&, auto&) { editor_->abRollValueChanged(); }));
  }
  Names ids() const {
    Names names;
    for (const auto& item : document_->playlist()) names.push_back(item->playbackUniqueID().value_or("-"));
    return names;
  }
  Names displayNames() const {
    Names names;
    for (const auto& item : document_->playlist()) names.push_back(item->displayName());
    return names;
  }
  Names alertTitles() const {
    Names titles;
    for (const auto& alert : alerts_->alerts()) titles.push_back(alert.title);
    return titles;
  }
  platform::UndoManager& undoManager() { return document_->undoManager(); }

  std::shared_ptr<foundation::RecordingAlertPresenter> alerts_ =
      std::make_shared<foundation::RecordingAlertPresenter>();
  foundation::ScopedAlertPresenter alertOverride_{alerts_};
  FakePlaylistNodeControl nodes_;
  FakeCatalogue catalogue_;
  RecordingHost host_;
  std::shared_ptr<nodes::VideoPlaylistDocument> document_;
  std::vector<platform::ObservationToken> tokens_;
  std::unique_ptr<app::PlaylistEditor> editor_;
};

// ---- The guard ----

TEST_F(PlaylistEditorTest, LockedNodeReportingThePlaylistRefusesEditsAndOffersToAuthenticate) {
  nodes_.unlocked.erase("A");
  app::PlaylistEditor& editor = open(3);

  alerts_->queueResponse(foundation::kAlertFirstButtonReturn);  // "Authenticate"
  EXPECT_FALSE(editor.insertClip(clip("new"), 0));
  alerts_->queueResponse(foundation::kAlertSecondButtonReturn);  // "Cancel"
  EXPECT_FALSE(editor.removeClipAtIndex(1));

  EXPECT_EQ(ids(), (Names{"r0", "r1", "r2"}));
  EXPECT_THAT(nodes_.commands, IsEmpty());
  EXPECT_EQ(host_.unlockRequests, 1);
  ASSERT_EQ(alerts_->alerts().size(), 2u);
  EXPECT_EQ(alerts_->alerts()[0].title, "Authentication Error !");
  EXPECT_EQ(alerts_->alerts()[0].message, "You must be authenticated to control a Node.");
  EXPECT_THAT(alerts_->alerts()[0].buttonTitles, ElementsAre("Authenticate", "Cancel"));
}

TEST_F(PlaylistEditorTest, LockedNodeBCountsOnlyInABRollAndANodeThatHasAnotherPlaylistNever) {
  struct Case {
    const char* name;
    bool abRoll;
    const char* playlistOfB;
    bool allowed;
  };
  for (const Case& c : {Case{"A/B roll, B has this playlist", true, app_testing::kPlaylistID, false},
                        Case{"no A/B roll", false, app_testing::kPlaylistID, true},
                        Case{"B has another playlist", true, "OTHER", true}}) {
    SCOPED_TRACE(c.name);
    nodes_.statuses["A"] = nodeStatus("STOPPED", -1, 0.0, "OTHER");
    nodes_.statuses["B"] = nodeStatus("STOPPED", -1, 0.0, c.playlistOfB);
    nodes_.unlocked = {"A"};
    open(2, c.abRoll);
    EXPECT_EQ(editor_->verifyPlaylistCanBeModifiedForItemAtIndex(-1), c.allowed);
  }
}

TEST_F(PlaylistEditorTest, ABRollRefusesReplacingOrRemovingAtOrBeforeAPlayingClipButNeverInserting) {
  app::PlaylistEditor& editor = open(5, true);
  document_->clipAtIndex(2)->setPlaybackStatus(nodes::kPlaybackStatusPlaying);

  EXPECT_FALSE(editor.removeClipAtIndex(1));
  EXPECT_FALSE(editor.replaceClipAtIndex(2, clip("new")));
  EXPECT_THAT(alertTitles(), ElementsAre("Clip(s) Busy Error !", "Clip(s) Busy Error !"));

  EXPECT_TRUE(editor.insertClip(clip("new"), 0));  // asks the guard with -1
  EXPECT_TRUE(editor.removeClipAtIndex(5));        // after the playing clip (now row 3)
  EXPECT_EQ(ids(), (Names{"new", "r0", "r1", "r2", "r3"}));
  EXPECT_EQ(alerts_->alerts().size(), 2u);
}

// ---- Edits and node sync ----

TEST_F(PlaylistEditorTest, EditsReachNodeAAndTheHostAndOneUndoRevertsEach) {
  app::PlaylistEditor& editor = open(3);

  EXPECT_TRUE(editor.insertClip(clip("new"), 2));
  EXPECT_TRUE(editor.replaceClipAtIndex(0, clip("other")));
  EXPECT_TRUE(editor.removeClipAtIndex(1));
  EXPECT_EQ(ids(), (Names{"other", "new", "r2"}));
  EXPECT_THAT(nodes_.takeCommands(), ElementsAre("insert A 2 new", "replace A 0 other", "remove A 1"));
  EXPECT_THAT(host_.edits, ElementsAre(std::pair{Kind::Inserted, 2u}, std::pair{Kind::Replaced, 0u},
                                       std::pair{Kind::Removed, 1u}));
  EXPECT_EQ(undoManager().undoActionName(), "Delete/Cut");

  editor.undo();
  editor.undo();
  EXPECT_EQ(ids(), (Names{"r0", "r1", "new", "r2"}));
  // Undo reaches the node through the same path: row 1 back, r0 back.
  EXPECT_THAT(nodes_.takeCommands(), ElementsAre("insert A 1 r1", "replace A 0 r0"));
  EXPECT_EQ(undoManager().undoActionName(), "Add");
}

TEST_F(PlaylistEditorTest, NodeIsLeftAloneInABRollOrWhenItHasAnotherPlaylist) {
  for (const bool abRoll : {false, true}) {
    nodes_.statuses["A"] = nodeStatus("PLAYING", 0, 0.0, abRoll ? app_testing::kPlaylistID : "OTHER");
    app::PlaylistEditor& editor = open(2, abRoll);
    host_.edits.clear();
    EXPECT_TRUE(editor.insertClip(clip("new"), 1));
    EXPECT_THAT(nodes_.takeCommands(), IsEmpty()) << "abRoll " << abRoll;
    EXPECT_THAT(host_.edits, ElementsAre(std::pair{Kind::Inserted, 1u}));  // the host follows all the same
  }
}

TEST_F(PlaylistEditorTest, InsertClampsTheIndexAndMarksTheItemForItsNode) {
  app::PlaylistEditor& editor = open(2);
  auto ofNodeB = clip("b");
  ofNodeB->update([](nodes::PlaylistItemFields& f) {
    f.nodeUniqueID = "B";
    f.playbackStatus = nodes::kPlaybackStatusPlaying;
    f.displaySizeWidth = f.naturalSizeWidth = 640;  // the natural size: not resized
    f.displaySizeHeight = f.naturalSizeHeight = 360;
  });
  EXPECT_TRUE(editor.insertClip(ofNodeB, -1));
  EXPECT_TRUE(editor.insertClip(clip("a"), 99));
  EXPECT_EQ(ids(), (Names{"r0", "r1", "b", "a"}));

  const nodes::PlaylistItemFields b = ofNodeB->fields();
  EXPECT_EQ(b.playbackStatus, nodes::kPlaybackStatusStopped);
  EXPECT_EQ(b.abRollClipPosition, nodes::ABRollClipPosition::NodeB);
  EXPECT_EQ(b.nodeName, "Node B");
  EXPECT_EQ(b.displaySizeWidth, 0);  // not resized: no display size
  EXPECT_EQ(b.displaySizeHeight, 0);
  EXPECT_EQ(document_->clipAtIndex(3)->nodeName(), "Node A");
}

TEST_F(PlaylistEditorTest, EditorGoneLeavesTheDocumentWithoutHandler) {
  open(2);
  editor_.reset();
  tokens_.clear();
  EXPECT_TRUE(document_->insertClip(clip("new"), 0));
  EXPECT_THAT(nodes_.commands, IsEmpty());
  EXPECT_THAT(host_.edits, IsEmpty());
}

TEST_F(PlaylistEditorTest, RemovingTheSelectionStopsAtARefusedRowYetShowsWhatWasRemoved) {
  app::PlaylistEditor& editor = open(5, true);
  document_->clipAtIndex(2)->setPlaybackStatus(nodes::kPlaybackStatusPlaying);
  document_->setSelectedClipIndexes({0, 3, 4});
  const int reloadsBefore = host_.reloads;

  editor.removeSelectedObjects("Cut");

  EXPECT_EQ(ids(), (Names{"r0", "r1", "r2"}));  // 4 and 3 went, 0 lies before the playing clip
  EXPECT_THAT(alertTitles(), ElementsAre("Clip(s) Busy Error !"));
  EXPECT_THAT(document_->selectedClipIndexes(), IsEmpty());
  EXPECT_GT(host_.reloads, reloadsBefore);
  EXPECT_EQ(undoManager().undoActionName(), "Cut");
  editor.undo();
  EXPECT_EQ(ids(), (Names{"r0", "r1", "r2", "r3", "r4"}));
}

// ---- Moves and duplicates ----

TEST_F(PlaylistEditorTest, DepositingARowMovesItWhereTheDropLineIs) {
  struct Case {
    std::int64_t source;
    std::int64_t target;
    Names expected;
  };
  for (const Case& c : {Case{2, 5, {"r0", "r1", "r3", "r4", "r2", "r5"}},
                        Case{5, 2, {"r0", "r1", "r5", "r2", "r3", "r4"}},
                        Case{1, 6, {"r0", "r2", "r3", "r4", "r5", "r1"}},
                        Case{3, 3, {"r0", "r1", "r2", "r3", "r4", "r5"}}}) {
    SCOPED_TRACE(testing::Message() << c.source << " -> " << c.target);
    app::PlaylistEditor& editor = open(6);
    EXPECT_TRUE(editor.didDepositRow(c.source, c.target, false));
    EXPECT_EQ(ids(), c.expected);
  }
}

TEST_F(PlaylistEditorTest, UndoingAMoveTakesItBackOnTheNodeToo) {
  app::PlaylistEditor& editor = open(6);
  ASSERT_TRUE(editor.didDepositRow(2, 5, false));
  EXPECT_THAT(nodes_.takeCommands(), ElementsAre("remove A 2", "insert A 4 r2"));
  EXPECT_EQ(undoManager().undoActionName(), "Move Clip");

  editor.undo();
  EXPECT_EQ(ids(), (Names{"r0", "r1", "r2", "r3", "r4", "r5"}));
  EXPECT_THAT(nodes_.takeCommands(), ElementsAre("remove A 4", "insert A 2 r2"));
  EXPECT_THAT(host_.edits, ElementsAre(std::pair{Kind::Removed, 2u}, std::pair{Kind::Inserted, 4u},
                                       std::pair{Kind::Removed, 4u}, std::pair{Kind::Inserted, 2u}));

  editor.redo();
  EXPECT_THAT(nodes_.takeCommands(), ElementsAre("remove A 2", "insert A 4 r2"));
}

TEST_F(PlaylistEditorTest, DuplicatingOntoTheEndGivesOnlyTheCopyANewID) {
  app::PlaylistEditor& editor = open(3);
  ASSERT_TRUE(editor.didDepositRow(1, 3, true));

  const Names after = ids();
  ASSERT_EQ(after.size(), 4u);
  EXPECT_EQ((Names{after[0], after[1], after[2]}), (Names{"r0", "r1", "r2"}));
  EXPECT_NE(after[3], "r1");
  EXPECT_EQ(document_->clipAtIndex(3)->displayName(), "Clip 1");
  EXPECT_EQ(undoManager().undoActionName(), "Duplicate Clip");
  editor.undo();
  EXPECT_EQ(ids(), (Names{"r0", "r1", "r2"}));
}

// ---- Pasteboard and drops ----

TEST_F(PlaylistEditorTest, PastedRowsGetNewIDsAtTheSelectionAsOneUndoStep) {
  app::PlaylistEditor& editor = open(4);
  const std::optional<std::string> archive = editor.copyRows({0, 2});
  ASSERT_TRUE(archive);
  EXPECT_EQ(editor.movedRow(), -1);  // only a single row can be moved

  document_->setSelectedClipIndexes({1});
  ASSERT_TRUE(editor.pasteRows(*archive));
  document_->setSelectedClipIndexes({});
  ASSERT_TRUE(editor.pasteRows(*archive));  // appended without a selection

  EXPECT_EQ(displayNames(), (Names{"Clip 0", "Clip 0", "Clip 2", "Clip 1", "Clip 2", "Clip 3", "Clip 0", "Clip 2"}));
  const Names after = ids();
  const std::set<std::string> distinct(after.begin(), after.end());
  EXPECT_EQ(distinct.size(), after.size());  // no ID twice: not the originals', not the first paste's
  EXPECT_EQ(undoManager().undoActionName(), "Paste");
  editor.undo();
  EXPECT_EQ(ids().size(), 6u);  // the whole second paste, both rows
}

TEST_F(PlaylistEditorTest, UnreadableArchivesAreRefusedAndPlayingRowsCannotBeDragged) {
  app::PlaylistEditor& editor = open(3);
  EXPECT_FALSE(editor.pasteRows("not an archive"));
  EXPECT_FALSE(editor.pasteRows(""));
  app::PlaylistDrop drop;
  drop.itemsArchive = std::string("bplist00\x01\x02", 10);
  EXPECT_FALSE(editor.acceptDrop(drop, 0));
  EXPECT_EQ(ids(), (Names{"r0", "r1", "r2"}));

  document_->clipAtIndex(1)->setPlaybackStatus(nodes::kPlaybackStatusPlaying);
  EXPECT_FALSE(editor.writeRowsForDrag({0, 1}));
  EXPECT_THAT(alertTitles(), ElementsAre("Locked Item Error !"));
  EXPECT_TRUE(editor.writeRowsForDrag({2}));
  EXPECT_EQ(editor.movedRow(), 2);
}

TEST_F(PlaylistEditorTest, ValidatesDropsBySourceAndRow) {
  struct Case {
    app::DropSource source;
    std::int64_t row;
    bool above;
    bool copyOnly;
    app::DropOperation expected;
  };
  using app::DropOperation;
  using app::DropSource;
  app::PlaylistEditor& editor = open(4);
  ASSERT_TRUE(editor.copyRows({1}));
  for (const Case& c : {Case{DropSource::OtherSource, 2, false, false, DropOperation::Copy},
                        Case{DropSource::ThisTable, 3, true, false, DropOperation::Move},
                        Case{DropSource::ThisTable, 3, true, true, DropOperation::Copy},
                        Case{DropSource::ThisTable, 1, true, false, DropOperation::None},  // onto itself
                        Case{DropSource::ThisTable, 3, false, false, DropOperation::None}}) {
    EXPECT_EQ(editor.validateDrop(c.source, c.row, c.above, c.copyOnly), c.expected)
        << "row " << c.row << " above " << c.above << " copyOnly " << c.copyOnly;
  }
  EXPECT_TRUE(editor.isDragging());
}

TEST_F(PlaylistEditorTest, DropInsideTheTableMovesTheDraggedRowOnce) {
  app::PlaylistEditor& editor = open(4);
  app::PlaylistDrop drop;
  drop.source = app::DropSource::ThisTable;
  EXPECT_FALSE(editor.acceptDrop(drop, 0));  // no row was dragged

  drop.itemsArchive = editor.writeRowsForDrag({0});
  ASSERT_TRUE(drop.itemsArchive);
  EXPECT_TRUE(editor.acceptDrop(drop, -1));  // past the last row
  EXPECT_EQ(ids(), (Names{"r1", "r2", "r3", "r0"}));
  EXPECT_EQ(editor.movedRow(), -1);
  EXPECT_FALSE(editor.acceptDrop(drop, 0));
}

TEST_F(PlaylistEditorTest, DropFromAnotherWindowInsertsCopiesWithNewIDs) {
  app::PlaylistEditor& editor = open(2);
  app::PlaylistDrop drop;
  drop.itemsArchive = editor.copyRows({0, 1});
  editor.validateDrop(app::DropSource::OtherSource, 1, true, false);
  ASSERT_TRUE(editor.acceptDrop(drop, 1));
  EXPECT_EQ(displayNames(), (Names{"Clip 0", "Clip 0", "Clip 1", "Clip 1"}));
  EXPECT_NE(ids()[1], "r0");
  EXPECT_NE(ids()[2], "r1");
  EXPECT_FALSE(editor.isDragging());
  EXPECT_EQ(undoManager().undoActionName(), "Add");
}

TEST_F(PlaylistEditorTest, DroppedFilesAndFoldersGoInFromTheSameIndexInCaseInsensitiveOrder) {
  testing_support::TemporaryDirectory folder;
  auto touch = [](const std::filesystem::path& path) { std::ofstream(path) << "media"; };
  std::filesystem::create_directory(folder / "A-folder");
  touch(folder / "A-folder" / "inner1.mov");
  touch(folder / "A-folder" / "inner2.mov");
  touch(folder / "b.mov");
  touch(folder / "C.mov");
  // Of several catalogue clips, node A's is taken.
  catalogue_.clipsByPath[(folder / "b.mov").string()] = {clip("b on X", "X"), clip("b", "A")};
  catalogue_.clipsByPath[(folder / "C.mov").string()] = {clip("C", "X")};
  catalogue_.clipsByPath[(folder / "A-folder" / "inner1.mov").string()] = {clip("inner1")};
  catalogue_.clipsByPath[(folder / "A-folder" / "inner2.mov").string()] = {clip("inner2")};

  app::PlaylistEditor& editor = open(2);
  app::PlaylistDrop drop;
  drop.files = {folder / "C.mov", folder / "gone.mov", folder / "b.mov", folder / "A-folder"};
  ASSERT_TRUE(editor.acceptDrop(drop, 1));

  const Names names = displayNames();
  ASSERT_EQ(names.size(), 6u);
  EXPECT_EQ((Names{names[0], names[1], names[2], names[5]}), (Names{"Clip 0", "b", "C", "Clip 1"}));
  EXPECT_THAT((Names{names[3], names[4]}), UnorderedElementsAre("inner1", "inner2"));
  EXPECT_THAT(alerts_->alerts(), IsEmpty());  // a file gone since the drag is no error
  EXPECT_EQ(undoManager().undoActionName(), "Add");
  editor.undo();
  EXPECT_EQ(ids(), (Names{"r0", "r1"}));
}

TEST_F(PlaylistEditorTest, FilesUnknownToTheCatalogueAreReportedOnce) {
  testing_support::TemporaryDirectory folder;
  for (const char* name : {"known.mov", "unknown1.mov", "unknown2.mov"}) std::ofstream(folder / name) << "media";
  catalogue_.clipsByPath[(folder / "known.mov").string()] = {clip("known")};

  app::PlaylistEditor& editor = open(1);
  app::PlaylistDrop drop;
  drop.files = {folder / "unknown1.mov", folder / "known.mov", folder / "unknown2.mov"};
  ASSERT_TRUE(editor.acceptDrop(drop, -1));
  EXPECT_EQ(displayNames(), (Names{"Clip 0", "known"}));
  EXPECT_THAT(alertTitles(), ElementsAre("Clip Not Found Error !"));
  EXPECT_FALSE(editor.addFilesAndDirectoriesToPlaylist({folder / "unknown1.mov"}, 0));
}

// ---- Thumbnails ----

TEST_F(PlaylistEditorTest, ThumbnailReplyIsTakenByRowsWhoseMiddleIsWithinHalfASecond) {
  app::PlaylistEditor& editor = open(0);
  auto withInPoint = clip("in");
  withInPoint->update([](nodes::PlaylistItemFields& f) {
    f.mediaItemUniqueID = "item";
    f.mediaFolderUniqueID = "folder";
    f.inPointInSeconds = 10.0;
    f.outPointInSeconds = 30.0;  // middle at 20 s
  });
  auto otherFolder = clip("elsewhere");
  otherFolder->update([](nodes::PlaylistItemFields& f) {
    f.mediaItemUniqueID = "item";
    f.mediaFolderUniqueID = "folder2";
    f.inPointInSeconds = 10.0;
    f.outPointInSeconds = 30.0;
  });
  ASSERT_TRUE(editor.insertClip(withInPoint, -1));
  ASSERT_TRUE(editor.insertClip(otherFolder, -1));
  nodes_.takeCommands();

  auto image = std::make_shared<const nodes::RGBAImage>(nodes::RGBAImage{1, 1, {1, 2, 3, 255}});
  auto reply = [](platform::Value position) {
    return platform::Dictionary{{"mediaItemUniqueID", platform::Value("item")},
                                {"mediaFolderUniqueID", platform::Value("folder")},
                                {"position", std::move(position)}};
  };
  EXPECT_FALSE(editor.newThumbnailIsAvailable(image, reply(platform::Value(20.6))));
  EXPECT_FALSE(editor.newThumbnailIsAvailable(nullptr, reply(platform::Value("20.0"))));
  EXPECT_EQ(withInPoint->thumbnail(), nullptr);
  EXPECT_TRUE(editor.newThumbnailIsAvailable(image, reply(platform::Value("20.4"))));
  EXPECT_EQ(withInPoint->thumbnail(), image);
  EXPECT_EQ(otherFolder->thumbnail(), nullptr);
}

TEST_F(PlaylistEditorTest, ThumbnailRequestedForARowWithoutInPointComesBackToIt) {
  app::PlaylistEditor& editor = open(0);
  auto item = clip("plain");
  item->update([](nodes::PlaylistItemFields& f) {
    f.mediaItemUniqueID = "item";
    f.mediaFolderUniqueID = "folder";
  });
  ASSERT_TRUE(editor.insertClip(item, 0));
  EXPECT_THAT(nodes_.takeCommands(), ElementsAre("insert A 0 plain", "thumbnail A folder/item 30.000000"));

  auto image = std::make_shared<const nodes::RGBAImage>(nodes::RGBAImage{1, 1, {0, 0, 0, 255}});
  EXPECT_TRUE(editor.newThumbnailIsAvailable(image, {{"mediaItemUniqueID", platform::Value("item")},
                                                     {"mediaFolderUniqueID", platform::Value("folder")},
                                                     {"position", platform::Value("30.000000")}}));
  EXPECT_EQ(item->thumbnail(), image);
}

// ---- Modes ----

TEST_F(PlaylistEditorTest, ModeSwitchesExcludeEachOtherAndSettle) {
  struct Case {
    const char* name;
    void (nodes::VideoPlaylistDocument::*set)(bool);
    bool loop, chain, cue, abRoll;  // afterwards
    std::vector<std::string> commands;
  };
  using D = nodes::VideoPlaylistDocument;
  for (const Case& c : {
           // Loop on while chain and cue are on: cue goes, chain may stay.
           Case{"loop", &D::setLoop, true, true, false, false, {"loop A 1", "cuemode A 0"}},
           Case{"cue", &D::setCueMode, false, false, true, false, {"cuemode A 1", "chain A 0", "loop A 0"}},
           Case{"abRoll", &D::setAbRoll, false, false, true, true, {"chain A 0"}},
       }) {
    SCOPED_TRACE(c.name);
    open(2);
    document_->setChain(true);
    document_->setCueMode(c.set != &D::setCueMode);
    document_->setLoop(c.set == &D::setCueMode);
    document_->setAbsoluteStartTime(3600.0);
    wireModeObservers();

    (document_.get()->*c.set)(true);

    EXPECT_EQ(document_->loop(), c.loop);
    EXPECT_EQ(document_->chain(), c.chain);
    EXPECT_EQ(document_->cueMode(), c.cue);
    EXPECT_EQ(document_->abRoll(), c.abRoll);
    EXPECT_EQ(nodes_.takeCommands(), c.commands);
    if (!c.chain) {
      EXPECT_EQ(document_->absoluteStartTime(), 0.0);
    }
  }
}

TEST_F(PlaylistEditorTest, ABRollOnMarksTheNodesThatHaveThePlaylistDirty) {
  nodes_.statuses["B"] = nodeStatus("STOPPED");
  open(2);
  wireModeObservers();
  document_->setAbRoll(true);
  EXPECT_TRUE(document_->dirtyOnNodeA());
  EXPECT_TRUE(document_->dirtyOnNodeB());
  EXPECT_TRUE(document_->cueMode());
}

// ---- Catalogue, inspector, counters ----

TEST_F(PlaylistEditorTest, CatalogueAndInspectorChangesReloadOnlyWhenTheyConcernThePlaylist) {
  app::PlaylistEditor& editor = open(2);
  document_->clipAtIndex(1)->setAbsolutePathToMediaItem("/media/one.mov");
  auto known = clip("known");
  known->setAbsolutePathToMediaItem("/media/one.mov");
  auto unrelated = clip("unrelated");
  unrelated->update([](nodes::PlaylistItemFields& f) {
    f.mediaItemUniqueID = "elsewhere";
    f.absolutePathToMediaItem = "/media/two.mov";
  });
  nodes_.catalogue = {{"c1", known}, {"c2", unrelated}};

  int reloads = host_.reloads;
  editor.clipsDidChange({"c2", "unknown"});
  editor.inspectorDidChangeClips({{"playlistUniqueID", platform::Value("OTHER")}});
  EXPECT_EQ(host_.reloads, reloads);
  editor.clipsDidChange({"c2", "c1"});
  editor.inspectorDidChangeClips({{"playlistUniqueID", platform::Value(app_testing::kPlaylistID)}});
  EXPECT_EQ(host_.reloads, reloads + 2);
}

TEST_F(PlaylistEditorTest, CountersUseTheSingularForOneItemAndTheFirstSelectedItemsFormatter) {
  app::PlaylistEditor& editor = open(1);
  EXPECT_EQ(editor.clipCountText(), "1 item - Selection: 00:00:00:00");

  open(3);
  document_->setSelectedClipIndexes({0, 2});
  EXPECT_EQ(editor_->clipCountText(), "3 items - Selection: 00:02:00:00");
  EXPECT_EQ(editor_->playlistDurationString(), "00:03:00:00");

  open(0);
  EXPECT_EQ(editor_->clipCountText(), "0 items - Selection: 00:00:00:00");
  EXPECT_EQ(editor_->playlistDurationString(), "00:00:00:00");
}

}  // namespace
