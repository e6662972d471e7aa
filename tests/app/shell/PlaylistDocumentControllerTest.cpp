#include "app/shell/PlaylistDocumentController.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/shell/AlertButtonLayout.h"
#include "nodes/playlist/PlaylistDocumentFormat.h"
#include "platform/RunLoop.h"
#include "tests/support/TemporaryDirectory.h"

namespace app {
namespace {

class CountingWindow : public DocumentWindowController {
 public:
  void showWindow() override { ++shown; }
  void updatePlaybackStatusAfterAwakeFromNib() override {}
  void cueButtonPushed() override {}
  void playButtonPushed() override {}
  void pauseButtonPushed() override {}
  void stopButtonPushed() override {}
  void skipToPreviousButtonPushed() override {}
  void skipToNextButtonPushed() override {}
  void externalMixerTriggeredPlaybackStart() override {}
  void externalMixerTriggeredPlaybackStop() override {}
  int shown = 0;
};

class PlaylistDocumentControllerTest : public ::testing::Test {
 protected:
  PlaylistDocumentControllerTest() {
    platform::RunLoop::main().attachCurrentThread();
    controller_.setPlaylistWindowFactory([this](const PlaylistDocumentController::DocumentPtr&) {
      windows_.push_back(std::make_shared<CountingWindow>());
      return windows_.back();
    });
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

}  // namespace
}  // namespace app
