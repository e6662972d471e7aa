// The live path end to end: the fake input plug-in loaded by the device
// controller, paced by a ManualClock, feeding a live source and its session.
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <thread>

#include "media/live/CVNZiraInputSession.h"
#include "media/live/CVNZiraSource.h"
#include "platform/Clock.h"
#include "platform/DispatchQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "platform/media/PixelFormat.h"
#include "pluginframework/CVNDeviceController.h"
#include "tests/media/live/LiveFakes.h"
#include "tests/pluginframework/support/ClockedDeviceController.h"
#include "tests/support/CapturedDiagnostics.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/RunLoopWait.h"

namespace media {
namespace {

namespace pm = platform::media;

class LiveFakeInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::UserDefaults::standard().registerDefaults({{"ziraInputBufferSize", platform::Value(5)},
                                                         {"ZiraInputNoSignalTimeOut", platform::Value(-5.0)}});
    controller_.loadPluginsFromFolder(VZ_PLUGINS);
  }
  std::shared_ptr<CVNZiraSource> source(const std::string& input, platform::Dictionary settings) {
    auto made = std::make_shared<CVNZiraSource>();
    made->setDisplayName(input);
    made->setSettings(std::move(settings));
    made->setInput(controller_.inputWithName(input));
    made->setIsEnabled(true);
    return made;
  }
  double now() const { return std::chrono::duration<double>(clock_.now().time_since_epoch()).count(); }
  // One frame period; returns once the session holds `buffered` frames.
  void tick(const CVNZiraInputSession& session, std::size_t buffered) {
    clock_.advance(std::chrono::milliseconds(40));
    ASSERT_TRUE(testing_support::waitForCondition([&] { return session.bufferedVideoCount() == buffered; },
                                                  "the frame of this tick"));
  }

  testing_support::ClockedDeviceController host_;
  platform::ManualClock& clock_ = host_.clock;
  pluginframework::CVNDeviceController& controller_ = host_.controller;
  std::shared_ptr<platform::DispatchQueue> queue_ = std::make_shared<platform::SerialQueue>("test.live.delegate");
  std::shared_ptr<testing::CountingDelegate> delegate_ = std::make_shared<testing::CountingDelegate>();
};

TEST_F(LiveFakeInputTest, FramesAudioCaptionsAndSCTEReachALiveSession) {
  ASSERT_EQ(controller_.inputNames(), (std::vector<std::string>{"Fake Input 1", "Fake Input 2"}));
  auto studio = source("Fake Input 1", {{"displayModeName", platform::Value("PAL")},
                                        {"captions", platform::Value(true)},
                                        {"scte104Frame", platform::Value(3)}});
  studio->setShouldProcessVANCTriggers(true);
  studio->setIsEnabled(false);
  std::atomic<int> scte{0};
  auto token = platform::NotificationCenter::defaultCenter().addObserver(
      kZiraSourceDidReceiveSCTEPacketNotification, studio.get(), [&](const platform::Notification&) { ++scte; });
  auto session = CVNZiraInputSession::create(studio, delegate_, queue_);
  session->setOutputFrameDuration(pm::MediaTime::make(1, 25));
  session->setOutputAudioStreamBasicDescription(session->outputAudioStreamBasicDescription());
  EXPECT_FALSE(session->startBuffering()) << "the input is not running yet";
  studio->setIsEnabled(true);  // frame 0 comes at once
  ASSERT_TRUE(testing_support::waitForCondition([&] { return session->bufferedVideoCount() == 1; }));
  EXPECT_EQ(studio->inputDescription(), "Fake Input 1 (PAL)");
  EXPECT_EQ(session->framerate(), 25.0);

  // The player starts once the session is ready (five frames), then pulls one frame a tick.
  for (std::size_t buffered = 2; buffered <= 5; ++buffered) tick(*session, buffered);
  ASSERT_TRUE(testing_support::waitForCondition([&] { return delegate_->count("read all") == 1; }));
  EXPECT_EQ(delegate_->calls(), (std::vector<std::string>{"initialized", "ready", "read all"}));
  std::size_t handed = 0;
  for (int i = 0; i < 20; ++i) {
    tick(*session, 5);
    auto frame = session->nextVideoSampleBuffer();
    if (!frame) continue;
    ++handed;
    ASSERT_NE(frame->imageBuffer(), nullptr);
    EXPECT_EQ(frame->imageBuffer()->width(), 720u);
    EXPECT_EQ(frame->imageBuffer()->height(), 576u);
    EXPECT_EQ(frame->imageBuffer()->pixelFormatType(), pm::kPixelFormat422YpCbCr8);
  }
  EXPECT_EQ(handed, 20u);
  EXPECT_EQ(session->audioSamplesBuffered(), handed * 1920u);
  EXPECT_EQ(scte.load(), 2);
  ASSERT_NE(session->closedCaptionFormatDescription(), nullptr);
  EXPECT_EQ(session->closedCaptionFormatDescription()->mediaSubType(), pm::fourCC("c708"));
  session->discard();
  studio->setIsEnabled(false);  // stops the capture thread while it waits on the clock
  EXPECT_FALSE(controller_.inputWithName("Fake Input 1")->isRunning());
}

