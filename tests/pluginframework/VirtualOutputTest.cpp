// The virtual output plug-in loaded by the device controller and paced by a
// ManualClock: pull times and audio cadence, and what it records or previews
// read back with ffprobe and ffmpeg.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <mutex>

#include "platform/media/PixelBuffer.h"
#include "pluginframework/PluginVideoOutput.h"
#include "tests/pluginframework/support/ClockedDeviceController.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/RunLoopWait.h"

namespace pluginframework {
namespace {

namespace pm = platform::media;
using testing_support::shellQuoted;

// Records each pull (index, audio asked for, the clock's time) and answers it
// with a picture whose bytes depend on the frame and audio that ramps over the
// whole run; the pull of `missingFrame` answers nothing.
class PatternPull final : public CVNVideoOutputDelegate {
 public:
  struct Pull {
    std::int64_t index;
    std::uint32_t audioFrames;
    platform::Clock::Duration at;
  };

  PatternPull(const platform::Clock& clock, std::size_t width, std::size_t height, pm::FourCharCode format,
              std::uint32_t channels, std::int64_t missingFrame = -1)
      : clock_(clock), width_(width), height_(height), format_(format), channels_(channels),
        missingFrame_(missingFrame) {}

  bool outputWantsFrame(std::int64_t frameIndex, std::uint32_t audioFrames, std::shared_ptr<pm::PixelBuffer>* picture,
                        std::int16_t* audio) override {
    std::lock_guard guard(mutex_);
    pulls_.push_back({frameIndex, audioFrames, clock_.now().time_since_epoch()});
    const bool answered = frameIndex != missingFrame_;
    std::vector<std::uint8_t> rows = answered || pictures_.empty() ? pictureBytes(frameIndex) : pictures_.back();
    if (answered) {
      pm::PixelBufferAttributes attributes;
      pm::PixelBuffer::create(width_, height_, format_, attributes, picture);
      const std::size_t rowBytes = rows.size() / height_;
      for (std::size_t y = 0; y < height_; ++y) {
        std::memcpy((*picture)->baseAddress() + y * (*picture)->bytesPerRow(), rows.data() + y * rowBytes, rowBytes);
      }
    }
    pictures_.push_back(std::move(rows));
    for (std::uint32_t i = 0; i < audioFrames * channels_; ++i) {
      const auto value = static_cast<std::int16_t>(answered ? (samples_.size() * 7 + 1) % 30011 : 0);
      if (answered) audio[i] = value;
      samples_.push_back(value);
    }
    return answered;
  }

  std::vector<Pull> pulls() const {
    std::lock_guard guard(mutex_);
    return pulls_;
  }
  // What a recording of the pulls holds: a missing frame repeats the picture before it, its audio is silent.
  std::vector<std::uint8_t> expectedVideo() const {
    std::lock_guard guard(mutex_);
    std::vector<std::uint8_t> all;
    for (const auto& rows : pictures_) all.insert(all.end(), rows.begin(), rows.end());
    return all;
  }
  std::vector<std::int16_t> expectedAudio() const {
    std::lock_guard guard(mutex_);
    return samples_;
  }

 private:
  // Rows without padding. v210 words hold three 10-bit values, kept inside
  // the legal range that 10-bit writers clip to.
  std::vector<std::uint8_t> pictureBytes(std::int64_t index) const {
    const bool v210 = format_ == pm::fourCC("v210");
    const std::size_t rowBytes = v210 ? (width_ + 47) / 48 * 128 : width_ * (format_ == pm::fourCC("2vuy") ? 2 : 4);
    std::vector<std::uint8_t> rows(rowBytes * height_);
    const auto shift = static_cast<std::size_t>(index) * 29;
    // Raw pointers and whole rows: checked element access made filling full HD frames most of the test's time
    // in the sanitizer build. 'v210' rows are whole words, all written below.
    std::uint8_t* const bytes = rows.data();
    for (std::size_t y = 0; !v210 && y < height_; ++y) {
      for (std::size_t x = 0; x < rowBytes; ++x) {
        const std::size_t i = y * rowBytes + x;
        bytes[i] = static_cast<std::uint8_t>((i * 7 + y * 13 + shift) & 0xff);
      }
    }
    const std::size_t words = v210 ? rows.size() / 4 : 0;
    for (std::size_t word = 0; word < words; ++word) {
      std::uint32_t packed = 0;
      for (std::uint32_t part = 0; part < 3; ++part) packed |= (64 + (word * 3 + part + shift) % 877) << (part * 10);
      std::memcpy(bytes + word * 4, &packed, 4);
    }
    return rows;
  }

