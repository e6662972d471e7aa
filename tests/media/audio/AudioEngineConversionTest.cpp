#include <gtest/gtest.h>

#include <cmath>

#include "media/audio/CVNAudioEngine.h"
#include "tests/media/audio/AudioFixtures.h"
#include "tests/media/audio/AudioPacketSource.h"

namespace media {
namespace {

namespace pm = platform::media;

// `file` through one engine input at unity into interleaved stereo float at
// 48000 Hz, every buffer fed with sync at time 0, then finished.
std::vector<float> convertWithEngine(const std::filesystem::path& file) {
  const testing::AudioPacketSource source(file);
  if (!source.ok()) return {};
  CVNAudioEngine engine;
  engine.setOutputFormat(testing::floatFormat(48000, 2, true));
  engine.addInputWithFormatDescription(source.description(), 1.0);
  std::vector<float> output;
  engine.setOutputCallback([&](const std::uint8_t* bytes, std::size_t count) {
    const auto* values = reinterpret_cast<const float*>(bytes);
    output.insert(output.end(), values, values + count / sizeof(float));
  });
  if (!engine.start()) return {};
  for (const auto& buffer : source.samples()) engine.processBuffer(buffer, 0, true);
  engine.finish();
  return output;
}

// The difference to `reference` in dB of the reference's power, over the
// middle second, at the best lag within ±64 frames.
double differenceDecibels(const std::vector<float>& ours, const std::vector<float>& reference, int* bestLag) {
  constexpr std::size_t kFrom = 48000;
  constexpr std::size_t kFrames = 48000;
  constexpr int kMaxLag = 64;
  if ((kFrom + kFrames + kMaxLag) * 2 > ours.size() || (kFrom + kFrames) * 2 > reference.size()) return 0;
  // Raw pointers: checked element access made this loop most of the test's time in the sanitizer build.
  const float* const theirs = reference.data();
  double best = 1e300;
  for (int lag = -kMaxLag; lag <= kMaxLag; ++lag) {
    const float* const shifted = ours.data() + lag * 2;
    double difference = 0;
    double power = 0;
    for (std::size_t i = kFrom * 2; i < (kFrom + kFrames) * 2; ++i) {
      difference += (shifted[i] - theirs[i]) * (shifted[i] - theirs[i]);
      power += theirs[i] * theirs[i];
    }
    const double decibels = 10 * std::log10(difference / power + 1e-30);
    if (decibels < best) {
      best = decibels;
      *bestLag = lag;
    }
  }
  return best;
}

const char* const kContainers[] = {"wav", "m4a", "aac", "alac.m4a", "mp3"};

TEST(AudioEngineConversionTest, MatchesFFmpegResamplingOfTheSameFile) {
  for (const char* container : kContainers) {
    const auto file = testing::audioFixture(std::string("tone.") + container);
    ASSERT_FALSE(file.empty()) << container;
    const std::vector<float> ours = convertWithEngine(file);
    const std::vector<float> reference = testing::ffmpegResampled(file);
    ASSERT_GT(ours.size(), 2u * 2 * 48000) << container;
    int lag = 0;
    const double decibels = differenceDecibels(ours, reference, &lag);
    EXPECT_LT(decibels, -60.0) << container << " (lag " << lag << ")";
  }
}

// A one-sample click at exactly 1.000 s lands at output frame 48000 within
// 1 ms. ADTS records no priming, so its decoded audio (like ffmpeg's) starts
// with the encoder's 1024 frames of delay.
TEST(AudioEngineConversionTest, ClickAtOneSecondLandsAtFrame48000) {
  for (const char* container : kContainers) {
    const auto file = testing::audioFixture(std::string("click.") + container);
    ASSERT_FALSE(file.empty()) << container;
    const std::vector<float> ours = convertWithEngine(file);
    ASSERT_GT(ours.size(), 2u * 60000) << container;
    std::size_t peak = 0;
    for (std::size_t i = 0; i < ours.size() / 2; ++i) {
      if (std::fabs(ours[i * 2]) > std::fabs(ours[peak * 2])) peak = i;
    }
    const double expected = std::string(container) == "aac" ? 48000 + 1024 * 48000.0 / 44100 : 48000;
    EXPECT_NEAR(static_cast<double>(peak), expected, 48) << container;
  }
}

}  // namespace
}  // namespace media
