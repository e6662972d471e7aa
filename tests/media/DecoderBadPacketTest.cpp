#include <gtest/gtest.h>

#include <algorithm>

#include "media/decoders/CVNFFmpegDecoder.h"
#include "media/decoders/CVNVideoToolboxDecoder.h"
#include "media/decoders/CodecCodes.h"
#include "tests/media/DecoderTestSupport.h"
#include "tests/media/PacketSource.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/TemporaryDirectory.h"

namespace media {
namespace {

namespace pm = platform::media;

// The packet with its bytes after the first 16 replaced by noise.
pm::SampleBufferRef corrupted(const pm::SampleBuffer& packet) {
  auto bytes = std::vector<std::uint8_t>(packet.dataBuffer()->bytes().begin(), packet.dataBuffer()->bytes().end());
  std::uint32_t noise = 12345;
  for (std::size_t i = 16; i < bytes.size(); ++i) {
    noise = noise * 1103515245 + 12345;
    bytes[i] = static_cast<std::uint8_t>(noise >> 16);
  }
  auto block = pm::BlockBuffer::createWithCopy(bytes);
  pm::SampleTimingInfo timing;
  packet.sampleTimingInfo(0, &timing);
  pm::SampleBufferRef sample;
  pm::SampleBuffer::createReady(block, packet.formatDescription(), 1, {timing}, {bytes.size()}, &sample);
  return sample;
}

struct BrokenCase {
  const char* name;
  const char* encode;
  const char* subtype;
  bool intraOnly;
  bool videoToolboxRules;  // the VideoToolbox-rule decoder (else the FFmpeg one)
};

// Test names show the fixture, not the bytes of the case.
void PrintTo(const BrokenCase& c, std::ostream* out) { *out << c.name; }

class DecoderBadPacketTest : public ::testing::TestWithParam<BrokenCase> {};

// A broken packet in the middle of a clip: every call completes once, and in
// intra-only material only the broken packet's own call fails, whatever the
// frame threads do with its error.
TEST_P(DecoderBadPacketTest, OnlyTheBrokenPacketsCallFails) {
  const BrokenCase& c = GetParam();
  constexpr int kBroken = 5;
  testing_support::TemporaryDirectory directory;
  const auto file = directory / c.name;
  ASSERT_TRUE(testing_support::runCommand(std::string("ffmpeg -v error -y -f lavfi -i testsrc2=s=320x240:r=25 -t 1 ") +
                                          c.encode + " " + testing_support::shellQuoted(file)));
  testing::PacketSource source(file, codeOf(c.subtype));
  ASSERT_TRUE(source.ok());
  std::unique_ptr<CVNDecoderProtocol> decoder;
  if (c.videoToolboxRules) {
    decoder = std::make_unique<CVNVideoToolboxDecoder>(source.description(), "bad");
  } else {
    decoder = std::make_unique<CVNFFmpegDecoder>(source.codecContext(), source.timeBase(), false, "bad");
  }
  ASSERT_TRUE(decoder->setup());
  testing::HandlerLog log;
  const int count = static_cast<int>(source.samples().size());
  for (int i = 0; i < count; ++i) {
    const auto& sample = source.samples()[static_cast<std::size_t>(i)];
    decoder->decodeSampleBuffer(i == kBroken ? corrupted(*sample) : sample, true, log.handlerFor(i));
  }
  decoder->finish();
  for (int i = 0; i < count; ++i) {
    ASSERT_EQ(log.callsOf(i), 1u) << i;
    if (!c.intraOnly) continue;
    const auto& call = log.only(i);
    if (i == kBroken) {
      EXPECT_FALSE(call.success);
      EXPECT_TRUE(call.error && !call.error->empty());
    } else {
      EXPECT_TRUE(call.success && call.framePts) << i << " " << call.error.value_or("");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, DecoderBadPacketTest,
    ::testing::Values(BrokenCase{"mpeg2.ts", "-c:v mpeg2video -pix_fmt yuv422p -g 1", "mp2v", true, false},
                      BrokenCase{"mpeg2.mxf", "-c:v mpeg2video -pix_fmt yuv422p -g 1", "mp2v", true, true},
                      BrokenCase{"prores.mov", "-c:v prores_ks -profile:v 3", "apch", true, false},
                      BrokenCase{"prores.mov", "-c:v prores_ks -profile:v 3", "apch", true, true},
                      BrokenCase{"dnxhr.mov", "-c:v dnxhd -profile:v dnxhr_lb -pix_fmt yuv422p", "AVdh", true, false},
                      BrokenCase{"h264.mkv", "-c:v libx264 -pix_fmt yuv422p -bf 2", "avc1", false, false},
                      BrokenCase{"h264.mov", "-c:v libx264 -pix_fmt yuv422p -bf 2", "avc1", false, true}),
    [](const ::testing::TestParamInfo<BrokenCase>& info) {
      std::string name = std::string(info.param.name) + (info.param.videoToolboxRules ? "_rules" : "_ffmpeg");
      std::replace(name.begin(), name.end(), '.', '_');
      return name;
    });

}  // namespace
}  // namespace media