  const platform::Clock& clock_;
  const std::size_t width_, height_;
  const pm::FourCharCode format_;
  const std::uint32_t channels_;
  const std::int64_t missingFrame_;
  mutable std::mutex mutex_;
  std::vector<Pull> pulls_;                       // guarded by mutex_
  std::vector<std::vector<std::uint8_t>> pictures_;  // guarded by mutex_
  std::vector<std::int16_t> samples_;             // guarded by mutex_
};

class VirtualOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    controller_.loadPluginsFromFolder(VZ_PLUGINS);
    auto device = controller_.createVirtualOutputWithName("Virtual Output", "Virtual Output", true);
    ASSERT_NE(device, nullptr);
    output_ = std::dynamic_pointer_cast<PluginVideoOutput>(device->outputs().at(0));
    ASSERT_NE(output_, nullptr);
  }
  void TearDown() override {
    if (output_) {
      output_->stopPlayback();
      output_->setDelegate(nullptr);
    }
  }

  // Frame n is due at n × frameDuration / timeScale seconds after the first.
  static std::chrono::nanoseconds due(std::int64_t n, std::int64_t frameDuration, std::int64_t timeScale) {
    return std::chrono::nanoseconds(n * 1'000'000'000LL * frameDuration / timeScale);
  }
  // Starts playback and moves the clock to each due time of `frames` frames,
  // waiting for each pull.
  void play(PatternPull& pull, std::int64_t frames, std::int64_t frameDuration, std::int64_t timeScale) {
    output_->setDelegate(&pull);
    platform::Error error;
    ASSERT_TRUE(output_->startPlayback(&error)) << error.localizedDescription;
    ASSERT_TRUE(testing_support::waitForCondition([&] { return pull.pulls().size() == 1; }));
    const auto start = pull.pulls()[0].at;
    for (std::int64_t n = 1; n < frames; ++n) {
      clock_.advance(start + due(n, frameDuration, timeScale) - clock_.now().time_since_epoch());
      ASSERT_TRUE(testing_support::waitForCondition([&] { return pull.pulls().size() == static_cast<std::size_t>(n + 1); }));
    }
    output_->stopPlayback();
    EXPECT_FALSE(output_->isRunning());
  }
  std::string probe(const std::filesystem::path& file, const std::string& entries) const {
    return testing_support::commandOutput("ffprobe -v error -count_frames " + entries + " -of default=nw=1 " +
                                          shellQuoted(file));
  }

  testing_support::ClockedDeviceController host_;
  platform::ManualClock& clock_ = host_.clock;
  const std::filesystem::path folder_ = host_.folder.path();
  CVNDeviceController& controller_ = host_.controller;
  std::shared_ptr<PluginVideoOutput> output_;
};

TEST_F(VirtualOutputTest, PullsAtExactFrameTimesWithTheAudioCadenceOf2997) {
  EXPECT_EQ(controller_.outputNames(), std::vector<std::string>{"Virtual Output"});
  EXPECT_TRUE(output_->setSetting("displayModeName", "1080p2997"));
  EXPECT_FALSE(output_->setSetting("displayModeName", "4K"));
  output_->setBufferFormat(pm::fourCC("v210"));
  EXPECT_EQ(output_->bufferFormat(), pm::fourCC("v210"));
  output_->setNumberOfChannels(3);
  EXPECT_EQ(output_->audioStreamBasicDescription().channelsPerFrame, 2u) << "2, 8 or 16 channels only";

  constexpr std::int64_t kFrames = 30;
  PatternPull pull(clock_, 1920, 1080, pm::fourCC("v210"), 2);
  play(pull, kFrames, 1001, 30000);

  const auto pulls = pull.pulls();
  ASSERT_EQ(pulls.size(), static_cast<std::size_t>(kFrames));
  std::uint32_t fiveFrames = 0;
  for (std::int64_t n = 0; n < kFrames; ++n) {
    EXPECT_EQ(pulls[n].index, n);
    // Each due time from the start, never from the previous pull, so no error builds up.
    EXPECT_EQ(pulls[n].at, pulls[0].at + due(n, 1001, 30000)) << n;
    EXPECT_TRUE(pulls[n].audioFrames == 1601 || pulls[n].audioFrames == 1602) << pulls[n].audioFrames;
    fiveFrames += pulls[n].audioFrames;
    if (n % 5 == 4) {
      EXPECT_EQ(fiveFrames, 8008u) << "frames " << n - 4 << " to " << n;
      fiveFrames = 0;
    }
  }
}

TEST_F(VirtualOutputTest, DeviceOutputsLeaveOutTheEnginesOwnVirtualOutput) {
  ASSERT_NE(controller_.createVirtualOutputWithName("Studio Monitor", "studio-monitor", false), nullptr);
  std::vector<std::string> uniqueIDs;
  for (const auto& output : controller_.availableOutputs()) uniqueIDs.push_back(output->uniqueID());
  EXPECT_EQ(uniqueIDs, (std::vector<std::string>{"studio-monitor", "Virtual Output"}));
  const auto deviceOutputs = controller_.availableDeviceOutputs();
  ASSERT_EQ(deviceOutputs.size(), 1u);
  EXPECT_EQ(deviceOutputs[0]->uniqueID(), "studio-monitor");
}

struct RecordingCase {
  const char* codec;
  const char* pixelFormat;
  pm::FourCharCode fourCC;
  std::uint32_t channels;
  const char* storedCodec;   // as ffprobe names it
  const char* unpackedAs;    // ffmpeg arguments giving back the output's own bytes
};

class VirtualOutputRecordingTest : public VirtualOutputTest, public ::testing::WithParamInterface<RecordingCase> {};

// A missing pull in the middle: the recording repeats the picture before it
// and is silent for that frame, so picture and sound stay in step.
TEST_P(VirtualOutputRecordingTest, RecordsEveryPulledFrameAndItsSoundExactly) {
  const RecordingCase& row = GetParam();
  const auto file = folder_ / "out.mkv";
  ASSERT_TRUE(output_->setSetting("displayModeName", "PAL"));
  ASSERT_TRUE(output_->setSetting("pixelFormat", row.pixelFormat));
  ASSERT_TRUE(output_->setSetting("audioChannels", std::to_string(row.channels)));
  ASSERT_TRUE(output_->setSetting("recordingCodec", row.codec));
  ASSERT_TRUE(output_->setSetting("recordingPath", file.string()));

  constexpr std::int64_t kFrames = 6;
  PatternPull pull(clock_, 720, 576, row.fourCC, row.channels, 2);
  play(pull, kFrames, 1, 25);
  EXPECT_EQ(host_.log.linesWith("Virtual output"), 0u) << "no frame left out, no write failed";

  EXPECT_EQ(probe(file, "-select_streams v -show_entries stream=codec_name,width,height,nb_read_frames"),
            std::string("codec_name=") + row.storedCodec + "\nwidth=720\nheight=576\nnb_read_frames=6\n");
  EXPECT_EQ(probe(file, "-select_streams a -show_entries stream=codec_name,sample_rate,channels,nb_read_frames"),
            "codec_name=pcm_s16le\nsample_rate=48000\nchannels=" + std::to_string(row.channels) +
                "\nnb_read_frames=" + std::to_string(kFrames) + "\n");
  EXPECT_NE(probe(file, "-show_entries format_tags=START_TIME").find("TAG:START_TIME=20"), std::string::npos);

  const auto video = folder_ / "video.raw";
  const auto audio = folder_ / "audio.raw";
  ASSERT_TRUE(testing_support::runCommand("ffmpeg -v error -i " + shellQuoted(file) + " -map 0:v " + row.unpackedAs +
                                          " -f rawvideo " + shellQuoted(video) + " -map 0:a -f s16le " +
                                          shellQuoted(audio)));
  EXPECT_TRUE(testing_support::readFileBytes(video) == pull.expectedVideo()) << "pictures differ";
  const auto expectedAudio = pull.expectedAudio();
  const auto audioBytes = testing_support::readFileBytes(audio);
  ASSERT_EQ(audioBytes.size(), expectedAudio.size() * 2);
  EXPECT_EQ(std::memcmp(audioBytes.data(), expectedAudio.data(), audioBytes.size()), 0) << "sound differs";
}

INSTANTIATE_TEST_SUITE_P(
    CodecsAndFormats, VirtualOutputRecordingTest,
    ::testing::Values(RecordingCase{"ffv1", "2vuy", pm::fourCC("2vuy"), 2, "ffv1", "-pix_fmt uyvy422"},
                      RecordingCase{"ffv1", "v210", pm::fourCC("v210"), 8, "ffv1", "-c:v v210"},
                      RecordingCase{"ffv1", "BGRA", pm::fourCC("BGRA"), 2, "ffv1", "-pix_fmt bgra"},
                      RecordingCase{"ffv1", "RGBA", pm::fourCC("RGBA"), 16, "ffv1", "-pix_fmt rgba"},
                      RecordingCase{"rawvideo", "2vuy", pm::fourCC("2vuy"), 2, "rawvideo", "-pix_fmt uyvy422"},
                      RecordingCase{"rawvideo", "v210", pm::fourCC("v210"), 2, "v210", "-c:v v210"},
                      RecordingCase{"rawvideo", "BGRA", pm::fourCC("BGRA"), 2, "rawvideo", "-pix_fmt bgra"}),
    [](const auto& info) { return std::string(info.param.codec) + "_" + info.param.pixelFormat; });

TEST_F(VirtualOutputTest, APreviewPlayerGetsTheFramesAsNUTOnItsStandardInput) {
  // A stand-in player that keeps what it reads.
  const auto player = folder_ / "player";
  const auto stream = folder_ / "preview.nut";
  std::ofstream(player) << "#!/bin/sh\nexec cat > " << shellQuoted(stream) << "\n";
  ::chmod(player.c_str(), 0700);
  ASSERT_TRUE(output_->setSetting("displayModeName", "PAL"));
  ASSERT_TRUE(output_->setSetting("previewPlayer", player.string()));
  ASSERT_TRUE(output_->setSetting("preview", "1"));

  PatternPull pull(clock_, 720, 576, pm::fourCC("2vuy"), 2);
  play(pull, 4, 1, 25);
  EXPECT_EQ(probe(stream, "-select_streams v -show_entries stream=codec_name,pix_fmt,nb_read_frames"),
            "codec_name=rawvideo\npix_fmt=uyvy422\nnb_read_frames=4\n");
}

TEST_F(VirtualOutputTest, WhatCannotBeMadeRefusesToStartWithTheReason) {
  struct Row {
    const char* key;
    std::string value;
    const char* reason;
  };
  const Row rows[] = {
      {"recordingPath", (folder_ / "missing" / "out.mkv").string(), "cannot create the recording"},
      {"previewPlayer", (folder_ / "no-player").string(), "did not start"},
  };
  EXPECT_FALSE(output_->setSetting("recordingCodec", "prores"));
  for (const Row& row : rows) {
    ASSERT_TRUE(output_->setSetting(row.key, row.value));
    if (std::string(row.key) == "previewPlayer") {
      ASSERT_TRUE(output_->setSetting("preview", "1"));
    }
    platform::Error error;
    EXPECT_FALSE(output_->startPlayback(&error)) << row.key;
    EXPECT_NE(error.localizedDescription.find(row.reason), std::string::npos) << error.localizedDescription;
    EXPECT_NE(error.localizedDescription.find(row.value), std::string::npos) << error.localizedDescription;
    EXPECT_FALSE(output_->isRunning());
    output_->setSetting("recordingPath", "");
  }
}

}  // namespace
}  // namespace pluginframework
