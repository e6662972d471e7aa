// The decompression session against a scripted reader, a recording decoder
// and a pass-through audio engine: statuses and callbacks, the buffering
// refusals, the sizing rules, the reading loop's stops and the tear-down.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>

#include "media/sessions/CVNDecompressionSession.h"
#include "platform/Clock.h"
#include "platform/UserDefaults.h"
#include "tests/control/support/CapturedTechnicalLog.h"
#include "tests/media/sessions/SessionFakes.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using media::CVNDecompressionSession;
using namespace session_fakes;

constexpr auto kFlush = std::chrono::seconds(10);

class DecompressionSessionTest : public ::testing::Test {
 protected:
  std::shared_ptr<CVNDecompressionSession> open(FakeReader::Setup setup, std::int64_t framesNeeded = 5,
                                                bool audioStarts = true) {
    reader_ = std::make_shared<FakeReader>(std::move(setup));
    return CVNDecompressionSession::create(reader_, delegate_, delegateQueue_,
                                           fakeServices(decoderRecord_, framesNeeded, audioStarts));
  }
  // Every callback posted so far has run.
  void flushCallbacks() { ASSERT_TRUE(delegateQueue_->sync([] {}, kFlush)); }
  // Once the reader was asked `asked` times in all, the loop has stopped.
  void waitForReadingToStop(CVNDecompressionSession& session, std::size_t asked = 1) {
    ASSERT_TRUE(testing_support::waitForCondition(
        [&] { return reader_->delivered() + reader_->emptyAnswers() >= asked && !session.isReading(); },
        "the reading loop to stop"));
  }
  static std::vector<ScriptedSample> video(std::int64_t frames, double fps) {
    std::vector<ScriptedSample> samples;
    for (std::int64_t i = 0; i < frames; ++i) samples.push_back({videoSample(i, fps), 0});
    return samples;
  }

  testing_support::TemporaryDirectory folder_;
  platform::UserDefaults defaults_{folder_.path() / "defaults.plist"};
  testing_support::CapturedTechnicalLog log_{defaults_};
  std::shared_ptr<platform::DispatchQueue> delegateQueue_ = std::make_shared<platform::SerialQueue>("test.delegate");
  std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();
  std::shared_ptr<FakeDecoder::Record> decoderRecord_ = std::make_shared<FakeDecoder::Record>();
  std::shared_ptr<FakeReader> reader_;
};

TEST_F(DecompressionSessionTest, StatusNames) {
  const std::pair<std::int32_t, const char*> rows[] = {
      {0, "Closed"}, {1, "Initializing"}, {2, "Initialized"}, {3, "Buffering"}, {4, "Reading"},
      {5, "FinishedReading"}, {6, "FinishedDecompressing"}, {7, "FinishedPlaying"}, {8, "Idle"}, {9, "Aborted"},
      {10, "Closed"}};
  for (const auto& [status, name] : rows) EXPECT_EQ(CVNDecompressionSession::stringFromStatus(status), name) << status;
}

TEST_F(DecompressionSessionTest, StatusRisesTellTheDelegateOfEachStatusCrossed) {
  struct Row {
    const char* name;
    std::vector<std::int32_t> steps;  // after the examination (status 2)
    std::int32_t finalStatus;
    std::vector<std::string> calls;
  };
  const Row rows[] = {
      {"3 then 6 crosses 5 and 6", {3, 6}, 6, {"initialized", "read all", "decompressed all"}},
      {"back from 6 to 4 and up to 5 again", {3, 6, 4, 5}, 5,
       {"initialized", "read all", "decompressed all", "read all"}},
      {"a jump to 8 sends nothing", {3, 8}, 8, {"initialized"}},
      {"a jump to 9 sends nothing and 9 is final", {3, 9, 3, 5}, 9, {"initialized"}},
  };
  for (const auto& row : rows) {
    auto delegate = std::make_shared<RecordingDelegate>();
    auto session = CVNDecompressionSession::create(std::make_shared<FakeReader>(FakeReader::Setup{}), delegate,
                                                   delegateQueue_, fakeServices(decoderRecord_, 5));
    for (const auto status : row.steps) session->setStatus(status);
    flushCallbacks();
    EXPECT_EQ(session->status(), row.finalStatus) << row.name;
    EXPECT_EQ(delegate->calls(), row.calls) << row.name;
  }
}

