// The clip preview pane over a scripted player view: what it shows for each
// kind of item, its keyboard, typed timecodes and in/out edits.

#include <gtest/gtest.h>

#include <fstream>

#include "app/preview/ClipPreviewViewController.h"
#include "app/preview/PlaylistClipPreviewItem.h"
#include "tests/app/preview/ClipPreviewFakes.h"
#include "tests/support/TemporaryDirectory.h"

namespace app {
namespace {

using clip_preview_fakes::FakeItem;
using clip_preview_fakes::FakePlayerView;
using clip_preview_fakes::RecordingControls;
using Field = ClipPreviewField;
using Control = ClipPreviewControl;

class RecordingDelegate final : public InOutInspectorViewControllerDelegate {
 public:
  bool setOutPointInSeconds(double seconds) override {
    outPoints.push_back(seconds);
    return true;
  }
  std::vector<double> outPoints;
};

class ClipPreviewViewControllerTest : public testing::Test {
 protected:
  ClipPreviewViewControllerTest() {
    std::ofstream(folder_ / "clip.mov") << "x";
    auto owned = std::make_unique<FakePlayerView>();
    player = owned.get();
    pane = std::make_unique<ClipPreviewViewController>(std::move(owned), defaults);
    pane->loadView(&controls);
    item->url = folder_ / "clip.mov";
  }

  // A 10 s clip at 25 fps, shown with the player at `seconds`.
  void showClipAt(double seconds) {
    pane->setItem(item);
    player->setCurrentSeconds(seconds);
    player->seeks.clear();
  }

