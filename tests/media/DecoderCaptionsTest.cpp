#include <gtest/gtest.h>

#include "media/decoders/CVNFFmpegDecoder.h"
#include "media/decoders/CVNVideoToolboxDecoder.h"
#include "tests/media/PacketSource.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/TemporaryDirectory.h"

namespace media {
namespace {

namespace pm = platform::media;

// Two CEA-608 triplets as A/53 caption data.
const std::vector<std::uint8_t> kTriplets = {0xfc, 0x94, 0x20, 0xfc, 0x94, 0x2c};

// An SEI message carrying kTriplets ("GA94" user data), behind its 4-byte length.
std::vector<std::uint8_t> captionSEI() {
  std::vector<std::uint8_t> payload = {0xb5, 0x00, 0x31, 'G', 'A', '9', '4', 0x03, 0x40 | 2, 0xff};
  payload.insert(payload.end(), kTriplets.begin(), kTriplets.end());
  payload.push_back(0xff);
  std::vector<std::uint8_t> nal = {0x06, 0x04, static_cast<std::uint8_t>(payload.size())};
  nal.insert(nal.end(), payload.begin(), payload.end());
  nal.push_back(0x80);
  std::vector<std::uint8_t> unit = {0, 0, 0, static_cast<std::uint8_t>(nal.size())};
  unit.insert(unit.end(), nal.begin(), nal.end());
  return unit;
}

// The packet with the caption message in front of its pictures.
pm::SampleBufferRef withCaptions(const pm::SampleBuffer& packet) {
  std::vector<std::uint8_t> bytes = captionSEI();
  const auto original = packet.dataBuffer()->bytes();
  bytes.insert(bytes.end(), original.begin(), original.end());
  auto block = pm::BlockBuffer::createWithCopy(bytes);
  pm::SampleTimingInfo timing;
  packet.sampleTimingInfo(0, &timing);
  pm::SampleBufferRef sample;
  pm::SampleBuffer::createReady(block, packet.formatDescription(), 1, {timing}, {bytes.size()}, &sample);
  return sample;
}

struct CaptionDelegate : CVNDecoderDelegateProtocol {
  std::vector<pm::SampleBufferRef> captionSamples;
  int embeddedPackets = 0;
  void didReceiveCCSampleBuffer(const pm::SampleBufferRef& sample) override { captionSamples.push_back(sample); }
  void didFindAnEmbeddedCCPacket() override { ++embeddedPackets; }
};

class DecoderCaptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = directory_ / "cc.mov";
    ASSERT_TRUE(testing_support::runCommand("ffmpeg -v error -y -f lavfi -i testsrc2=s=320x240:r=25 -t 0.4 -c:v libx264 "
                                            "-pix_fmt yuv422p -bf 2 " + testing_support::shellQuoted(file_)));
    source_ = std::make_unique<testing::PacketSource>(file_);
    ASSERT_TRUE(source_->ok());
  }

  // Decodes every packet with captions; the pictures that came out.
  std::vector<pm::SampleBufferRef> decodeAll(CVNDecoderProtocol& decoder) {
    std::vector<pm::SampleBufferRef> pictures;
    for (const auto& packet : source_->samples()) {
      decoder.decodeSampleBuffer(withCaptions(*packet), true,
                                 [&](bool success, const std::optional<std::string>& error, const pm::SampleBufferRef& out) {
                                   EXPECT_TRUE(success) << error.value_or("");
                                   if (out) pictures.push_back(out);
                                 });
    }
    decoder.finish();
    return pictures;
  }

  testing_support::TemporaryDirectory directory_;
  std::filesystem::path file_;
  std::unique_ptr<testing::PacketSource> source_;
};

TEST_F(DecoderCaptionsTest, FFmpegDecoderHandsEveryFramesCaptionsToTheDelegate) {
  CVNFFmpegDecoder decoder(source_->codecContext(), source_->timeBase(), false, "cc");
  CaptionDelegate delegate;
  decoder.setDelegate(&delegate);
  ASSERT_TRUE(decoder.setup());
  const auto pictures = decodeAll(decoder);
  ASSERT_EQ(pictures.size(), source_->samples().size());
  ASSERT_EQ(delegate.captionSamples.size(), pictures.size());
  std::vector<std::int64_t> pictureTimes, captionTimes;
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    ASSERT_NE(delegate.captionSamples[i], nullptr);
    captionTimes.push_back(delegate.captionSamples[i]->presentationTimeStamp().value);
    pictureTimes.push_back(pictures[i]->presentationTimeStamp().value);
  }
  EXPECT_EQ(captionTimes, pictureTimes);
  EXPECT_EQ(delegate.embeddedPackets, 0);
}

TEST_F(DecoderCaptionsTest, VideoToolboxRuleDecoderFindsCaptionsBeforeDecodingAndAttachesThem) {
  CVNVideoToolboxDecoder decoder(source_->description(), "cc");
  CaptionDelegate delegate;
  decoder.setDelegate(&delegate);
  ASSERT_TRUE(decoder.setup());
  const auto pictures = decodeAll(decoder);
  EXPECT_EQ(delegate.embeddedPackets, static_cast<int>(source_->samples().size()));
  EXPECT_TRUE(delegate.captionSamples.empty());
  ASSERT_EQ(pictures.size(), source_->samples().size());
  for (const auto& picture : pictures) {
    const platform::Value data = picture->sampleAttachment(0, "a53CCData");
    ASSERT_NE(data.data(), nullptr);
    EXPECT_EQ(*data.data(), platform::Data(kTriplets.begin(), kTriplets.end()));
    EXPECT_EQ(picture->sampleAttachment(0, "a53CCPTS").integerOr(-1), picture->presentationTimeStamp().value);
  }
  // Turned off, nothing is looked for.
  CVNVideoToolboxDecoder quiet(source_->description(), "cc");
  CaptionDelegate quietDelegate;
  quiet.setDelegate(&quietDelegate);
  quiet.setExtractCCFromVideoFrames(false);
  ASSERT_TRUE(quiet.setup());
  for (const auto& picture : decodeAll(quiet)) EXPECT_EQ(picture->sampleAttachment(0, "a53CCData").data(), nullptr);
  EXPECT_EQ(quietDelegate.embeddedPackets, 0);
}

}  // namespace
}  // namespace media
