#include "media/live/CVNZiraInputSession.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "captions/CVNCCUtilities.h"
#include "media/live/CVNZiraSource.h"
#include "platform/Clock.h"
#include "platform/DispatchQueue.h"
#include "platform/UserDefaults.h"
#include "tests/control/support/CapturedTechnicalLog.h"
#include "tests/media/live/LiveFakes.h"
#include "tests/support/TemporaryDirectory.h"

namespace media {
namespace {

namespace pm = platform::media;
using testing::audioSamples;
using testing::videoFrame;

struct Rate {
  std::int64_t frameDuration;
  std::int32_t timeScale;
  double fps() const { return static_cast<double>(timeScale) / static_cast<double>(frameDuration); }
};
constexpr Rate k25{1, 25};
constexpr Rate k50{1, 50};

class LiveInputSessionTest : public ::testing::Test {
 protected:
  void SetUp() override { configure(5, -5.0, 1.0); }
  static void configure(std::int64_t bufferSize, double noSignalTimeout, double actionWait) {
    platform::UserDefaults::standard().registerDefaults(
        {{"ziraInputBufferSize", platform::Value(bufferSize)},
         {"ZiraInputNoSignalTimeOut", platform::Value(noSignalTimeout)},
         {"actionWaitTimeout", platform::Value(actionWait)}});
  }
  std::shared_ptr<CVNZiraInputSession> makeSession(Rate output = k25, std::int32_t width = 1920,
                                                   std::int32_t height = 1080) {
    input_->setSelectedDisplayMode(std::make_shared<pluginframework::CVNDisplayMode>(
        "mode", 1, 25, width, height, pluginframework::FieldDominance::Progressive));
    source_->setInput(input_);
    source_->setIsEnabled(true);
    auto session = CVNZiraInputSession::create(source_, delegate_, queue_);
    session->setOutputFrameDuration(pm::MediaTime::make(output.frameDuration, output.timeScale));
    session->setOutputAudioStreamBasicDescription(session->outputAudioStreamBasicDescription());
    EXPECT_TRUE(session->startBuffering());
    return session;
  }
  // Frame `index` at `rate` with `audioFrames` of audio at `audioRate` (none for 0).
  void feed(std::int64_t index, Rate rate = k25, std::uint32_t audioFrames = 0, double audioRate = 48000) {
    pluginframework::CVNInputFrame frame;
    frame.video = videoFrame(index, rate.frameDuration, rate.timeScale);
    if (audioFrames) frame.audio = audioSamples(audioFrames, audioRate);
    source_->inputDidProduceFrame(frame);
  }
  static std::int64_t indexOf(const pm::SampleBufferRef& frame) {
    if (!frame) return -1;
    return frame->presentationTimeStamp().value / frame->duration().value;
  }
  void flush() { ASSERT_TRUE(queue_->sync([] {}, std::chrono::seconds(10))); }
  void advance(double seconds) {
    clock_.advance(std::chrono::duration_cast<platform::Clock::Duration>(std::chrono::duration<double>(seconds)));
  }

