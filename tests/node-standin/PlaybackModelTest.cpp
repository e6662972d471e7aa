#include <gtest/gtest.h>

#include <chrono>

#include "node-standin/PlaybackModel.h"
#include "platform/Clock.h"

namespace standin {
namespace {

using namespace std::chrono_literals;

PlaylistEntry entry(std::string id, double seconds, ClipEndBehaviour behaviour = ClipEndBehaviour::Normal) {
  PlaylistEntry result;
  result.playbackUniqueID = std::move(id);
  result.durationInSeconds = seconds;
  result.endBehaviour = behaviour;
  return result;
}

class PlaybackModelTest : public ::testing::Test {
 protected:
  void SetUp() override { model_.emplace(); }

  void load(std::vector<PlaylistEntry> entries) {
    model_->appendEntries(std::move(entries));
    model_->initialize();
  }

  PlaybackSnapshot now() { return model_->snapshot(); }

  platform::ManualClock clock_;
  platform::ScopedClockOverride override_{clock_};
  std::optional<PlaybackModel> model_;  // made after the clock is installed
};

TEST_F(PlaybackModelTest, RefusesTransportUntilInitialized) {
  model_->appendEntries({entry("A", 4)});
  EXPECT_EQ(now().status, PlaybackStatus::NotInitialized);
  const platform::Status refused = model_->playItem(std::string("A"), 0);
  ASSERT_FALSE(refused.ok());
  EXPECT_TRUE(refused.error().is(kPlaybackErrorDomain, PlaybackErrorCode::NotInitialized));
  EXPECT_FALSE(model_->pause().ok());

  model_->initialize();
  EXPECT_EQ(now().status, PlaybackStatus::Stopped);
  EXPECT_TRUE(model_->playItem(std::string("A"), 0).ok());
  model_->close();
  EXPECT_EQ(now().status, PlaybackStatus::NotInitialized);
  EXPECT_EQ(statusWord(PlaybackStatus::NotInitialized), "NOT_INITIALIZED");
}

TEST_F(PlaybackModelTest, PositionFollowsTheClockWhilePlayingOnly) {
  load({entry("A", 10), entry("B", 10)});
  ASSERT_TRUE(model_->playItem(std::string("B"), 2.5).ok());
  clock_.advance(1500ms);
  PlaybackSnapshot snapshot = now();
  EXPECT_EQ(statusWord(snapshot.status), "PLAYING");
  EXPECT_EQ(snapshot.clipPlaybackUniqueID, "B");
  EXPECT_DOUBLE_EQ(snapshot.position, 4.0);
  EXPECT_EQ(snapshot.lockedClips, std::vector<std::string>{"B"});

  ASSERT_TRUE(model_->pause().ok());
  clock_.advance(5s);
  EXPECT_EQ(statusWord(now().status), "PAUSED");
  EXPECT_DOUBLE_EQ(now().position, 4.0);

  ASSERT_TRUE(model_->resume().ok());
  clock_.advance(1s);
  EXPECT_DOUBLE_EQ(now().position, 5.0);

  ASSERT_TRUE(model_->stop().ok());
  snapshot = now();
  EXPECT_EQ(statusWord(snapshot.status), "STOPPED");
  EXPECT_EQ(snapshot.clipPlaybackUniqueID, "B");
  EXPECT_TRUE(snapshot.lockedClips.empty());
}

TEST_F(PlaybackModelTest, CuedClipWaitsThenPlaysFromItsOffset) {
  load({entry("A", 10), entry("B", 10)});
  ASSERT_TRUE(model_->cueItem(std::string("B"), 3).ok());
  clock_.advance(4s);
  EXPECT_EQ(statusWord(now().status), "CUED");
  EXPECT_DOUBLE_EQ(now().position, 3.0);
  ASSERT_TRUE(model_->playItem(std::nullopt, 0).ok());  // "pbplayitem" without a clip starts what is cued
  clock_.advance(1s);
  EXPECT_EQ(now().clipPlaybackUniqueID, "B");
  EXPECT_DOUBLE_EQ(now().position, 4.0);
}

// What happens when clip A (2 s) ends, 0.5 s after its end, by its end
// behaviour and the playlist's modes.
TEST_F(PlaybackModelTest, ClipEndFollowsEndBehaviourAndModes) {
  struct Case {
    const char* name;
    ClipEndBehaviour behaviour;
    bool chain, loop, cue;
    bool lastEntry;  // A is the last entry of the playlist
    const char* status;
    const char* clip;
    double position;
  } cases[] = {
      {"chain runs on", ClipEndBehaviour::Chain, false, false, false, false, "PLAYING", "B", 0.5},
      {"normal in chain mode runs on", ClipEndBehaviour::Normal, true, false, false, false, "PLAYING", "B", 0.5},
      {"normal without chain mode stops", ClipEndBehaviour::Normal, false, false, false, false, "STOPPED", "A", 2.0},
      {"normal in cue mode stops", ClipEndBehaviour::Normal, true, false, true, false, "STOPPED", "A", 2.0},
      {"chain in cue mode still runs on", ClipEndBehaviour::Chain, false, false, true, false, "PLAYING", "B", 0.5},
      {"loop restarts the clip", ClipEndBehaviour::Loop, true, false, false, false, "PLAYING", "A", 0.5},
      {"hold last frame stops", ClipEndBehaviour::HoldLastFrame, true, true, false, false, "STOPPED", "A", 2.0},
      {"stop at end stops", ClipEndBehaviour::StopAtEnd, true, true, false, false, "STOPPED", "A", 2.0},
      {"last clip stops without loop mode", ClipEndBehaviour::Chain, true, false, false, true, "STOPPED", "A", 2.0},
      {"last clip wraps in loop mode", ClipEndBehaviour::Chain, true, true, false, true, "PLAYING", "Z", 0.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    model_.emplace();
    std::vector<PlaylistEntry> entries;
    if (c.lastEntry) entries.push_back(entry("Z", 5));
    entries.push_back(entry("A", 2, c.behaviour));
    if (!c.lastEntry) entries.push_back(entry("B", 5));
    load(std::move(entries));
    model_->setChainMode(c.chain);
    model_->setLoopMode(c.loop);
    model_->setCueMode(c.cue);
    ASSERT_TRUE(model_->playItem(std::string("A"), 0).ok());
    clock_.advance(2500ms);
    const PlaybackSnapshot snapshot = now();
    EXPECT_EQ(statusWord(snapshot.status), c.status);
    EXPECT_EQ(snapshot.clipPlaybackUniqueID, c.clip);
    EXPECT_DOUBLE_EQ(snapshot.position, c.position);
  }
}

TEST_F(PlaybackModelTest, LongRunsCrossSeveralClipsInOneStep) {
  load({entry("A", 1, ClipEndBehaviour::Chain), entry("B", 2, ClipEndBehaviour::Chain),
        entry("C", 1.5, ClipEndBehaviour::Loop)});
  ASSERT_TRUE(model_->playItem(std::string("A"), 0).ok());
  clock_.advance(3500ms + 100 * 1500ms + 250ms);  // A, B, C once, then a hundred more turns of C
  EXPECT_EQ(now().clipPlaybackUniqueID, "C");
  EXPECT_NEAR(now().position, 0.75, 1e-9);
}

TEST_F(PlaybackModelTest, LoopOfEmptyEntriesStopsInsteadOfSpinning) {
  load({entry("A", 0, ClipEndBehaviour::Chain), entry("B", 0, ClipEndBehaviour::Chain)});
  model_->setLoopMode(true);
  ASSERT_TRUE(model_->playItem(std::string("A"), 0).ok());
  clock_.advance(1s);
  EXPECT_EQ(statusWord(now().status), "STOPPED");
}

TEST_F(PlaybackModelTest, SkipToNextPlaysOnOrCuesAndWrapsOnlyInLoopMode) {
  load({entry("A", 10), entry("B", 10)});
  ASSERT_TRUE(model_->playItem(std::string("A"), 4).ok());
  ASSERT_TRUE(model_->skipToNext().ok());
  EXPECT_EQ(statusWord(now().status), "PLAYING");
  EXPECT_EQ(now().clipPlaybackUniqueID, "B");
  EXPECT_DOUBLE_EQ(now().position, 0.0);

  ASSERT_TRUE(model_->skipToNext().ok());  // past the last entry without loop mode
  EXPECT_EQ(statusWord(now().status), "STOPPED");

  model_->setLoopMode(true);
  ASSERT_TRUE(model_->pause().ok());
  ASSERT_TRUE(model_->skipToNext().ok());
  EXPECT_EQ(statusWord(now().status), "CUED");
  EXPECT_EQ(now().clipPlaybackUniqueID, "A");
}

TEST_F(PlaybackModelTest, PlaylistEditsKeepTheCurrentClip) {
  load({entry("A", 10), entry("B", 10), entry("C", 10)});
  const std::uint64_t before = model_->playlistChangeNumber();
  ASSERT_TRUE(model_->playItem(std::string("B"), 1).ok());
  ASSERT_TRUE(model_->insertEntry(0, entry("N", 3)).ok());
  ASSERT_TRUE(model_->removeEntry(3).ok());
  EXPECT_EQ(now().clipIndex, std::optional<std::size_t>(2));
  EXPECT_EQ(now().clipPlaybackUniqueID, "B");
  EXPECT_FALSE(model_->insertEntry(9, entry("X", 1)).ok());
  EXPECT_FALSE(model_->removeEntry(3).ok());
  EXPECT_EQ(model_->playlistChangeNumber(), before + 2);

  ASSERT_TRUE(model_->removeEntry(2).ok());  // the clip on air
  const PlaybackSnapshot snapshot = now();
  EXPECT_EQ(statusWord(snapshot.status), "STOPPED");
  EXPECT_EQ(snapshot.clipPlaybackUniqueID, "");
  EXPECT_FALSE(model_->playItem(std::string("B"), 0).ok());
}

}  // namespace
}  // namespace standin
