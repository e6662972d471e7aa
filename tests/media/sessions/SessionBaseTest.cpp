// The session base: defaults, natural frame durations, the read-ahead clamp,
// audio hand-out with sync keeping, caption pairing and hand-out, timecode
// synthesis, subtitle offsets and the position arithmetic.

#include <gtest/gtest.h>

#include <cstring>

#include "captions/CVNCCUtilities.h"
#include "media/sessions/CVNSessionBase.h"
#include "platform/UserDefaults.h"
#include "tests/control/support/CapturedTechnicalLog.h"
#include "tests/media/sessions/SessionFakes.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

namespace pm = platform::media;
using media::CVNSessionBase;

class TestSession final : public CVNSessionBase {
 public:
  TestSession() : CVNSessionBase({}, nullptr) {
    closedCaptionQueue_ = std::make_shared<pm::SampleBufferQueue>(64, pm::SampleBufferQueue::Order::Arrival);
    timecodeQueue_ = std::make_shared<pm::SampleBufferQueue>(64, pm::SampleBufferQueue::Order::Arrival);
  }
  pm::MediaTime frameRateAsCMTime() const override { return rate; }
  pm::FormatDescriptionRef closedCaptionFormatDescription() const override { return captionFormat; }

  void createAudio() { createAudioOutput("test", 48000 * 4 * 8); }
  // Frames numbered from `first`: each 16-bit sample holds its frame number.
  void produce(std::uint32_t first, std::uint32_t frames) {
    auto* out = reinterpret_cast<std::int16_t*>(circularAudioBuffer()->getWritePointer());
    for (std::uint32_t i = 0; i < frames; ++i) out[i * 2] = out[i * 2 + 1] = static_cast<std::int16_t>(first + i);
    circularAudioBuffer()->advanceWritePointer(frames * 4);
    audioSamplesBuffered_.fetch_add(frames);
  }
  std::size_t captionCount() const { return closedCaptionQueue_->count(); }
  void queueTimecode(const pm::SampleBufferRef& sample) { timecodeQueue_->enqueue(sample); }
  void queueCaption(const pm::SampleBufferRef& sample) { closedCaptionQueue_->enqueue(sample); }

  pm::MediaTime rate = pm::MediaTime::make(25, 1);
  pm::FormatDescriptionRef captionFormat;
};

std::int16_t firstFrameOf(const std::uint8_t* block) {
  std::int16_t value = 0;
  std::memcpy(&value, block, sizeof value);
  return value;
}

class SessionBaseTest : public ::testing::Test {
 protected:
  testing_support::TemporaryDirectory folder_;
  platform::UserDefaults defaults_{folder_.path() / "defaults.plist"};
  testing_support::CapturedTechnicalLog log_{defaults_};
  std::shared_ptr<TestSession> session_ = std::make_shared<TestSession>();
};

TEST_F(SessionBaseTest, Defaults) {
  const auto audio = session_->outputAudioStreamBasicDescription();
  EXPECT_EQ(audio, session_fakes::pcm16Stereo());
  EXPECT_EQ(session_->bufferFormat(), pm::fourCC("2vuy"));
  EXPECT_EQ(session_->readAheadBufferInSeconds(), 8.0);
  EXPECT_EQ(session_->decodeAheadBufferInSeconds(), 2.0);
  EXPECT_EQ(session_->duration(), pm::MediaTime::make(250, 25));
  EXPECT_EQ(session_->content(), media::kContentNothing);
  EXPECT_EQ(session_->status(), 1);
  EXPECT_FALSE(session_->playbackPTS().isValid());
  EXPECT_FALSE(session_->isReadyForPlayback());
  EXPECT_EQ(session_->bufferCompletionPercentage(), 1.0);
  EXPECT_TRUE(session_->startBuffering());
}