  platform::ManualClock clock_;
  platform::ScopedClockOverride clockOverride_{clock_};
  testing_support::TemporaryDirectory folder_;
  platform::UserDefaults defaults_{folder_.path() / "defaults.plist"};
  testing_support::CapturedTechnicalLog log_{defaults_};
  std::shared_ptr<platform::DispatchQueue> queue_ = std::make_shared<platform::SerialQueue>("test.live.delegate");
  std::shared_ptr<testing::CountingDelegate> delegate_ = std::make_shared<testing::CountingDelegate>();
  std::shared_ptr<testing::ScriptedInput> input_ = std::make_shared<testing::ScriptedInput>("Card 1", "card-1");
  std::shared_ptr<CVNZiraSource> source_ = [] {
    auto source = std::make_shared<CVNZiraSource>();
    source->setDisplayName("Studio");
    return source;
  }();
};

TEST_F(LiveInputSessionTest, BufferSizeFromTheDefaultsWithAFloorOfTwo) {
  for (const auto& [configured, expected] : {std::pair{1, 2}, {2, 2}, {3, 3}, {5, 5}}) {
    configure(configured, -5.0, 1.0);
    auto delegate = std::make_shared<testing::CountingDelegate>();
    delegate_ = delegate;
    auto session = makeSession();
    EXPECT_EQ(session->ziraBufferSize(), expected);
    for (int i = 0; i < expected - 1; ++i) feed(i);
    flush();
    EXPECT_EQ(delegate->count("ready"), 0u) << configured;
    for (int i = expected - 1; i < 10; ++i) feed(i);
    flush();
    EXPECT_EQ(session->bufferedVideoCount(), static_cast<std::size_t>(expected)) << configured;
    EXPECT_EQ(session->bufferedCaptionCount(), static_cast<std::size_t>(expected)) << configured;
    EXPECT_EQ(delegate->calls(), (std::vector<std::string>{"initialized", "ready", "read all"})) << configured;
    session->discard();
  }
}

TEST_F(LiveInputSessionTest, FramesAreDroppedOrRepeatedToFollowTheOutputClock) {
  const struct {
    Rate input, output;
    std::vector<std::int64_t> handedOut;
  } rows[] = {
      {k50, k25, {0, 2, 4, 6, 8, 10}},
      {k25, k50, {0, 0, 1, 1, 2, 2}},
      {k25, k25, {0, 1, 2, 3, 4, 5}},
  };
  for (const auto& row : rows) {
    auto session = makeSession(row.output);
    std::int64_t fed = 0;
    std::vector<std::int64_t> handed;
    for (std::size_t tick = 0; tick < row.handedOut.size(); ++tick) {
      const double wanted = 5 + static_cast<double>(tick) * row.input.fps() / row.output.fps();
      while (fed < wanted) feed(fed++, row.input);
      handed.push_back(indexOf(session->nextVideoSampleBuffer()));
    }
    EXPECT_EQ(handed, row.handedOut) << row.input.fps() << " -> " << row.output.fps();
    session->discard();
  }
}

TEST_F(LiveInputSessionTest, AnEmptiedBufferHoldsOutputUntilItHasRefilled) {
  auto session = makeSession();
  EXPECT_EQ(session->nextVideoSampleBuffer(), nullptr) << "nothing before the buffer has filled";
  for (int i = 0; i < 5; ++i) feed(i);
  std::vector<std::int64_t> handed;
  for (int i = 0; i < 6; ++i) handed.push_back(indexOf(session->nextVideoSampleBuffer()));
  EXPECT_EQ(handed, (std::vector<std::int64_t>{0, 1, 2, 3, 4, -1}));
  for (int i = 5; i < 8; ++i) feed(i);
  EXPECT_EQ(session->nextVideoSampleBuffer(), nullptr) << "three of the four frames needed";
  feed(8);
  EXPECT_EQ(indexOf(session->nextVideoSampleBuffer()), 5);
}

TEST_F(LiveInputSessionTest, OneMissingSignalReportPerOutage) {
  configure(5, 2.0, 1.0);
  auto session = makeSession();
  std::int64_t fed = 0;
  const auto play = [&](int ticks, bool frames) {
    for (int i = 0; i < ticks; ++i) {
      advance(0.04);
      if (frames) feed(fed++);
      session->nextVideoSampleBuffer();
    }
  };
  for (int i = 0; i < 5; ++i) feed(fed++);
  play(10, true);
  play(250, false);  // a 10-second outage
  flush();
  ASSERT_EQ(delegate_->outages().size(), 1u);
  EXPECT_GT(delegate_->outages()[0], 2.0);
  EXPECT_LE(delegate_->outages()[0], 2.05);
  play(10, true);
  play(100, false);
  flush();
  EXPECT_EQ(delegate_->outages().size(), 2u);
}

TEST_F(LiveInputSessionTest, BeforeStartActionsSkipFramesUntilTheTimeout) {
  auto session = makeSession();
  session->setWaitForActionCompletionCallback(true);
  for (int i = 0; i < 30; ++i) {
    advance(i == 0 ? 0.02 : 0.04);
    feed(i);
  }
  EXPECT_EQ(session->skippedFramesCount(), 25u);
  EXPECT_FALSE(session->waitingForActionCompletionCallback());
  EXPECT_EQ(session->bufferedVideoCount(), 5u);
  EXPECT_EQ(log_.linesWith("\"Studio\": BeforeStart Actions: Callback not received for some 'Before Start' actions, "
                           "but timeout Reached. Starting Playback"),
            1u);
  session->setWaitForActionCompletionCallback(true);
  session->setWaitForActionCompletionCallback(false);
  feed(30);
  EXPECT_EQ(session->skippedFramesCount(), 25u) << "a confirmed wait skips nothing";
}

TEST_F(LiveInputSessionTest, InputsWithoutCaptionsGetEmptyCaptionsOfTheirKind) {
  const struct {
    std::int32_t width, height;
    pm::FourCharCode kind;
  } rows[] = {{720, 486, pm::fourCC("c608")}, {720, 576, pm::fourCC("c708")}, {1920, 1080, pm::fourCC("c708")}};
  for (const auto& row : rows) {
    auto session = makeSession(k25, row.width, row.height);
    feed(0);
    const auto caption = session->nextClosedCaptionSampleBufferWithPTS(pm::MediaTime::zero());
    ASSERT_NE(caption, nullptr);
    EXPECT_EQ(caption->formatDescription()->mediaSubType(), row.kind) << row.width << "x" << row.height;
    session->discard();
  }
}

TEST_F(LiveInputSessionTest, AudioOfEachHandedOutFrameReachesTheRingInTheOutputFormat) {
  const struct {
    double rate;
    std::uint32_t framesPerVideoFrame;
    std::int64_t tolerance;
  } rows[] = {{48000, 1920, 0}, {44100, 1764, 64}, {32000, 1280, 64}};
  for (const auto& row : rows) {
    auto session = makeSession();
    std::int64_t fed = 0;
    for (int i = 0; i < 5; ++i) feed(fed++, k25, row.framesPerVideoFrame, row.rate);
    for (int i = 0; i < 25; ++i) {
      ASSERT_NE(session->nextVideoSampleBuffer(), nullptr);
      feed(fed++, k25, row.framesPerVideoFrame, row.rate);
    }
    EXPECT_NEAR(static_cast<double>(session->audioSamplesBuffered()), 25.0 * 1920, static_cast<double>(row.tolerance))
        << row.rate;
    EXPECT_EQ(session->circularAudioBuffer()->availableBytesForReading(), session->audioSamplesBuffered() * 4u);
    session->discard();
  }
}

TEST_F(LiveInputSessionTest, AudioThatDoesNotFitTheRingIsDroppedWithALog) {
  auto session = makeSession();
  std::int64_t fed = 0;
  for (int i = 0; i < 5; ++i) feed(fed++, k25, 1920);
  // Ten seconds fit; nobody takes the audio out.
  for (int i = 0; i < 260; ++i) {
    session->nextVideoSampleBuffer();
    feed(fed++, k25, 1920);
  }
  EXPECT_EQ(session->audioSamplesBuffered(), 250u * 1920u);
  EXPECT_EQ(log_.linesWith("\"Studio\": Dropped 1920 audio samples: the session output buffer is full"), 10u);
}

TEST_F(LiveInputSessionTest, DropFrameOnlyAtNTSCRates) {
  const struct {
    std::int64_t frameDuration;
    std::int32_t timeScale;
    bool dropFrame;
  } rows[] = {{1001, 30000, true}, {1001, 60000, true}, {1, 25, false}, {1, 30, false}, {1001, 24000, false}};
  auto session = makeSession();
  for (const auto& row : rows) {
    input_->setSelectedDisplayMode(std::make_shared<pluginframework::CVNDisplayMode>(
        "mode", row.frameDuration, row.timeScale, 1920, 1080, pluginframework::FieldDominance::Progressive));
    EXPECT_EQ(session->isDropFrame(), row.dropFrame) << row.timeScale << "/" << row.frameDuration;
  }
}

TEST_F(LiveInputSessionTest, AnUnusableSourceStillReportsInitialisation) {
  source_->setInput(input_);
  auto session = CVNZiraInputSession::create(source_, delegate_, queue_);
  flush();
  EXPECT_FALSE(session->isValid());
  EXPECT_EQ(session->content(), kContentNothing);
  EXPECT_EQ(delegate_->calls(), std::vector<std::string>{"initialized"});
  EXPECT_EQ(CVNZiraInputSession::create(nullptr, delegate_, queue_), nullptr);
  EXPECT_EQ(session->shortDescription(), "Vovi Session (Studio)");
}

TEST_F(LiveInputSessionTest, FanOutFromTheCaptureThreadAgainstHandOutAndSessionChanges) {
  auto session = makeSession();
  std::atomic<bool> done{false};
  std::thread capture([&] {
    for (std::int64_t i = 0; i < 400; ++i) feed(i, k25, 1920);
    done.store(true);
  });
  std::size_t handed = 0;
  while (!done.load()) {
    if (session->nextVideoSampleBuffer()) ++handed;
    auto extra = CVNZiraInputSession::create(source_, delegate_, queue_);
    extra->startBuffering();
    extra->discard();
  }
  capture.join();
  EXPECT_LE(session->bufferedVideoCount(), 5u);
  EXPECT_LE(session->bufferedAudioCount(), 5u);
  flush();
}

}  // namespace
}  // namespace media