TEST_F(DecompressionSessionTest, NoAssetGivesAnInvalidInitializedSession) {
  auto session = CVNDecompressionSession::create(nullptr, delegate_, delegateQueue_, fakeServices(decoderRecord_, 5));
  flushCallbacks();
  EXPECT_EQ(session->status(), media::kSessionStatusInitialized);
  EXPECT_EQ(session->validationErrorReasonString(), "Failed to create AssetReader");
  EXPECT_EQ(session->content(), media::kContentNothing);
  EXPECT_FALSE(session->startBuffering());
  EXPECT_EQ(delegate_->calls(), std::vector<std::string>{"initialized"});
}

TEST_F(DecompressionSessionTest, ContentFollowsTheExamination) {
  EXPECT_EQ(open({.audioTracks = 1})->content(), media::kContentVideoAndAudio);
  EXPECT_EQ(open({.audioTracks = 0})->content(), media::kContentVideoOnly);
  auto invalid = open({.valid = false});
  EXPECT_EQ(invalid->content(), media::kContentNothing);
  EXPECT_TRUE(invalid->validationErrorReasonString().has_value());
}

TEST_F(DecompressionSessionTest, DamagedFrameRatesMakeTheSessionInvalid) {
  for (const double fps : {0.0, std::numeric_limits<double>::quiet_NaN(), 5000.0}) {
    auto session = open({.fps = fps});
    EXPECT_FALSE(session->isValid()) << fps;
    EXPECT_EQ(session->content(), media::kContentNothing) << fps;
    ASSERT_TRUE(session->validationErrorReasonString().has_value()) << fps;
    EXPECT_NE(session->validationErrorReasonString()->find("frame rate"), std::string::npos);
    EXPECT_FALSE(session->startBuffering()) << fps;
  }
}

TEST_F(DecompressionSessionTest, StartBufferingRefusals) {
  EXPECT_FALSE(open({.examines = false})->startBuffering()) << "before status 2";
  EXPECT_FALSE(open({.valid = false})->startBuffering()) << "invalid asset";
  EXPECT_FALSE(open({}, -1)->startBuffering()) << "no decoder for a video asset";
  EXPECT_EQ(decoderRecord_->setUp.load(), false);

  auto session = open({});
  ASSERT_TRUE(session->startBuffering());
  EXPECT_FALSE(session->startBuffering()) << "twice";
  auto audioOnly = open({.assetType = media::kAssetTypeSound, .audioTracks = 1, .endsAfterScript = false}, -1);
  EXPECT_TRUE(audioOnly->startBuffering()) << "an audio-only asset needs no decoder";
  audioOnly->discard();
}

TEST_F(DecompressionSessionTest, PoolAndRingSizes) {
  const std::pair<double, std::uint64_t> rows[] = {{25, 70}, {50, 120}, {59.94, 140}};
  for (const auto& [fps, pool] : rows) {
    decoderRecord_->setUp.store(false);
    auto session = open({.fps = fps, .audioTracks = 1, .endsAfterScript = false});
    ASSERT_TRUE(session->startBuffering());
    ASSERT_TRUE(testing_support::waitForCondition([&] { return decoderRecord_->setUp.load(); }, "the decoder set-up"));
    EXPECT_EQ(decoderRecord_->poolSize.load(), pool) << fps;
    EXPECT_EQ(decoderRecord_->pixelFormat.load(), platform::media::fourCC("2vuy"));
    ASSERT_TRUE(session->circularAudioBuffer());
    EXPECT_EQ(session->circularAudioBuffer()->byteCapacity(), 4'608'000u);
    EXPECT_EQ(session->circularAudioBuffer()->name(), "Session output buffer ''");
    session->discard();
  }
  EXPECT_EQ(CVNDecompressionSession::pixelBufferPoolSize(2.0, 1e9), 260u) << "rates are kept within 1 ... 120";
}

