#include "app/shell/PlaylistDocumentController.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/shell/AlertButtonLayout.h"
#include "nodes/playlist/PlaylistDocumentFormat.h"
#include "platform/RunLoop.h"
#include "tests/app/shell/ScriptedDocumentPanels.h"
#include "tests/support/TemporaryDirectory.h"

namespace app {
namespace {

using app_testing::CountingWindow;
using app_testing::ScriptedPanels;

class PlaylistDocumentControllerTest : public ::testing::Test {
 protected:
  PlaylistDocumentControllerTest() {
    platform::RunLoop::main().attachCurrentThread();
    controller_.setPlaylistWindowFactory([this](const PlaylistDocumentController::DocumentPtr&) {
      windows_.push_back(std::make_shared<CountingWindow>());
      return windows_.back();
    });
    controller_.setDocumentPanels(&panels_);
    controller_.setDefaults(&defaults_);
  }

  // An untitled document with one row: edited.
  PlaylistDocumentController::DocumentPtr editedDocument() {
    auto made = controller_.newDocument();
    EXPECT_TRUE(made.ok());
    (*made)->insertClip(std::make_shared<nodes::PlaylistItem>(), 0);
    EXPECT_TRUE((*made)->isDocumentEdited());
    return *made;
  }

  std::filesystem::path writePlaylist(const std::string& name) {
    nodes::VideoPlaylistDocument document;
    const std::filesystem::path path = folder_ / name;
    EXPECT_TRUE(document.writeToURL(path, nodes::kVideoPlaylistDocumentType,
                                    nodes::VideoPlaylistDocument::SaveOperation::SaveAs)
                    .ok());
    return path;
  }