TEST_F(SessionBaseTest, NaturalFrameDurations) {
  struct Row {
    pm::MediaTime rate;
    pm::MediaTime duration;
  };
  const Row rows[] = {
      {pm::MediaTime::make(24000, 1001), pm::MediaTime::make(1001, 24000)},
      {pm::MediaTime::make(24005, 1000), pm::MediaTime::make(1000, 24000)},
      {pm::MediaTime::make(25, 1), pm::MediaTime::make(1000, 25000)},
      {pm::MediaTime::make(30000, 1001), pm::MediaTime::make(1001, 30000)},
      {pm::MediaTime::make(60000, 1001), pm::MediaTime::make(1001, 60000)},  // no row: the reciprocal
      {pm::MediaTime::make(60, 1), pm::MediaTime::make(1000, 60000)},
      {pm::MediaTime::make(48, 1), pm::MediaTime::make(1, 48)},
  };
  for (const auto& row : rows) {
    session_->rate = row.rate;
    const auto duration = session_->naturalFrameDuration();
    EXPECT_EQ(duration.value, row.duration.value) << row.rate.describe();
    EXPECT_EQ(duration.timeScale, row.duration.timeScale) << row.rate.describe();
  }
}

TEST_F(SessionBaseTest, ReadAheadIsClamped) {
  const std::pair<double, double> rows[] = {{0.5, 1.0}, {12, 10.0}, {4, 4.0}, {1, 1.0}, {10, 10.0}};
  for (const auto& [asked, stored] : rows) {
    session_->setReadAheadBufferInSeconds(asked);
    EXPECT_EQ(session_->readAheadBufferInSeconds(), stored) << asked;
  }
}

TEST_F(SessionBaseTest, AnEmptyRingGivesSilenceAndLogsLatenessOnlyPastOneSecond) {
  session_->createAudio();
  for (int call = 1; call <= 26; ++call) {
    const auto* block = session_->nextAudioSamples(1920);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(firstFrameOf(block + 1919 * 4), 0);
  }
  EXPECT_EQ(log_.linesWith("Audio was late"), 0u) << "48000 samples owed are not yet reported";
  session_->nextAudioSamples(1920);
  EXPECT_EQ(log_.linesWith("Warning: Audio was late by 49920 samples"), 1u);
}

TEST_F(SessionBaseTest, OwedAudioIsDroppedOnlyAboveThreeRequestsAndNeverMoreThanOwed) {
  struct Row {
    const char* name;
    std::uint32_t buffered;
    std::uint32_t dropped;
  };
  const Row rows[] = {
      {"three requests' worth: nothing dropped", 3 * 1920, 0},
      {"a little more: only the excess", 4 * 1920 + 1000, 4 * 1920 + 1000 - 3 * 1920},
      {"plenty: exactly what was owed", 20000, 2 * 1920},
  };
  for (const auto& row : rows) {
    auto session = std::make_shared<TestSession>();
    session->createAudio();
    session->nextAudioSamples(1920);
    session->nextAudioSamples(1920);  // 3840 samples owed
    session->produce(0, row.buffered);
    const auto* block = session->nextAudioSamples(1920);
    EXPECT_EQ(firstFrameOf(block), static_cast<std::int16_t>(row.dropped)) << row.name;
    EXPECT_EQ(session->audioSamplesBuffered(), row.buffered - row.dropped - 1920) << row.name;
    EXPECT_EQ(log_.linesWith("Warning: Dropped " + std::to_string(row.dropped) + " audio samples to keep sync"),
              row.dropped ? 1u : 0u)
        << row.name;
    session->nextAudioSamples(1920);  // the first block is consumed now, the second is out
    EXPECT_EQ(session->circularAudioBuffer()->availableBytesForReading(), 0u + (row.buffered - row.dropped - 1920) * 4)
        << row.name;
  }
}

TEST_F(SessionBaseTest, AShortRingIsHandedOutWithSilenceAfterIt) {
  session_->createAudio();
  session_->produce(1, 1000);
  const auto* block = session_->nextAudioSamples(1920);
  EXPECT_EQ(firstFrameOf(block), 1);
  EXPECT_EQ(firstFrameOf(block + 999 * 4), 1000);
  EXPECT_EQ(firstFrameOf(block + 1000 * 4), 0);
  EXPECT_EQ(session_->audioSamplesBuffered(), 0u);
  session_->nextAudioSamples(1);
  EXPECT_EQ(session_->circularAudioBuffer()->availableBytesForReading(), 0u) << "the copied part was consumed";
}