TEST_F(DecompressionSessionTest, AllowedBufferPercentage) {
  auto session = open({.fps = 25});
  ASSERT_TRUE(session->startBuffering());
  waitForReadingToStop(*session);
  const auto initial = session->allowedReadAheadDuration();
  EXPECT_DOUBLE_EQ(initial.seconds(), 8.0);
  for (const double ignored : {0.0, 1.5, -0.2, std::numeric_limits<double>::quiet_NaN()}) {
    session->setAllowedBufferPercentage(ignored);
    EXPECT_EQ(session->allowedReadAheadDuration(), initial) << ignored;
  }
  session->setAllowedBufferPercentage(0.01);  // 0.08 s is less than five frames
  EXPECT_DOUBLE_EQ(session->allowedReadAheadDuration().seconds(), 0.2);
  EXPECT_DOUBLE_EQ(session->allowedDecodeAheadDuration().seconds(), 0.2);
  session->setAllowedBufferPercentage(1.0);
  EXPECT_DOUBLE_EQ(session->allowedReadAheadDuration().seconds(), 8.0);
  EXPECT_DOUBLE_EQ(session->allowedDecodeAheadDuration().seconds(), 1.6);
}

TEST_F(DecompressionSessionTest, VideoReadingStopsAtTheTargetAndSideTracksDoNotCount) {
  struct Row {
    const char* name;
    std::int64_t leadingDoNotDisplay;
    bool withTimecode;
    std::size_t expectedFrames;
  };
  const Row rows[] = {{"plain", 0, false, 200}, {"with timecode", 0, true, 200}, {"do-not-display first", 10, false, 210}};
  for (const auto& row : rows) {
    std::vector<ScriptedSample> samples;
    for (std::int64_t i = 0; i < 400; ++i) {
      samples.push_back({videoSample(i, 25, i < row.leadingDoNotDisplay), 0});
      if (row.withTimecode) samples.push_back({timecodeSample(i, 25), 1});
    }
    auto session = open({.fps = 25, .samples = samples});
    ASSERT_TRUE(session->startBuffering());
    waitForReadingToStop(*session);
    EXPECT_EQ(session->compressedFrameCount(), row.expectedFrames) << row.name;
    EXPECT_EQ(session->status(), media::kSessionStatusBuffering) << row.name;
    EXPECT_NEAR(session->bufferCompletionPercentage(), 1.0, 0.01) << row.name;
  }
}

TEST_F(DecompressionSessionTest, TheEndOfTheSourceFinishesReadingOnce) {
  auto session = open({.fps = 25, .samples = video(10, 25)});
  ASSERT_TRUE(session->startBuffering());
  waitForReadingToStop(*session);
  flushCallbacks();
  EXPECT_EQ(session->status(), media::kSessionStatusFinishedReading);
  EXPECT_EQ(delegate_->count("read all"), 1u);
  EXPECT_EQ(session->numberOfFramesRead(), 10);
}

TEST_F(DecompressionSessionTest, MissingAudioStopsVideoReadingAtFifteenSeconds) {
  auto session = open({.fps = 25, .audioTracks = 1, .samples = video(600, 25)});
  ASSERT_TRUE(session->startBuffering());
  waitForReadingToStop(*session);
  EXPECT_EQ(session->compressedFrameCount(), 376u) << "just past 15 s of video";
  EXPECT_EQ(log_.linesWith("\"fake clip\": Error: Stop Reading. No audio available while video read ahead reached 15 seconds"),
            1u);
  // Every restart finds the audio below target; the line is not repeated.
  session->setAllowedBufferPercentage(1.0);
  waitForReadingToStop(*session);
  EXPECT_EQ(log_.linesWith("No audio available"), 1u);
}

