// The audio preview's block ring against a recording stream: which blocks
// play and in what order, cutting, silence, volume steps, and that pushed
// bytes are copied at once.

#include <gtest/gtest.h>

#include "media/preview/CVNAudioPreview.h"
#include "tests/media/preview/FakeAudioPreviewStream.h"
#include "tests/support/CapturedDiagnostics.h"

namespace {

using media::CVNAudioPreview;
using preview_fakes::FakeAudioPreviewStream;
using preview_fakes::FakeStreamRecord;

class AudioPreviewTest : public ::testing::Test {
 protected:
  // Mono, 4 samples a buffer: 8 bytes per buffer.
  void configure() {
    preview_.setPreferedAudioSamplesPerAudioBuffer(4);
    preview_.configureAudioPreviewWithAudioStreamBasicDescription(media::previewAudioFormat(1));
    ASSERT_TRUE(preview_.isConfigured());
    record_->enqueued.clear();
  }
  void push(std::uint8_t value, std::size_t size = 8) {
    const std::vector<std::uint8_t> bytes(size, value);
    preview_.addPointer(bytes.data(), bytes.size());
  }
  std::vector<std::uint8_t> playNext() {
    stream_->request();
    return record_->enqueued.back();
  }

  std::shared_ptr<FakeStreamRecord> record_ = std::make_shared<FakeStreamRecord>();
  FakeAudioPreviewStream* stream_ = nullptr;
  CVNAudioPreview preview_{preview_fakes::fakeStreamFactory(record_, &stream_)};
};

TEST_F(AudioPreviewTest, ConfigurationPrimesThreeBuffersOfSilenceThenStarts) {
  preview_.setPreferedAudioSamplesPerAudioBuffer(800);
  preview_.configureAudioPreviewWithAudioStreamBasicDescription(media::previewAudioFormat(2));
  ASSERT_EQ(record_->enqueued.size(), 3u);
  for (const auto& buffer : record_->enqueued) EXPECT_EQ(buffer, std::vector<std::uint8_t>(3200, 0));
  EXPECT_EQ(record_->starts, 1);
}

TEST_F(AudioPreviewTest, FivePushesLeaveTheLastThreeOldestFirst) {
  configure();
  for (std::uint8_t value = 1; value <= 5; ++value) push(value);
  EXPECT_EQ(playNext(), std::vector<std::uint8_t>(8, 3));
  EXPECT_EQ(playNext(), std::vector<std::uint8_t>(8, 4));
  EXPECT_EQ(playNext(), std::vector<std::uint8_t>(8, 5));
  // Nothing pending: a whole buffer of silence.
  EXPECT_EQ(playNext(), std::vector<std::uint8_t>(8, 0));
}

TEST_F(AudioPreviewTest, ABlockLargerThanABufferIsCutAndASmallerOneKeepsItsSize) {
  configure();
  push(7, 20);
  push(9, 2);
  EXPECT_EQ(playNext(), std::vector<std::uint8_t>(8, 7));
  EXPECT_EQ(playNext(), std::vector<std::uint8_t>(2, 9));
}

TEST_F(AudioPreviewTest, BytesChangedAfterAPushDoNotChangeWhatPlays) {
  configure();
  std::vector<std::uint8_t> samples(8, 1);
  preview_.addPointer(samples.data(), samples.size());
  // The session reuses its hand-out block for the next frame.
  std::fill(samples.begin(), samples.end(), std::uint8_t{2});
  EXPECT_EQ(playNext(), std::vector<std::uint8_t>(8, 1));
}

TEST_F(AudioPreviewTest, VolumeIsClampedAndSmallStepsAreIgnored) {
  configure();
  const struct {
    double requested;
    double expected;
    bool sent;
  } rows[] = {{0.995, 1.0, false}, {0.5, 0.5, true}, {0.505, 0.5, false}, {7.0, 1.0, true}, {-3.0, 0.0, true}};
  for (const auto& row : rows) {
    const auto sentBefore = record_->volumes.size();
    preview_.setVolume(row.requested);
    EXPECT_DOUBLE_EQ(preview_.volume(), row.expected) << row.requested;
    ASSERT_EQ(record_->volumes.size(), sentBefore + (row.sent ? 1 : 0)) << row.requested;
    if (row.sent) {
      EXPECT_DOUBLE_EQ(record_->volumes.back(), row.expected) << row.requested;
    }
  }
}

TEST_F(AudioPreviewTest, TransportReachesTheStreamAndDestroyDropsPendingAudio) {
  configure();
  preview_.pause();
  preview_.start();
  preview_.stop();
  EXPECT_EQ(record_->pauses, 1);
  EXPECT_EQ(record_->starts, 2);
  EXPECT_EQ(record_->stops, 1);
  push(4);
  preview_.destroyAudioPreviewQueue();
  EXPECT_FALSE(record_->exists);
  EXPECT_FALSE(preview_.isConfigured());
  configure();
  EXPECT_EQ(playNext(), std::vector<std::uint8_t>(8, 0));
}

TEST(AudioPreviewWithoutServerTest, StaysUnconfiguredAndIgnoresEverything) {
  testing_support::CapturedDiagnostics diagnostics;
  CVNAudioPreview preview(preview_fakes::noServerFactory());
  preview.configureAudioPreviewWithAudioStreamBasicDescription(media::previewAudioFormat(2));
  EXPECT_FALSE(preview.isConfigured());
  const std::uint8_t bytes[4] = {1, 2, 3, 4};
  preview.addPointer(bytes, sizeof bytes);
  preview.start();
  preview.setVolume(0.2);
  EXPECT_DOUBLE_EQ(preview.volume(), 1.0);
  EXPECT_TRUE(diagnostics.messages().empty());
}

}  // namespace
