#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "media/audio/AudioEngineSupport.h"
#include "media/audio/CVNAudioEngine.h"
#include "platform/UserDefaults.h"
#include "tests/control/support/CapturedTechnicalLog.h"
#include "tests/media/audio/AudioPacketSource.h"
#include "tests/support/TemporaryDirectory.h"

namespace media {
namespace {

namespace pm = platform::media;
using testing::floatFormat;
using testing::floatSampleBuffer;

class AudioEngineGraphTest : public ::testing::Test {
 protected:
  // Every rendered slice, in frames, and the interleaved float output.
  void capture(CVNAudioEngine& engine) {
    engine.setOutputCallback([this, &engine](const std::uint8_t* bytes, std::size_t count) {
      const std::size_t frameBytes = engine.outputFormat().bytesPerFrame;
      slices_.push_back(count / frameBytes);
      const auto* values = reinterpret_cast<const float*>(bytes);
      output_.insert(output_.end(), values, values + count / sizeof(float));
    });
  }

  testing_support::TemporaryDirectory folder_;
  platform::UserDefaults defaults_{folder_.path() / "defaults.plist"};
  testing_support::CapturedTechnicalLog log_{defaults_};
  std::vector<std::size_t> slices_;
  std::vector<float> output_;
};

TEST_F(AudioEngineGraphTest, GraphDecisionAtStart) {
  struct Row {
    const char* name;
    std::vector<double> volumes;
    double outputVolume;
    bool graph;
  };
  const Row rows[] = {
      {"no input", {}, 1.0, false},          {"one unity input", {1.0}, 1.0, false},
      {"one input at 0.5", {0.5}, 1.0, true}, {"two unity inputs", {1.0, 1.0}, 1.0, true},
      {"output volume 0.8", {1.0}, 0.8, true},
  };
  for (const Row& row : rows) {
    CVNAudioEngine engine;
    engine.setOutputFormat(floatFormat(48000, 2, true));
    engine.setOutputVolume(row.outputVolume);
    for (double volume : row.volumes) {
      engine.addInputWithAudioStreamBasicDescription(floatFormat(44100, 2, true), volume, 0);
    }
    EXPECT_TRUE(engine.start()) << row.name;
    EXPECT_EQ(engine.shouldUseGraph(), row.graph) << row.name;
    EXPECT_EQ(engine.graphString().empty(), !row.graph) << row.name;
    for (const auto& input : engine.inputs()) {
      const std::size_t rings = row.graph ? 2 : 1;
      EXPECT_EQ(input->circularBuffers().size(), rings) << row.name;
      EXPECT_EQ(input->circularBuffers().front()->byteCapacity(), row.graph ? 4u * 144000 : 8u * 96000) << row.name;
    }
  }
}

TEST_F(AudioEngineGraphTest, UnityInputInTheOutputFormatPassesStraightThrough) {
  CVNAudioEngine engine;
  engine.setOutputFormat(floatFormat(48000, 2, true));
  engine.addInputWithAudioStreamBasicDescription(floatFormat(48000, 2, true), 1.0, 0);
  ASSERT_TRUE(engine.start());
  EXPECT_EQ(engine.inputs()[0]->audioConverter(), nullptr);
  const std::vector<float> values{0.1f, 0.2f, 0.3f, 0.4f};
  const auto buffer = floatSampleBuffer(values, 2, 48000, 0);
  const std::uint8_t* seen = nullptr;
  engine.setOutputCallback([&](const std::uint8_t* bytes, std::size_t) { seen = bytes; });
  engine.processBuffer(buffer, 0, false);
  EXPECT_EQ(seen, buffer->dataBuffer()->data());  // no copy
}

TEST_F(AudioEngineGraphTest, VolumesAreClampedAndRefusedFormatsAreLogged) {
  CVNAudioEngine engine;
  struct Row {
    double set;
    double stored;
  };
  for (const Row& row : {Row{3.0, 2.0}, Row{-1.0, 0.0}, Row{0.7, 0.7}}) {
    engine.setOutputVolume(row.set);
    EXPECT_EQ(engine.outputVolume(), row.stored) << row.set;
    engine.addInputWithAudioStreamBasicDescription(floatFormat(48000, 1, true), row.set, 0);
    EXPECT_EQ(engine.inputs().back()->volume(), row.stored) << row.set;
  }
  engine.setVarispeed(100);
  EXPECT_EQ(engine.varispeed(), 1.0);  // ignored while varispeed is off
  engine.setEnableVarispeed(true);
  engine.setVarispeed(100);
  EXPECT_EQ(engine.varispeed(), 32.0);

  pm::AudioStreamBasicDescription noChannels = floatFormat(48000, 0, true);
  pm::AudioStreamBasicDescription noRate = floatFormat(0, 2, true);
  pm::AudioStreamBasicDescription tooWide = floatFormat(48000, 65, true);
  pm::AudioStreamBasicDescription noPacketBytes = floatFormat(48000, 2, true);
  noPacketBytes.bytesPerPacket = 0;
  for (const auto& format : {noChannels, noRate, tooWide, noPacketBytes}) {
    const std::size_t before = engine.inputs().size();
    engine.addInputWithAudioStreamBasicDescription(format, 1.0, 0);
    EXPECT_EQ(engine.inputs().size(), before);
  }
  EXPECT_EQ(log_.linesWith("audio input refused"), 4u);
}

TEST_F(AudioEngineGraphTest, UnavailableFeaturesAreRefusedAtStart) {
  CVNAudioEngine device;
  device.setEngineMode(CVNAudioEngine::kEngineModeDevice);
  EXPECT_FALSE(device.start());
  CVNAudioEngine varispeed;
  varispeed.setEnableVarispeed(true);
  EXPECT_FALSE(varispeed.start());
  EXPECT_EQ(log_.linesWith("audio device output is not available"), 1u);
  EXPECT_EQ(log_.linesWith("varispeed is not available"), 1u);

  // An effect is logged and left out; the graph still runs.
  CVNAudioEngine effect;
  effect.setOutputFormat(floatFormat(48000, 2, true));
  effect.setAudioEffectComponentSubType(pm::fourCC("dely"));
  effect.setAudioEffectComponentManufacturer(pm::fourCC("appl"));
  effect.addInputWithAudioStreamBasicDescription(floatFormat(48000, 2, false), 0.5, 0);
  EXPECT_TRUE(effect.start());
  EXPECT_EQ(log_.linesWith("Could add effect audio unit. Error: "), 1u);
  EXPECT_EQ(effect.audioEffectComponentDescription().componentType, pm::fourCC("aufx"));
  EXPECT_EQ(effect.audioEffectView(), nullptr);
  EXPECT_EQ(effect.vuMeterLevels(), std::vector<double>(2, -120.0));
}

// 441 buffers of 100 frames at 44100 Hz into 48000 Hz: 108 frames each plus
// carries; the last whole frame stays in the remainder (equal to the time
// scale, not above it) until the next buffer.
TEST_F(AudioEngineGraphTest, OutputFramesCarryTheRateRemainder) {
  struct Row {
    std::int64_t frames;
    std::int32_t rate;
    int buffers;
    std::uint64_t total;
  };
  for (const Row& row : {Row{100, 44100, 441, 47999}, Row{100, 44100, 442, 48108}, Row{1024, 48000, 10, 10240},
                         Row{1152, 44100, 1, 1253}}) {
    std::uint64_t remainder = 0;
    std::uint64_t total = 0;
    for (int i = 0; i < row.buffers; ++i) {
      total += outputFramesForDuration(pm::MediaTime::make(row.frames, row.rate), 48000, &remainder);
    }
    EXPECT_EQ(total, row.total) << row.frames << " x " << row.buffers << " at " << row.rate;
  }
}

TEST_F(AudioEngineGraphTest, RendersSlicesOfAtMost2048Frames) {
  CVNAudioEngine engine;
  engine.setOutputFormat(floatFormat(48000, 2, true));
  engine.addInputWithAudioStreamBasicDescription(floatFormat(48000, 2, false), 1.0, 0);
  engine.addInputWithAudioStreamBasicDescription(floatFormat(48000, 2, false), 1.0, 0);
  ASSERT_TRUE(engine.start());
  capture(engine);
  const std::vector<float> planes(5000 * 2, 0.25f);
  engine.processBuffer(floatSampleBuffer(planes, 2, 48000, 0), 0, false);
  EXPECT_TRUE(slices_.empty());  // the second input has nothing yet
  EXPECT_EQ(engine.samplesAvailableForProcessing(), 0u);
  engine.processAudioBuffer(planes.data(), 5000, 1);  // caller memory, planes one after the other
  EXPECT_EQ(slices_, (std::vector<std::size_t>{2048, 2048, 904}));
  EXPECT_FLOAT_EQ(output_.front(), 0.5f);

  // Finishing renders what only one input still has, padding the other with silence.
  slices_.clear();
  engine.processBuffer(floatSampleBuffer(std::vector<float>(300 * 2, 0.25f), 2, 48000, 0), 0, false);
  EXPECT_TRUE(slices_.empty());
  engine.finish();
  EXPECT_EQ(slices_, (std::vector<std::size_t>{300}));
  EXPECT_FLOAT_EQ(output_.back(), 0.25f);  // the first input alone
}

// Two stereo sine inputs mixed through the level matrix: every output sample
// is the weighted sum of the inputs' samples on the channels they map to.
TEST_F(AudioEngineGraphTest, LevelMatrixGivesEachInputItsVolume) {
  struct Row {
    const char* name;
    std::uint64_t secondOffset;
    std::uint32_t outputChannels;
  };
  for (const Row& row : {Row{"both at offset 0 (composition sources)", 0, 2}, Row{"offsets 0 and 2", 2, 4}}) {
    output_.clear();
    CVNAudioEngine engine;
    engine.setOutputFormat(floatFormat(48000, row.outputChannels, true));
    engine.addInputWithAudioStreamBasicDescription(floatFormat(48000, 2, false), 0.5, 0);
    engine.addInputWithAudioStreamBasicDescription(floatFormat(48000, 2, false), 2.0, row.secondOffset);
    ASSERT_TRUE(engine.start()) << row.name;
    capture(engine);
    constexpr std::size_t kFrames = 4800;
    std::vector<float> first(kFrames * 2);
    std::vector<float> second(kFrames * 2);
    for (std::size_t i = 0; i < kFrames; ++i) {
      for (std::size_t c = 0; c < 2; ++c) {
        first[c * kFrames + i] = static_cast<float>(0.4 * std::sin(2 * std::numbers::pi * (440.0 + 110 * c) * i / 48000));
        second[c * kFrames + i] = static_cast<float>(0.3 * std::sin(2 * std::numbers::pi * (1000.0 + 50 * c) * i / 48000));
      }
    }
    engine.processBuffer(floatSampleBuffer(first, 2, 48000, 0), 0, false);
    engine.processBuffer(floatSampleBuffer(second, 2, 48000, 0), 1, false);
    ASSERT_EQ(output_.size(), kFrames * row.outputChannels) << row.name;
    double worst = 0;
    for (std::size_t i = 0; i < kFrames; ++i) {
      for (std::size_t c = 0; c < row.outputChannels; ++c) {
        double expected = 0;
        if (c < 2) expected += 0.5 * first[c * kFrames + i];
        if (c >= row.secondOffset && c - row.secondOffset < 2) expected += 2.0 * second[(c - row.secondOffset) * kFrames + i];
        worst = std::max(worst, std::fabs(output_[i * row.outputChannels + c] - expected));
      }
    }
    EXPECT_LT(worst, 1e-6) << row.name;
  }
}

}  // namespace
}  // namespace media