TEST_F(DecompressionSessionTest, AFailedAudioEngineMeansNoAudioRatherThanAFifteenSecondRead) {
  auto session = open({.fps = 25, .audioTracks = 1, .samples = video(600, 25)}, 5, false);
  ASSERT_TRUE(session->startBuffering());
  waitForReadingToStop(*session);
  EXPECT_EQ(session->compressedFrameCount(), 200u);
  EXPECT_FALSE(session->hasAudio());
  EXPECT_EQ(log_.linesWith("No audio available"), 0u);
  EXPECT_EQ(log_.linesWith("Audio engine failed to start"), 1u);
  const auto* silence = session->nextAudioSamples(1920);
  ASSERT_NE(silence, nullptr);
  EXPECT_EQ(silence[0], 0);
}

TEST_F(DecompressionSessionTest, AudioOnlyClipReadinessAndCompletion) {
  struct Row {
    std::uint32_t frames;
    bool ready;
  };
  for (const auto& row : {Row{4000, false}, Row{4001, true}}) {
    auto delegate = std::make_shared<RecordingDelegate>();
    auto reader = std::make_shared<FakeReader>(FakeReader::Setup{.assetType = media::kAssetTypeSound,
                                                                 .audioTracks = 1,
                                                                 .samples = {{audioSample(0, 2000), 0},
                                                                             {audioSample(2000, row.frames - 2000), 0}},
                                                                 .endsAfterScript = false});
    auto session = CVNDecompressionSession::create(reader, delegate, delegateQueue_, fakeServices(decoderRecord_, -1));
    ASSERT_TRUE(session->startBuffering());
    // Asked again once the last buffer was handled.
    ASSERT_TRUE(testing_support::waitForCondition([&] { return reader->emptyAnswers() >= 1; }));
    EXPECT_EQ(session->audioSamplesBuffered(), row.frames);
    flushCallbacks();
    EXPECT_EQ(session->isReadyForPlayback(), row.ready) << row.frames;
    EXPECT_EQ(delegate->count("ready"), row.ready ? 1u : 0u) << row.frames;
    EXPECT_EQ(session->status(), row.ready ? media::kSessionStatusReading : media::kSessionStatusBuffering);
    ASSERT_TRUE(session->uncompressedHead()) << "an audio-only clip still has a picture";
    EXPECT_EQ(session->uncompressedHead()->presentationTimeStamp().value, 0);
    session->discard();
  }
  // 4 s buffered of an 8 s read-ahead.
  std::vector<ScriptedSample> fourSeconds;
  for (int i = 0; i < 100; ++i) fourSeconds.push_back({audioSample(i * 1920, 1920), 0});
  auto session = open({.assetType = media::kAssetTypeSound, .audioTracks = 1, .samples = fourSeconds,
                       .endsAfterScript = false},
                      -1);
  ASSERT_TRUE(session->startBuffering());
  ASSERT_TRUE(testing_support::waitForCondition([&] { return session->audioSamplesBuffered() == 192000; }));
  EXPECT_DOUBLE_EQ(session->bufferCompletionPercentage(), 0.5);
  session->stopBuffering();
}

