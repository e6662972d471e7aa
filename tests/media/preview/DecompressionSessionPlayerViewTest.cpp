// The session player view over a scripted session, its timer on a manual
// clock: answers without a session, decode sizes, timer periods and audio
// buffer sizes by rate, steps against scrubs, the scrub hand-over, the end of
// the clip, reloading, live sources and each view keeping its own display.

#include <gtest/gtest.h>

#include <atomic>

#include "media/live/CVNZiraSource.h"
#include "media/preview/CVNDecompressionSessionPlayerView.h"
#include "platform/Clock.h"
#include "tests/media/preview/FakeAudioPreviewStream.h"
#include "tests/media/preview/FakePreviewSession.h"
#include "tests/support/RunLoopWait.h"

namespace {

using media::CVNDecompressionSessionPlayerView;
using preview_fakes::FakePreviewSession;
namespace pm = platform::media;

class RecordingDisplay final : public media::SampleBufferDisplay {
 public:
  void enqueueSampleBuffer(const pm::SampleBufferRef&) override { ++frames; }
  void flushAndRemoveImage() override { ++flushes; }
  std::atomic<int> frames{0};
  std::atomic<int> flushes{0};
};

class RecordingDelegate final : public media::CVNPlayerViewDelegate {
 public:
  void playerViewPositionChanged(media::CVNPlayerView&, pm::MediaTime position) override {
    positions.push_back(position.seconds());
  }
  void playerViewStatusChanged(media::CVNPlayerView&, std::int32_t status) override { statuses.push_back(status); }
  std::vector<double> positions;
  std::vector<std::int32_t> statuses;
};

class DecompressionSessionPlayerViewTest : public ::testing::Test {
 protected:
  media::PlayerViewServices services() {
    media::PlayerViewServices services;
    const auto make = [this](auto delegate, auto queue) {
      auto session = std::make_shared<FakePreviewSession>(std::move(delegate), std::move(queue));
      if (script_) script_(*session);
      sessions_.push_back(session);
      return session;
    };
    services.makeFileSession = [make](const std::string&, const std::string& description, auto delegate, auto queue) {
      EXPECT_EQ(description, "Inspector - Clip 'clip'");
      return make(std::move(delegate), std::move(queue));
    };
    services.makeLiveSession = [make](std::shared_ptr<media::CVNZiraSource>, auto delegate, auto queue) {
      return make(std::move(delegate), std::move(queue));
    };
    services.sourceWithName = [this](const std::string&) { return source_; };
    services.audioStreams = preview_fakes::fakeStreamFactory(audio_);
    services.mainQueue = std::shared_ptr<platform::DispatchQueue>(std::shared_ptr<void>(), &platform::DispatchQueue::main());
    return services;
  }

  // Loads a file and runs its initialisation; the session is buffering.
  std::shared_ptr<FakePreviewSession> load(CVNDecompressionSessionPlayerView& view) {
    bool initialized = false;
    view.setItemURL("/clips/clip.mov", 0, [&] { initialized = true; });
    auto session = sessions_.back();
    session->initialize();
    EXPECT_TRUE(testing_support::runMainLoopUntil([&] { return initialized; }, "the item to initialise"));
    session->setStatus(media::kSessionStatusBuffering);
    return session;
  }
  void ready(FakePreviewSession& session) {
    session.becomeReady();
    drainMain();
  }
  // Runs what was posted to the main queue so far.
  void drainMain() {
    bool done = false;
    platform::DispatchQueue::main().async([&] { done = true; });
    testing_support::runMainLoopUntil([&] { return done; }, "the main queue");
  }

