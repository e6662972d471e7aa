#include <gtest/gtest.h>

#include <cstring>

#include "media/audio/CVNAudioEngine.h"
#include "platform/UserDefaults.h"
#include "tests/control/support/CapturedTechnicalLog.h"
#include "tests/media/audio/AudioFixtures.h"
#include "tests/media/audio/AudioPacketSource.h"
#include "tests/support/TemporaryDirectory.h"

namespace media {
namespace {

namespace pm = platform::media;
using testing::floatFormat;
using testing::floatSampleBuffer;

// Interleaved stereo: frame i of channel c is (i + 1) / 4096 + c.
std::vector<float> ramp(std::size_t frames) {
  std::vector<float> values(frames * 2);
  for (std::size_t i = 0; i < frames; ++i) {
    for (std::size_t c = 0; c < 2; ++c) values[i * 2 + c] = static_cast<float>(i + 1) / 4096.0f + static_cast<float>(c);
  }
  return values;
}

std::vector<float> ringFloats(const CVNCircularBuffer& ring) {
  const auto* values = reinterpret_cast<const float*>(ring.getReadPointer());
  return {values, values + ring.availableBytesForReading() / sizeof(float)};
}

class AudioEngineSyncTest : public ::testing::Test {
 protected:
  // Two inputs, so the audio stays in the second one's rings (the first has none to mix with).
  void startTwoInputs(CVNAudioEngine& engine, const pm::AudioStreamBasicDescription& second) {
    engine.setOutputFormat(floatFormat(48000, 2, true));
    engine.addInputWithAudioStreamBasicDescription(floatFormat(48000, 2, true), 1.0, 0);
    engine.addInputWithAudioStreamBasicDescription(second, 1.0, 0);
    ASSERT_TRUE(engine.start());
  }