  testing_support::TemporaryDirectory folder_;
  platform::UserDefaults defaults_{""};
  ScriptedPanels panels_;
  PlaylistDocumentController controller_;
  std::vector<std::shared_ptr<CountingWindow>> windows_;
};

TEST_F(PlaylistDocumentControllerTest, OpeningAnOpenFileAgainShowsItsWindowInsteadOfASecondOne) {
  const std::filesystem::path path = writePlaylist("show.vzplaylist");
  auto first = controller_.openDocumentWithContentsOfURL(path);
  ASSERT_TRUE(first.ok()) << first.error().describe();
  ASSERT_TRUE(controller_.newDocument().ok());

  auto again = controller_.openDocumentWithContentsOfURL(folder_.path() / "." / "show.vzplaylist");
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(*again, *first);
  ASSERT_EQ(windows_.size(), 2u);
  EXPECT_EQ(windows_[0]->shown, 2);
  EXPECT_EQ(controller_.currentDocument(), *first);
}

TEST_F(PlaylistDocumentControllerTest, AFileThatCannotBeReadOpensNothing) {
  const std::filesystem::path path = folder_ / "broken.vzplaylist";
  std::ofstream(path) << "<plist><dict><key>Document";
  EXPECT_FALSE(controller_.openDocumentWithContentsOfURL(path).ok());
  EXPECT_FALSE(controller_.openDocumentWithContentsOfURL(folder_ / "missing.vzplaylist").ok());
  EXPECT_TRUE(windows_.empty());
  EXPECT_TRUE(controller_.documents().empty());
}

TEST_F(PlaylistDocumentControllerTest, FrontOrderFollowsTheOperatorWhileOpeningOrderStays) {
  auto one = *controller_.newDocument();
  auto two = *controller_.newDocument();
  auto three = *controller_.newDocument();
  EXPECT_EQ(controller_.currentDocument(), three);

  controller_.documentBecameFront(*one);
  EXPECT_EQ(controller_.orderedDocuments(), (std::vector{one, three, two}));
  EXPECT_EQ(controller_.documents(), (std::vector{one, two, three}));

  controller_.closeDocument(*one);
  EXPECT_EQ(controller_.currentDocument(), three);
  EXPECT_EQ(controller_.windowControllerForDocument(*one), nullptr);
}

TEST(PlaylistDocumentControllerWithoutWindowsTest, MakesNoDocumentWithoutAWindow) {
  PlaylistDocumentController controller;
  auto result = controller.newDocument();
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().code, static_cast<std::int64_t>(PlaylistDocumentControllerError::WindowNotAvailable));
  EXPECT_TRUE(controller.documents().empty());
}

TEST(AlertButtonLayoutTest, ReturnPressesTheFirstButtonAndEscapeOnlyCancels) {
  struct Case {
    std::vector<std::string> titles;
    AlertButtonLayout expected;
  };
  const std::vector<Case> cases = {
      {{"Cancel", "OK"}, {0, 0}},
      {{"OK", "Cancel"}, {0, 1}},
      {{"Quit Vantelio Vovi"}, {0, 0}},
      {{"Replace", "Keep Both"}, {0, std::nullopt}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(alertButtonLayout(c.titles), c.expected) << c.titles.front();
  }
}

TEST_F(PlaylistDocumentControllerTest, SavingAnUntitledPlaylistAsksForANameAndAddsTheExtension) {
  auto document = editedDocument();
  panels_.fileName = folder_ / "Morning";
  ASSERT_TRUE(controller_.saveDocument(document));
  EXPECT_EQ(panels_.suggested, std::vector<std::string>{"Untitled"});
  EXPECT_EQ(document->fileURL(), folder_ / "Morning.vzplaylist");
  EXPECT_FALSE(document->isDocumentEdited());
  EXPECT_EQ(PlaylistDocumentController::displayName(*document), "Morning");
  EXPECT_EQ(controller_.recentDocumentURLs().front().filename(), "Morning.vzplaylist");

  // A plain save keeps the identities and asks nothing.
  const std::string uniqueID = document->uniqueID();
  const auto rowID = document->clipAtIndex(0)->playbackUniqueID();
  document->setLoop(true);
  ASSERT_TRUE(controller_.saveDocument(document));
  EXPECT_EQ(panels_.suggested.size(), 1u);
  EXPECT_EQ(document->uniqueID(), uniqueID);
  EXPECT_EQ(document->clipAtIndex(0)->playbackUniqueID(), rowID);

  // Save As renews them; cancelling the panel saves nothing.
  panels_.fileName = folder_ / "Evening.vzplaylist";
  ASSERT_TRUE(controller_.saveDocumentAs(document));
  EXPECT_EQ(document->fileURL(), folder_ / "Evening.vzplaylist");
  EXPECT_NE(document->uniqueID(), uniqueID);
  EXPECT_NE(document->clipAtIndex(0)->playbackUniqueID(), rowID);
  panels_.fileName.reset();
  EXPECT_FALSE(controller_.saveDocumentAs(document));
  EXPECT_EQ(document->fileURL(), folder_ / "Evening.vzplaylist");
}

TEST_F(PlaylistDocumentControllerTest, ClosingAnEditedPlaylistFollowsEachAnswer) {
  struct Case {
    SaveChangesAnswer answer;
    bool nameGiven;
    bool closes;
    bool saved;
  };
  const Case cases[] = {
      {SaveChangesAnswer::Save, true, true, true},
      {SaveChangesAnswer::Save, false, false, false},  // the save panel cancelled
      {SaveChangesAnswer::DontSave, true, true, false},
      {SaveChangesAnswer::Cancel, true, false, false},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(n);
    auto document = editedDocument();
    panels_.answers = {c.answer};
    panels_.fileName.reset();
    if (c.nameGiven) panels_.fileName = folder_ / ("closing" + std::to_string(n++));
    EXPECT_EQ(controller_.shouldCloseDocument(document), c.closes);
    EXPECT_EQ(document->fileURL().has_value(), c.saved);
    EXPECT_EQ(document->isDocumentEdited(), !c.saved);
    EXPECT_EQ(panels_.asked.back(), "Untitled");
  }
  // An unedited document closes unasked.
  const std::size_t asked = panels_.asked.size();
  auto unedited = controller_.newDocument();
  EXPECT_TRUE(controller_.shouldCloseDocument(*unedited));
  EXPECT_EQ(panels_.asked.size(), asked);
}

TEST_F(PlaylistDocumentControllerTest, QuitAsksForEachEditedPlaylistFrontToBackAndStopsAtCancel) {
  auto back = editedDocument();
  ASSERT_TRUE(controller_.newDocument().ok());  // unedited: not asked about
  auto front = editedDocument();
  panels_.fileName = folder_ / "front";

  panels_.answers = {SaveChangesAnswer::Save, SaveChangesAnswer::Cancel};
  EXPECT_FALSE(controller_.reviewUnsavedDocumentsBeforeQuit());
  EXPECT_EQ(panels_.asked.size(), 2u);
  EXPECT_FALSE(front->isDocumentEdited());
  EXPECT_TRUE(back->isDocumentEdited());

  panels_.answers = {SaveChangesAnswer::DontSave};
  EXPECT_TRUE(controller_.reviewUnsavedDocumentsBeforeQuit());
  EXPECT_EQ(panels_.asked.size(), 3u);  // only the one still edited
  EXPECT_TRUE(back->isDocumentEdited());

  // Without a way to ask, nothing edited is let go.
  controller_.setDocumentPanels(nullptr);
  EXPECT_FALSE(controller_.reviewUnsavedDocumentsBeforeQuit());
}

TEST_F(PlaylistDocumentControllerTest, RevertReadsTheFileAgainAndDropsTheEdits) {
  const std::filesystem::path path = writePlaylist("revert.vzplaylist");
  auto opened = controller_.openDocumentWithContentsOfURL(path);
  ASSERT_TRUE(opened.ok());
  auto document = *opened;
  document->insertClip(std::make_shared<nodes::PlaylistItem>(), 0);
  ASSERT_TRUE(document->isDocumentEdited());

  ASSERT_TRUE(controller_.revertDocumentToSaved(document));
  EXPECT_EQ(document->clipCount(), 0u);
  EXPECT_FALSE(document->isDocumentEdited());
  EXPECT_FALSE(document->undoManager().canUndo());
  EXPECT_EQ(windows_.back()->reverted, 1);

  // A file gone bad keeps the edits.
  document->insertClip(std::make_shared<nodes::PlaylistItem>(), 0);
  std::ofstream(path, std::ios::trunc) << "<plist><dict><key>Document";
  EXPECT_FALSE(controller_.revertDocumentToSaved(document));
  EXPECT_EQ(document->clipCount(), 1u);
  EXPECT_TRUE(document->isDocumentEdited());
  // An untitled document has nothing to go back to.
  EXPECT_FALSE(controller_.revertDocumentToSaved(editedDocument()));
}

}  // namespace
}  // namespace app