TEST_F(SessionBaseTest, TheSilenceBlockFitsOneOutputFrameAtSlowRates) {
  session_->setOutputFrameDuration(pm::MediaTime::make(1, 10));  // 4800 samples a frame
  session_->createAudio();
  EXPECT_EQ(session_->audioScratchSamples(), 4800u);
  const auto* block = session_->nextAudioSamples(4800);
  EXPECT_EQ(firstFrameOf(block + 4799 * 4), 0);
  session_->nextAudioSamples(6000);
  EXPECT_EQ(log_.linesWith("Audio request of 6000 samples cut to 4800"), 1u);

  auto fast = std::make_shared<TestSession>();
  fast->setOutputFrameDuration(pm::MediaTime::make(1, 50));
  fast->createAudio();
  EXPECT_EQ(fast->audioScratchSamples(), 2002u) << "never below one 23.98 fps frame";
}

TEST_F(SessionBaseTest, CaptionsArePairedOrSplitToTheOutputRate) {
  struct Row {
    const char* name;
    std::int64_t sourceRate;
    std::int64_t outputDuration;  // of 1000 at scale 25000 or 50000
    std::int32_t outputScale;
    std::size_t captionsIn;
    std::size_t queued;
  };
  const Row rows[] = {
      {"50 on 25: one joined caption per pair", 50, 1000, 25000, 4, 2},
      {"50 on 25: the odd one waits", 50, 1000, 25000, 3, 1},
      {"25 on 50: two per caption", 25, 1000, 50000, 2, 4},
      {"25 on 25: as they come", 25, 1000, 25000, 3, 3},
  };
  for (const auto& row : rows) {
    auto session = std::make_shared<TestSession>();
    session->rate = pm::MediaTime::make(row.sourceRate, 1);
    session->setOutputDisplayMode(std::make_shared<pluginframework::CVNDisplayMode>(
        "test", row.outputDuration, row.outputScale, 1920, 1080, pluginframework::FieldDominance::Progressive));
    const auto sourceFrame = pm::MediaTime::make(1, static_cast<std::int32_t>(row.sourceRate));
    for (std::size_t i = 0; i < row.captionsIn; ++i) {
      session->enqueueClosedCaptionSampleBuffer(captions::CVNCCUtilities::createEmptyCEA708SampleBufferWithPTS(
          pm::multiply(sourceFrame, static_cast<std::int32_t>(i)), sourceFrame, 0));
    }
    EXPECT_EQ(session->captionCount(), row.queued) << row.name;
  }
}

TEST_F(SessionBaseTest, CaptionHandOutAndFillers) {
  const auto frame = pm::MediaTime::make(1, 25);
  session_->setOutputFrameDuration(frame);
  EXPECT_EQ(session_->nextClosedCaptionSampleBufferWithPTS(frame), nullptr) << "no caption format";
  const std::pair<pm::FourCharCode, bool> fillers[] = {{pm::fourCC("c708"), true}, {pm::fourCC("c608"), true},
                                                       {pm::fourCC("xxxx"), false}};
  for (const auto& [subtype, filled] : fillers) {
    session_->captionFormat = pm::FormatDescription::create(pm::kMediaTypeClosedCaption, subtype);
    const auto filler = session_->nextClosedCaptionSampleBufferWithPTS(frame);
    ASSERT_EQ(filler != nullptr, filled) << subtype;
    if (filler) {
      EXPECT_EQ(filler->formatDescription()->mediaSubType(), subtype);
    }
  }
  session_->captionFormat = pm::FormatDescription::create(pm::kMediaTypeClosedCaption, pm::fourCC("c708"));
  session_->queueCaption(captions::CVNCCUtilities::createEmptyCEA708SampleBufferWithPTS(pm::multiply(frame, 3), frame, 7));
  EXPECT_EQ(session_->nextClosedCaptionSampleBufferWithPTS(pm::multiply(frame, 2)), nullptr) << "not due yet";
  EXPECT_NE(session_->nextClosedCaptionSampleBufferWithPTS(pm::multiply(frame, 3)), nullptr);
}

