// The audio preview on a real sound server: a private server with a null
// sink, started under a private runtime folder, plays a 1 kHz tone made by
// ffmpeg while parec records the sink's monitor. The tone must arrive whole,
// with no gap longer than one buffer. Without the server program the test
// skips, saying so.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "media/preview/CVNAudioPreview.h"
#include "media/preview/PulseAudioPreviewStream.h"
#include "tests/media/preview/FakeAudioPreviewStream.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

constexpr const char* kServerProgram = "/usr/bin/pulseaudio";
constexpr const char* kRecorderProgram = "/usr/bin/parec";
// 50 ms buffers: three of them ride out a loaded machine without an underrun.
constexpr std::uint32_t kSamplesPerBuffer = 2400;
constexpr std::size_t kFrameBytes = 4;  // 16-bit stereo

std::vector<std::int16_t> samplesOf(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::int16_t> samples(bytes.size() / 2);
  std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
  return samples;
}

// ffmpeg's sine peaks at 1/8 of full scale (4096). Left-channel span of the tone in a recording: first and last loud frame.
struct ToneSpan {
  std::size_t first = 0;
  std::size_t last = 0;
  bool found = false;
};

ToneSpan toneSpan(const std::vector<std::int16_t>& stereo) {
  ToneSpan span;
  for (std::size_t frame = 0; frame < stereo.size() / 2; ++frame) {
    if (std::abs(stereo[frame * 2]) < 1500) continue;
    if (!span.found) span.first = frame;
    span.last = frame;
    span.found = true;
  }
  return span;
}

class AudioPreviewNullSinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kServerProgram) || !std::filesystem::exists(kRecorderProgram)) {
      GTEST_SKIP() << "no sound server program at " << kServerProgram << " (package pulseaudio): null-sink test skipped";
    }
    std::filesystem::permissions(folder_.path(), std::filesystem::perms::owner_all);
    const std::string runtime = folder_.path().string();
    std::string error;
    server_ = testing_support::ChildProcess::start(
        {kServerProgram, "-n", "--daemonize=no", "--exit-idle-time=-1", "-L",
         "module-native-protocol-unix socket=" + runtime + "/pulse.sock auth-anonymous=1", "-L",
         "module-null-sink sink_name=vz_null rate=48000"},
        {{"XDG_RUNTIME_DIR", runtime}, {"HOME", runtime}}, &error);
    ASSERT_TRUE(server_) << error;
    ASSERT_TRUE(testing_support::waitForCondition(
        [&] { return std::filesystem::exists(folder_ / "pulse.sock"); }, "the sound server's socket"));
    serverAddress_ = "unix:" + runtime + "/pulse.sock";
    ::setenv("PULSE_SERVER", serverAddress_.c_str(), 1);
  }
  void TearDown() override { ::unsetenv("PULSE_SERVER"); }

  testing_support::TemporaryDirectory folder_;
  std::unique_ptr<testing_support::ChildProcess> server_;
  std::string serverAddress_;
};

TEST_F(AudioPreviewNullSinkTest, AToneFedOneBlockPerRequestIsRecordedWithoutGaps) {
  const auto tone = folder_ / "tone.raw";
  ASSERT_TRUE(testing_support::runCommand("ffmpeg -v error -y -f lavfi -i sine=frequency=1000:duration=1:sample_rate=48000 "
                                          "-ac 2 -f s16le " + testing_support::shellQuoted(tone)));
  const auto toneBytes = testing_support::readFileBytes(tone);
  ASSERT_EQ(toneBytes.size(), 48000 * kFrameBytes);

  const auto recording = folder_ / "recording.raw";
  std::string error;
  auto recorder = testing_support::ChildProcess::start(
      {"/bin/sh", "-c",
       std::string(kRecorderProgram) + " -d vz_null.monitor --raw --format=s16le --rate=48000 --channels=2 > " +
           testing_support::shellQuoted(recording)},
      {{"PULSE_SERVER", serverAddress_}}, &error);
  ASSERT_TRUE(recorder) << error;
  ASSERT_TRUE(testing_support::waitForCondition(
      [&] { return std::filesystem::exists(recording) && std::filesystem::file_size(recording) > 0; },
      "the recorder to start"));

  // A renderer in step with the output: one frame's audio before each refill.
  constexpr std::size_t blockBytes = kSamplesPerBuffer * kFrameBytes;
  std::atomic<std::size_t> offset{0};
  media::CVNAudioPreview* previewPointer = nullptr;
  auto pulse = media::PulseAudioPreviewStream::factory();
  media::CVNAudioPreview preview([&](const platform::media::AudioStreamBasicDescription& format, std::size_t bytes,
                                     media::AudioPreviewWriteRequest refill) {
    return pulse(format, bytes, [&, refill](media::AudioPreviewStream& stream) {
      const std::size_t at = offset.load();
      if (at < toneBytes.size()) {
        previewPointer->addPointer(toneBytes.data() + at, std::min(blockBytes, toneBytes.size() - at));
        offset.store(at + blockBytes);
      }
      refill(stream);
    });
  });
  previewPointer = &preview;
  preview.setPreferedAudioSamplesPerAudioBuffer(kSamplesPerBuffer);
  preview.configureAudioPreviewWithAudioStreamBasicDescription(media::previewAudioFormat(2));
  ASSERT_TRUE(preview.isConfigured());

  // Recorded: the whole tone and a tenth of a second of silence after it.
  std::vector<std::int16_t> recorded;
  ToneSpan span;
  ASSERT_TRUE(testing_support::waitForCondition(
      [&] {
        recorded = samplesOf(testing_support::readFileBytes(recording));
        span = toneSpan(recorded);
        return span.found && recorded.size() / 2 > span.last + 4800 && offset.load() >= toneBytes.size();
      },
      "the tone to be recorded"))
      << "fed " << offset.load() << " bytes, recorded " << recorded.size() / 2 << " frames";
  preview.destroyAudioPreviewQueue();

  EXPECT_NEAR(static_cast<double>(span.last - span.first), 48000.0, 960.0);
  std::size_t quietRun = 0;
  std::size_t longestQuietRun = 0;
  std::size_t crossings = 0;
  for (std::size_t frame = span.first; frame <= span.last; ++frame) {
    const std::int16_t value = recorded[frame * 2];
    quietRun = std::abs(value) < 300 ? quietRun + 1 : 0;
    longestQuietRun = std::max(longestQuietRun, quietRun);
    if (frame > span.first && (recorded[(frame - 1) * 2] < 0) != (value < 0)) ++crossings;
  }
  EXPECT_LT(longestQuietRun, kSamplesPerBuffer);
  EXPECT_NEAR(static_cast<double>(crossings), 2000.0, 40.0);
}

TEST_F(AudioPreviewNullSinkTest, WithoutAServerThePreviewIsUnconfigured) {
  ::setenv("PULSE_SERVER", ("unix:" + (folder_ / "absent.sock").string()).c_str(), 1);
  media::CVNAudioPreview preview;
  preview.configureAudioPreviewWithAudioStreamBasicDescription(media::previewAudioFormat(2));
  EXPECT_FALSE(preview.isConfigured());
}

}  // namespace