TEST_F(LiveFakeInputTest, FramesInAnotherFormatThanTheInputDeclaresAreDropped) {
  testing_support::CapturedDiagnostics diagnostics;
  auto studio = source("Fake Input 2", {{"displayModeName", platform::Value("PAL")},
                                        {"pictureFormat", platform::Value("BGRA")}});
  auto session = CVNZiraInputSession::create(studio, delegate_, queue_);
  ASSERT_TRUE(session->startBuffering());
  for (std::size_t frames = 1; frames <= 5; ++frames) {
    if (frames > 1) clock_.advance(std::chrono::milliseconds(40));
    ASSERT_TRUE(testing_support::waitForCondition([&] { return diagnostics.count("frame dropped") >= frames; }));
  }
  EXPECT_EQ(session->bufferedVideoCount(), 0u);
  session->discard();
  studio->setIsEnabled(false);
}

}  // namespace
}  // namespace media

namespace media {
namespace {

TEST_F(LiveFakeInputTest, StoppingWhileFramesFlowDoesNotWaitForever) {
  auto studio = source("Fake Input 1", {{"displayModeName", platform::Value("PAL")},
                                        {"freeRunning", platform::Value(true)},
                                        {"scte104Frame", platform::Value(2)}});
  studio->setShouldProcessVANCTriggers(true);
  auto session = CVNZiraInputSession::create(studio, delegate_, queue_);
  ASSERT_TRUE(session->startBuffering());
  ASSERT_TRUE(testing_support::waitForCondition([&] { return session->bufferedVideoCount() >= 3; }));
  std::atomic<bool> stopped{false};
  std::thread stopper([&] {
    studio->setIsEnabled(false);
    studio->restartCapture();
    stopped.store(true);
  });
  const bool done = testing_support::waitForCondition([&] { return stopped.load(); }, "capture to stop");
  if (!done) stopper.detach();  // a deadlock: fail rather than hang the run
  else stopper.join();
  ASSERT_TRUE(done);
  EXPECT_FALSE(controller_.inputWithName("Fake Input 1")->isRunning());
  session->discard();
}

}  // namespace
}  // namespace media