TEST_F(SessionBaseTest, TimecodeIsTakenFromTheQueueOrSynthesised) {
  const auto frame = pm::MediaTime::make(1, 25);
  for (std::int64_t expected : {0, 1, 2}) {
    const auto sample = session_->nextTimecodeSampleBufferWithPTS(pm::multiply(frame, static_cast<std::int32_t>(expected)));
    ASSERT_NE(sample, nullptr);
    EXPECT_EQ(pluginframework::CVNTimeValue::timeValueWithTimecodeSampleBuffer(*sample)->frameNumber(), expected);
  }
  session_->queueTimecode(session_fakes::timecodeSample(100, 25));
  EXPECT_EQ(session_->lastReturnedTimecode()->frameNumber(), 2);
  session_->nextTimecodeSampleBufferWithPTS(pm::MediaTime::make(200, 1));
  EXPECT_EQ(session_->lastReturnedTimecode()->frameNumber(), 100);
  session_->nextTimecodeSampleBufferWithPTS(pm::MediaTime::make(201, 1));
  EXPECT_EQ(session_->lastReturnedTimecode()->frameNumber(), 101);
}

TEST_F(SessionBaseTest, SubtitlesMoveEarlierByTheirSendingTimeInCEA608Mode) {
  struct Row {
    const char* name;
    std::int64_t frameDuration;
    std::int32_t timeScale;
    std::int32_t mode;
    double start, end;
    double expectedStart, expectedEnd;
  };
  // Four packets at 1001/30000 take 0.13347 s to send.
  const Row rows[] = {
      {"NTSC: moved", 1001, 30000, 1, 1.0, 2.0, 1.0 - 4 * 1001 / 30000.0, 2.0 - 4 * 1001 / 30000.0},
      {"NTSC: starts at 0 when earlier than its sending", 1001, 30000, 1, 0.05, 2.0, 0.0, 2.0 - 4 * 1001 / 30000.0},
      {"PAL: as given", 1000, 25000, 2, 1.0, 2.0, 1.0, 2.0},
  };
  for (const auto& row : rows) {
    auto session = std::make_shared<TestSession>();
    session->setOutputDisplayMode(std::make_shared<pluginframework::CVNDisplayMode>(
        "test", row.frameDuration, row.timeScale, 1920, 1080, pluginframework::FieldDominance::Progressive));
    session->setOutputFrameDuration(pm::MediaTime::make(row.frameDuration, row.timeScale));
    EXPECT_EQ(session->subtitleMode(), row.mode) << row.name;
    auto record = std::make_shared<captions::CVNSubtitleRecord>();
    record->setNumberOfPacketsAsCEA608(4);
    record->setStartTimeInSeconds(row.start);
    record->setEndTimeInSeconds(row.end);
    EXPECT_FALSE(session->subtitleRecords().has_value());
    session->addSubtitleRecords({record});
    ASSERT_EQ(session->subtitleRecords()->size(), 1u);
    EXPECT_NEAR(record->startTimeInSeconds(), row.expectedStart, 1e-9) << row.name;
    EXPECT_NEAR(record->endTimeInSeconds(), row.expectedEnd, 1e-9) << row.name;
    session->deleteSubtitleRecords();
    EXPECT_TRUE(session->subtitleRecords()->empty());
  }
}

TEST_F(SessionBaseTest, PositionAndScrubRounding) {
  session_->setDuration(pm::MediaTime::make(10, 1));
  EXPECT_EQ(session_->remainingTime().seconds(), 10.0);
  EXPECT_EQ(session_->elapsedTime().seconds(), 0.0);
  session_->setPlaybackPTS(pm::MediaTime::make(4, 1));
  EXPECT_EQ(session_->remainingTime().seconds(), 6.0);
  EXPECT_EQ(session_->elapsedTime().seconds(), 4.0);
  session_->setOutputFrameDuration(pm::MediaTime::make(1001, 30000));
  session_->scrubToTime(1.0, false, false);
  EXPECT_EQ(session_->playbackPTS().value, 29029);  // 30000 rounded down to whole frames
  EXPECT_EQ(session_->playbackPTS().timeScale, 30000);
}

}  // namespace