  platform::ManualClock clock_;
  platform::ScopedClockOverride useClock_{clock_};
  std::shared_ptr<preview_fakes::FakeStreamRecord> audio_ = std::make_shared<preview_fakes::FakeStreamRecord>();
  std::function<void(FakePreviewSession&)> script_;
  std::vector<std::shared_ptr<FakePreviewSession>> sessions_;
  std::shared_ptr<media::CVNZiraSource> source_ = media::CVNZiraSource::createWithDictionary({});
  RecordingDisplay display_;
  RecordingDelegate delegate_;
  CVNDecompressionSessionPlayerView view_{&display_, services()};
};

TEST_F(DecompressionSessionPlayerViewTest, WithoutASessionAnswersNeutrally) {
  EXPECT_DOUBLE_EQ(view_.itemDuration(), 1.0);
  EXPECT_EQ(view_.currentTime(), pm::MediaTime::make(0, 1));
  EXPECT_EQ(view_.itemFrameDuration(), pm::MediaTime::zero());
  EXPECT_EQ(view_.rate(), 0.0f);
  EXPECT_FALSE(view_.isPlayable());
  view_.seekToTime(3.0, true, false);
  view_.togglePlayPause();
  EXPECT_EQ(view_.rate(), 1.0f);  // the timer runs, with nothing to show
}

TEST_F(DecompressionSessionPlayerViewTest, RateAndPictureSetTimerDecodeSizeAndAudioBuffer) {
  const struct {
    pm::MediaTime rate;
    foundation::Size size;
    std::int32_t type;
    bool playable;
    std::int64_t intervalNs;
    foundation::Size decode;
    std::int32_t audioSamples;
  } rows[] = {
      {pm::MediaTime::make(25, 1), {1920, 1080}, media::kAssetTypeQuickTimeMovie, true, 40'000'000, {640, 360}, 1920},
      {pm::MediaTime::make(30000, 1001), {720, 540}, media::kAssetTypeQuickTimeMovie, true, 33'366'666, {640, 480}, 1602},
      {pm::MediaTime::make(25, 1), {0, 0}, media::kAssetTypeSound, true, 40'000'000, {640, 480}, 1920},
      {pm::MediaTime::make(0, 1), {1920, 1080}, media::kAssetTypeQuickTimeMovie, false, 0, {}, 800},
      {pm::MediaTime::make(1001, 1), {1920, 1080}, media::kAssetTypeQuickTimeMovie, false, 0, {}, 800},
  };
  for (const auto& row : rows) {
    const std::string label = std::to_string(row.rate.value) + "/" + std::to_string(row.rate.timeScale);
    script_ = [&](FakePreviewSession& session) {
      session.rate = row.rate;
      session.channels = 2;
      session.reader = std::make_shared<preview_fakes::FakePreviewAsset>(row.size, row.type);
    };
    CVNDecompressionSessionPlayerView view(&display_, services());
    load(view);
    EXPECT_EQ(view.isPlayable(), row.playable) << label;
    EXPECT_EQ(view.displayInterval().value_or(std::chrono::nanoseconds(0)).count(), row.intervalNs) << label;
    EXPECT_EQ(view.decompressSize(), row.decode) << label;
    EXPECT_EQ(view.preferedAudioSamplesPerAudioBuffer(), row.audioSamples) << label;
  }
}

TEST_F(DecompressionSessionPlayerViewTest, TheTimerShowsFramesWithTheirAudioOnTheManualClock) {
  script_ = [](FakePreviewSession& session) { session.channels = 2; };
  view_.setPlayerViewDelegate(&delegate_);
  auto session = load(view_);
  session->decodeFrames(0, 3);
  ready(*session);
  view_.play();
  ASSERT_TRUE(testing_support::advanceClockUntil(clock_, std::chrono::milliseconds(40),
                                                 [&] { return session->framesLeft() == 0; }, 10));
  view_.pause();
  drainMain();
  EXPECT_EQ(session->audioRequests(), (std::vector<std::uint32_t>{1920, 1920, 1920}));
  EXPECT_EQ(display_.frames.load(), 4);  // the head when ready, then three ticks
  EXPECT_EQ(delegate_.statuses, (std::vector<std::int32_t>{0, 1}));
  EXPECT_DOUBLE_EQ(delegate_.positions.back(), 0.08);
}

TEST_F(DecompressionSessionPlayerViewTest, ASeekWithinDecodedFramesStepsAndABiggerOneScrubsPrecisely) {
  auto session = load(view_);
  session->decodeFrames(0, 6);
  ready(*session);
  view_.seekToTime(0.12, false, false);  // 3 frames ahead, 5 decoded beyond the head
  EXPECT_TRUE(session->scrubs().empty());
  EXPECT_DOUBLE_EQ(view_.currentTime().seconds(), 0.12);
  view_.seekToTime(0.52, false, false);  // 10 frames ahead
  ASSERT_EQ(session->scrubs().size(), 1u);
  const auto scrub = session->scrubs()[0];
  EXPECT_DOUBLE_EQ(scrub.seconds, 0.52);
  EXPECT_FALSE(scrub.quickly);
  EXPECT_TRUE(scrub.precisely);
}

TEST_F(DecompressionSessionPlayerViewTest, SeeksBeforeBufferingOrWithinTheToleranceDoNothing) {
  bool initialized = false;
  view_.setItemURL("/clips/clip.mov", 0, [&] { initialized = true; });
  view_.seekToTime(5.0, true, false);  // still loading
  auto session = sessions_.back();
  session->setStatus(media::kSessionStatusBuffering);
  session->setPlaybackPTS(pm::MediaTime::make(100, 25));
  view_.seekToTime(4.005, true, false);
  view_.seekToTime(3.995, true, true);
  EXPECT_TRUE(session->scrubs().empty());
}

TEST_F(DecompressionSessionPlayerViewTest, AnEarlierRequestArrivingDuringAScrubIsCarriedOut) {
  auto session = load(view_);
  view_.seekToTime(5.0, true, false);
  view_.seekToTime(1.0, true, true);  // pending while the first scrub runs
  ASSERT_EQ(session->scrubs().size(), 1u);
  session->setPlaybackPTS(pm::MediaTime::make(5, 1));
  ready(*session);
  ASSERT_EQ(session->scrubs().size(), 2u);
  EXPECT_DOUBLE_EQ(session->scrubs()[1].seconds, 1.0);
  EXPECT_TRUE(session->scrubs()[1].backwards);
}

TEST_F(DecompressionSessionPlayerViewTest, ToggleAfterTheEndScrubsToZeroAndPlaysWhenReady) {
  auto session = load(view_);
  session->setPlaybackPTS(pm::MediaTime::make(10, 1));
  session->finished = true;
  view_.togglePlayPause();
  ASSERT_EQ(session->scrubs().size(), 1u);
  EXPECT_DOUBLE_EQ(session->scrubs()[0].seconds, 0.0);
  EXPECT_TRUE(session->scrubs()[0].backwards);
  EXPECT_EQ(view_.rate(), 0.0f);  // not while scrubbing
  session->finished = false;
  session->setPlaybackPTS(pm::MediaTime::make(0, 1));
  ready(*session);
  EXPECT_EQ(view_.rate(), 1.0f);
}

TEST_F(DecompressionSessionPlayerViewTest, TheSameFileTwiceBuildsTwoSessionsAndTheSameSourceTwiceOne) {
  const auto first = load(view_);
  const auto second = load(view_);
  EXPECT_NE(first, second);
  EXPECT_TRUE(first->discarded());

  int liveHandlerCalls = 0;
  for (int i = 0; i < 2; ++i) view_.setZiraSourceName("Camera 1", [&] { ++liveHandlerCalls; });
  EXPECT_EQ(sessions_.size(), 3u);
  sessions_.back()->initialize();
  EXPECT_TRUE(testing_support::runMainLoopUntil([&] { return liveHandlerCalls == 1; }, "the live handler"));
  view_.setForceNewSessionCreation(true);
  view_.setZiraSourceName("Camera 1", [] {});
  EXPECT_EQ(sessions_.size(), 4u);
}

TEST_F(DecompressionSessionPlayerViewTest, AZeroOutputFrameDurationKeepsTheDefaultForStills) {
  script_ = [](FakePreviewSession& session) {
    session.reader = std::make_shared<preview_fakes::FakePreviewAsset>(foundation::Size{1920, 1080}, media::kAssetTypeImage);
  };
  view_.setOutputFrameDuration(pm::MediaTime::zero());
  const auto still = load(view_);
  EXPECT_EQ(still->outputFrameDuration(), pm::MediaTime::make(1000, 25000));
  view_.setOutputFrameDuration(pm::MediaTime::make(1, 50));
  EXPECT_EQ(load(view_)->outputFrameDuration(), pm::MediaTime::make(1, 50));
}

TEST_F(DecompressionSessionPlayerViewTest, EachViewShowsItsFramesOnItsOwnDisplay) {
  RecordingDisplay otherDisplay;
  CVNDecompressionSessionPlayerView other(&otherDisplay, services());
  auto mine = load(view_);
  mine->decodeFrames(0, 2);
  ready(*mine);
  auto theirs = load(other);
  theirs->decodeFrames(0, 2);
  ready(*theirs);
  view_.seekToTime(0.04, false, false);
  EXPECT_EQ(display_.frames.load(), 2);
  EXPECT_EQ(otherDisplay.frames.load(), 1);
}

}  // namespace