namespace media {
namespace {

TEST_F(LiveFakeInputTest, ScriptedOutageAndConnectionReachTheSource) {
  auto studio = source("Fake Input 2", {{"displayModeName", platform::Value("PAL")},
                                        {"outageStart", platform::Value(2)},
                                        {"outageLength", platform::Value(3)},
                                        {"connection", platform::Value("SDI A")}});
  ASSERT_TRUE(testing_support::runMainLoopUntil([&] { return studio->lastKnownConnectionDescription() == "SDI A"; }));
  studio->setIsEnabled(false);
  auto session = CVNZiraInputSession::create(studio, delegate_, queue_);
  session->startBuffering();
  studio->setIsEnabled(true);
  ASSERT_TRUE(testing_support::waitForCondition([&] { return session->bufferedVideoCount() == 1; }));
  tick(*session, 2);
  // Frames 2 to 4 are the outage: after five periods the session holds frames 0, 1 and 5 only.
  clock_.advance(std::chrono::milliseconds(120));
  tick(*session, 3);
  ASSERT_TRUE(testing_support::waitForCondition([&] { return studio->lastReceivedFrameTime() >= now() - 1e-6; }));
  EXPECT_EQ(session->bufferedVideoCount(), 3u) << "frames 2 to 4 would have made five";
  EXPECT_EQ(session->videoBufferHead()->presentationTimeStamp(), platform::media::MediaTime::make(0, 25));
  session->discard();
  studio->setIsEnabled(false);
}

}  // namespace
}  // namespace media

namespace media {
namespace {

// Keeps the first captured frames of an input.
class KeptFrames final : public pluginframework::CVNVideoInputDelegate {
 public:
  void inputDidProduceFrame(const pluginframework::CVNInputFrame& frame) override {
    std::lock_guard guard(mutex_);
    frames_.push_back(frame);
  }
  std::vector<pluginframework::CVNInputFrame> frames() const {
    std::lock_guard guard(mutex_);
    return frames_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<pluginframework::CVNInputFrame> frames_;  // guarded by mutex_
};

// The picture and tone are the filters' own, frame for frame, at the input's
// size and rate: ffmpeg makes the same ones from the same descriptions.
TEST_F(LiveFakeInputTest, PicturesAndToneAreThoseOfTheTestPatternAndSineFilters) {
  auto input = controller_.inputWithName("Fake Input 2");
  ASSERT_NE(input, nullptr);
  input->setSettings({{"displayModeName", platform::Value("PAL")}, {"audioSampleRate", platform::Value(44100)}});
  KeptFrames kept;
  input->setDelegate(&kept);
  ASSERT_TRUE(input->startCapture(nullptr));
  ASSERT_TRUE(testing_support::waitForCondition([&] { return kept.frames().size() == 1; }));
  clock_.advance(std::chrono::milliseconds(40));
  ASSERT_TRUE(testing_support::waitForCondition([&] { return kept.frames().size() == 2; }));
  input->stopCapture();
  input->setDelegate(nullptr);

  const auto pictures = testing_support::commandOutput(
      "ffmpeg -v error -f lavfi -i testsrc2=size=720x576:rate=25/1 -frames:v 2 -pix_fmt uyvy422 -f rawvideo -");
  const auto tone = testing_support::commandOutput(
      "ffmpeg -v error -f lavfi -i sine=frequency=1000:sample_rate=44100 -t 0.08 -f s16le -");
  ASSERT_EQ(pictures.size(), 2u * 720 * 576 * 2);
  const auto frames = kept.frames();
  std::size_t toneOffset = 0;
  for (std::size_t n = 0; n < 2; ++n) {
    const auto& frame = frames[n];
    const auto& picture = *frame.video->imageBuffer();
    for (std::size_t y = 0; y < 576; ++y) {
      ASSERT_EQ(std::memcmp(picture.baseAddress() + y * picture.bytesPerRow(), pictures.data() + (n * 576 + y) * 1440, 1440),
                0) << "frame " << n << " row " << y;
    }
    // 44.1 kHz at 25 fps: 1764 stereo frames each, both channels the tone.
    ASSERT_EQ(frame.audio->numSamples(), 1764u);
    const auto* samples = reinterpret_cast<const std::int16_t*>(frame.audio->dataBuffer()->data());
    for (std::size_t i = 0; i < 1764; ++i, toneOffset += 2) {
      std::int16_t expected;
      std::memcpy(&expected, tone.data() + toneOffset, 2);
      ASSERT_EQ(samples[2 * i], expected) << "frame " << n << " sample " << i;
      ASSERT_EQ(samples[2 * i + 1], expected) << "frame " << n << " sample " << i;
    }
  }
}

}  // namespace
}  // namespace media