  testing_support::TemporaryDirectory folder_;
  platform::UserDefaults defaults{""};
  FakePlayerView* player = nullptr;
  RecordingControls controls;
  std::unique_ptr<ClipPreviewViewController> pane;
  std::shared_ptr<FakeItem> item = std::make_shared<FakeItem>();
};

TEST_F(ClipPreviewViewControllerTest, KeysSeekMarkAndPlayAsTheTableSays) {
  using Kind = ClipPreviewKey::Kind;
  enum class Then { Nothing, Seek, InPoint, BothCleared, Toggle, TypedInField };
  struct Case {
    const char* name;
    ClipPreviewKey key;
    bool taken;
    Then then;
    double seconds;  // the seek target or the in point
    bool backwards;
  } cases[] = {
      {"shift-left near the start stops at 0", {Kind::LeftArrow, "", true, false}, true, Then::Seek, 0.0, true},
      {"left: one frame back", {Kind::LeftArrow, "", false, false}, true, Then::Seek, 0.36, true},
      {"shift-right: one second on", {Kind::RightArrow, "", true, false}, true, Then::Seek, 1.4, false},
      {"right: one frame on", {Kind::RightArrow, "", false, false}, true, Then::Seek, 0.44, false},
      {"alt-left goes to the in point", {Kind::LeftArrow, "", false, true}, true, Then::Seek, 2.0, false},
      {"alt-right: no out point, one frame before the end", {Kind::RightArrow, "", false, true}, true, Then::Seek, 9.96, false},
      {"shift-I goes to the in point", {Kind::Character, "I", true, false}, true, Then::Seek, 2.0, false},
      {"i marks the in point", {Kind::Character, "i", false, false}, true, Then::InPoint, 0.4, false},
      {"alt-i clears the in point", {Kind::Character, "i", false, true}, true, Then::InPoint, -1.0, false},
      {"alt-x clears both", {Kind::Character, "x", false, true}, true, Then::BothCleared, 0, false},
      {"x without alt is not taken", {Kind::Character, "x", false, false}, false, Then::Nothing, 0, false},
      {"q is not taken", {Kind::Character, "q", false, false}, false, Then::Nothing, 0, false},
      {"space plays", {Kind::Character, " ", false, false}, true, Then::Toggle, 0, false},
      {"a digit goes to the playhead field", {Kind::Character, "5", false, false}, true, Then::TypedInField, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    item->in = 2.0;
    item->out = -1.0;
    showClipAt(0.4);
    const int toggles = player->toggles;
    controls.typedIntoPositionField.reset();

    EXPECT_EQ(pane->handleKeyDownWithEvent(c.key), c.taken);
    switch (c.then) {
      case Then::Seek:
        ASSERT_EQ(player->seeks.size(), 1u);
        EXPECT_NEAR(player->seeks[0].seconds, c.seconds, 1e-6);
        EXPECT_TRUE(player->seeks[0].precisely);
        EXPECT_EQ(player->seeks[0].backwards, c.backwards || c.seconds < 0.4);
        break;
      case Then::InPoint:
        EXPECT_NEAR(item->in, c.seconds, 1e-6);
        break;
      case Then::BothCleared:
        EXPECT_EQ(item->in, -1.0);
        EXPECT_EQ(item->out, -1.0);
        break;
      case Then::Toggle:
        EXPECT_EQ(player->toggles, toggles + 1);
        break;
      case Then::TypedInField:
        EXPECT_EQ(controls.typedIntoPositionField, "=5");
        break;
      case Then::Nothing:
        EXPECT_TRUE(player->seeks.empty());
        EXPECT_EQ(item->in, 2.0);
        break;
    }
    pane->setItem(nullptr);
  }
}

TEST_F(ClipPreviewViewControllerTest, TypedEntriesSetPointsAndSeek) {
  struct Case {
    const char* name;
    Field field;
    const char* text;
    double in, out;        // item points after the entry
    std::optional<double> seek;
  } cases[] = {
      {"absolute in point", Field::InPoint, "=00:00:02:00", 2.0, -1.0, 2.0},
      {"relative out point counts from the media duration", Field::OutPoint, "-1:00", -1.0, 9.0, 9.0},
      {"the shortcut's text after the old text", Field::CurrentPosition, "00:00:00:10=5", -1.0, -1.0, 0.2},
      {"a relative position counts from the playhead", Field::CurrentPosition, "00:00:00:10=+1:00", -1.0, -1.0, 1.4},
      {"a position past the end is clamped", Field::CurrentPosition, "=1:00:00", -1.0, -1.0, 10.0},
      {"bad text changes nothing", Field::InPoint, "1a", -1.0, -1.0, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    item->in = -1.0;
    item->out = -1.0;
    showClipAt(0.4);
    controls.texts[c.field] = "typed";
    if (c.field == Field::InPoint) pane->inPointTextFieldAction(c.text);
    if (c.field == Field::OutPoint) pane->outPointTextFieldAction(c.text);
    if (c.field == Field::CurrentPosition) pane->currentPositionTextFieldAction(c.text);
    EXPECT_NEAR(item->in, c.in, 1e-6);
    EXPECT_NEAR(item->out, c.out, 1e-6);
    ASSERT_EQ(player->seeks.size(), c.seek ? 1u : 0u);
    if (c.seek) {
      EXPECT_NEAR(player->seeks[0].seconds, *c.seek, 1e-6);
    }
    if (c.field == Field::CurrentPosition) {
      // The field is left; the player's next position fills it.
      EXPECT_EQ(controls.paneFocused, 1);
      controls.paneFocused = 0;
    } else {
      // Whatever happened, the field shows a timecode again.
      EXPECT_NE(controls.texts[c.field], "typed");
    }
    pane->setItem(nullptr);
  }
}

TEST_F(ClipPreviewViewControllerTest, AnOutPointBeforeTheInPointIsRefusedWithoutADelegate) {
  item->in = 4.0;
  showClipAt(2.0);
  pane->markOutPoint();
  EXPECT_EQ(item->out, -1.0);
  pane->setOutPointInSeconds(6.0);
  EXPECT_EQ(item->out, 6.0);
  pane->clearOutPoint();
  EXPECT_EQ(item->out, -1.0);

  // The delegate checks its own values: the pane hands them over as they are.
  RecordingDelegate delegate;
  pane->setDelegate(&delegate);
  pane->markOutPoint();
  EXPECT_EQ(delegate.outPoints, std::vector<double>{2.0});
  pane->setDelegate(nullptr);
}

TEST_F(ClipPreviewViewControllerTest, AnInPointPastTheOutPointClearsTheOutPointFirst) {
  item->out = 3.0;
  showClipAt(5.0);
  pane->markInPoint();
  EXPECT_EQ(item->in, 5.0);
  EXPECT_EQ(item->out, -1.0);
}

TEST_F(ClipPreviewViewControllerTest, EachKindOfItemShowsItsStateAndEnablesItsControls) {
  struct Case {
    const char* name;
    std::int32_t type;
    bool fileThere, remote, comment, playable;
    const char* error;
    bool play, inOutFields, durationField, marks, go;
  } cases[] = {
      {"clip", 1, true, false, false, true, "", true, true, false, true, true},
      {"still", kClipPreviewStillImage, true, false, false, true, "", true, false, true, false, false},
      {"offline clip", 1, false, false, false, true, kMediaFileIsOfflineText, false, true, false, false, false},
      {"remote clip", 1, false, true, false, true, kMediaFileIsRemoteText, false, true, false, false, false},
      {"comment", 1, false, false, true, true, "", false, true, false, false, false},
      {"corrupt clip", 1, true, false, false, false, kMediaFileIsInvalidText, true, true, false, true, true},
      {"live source, none there", kClipPreviewLiveSource, false, false, false, false, kVoviInputNotConnectedText,
       true, false, true, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    item->type = c.type;
    item->remote = c.remote;
    item->comment = c.comment;
    item->url = folder_ / (c.fileThere ? "clip.mov" : "missing.mov");
    player->playable = c.playable;
    pane->setItem(item);
    EXPECT_EQ(controls.error, c.error);
    EXPECT_EQ(pane->playerView() != nullptr, c.playable);
    EXPECT_EQ(controls.enabled[Control::PlayPauseButton], c.play);
    EXPECT_EQ(controls.enabled[Control::InPointField], c.inOutFields);
    EXPECT_EQ(controls.enabled[Control::MediaDurationField], c.durationField);
    EXPECT_EQ(controls.enabled[Control::InPointMark], c.marks);
    EXPECT_EQ(controls.enabled[Control::OutPointGo], c.go);
    pane->setItem(nullptr);
    item = std::make_shared<FakeItem>();
  }
}

TEST_F(ClipPreviewViewControllerTest, AStreamShowsLoadingUntilItsSessionAnswers) {
  item->type = kClipPreviewNetworkStream;
  player->loadsAtOnce = false;
  pane->setItem(item);
  EXPECT_EQ(controls.error, kLoadingStreamText);
  EXPECT_FALSE(controls.hidden[Control::LoadingIndicator]);
  EXPECT_TRUE(controls.hidden[Control::PlayPauseButton]);
  player->finishLoading();
  EXPECT_EQ(controls.error, "");
  EXPECT_TRUE(controls.hidden[Control::LoadingIndicator]);
  // No owner set a frame duration: the player keeps its own.
  EXPECT_TRUE(player->outputFrameDurations.empty());
}

TEST_F(ClipPreviewViewControllerTest, CountersCarryTheFirstTimecodeUnlessTheDefaultSaysNot) {
  player->firstFrame = 250;  // 10 s at 25 fps
  item->in = 1.0;
  showClipAt(0.0);
  EXPECT_EQ(controls.texts[Field::CurrentPosition], "00:00:10:00");
  EXPECT_EQ(controls.texts[Field::InPoint], "00:00:11:00");
  EXPECT_EQ(controls.texts[Field::MediaDuration], "00:00:10:00");  // durations never carry it
  // Typed positions are read in the same terms.
  pane->currentPositionTextFieldAction("=00:00:12:00");
  ASSERT_EQ(player->seeks.size(), 1u);
  EXPECT_NEAR(player->seeks[0].seconds, 2.0, 1e-6);

  defaults.setObject(platform::Value(true), kIgnoreTCOffsetInInspectorKey);
  EXPECT_EQ(controls.texts[Field::InPoint], "00:00:01:00");
  defaults.setObject(platform::Value(false), kIgnoreTCOffsetInInspectorKey);
  EXPECT_EQ(controls.texts[Field::InPoint], "00:00:11:00");
}

TEST_F(ClipPreviewViewControllerTest, TheSameItemAgainIsNotReloadedAndItsChangesShowAtOnce) {
  pane->setItem(item);
  pane->setItem(item);
  EXPECT_EQ(player->loads.size(), 1u);
  item->in = 3.0;
  item->observers.didChangeValueForKey("inPointInSeconds", platform::Value(-1.0), platform::Value(3.0));
  EXPECT_EQ(controls.texts[Field::InPoint], "00:00:03:00");
}

TEST_F(ClipPreviewViewControllerTest, HidingTheWindowPausesAndTypingInThePlayheadPauses) {
  showClipAt(1.0);
  player->currentRate = 1.0F;
  pane->windowVisibilityChanged(false);
  EXPECT_EQ(player->currentRate, 0.0F);
  pane->windowVisibilityChanged(true);
  EXPECT_EQ(player->currentRate, 0.0F);

  player->currentRate = 1.0F;
  pane->playHeadTextFieldDidBecomeFirstResponder();
  EXPECT_EQ(player->toggles, 1);
}

TEST_F(ClipPreviewViewControllerTest, ScrubbingSeeksRoughlyWhileDraggingAndPreciselyAtTheEnd) {
  showClipAt(5.0);
  pane->positionSliderChanged(1.0);  // not dragging: the slider only follows the player
  EXPECT_TRUE(player->seeks.empty());
  pane->startedScrubbingTimelineAtPosition(4.0);
  pane->positionSliderChanged(3.0);
  pane->stoppedScrubbingTimelineAtPosition(3.5);
  ASSERT_EQ(player->seeks.size(), 3u);
  EXPECT_FALSE(player->seeks[0].precisely);
  EXPECT_TRUE(player->seeks[0].backwards);  // earlier than the playhead
  EXPECT_FALSE(player->seeks[1].precisely);
  EXPECT_TRUE(player->seeks[2].precisely);
  EXPECT_FALSE(pane->isTrackingPositionSlider());
}

TEST(PlaylistClipPreviewItemTest, APlaylistItemIsPreviewedFromItsFileWithItsPoints) {
  testing_support::TemporaryDirectory folder;
  std::ofstream(folder / "a.mov") << "x";
  auto playlistItem = std::make_shared<nodes::PlaylistItem>();
  playlistItem->update([&](nodes::PlaylistItemFields& f) {
    f.absolutePathToMediaItem = (folder / "a.mov").string();
    f.mediaItemDurationInSeconds = 8.0;
    f.framesPerSecond = 25.0;
  });
  platform::UserDefaults defaults{""};
  auto owned = std::make_unique<FakePlayerView>();
  FakePlayerView& player = *owned;
  ClipPreviewViewController pane(std::move(owned), defaults);
  RecordingControls controls;
  pane.loadView(&controls);
  pane.setItem(std::make_shared<PlaylistClipPreviewItem>(playlistItem, defaults));

  EXPECT_EQ(player.loads, std::vector<std::string>{(folder / "a.mov").string()});
  player.setCurrentSeconds(2.0);
  pane.markInPoint();
  EXPECT_EQ(playlistItem->inPointInSeconds(), 2.0);
  playlistItem->setOutPointInSeconds(6.0);  // changed elsewhere: the counters follow
  EXPECT_EQ(controls.texts[Field::OutPoint], "00:00:06:00");
  EXPECT_EQ(controls.texts[Field::InOutDuration], "00:00:04:00");
}

}  // namespace
}  // namespace app