TEST_F(DecompressionSessionTest, MovingTheOutPoint) {
  auto session = open({.fps = 25, .samples = video(10, 25)});
  session->updateOutPoint(0);
  EXPECT_DOUBLE_EQ(session->updatedOutPoint().seconds(), 60.0) << "0 means the whole duration";

  ASSERT_TRUE(session->startBuffering());
  waitForReadingToStop(*session);
  ASSERT_EQ(session->status(), media::kSessionStatusFinishedReading);
  session->updateOutPoint(30);  // the reader has more now
  EXPECT_DOUBLE_EQ(session->updatedOutPoint().seconds(), 30.0);
  waitForReadingToStop(*session, 13);
  EXPECT_EQ(session->status(), media::kSessionStatusFinishedReading);
  EXPECT_EQ(session->numberOfFramesRead(), 11) << "reading went on";

  session->setPlaybackPTS(platform::media::MediaTime::make(5, 1));
  session->updateOutPoint(3);
  EXPECT_EQ(session->status(), media::kSessionStatusFinishedPlaying) << "an out point behind the position";
}

TEST_F(DecompressionSessionTest, ASilentReaderCostsNothingAndStopsWithinOneWait) {
  platform::ManualClock clock;
  platform::ScopedClockOverride useClock(clock);
  auto session = open({.fps = 25, .endsAfterScript = false});
  ASSERT_TRUE(session->startBuffering());
  ASSERT_TRUE(testing_support::waitForCondition([&] { return clock.waiterCount() >= 1; }, "the loop to wait"));
  const auto asked = reader_->emptyAnswers();
  EXPECT_EQ(asked, 1u) << "no polling while the clock stands still";
  clock.advance(std::chrono::milliseconds(2));
  ASSERT_TRUE(testing_support::waitForCondition([&] { return reader_->emptyAnswers() == asked + 1 && clock.waiterCount() >= 1; },
                                                "one more question after 2 ms"));
  session->discard();  // returns only once the loop has left
  EXPECT_EQ(session->status(), media::kSessionStatusAborted);
  EXPECT_EQ(reader_->emptyAnswers(), asked + 1);
  EXPECT_TRUE(decoderRecord_->invalidated.load());
}

TEST_F(DecompressionSessionTest, NothingReachesTheDelegateAfterStopOrDiscard) {
  for (const bool discard : {false, true}) {
    auto delegate = std::make_shared<RecordingDelegate>();
    reader_ = std::make_shared<FakeReader>(FakeReader::Setup{.samples = video(10, 25)});
    auto session = CVNDecompressionSession::create(reader_, delegate, delegateQueue_, fakeServices(decoderRecord_, 5));
    flushCallbacks();
    // Hold the delegate queue so the end-of-reading callback is still queued at the stop.
    testing_support::Signal release;
    delegateQueue_->async([&release] { release.waitFor(); });
    ASSERT_TRUE(session->startBuffering());
    waitForReadingToStop(*session, 11);
    ASSERT_EQ(session->status(), media::kSessionStatusFinishedReading);
    discard ? session->discard() : session->stopBuffering();
    release.raise();
    flushCallbacks();
    EXPECT_EQ(delegate->calls(), std::vector<std::string>{"initialized"}) << discard;
  }
}

TEST_F(DecompressionSessionTest, PercentageCallsAndHandOutDuringReadingThenStopAndDiscard) {
  std::vector<ScriptedSample> samples;
  for (std::int64_t i = 0; i < 300; ++i) {
    samples.push_back({videoSample(i, 25), 0});
    samples.push_back({audioSample(i * 1920, 1920), 0});
  }
  for (const bool discard : {false, true}) {
    auto session = open({.fps = 25, .audioTracks = 1, .samples = samples});
    ASSERT_TRUE(session->startBuffering());
    std::atomic<bool> done{false};
    std::thread client([&] {
      while (!done.load()) {
        session->setAllowedBufferPercentage(0.5);
        session->nextAudioSamples(1920);
        (void)session->bufferCompletionPercentage();
      }
    });
    ASSERT_TRUE(testing_support::waitForCondition([&] { return session->numberOfFramesRead() > 20; }));
    discard ? session->discard() : session->stopBuffering();
    done.store(true);
    client.join();
    EXPECT_FALSE(session->isReading());
  }
}

}  // namespace