  testing_support::TemporaryDirectory folder_;
  platform::UserDefaults defaults_{folder_.path() / "defaults.plist"};
  testing_support::CapturedTechnicalLog log_{defaults_};
};

TEST_F(AudioEngineSyncTest, FirstBufferIsAlignedToTheSyncTime) {
  struct Row {
    const char* name;
    std::int64_t start;       // first frame's time, at 48000 Hz
    std::size_t silence;      // silent frames expected in front
    std::size_t firstFrame;   // the first frame of the buffer that remains
    std::size_t ringFrames;
  };
  const Row rows[] = {
      {"480 frames late", 480, 480, 0, 1480},
      {"on time", 0, 0, 0, 1000},
      {"straddling, 100 frames early", -100, 0, 100, 900},
      {"wholly before", -2000, 0, 0, 0},
  };
  for (const Row& row : rows) {
    CVNAudioEngine engine;
    startTwoInputs(engine, floatFormat(48000, 2, true));
    engine.setSyncTime(pm::MediaTime::make(0, 25));
    engine.processBuffer(floatSampleBuffer(ramp(1000), 2, 48000, row.start), 1, true);
    const auto& rings = engine.inputs()[1]->circularBuffers();
    ASSERT_EQ(rings.size(), 2u);
    for (std::size_t c = 0; c < 2; ++c) {
      const std::vector<float> ring = ringFloats(*rings[c]);
      ASSERT_EQ(ring.size(), row.ringFrames) << row.name;
      for (std::size_t i = 0; i < row.silence; ++i) ASSERT_EQ(ring[i], 0.0f) << row.name << " frame " << i;
      if (row.ringFrames > row.silence) {
        EXPECT_FLOAT_EQ(ring[row.silence], static_cast<float>(row.firstFrame + 1) / 4096.0f + static_cast<float>(c))
            << row.name;
      }
    }
  }
}

// libavcodec keeps the encoder's priming in its output, so an AAC input early
// by 100 frames loses those 100 frames and gets no silence in front.
TEST_F(AudioEngineSyncTest, EarlyAACInputLosesTheFramesBeforeTheSyncTime) {
  const testing::AudioPacketSource source(testing::audioFixture("tone48k.m4a"));
  ASSERT_TRUE(source.ok());
  const pm::MediaTime first = source.samples().front()->presentationTimeStamp();
  std::vector<float> aligned[2];
  for (const std::int64_t early : {0, 100}) {
    CVNAudioEngine engine;
    engine.setOutputFormat(floatFormat(48000, 2, true));
    engine.addInputWithAudioStreamBasicDescription(floatFormat(48000, 2, true), 1.0, 0);
    engine.addInputWithFormatDescription(source.description(), 1.0, 0);
    ASSERT_TRUE(engine.start());
    engine.setSyncTime(pm::MediaTime::make(first.value + early, first.timeScale));
    engine.processBuffer(source.samples()[0], 1, true);
    aligned[early ? 1 : 0] = ringFloats(*engine.inputs()[1]->circularBuffers()[0]);
  }
  ASSERT_EQ(aligned[0].size(), 1024u);
  ASSERT_EQ(aligned[1].size(), 924u);
  EXPECT_TRUE(std::equal(aligned[1].begin(), aligned[1].end(), aligned[0].begin() + 100));
}

// Writes past a ring's free space are cut to it and logged instead of
// overflowing the ring (which would drop the oldest audio).
TEST_F(AudioEngineSyncTest, WritesBeyondTheFreeSpaceAreCut) {
  CVNAudioEngine late;
  startTwoInputs(late, floatFormat(48000, 2, true));
  late.processBuffer(floatSampleBuffer(ramp(1000), 2, 48000, 200000), 1, true);
  EXPECT_EQ(late.inputs()[1]->circularBuffers()[0]->availableBytesForReading(), 144000u * 4);
  EXPECT_EQ(log_.linesWith("Error: Audio sync issue. Asked to sync to time 0/48000 and received audio with time 200000/48000"), 1u);
  EXPECT_EQ(log_.linesWith("converted audio larger than the free space of its ring: 1000 frames wait"), 1u);

  CVNAudioEngine large;
  startTwoInputs(large, floatFormat(48000, 2, true));
  large.processBuffer(floatSampleBuffer(ramp(150000), 2, 48000, 0), 1, false);
  const std::vector<float> ring = ringFloats(*large.inputs()[1]->circularBuffers()[0]);
  ASSERT_EQ(ring.size(), 144000u);
  EXPECT_FLOAT_EQ(ring[0], 1.0f / 4096.0f);  // the oldest audio is kept
  EXPECT_EQ(log_.linesWith("6000 frames wait"), 1u);
  EXPECT_EQ(log_.linesWith("is full"), 0u);
}

TEST_F(AudioEngineSyncTest, BadInputIsIgnoredOrLogged) {
  const testing::AudioPacketSource source(testing::audioFixture("tone48k.m4a"));
  ASSERT_TRUE(source.ok());
  CVNAudioEngine engine;
  engine.setOutputFormat(floatFormat(48000, 2, true));
  engine.addInputWithFormatDescription(source.description(), 1.0);
  ASSERT_TRUE(engine.start());
  std::size_t bytes = 0;
  engine.setOutputCallback([&](const std::uint8_t*, std::size_t count) { bytes += count; });
  engine.processBuffer(nullptr, 0, true);
  engine.processBuffer(source.samples()[0], 7, true);
  engine.processAudioBuffer(nullptr, 100, 0);
  EXPECT_EQ(bytes, 0u);

  // A corrupt packet: logged, its audio lost; the next packet converts.
  const std::vector<std::uint8_t> garbage(300, 0xff);
  auto block = pm::BlockBuffer::createWithCopy(garbage);
  pm::SampleBufferRef corrupt;
  pm::SampleBuffer::createReady(block, nullptr, 1, {{pm::MediaTime::make(1024, 48000), pm::MediaTime::make(0, 48000), {}}},
                                {garbage.size()}, &corrupt, {{0, 0, static_cast<std::uint32_t>(garbage.size())}});
  engine.processBuffer(corrupt, 0, false);
  EXPECT_EQ(log_.linesWith("Could not convert audio to output format. AudioConverter error: "), 1u);
  EXPECT_EQ(bytes, 0u);
  for (std::size_t i = 0; i < 4; ++i) engine.processBuffer(source.samples()[i], 0, false);
  EXPECT_GT(bytes, 0u);
}

}  // namespace
}  // namespace media
