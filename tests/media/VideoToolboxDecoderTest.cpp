#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "media/decoders/CVNVideoToolboxDecoder.h"
#include "media/decoders/CodecCodes.h"
#include "tests/media/DecoderTestSupport.h"
#include "tests/media/PacketSource.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/TemporaryDirectory.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/md5.h>
}

namespace media {
namespace {

namespace pm = platform::media;
using videotoolbox::LinePlacement;

TEST(VideoToolboxRulesTest, LinePlacement) {
  struct Row {
    int output, source;
    bool reverse, imx;
    std::optional<LinePlacement> expected;
  };
  const Row rows[] = {
      {486, 480, false, false, LinePlacement{486, 3}},  // NTSC placed 3 lines down
      {480, 480, true, false, LinePlacement{481, 1}},   // equal heights grow by one line
      {486, 480, true, false, LinePlacement{486, 4}},
      {480, 486, true, false, LinePlacement{480, -4}},
      {576, 576, false, false, std::nullopt},
      {720, 720, true, false, std::nullopt},  // taller than 719: never
      {576, 576, true, true, std::nullopt},   // IMX crops instead
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.output) + " from " + std::to_string(row.source));
    EXPECT_EQ(videotoolbox::linePlacement(row.output, row.source, row.reverse, row.imx), row.expected);
  }
}

TEST(VideoToolboxRulesTest, OutputFormatFramesAndPadding) {
  struct Row {
    const char* requested;
    bool metal;
    int bits;
    const char* codec;
    const char* expected;
    bool refused;
  };
  const Row rows[] = {
      {"v210", false, 10, "apch", "v210", true},  {"v210", true, 8, "avc1", "2vuy", false},
      {"v210", true, 10, "apcn", "v216", false},  {"v210", true, 10, "ap4h", "y416", false},
      {"v210", true, 10, "hvc1", "y416", false},  {"v210", true, 10, "mp2v", "v210", false},
      {"RGBA", false, 8, "avc1", "BGRA", false},  {"2vuy", false, 10, "apch", "2vuy", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.requested) + " " + row.codec);
    const auto choice = videotoolbox::chooseOutputFormat(codeOf(row.requested), row.metal, row.bits, codeOf(row.codec));
    EXPECT_EQ(pm::fourCCString(choice.pixelFormat), row.expected);
    EXPECT_EQ(choice.refused, row.refused);
  }
  EXPECT_EQ(videotoolbox::framesNeededForPlayback(codeOf("avc1")), 5);
  EXPECT_EQ(videotoolbox::framesNeededForPlayback(codeOf("mp4v")), 5);
  EXPECT_EQ(videotoolbox::framesNeededForPlayback(codeOf("apch")), 3);
  for (auto [profile, lines] : {std::pair{"mx5p", 32u}, {"mx3n", 26u}, {"xd5c", 0u}}) {
    platform::Dictionary extensions{{pm::kFormatDescriptionExtensionMPEG2Profile, platform::Value(profile)}};
    EXPECT_EQ(videotoolbox::imxPaddingLines(*pm::FormatDescription::createVideo(codeOf("mp2v"), {720, 608}, extensions)), lines);
  }
}

TEST(VideoToolboxRulesTest, DecoderSpecificInfoFromESDS) {
  // version/flags, ES (id 1, no flags), decoder config (13 bytes), specific info.
  const std::vector<std::uint8_t> esds = {0, 0, 0, 0, 3, 25, 0, 1, 0, 4, 17, 0x20, 0x11, 0, 0, 0, 0, 0, 0, 0, 0,
                                          0, 0, 0, 5, 2, 0xab, 0xcd, 6, 1, 2};
  EXPECT_EQ(videotoolbox::decoderSpecificInfoFromESDS(esds), (std::vector<std::uint8_t>{0xab, 0xcd}));
  for (std::size_t cut = 0; cut < 27; ++cut) {
    EXPECT_EQ(videotoolbox::decoderSpecificInfoFromESDS({esds.begin(), esds.begin() + static_cast<std::ptrdiff_t>(cut)}),
              std::nullopt)
        << cut;
  }
}

std::map<std::int64_t, std::string> decodeToHashes(CVNVideoToolboxDecoder& decoder, const testing::PacketSource& source,
                                                   std::size_t* failures, std::string (*hash)(const pm::PixelBuffer&)) {
  std::map<std::int64_t, std::string> hashes;
  for (const auto& sample : source.samples()) {
    decoder.decodeSampleBuffer(sample, true, [&](bool success, const std::optional<std::string>& error, const pm::SampleBufferRef& out) {
      if (!success) {
        ++*failures;
        ADD_FAILURE() << error.value_or("");
      }
      if (out) hashes[out->presentationTimeStamp().value] = hash(*out->imageBuffer());
    });
  }
  decoder.finish();
  return hashes;
}

// A 'v216' picture as the planar 16-bit 4:2:2 picture it packs.
std::string v216AsPlanarHash(const pm::PixelBuffer& buffer) {
  std::vector<std::uint8_t> planes[3];
  for (std::size_t row = 0; row < buffer.height(); ++row) {
    const std::uint8_t* p = buffer.baseAddress() + row * buffer.bytesPerRow();
    for (std::size_t x = 0; x < buffer.width(); x += 2, p += 8) {
      planes[1].insert(planes[1].end(), p, p + 2);
      planes[0].insert(planes[0].end(), p + 2, p + 4);
      planes[2].insert(planes[2].end(), p + 4, p + 6);
      planes[0].insert(planes[0].end(), p + 6, p + 8);
    }
  }
  std::vector<std::uint8_t> all = planes[0];
  all.insert(all.end(), planes[1].begin(), planes[1].end());
  all.insert(all.end(), planes[2].begin(), planes[2].end());
  std::uint8_t digest[16];
  av_md5_sum(digest, all.data(), static_cast<int>(all.size()));
  char text[33];
  for (int i = 0; i < 16; ++i) std::snprintf(text + 2 * i, 3, "%02x", digest[i]);
  return text;
}

std::vector<std::string> values(const std::map<std::int64_t, std::string>& map) {
  std::vector<std::string> list;
  for (const auto& [key, value] : map) list.push_back(value);
  return list;
}

// One fixture per format, each a test of its own: ours against ffmpeg's
// pictures of the same file.
struct PixelCase {
  const char* name;
  const char* make;
  const char* subtype;
  const char* profile;
  const char* requested;
  int outputHeight;  // 0: the decoder's own
  const char* expectedFormat;
  const char* ffmpegArguments;
  int bits = 8;
};

// Test names show the fixture, not the bytes of the case.
void PrintTo(const PixelCase& c, std::ostream* out) { *out << c.name; }

class VideoToolboxDecoderPixelsTest : public ::testing::TestWithParam<PixelCase> {};

TEST_P(VideoToolboxDecoderPixelsTest, MatchFfmpeg) {
  const PixelCase& c = GetParam();
  testing_support::TemporaryDirectory directory;
  const auto file = directory / c.name;
  ASSERT_TRUE(testing_support::runCommand(std::string("ffmpeg -v error -y ") + c.make + " " + testing_support::shellQuoted(file)));
  platform::Dictionary extensions;
  if (c.profile) extensions[pm::kFormatDescriptionExtensionMPEG2Profile] = platform::Value(c.profile);
  testing::PacketSource source(file, codeOf(c.subtype), extensions);
  ASSERT_TRUE(source.ok());
  CVNVideoToolboxDecoder decoder(source.description(), "vt");
  decoder.setMetalAPIEnabled(true);
  decoder.setPixelFormat(codeOf(c.requested));
  decoder.setBitDepth(c.bits);
  if (c.outputHeight) decoder.setOutputDimensions(source.description()->dimensions().width, c.outputHeight);
  ASSERT_TRUE(decoder.setup());
  EXPECT_EQ(pm::fourCCString(decoder.pixelFormat()), c.expectedFormat);
  std::size_t failures = 0;
  const bool v216 = decoder.pixelFormat() == pm::kPixelFormat422YpCbCr16;
  const auto hashes = decodeToHashes(decoder, source, &failures, v216 ? v216AsPlanarHash : testing::pictureHash);
  EXPECT_EQ(values(hashes), testing::ffmpegFrameHashes(file, c.ffmpegArguments));
}

INSTANTIATE_TEST_SUITE_P(
    Formats, VideoToolboxDecoderPixelsTest,
    ::testing::Values(
      PixelCase{"h264.mov", "-f lavfi -i testsrc2=s=320x240:r=25 -t 1 -c:v libx264 -pix_fmt yuv422p -bf 3", "avc1", nullptr,
       "2vuy", 0, "2vuy", "-pix_fmt uyvy422"},
      PixelCase{"hq.mov", "-f lavfi -i testsrc2=s=320x240:r=25 -t 0.4 -c:v prores_ks -profile:v 3", "apch", nullptr, "v210", 0,
       "v216", "-pix_fmt yuv422p16le", 10},
      PixelCase{"4444.mov", "-f lavfi -i testsrc2=s=320x240:r=25 -t 0.4 -c:v prores_ks -profile:v 4 -pix_fmt yuva444p10le",
       "ap4h", nullptr, "v210", 0, "y416", "-pix_fmt ayuv64le", 10},
      PixelCase{"hevc.mov", "-f lavfi -i testsrc2=s=320x240:r=25 -t 0.4 -c:v libx265 -pix_fmt yuv422p10le -tag:v hvc1 -x265-params log-level=error",
       "hvc1", nullptr, "v210", 0, "y416",
       "-sws_flags bilinear -pix_fmt ayuv64le", 10},
      PixelCase{"imx.mxf", "-f lavfi -i testsrc2=s=720x608:r=25 -t 0.2 -vf setfield=tff -c:v mpeg2video -pix_fmt yuv422p -g 1 -flags +ildct+ilme "
       "-top 1 -dc 10 -qmin 1 -qmax 3 -b:v 50M -minrate 50M -maxrate 50M -bufsize 2000000 -rc_init_occupancy 2000000 -an -f mxf_d10",
       "mp2v", "mx5p", "2vuy", 0, "2vuy", "-vf crop=720:576:0:32 -pix_fmt uyvy422"},
      PixelCase{"dv.dv", "-f lavfi -i testsrc2=s=720x576:r=25 -t 0.4 -target pal-dv", "dvcp", nullptr, "2vuy", 0, "2vuy",
       "-sws_flags bilinear -pix_fmt uyvy422"},
      PixelCase{"ntsc.mov", "-f lavfi -i testsrc2=s=720x480:r=30000/1001 -t 0.3 -c:v mpeg2video -pix_fmt yuv422p", "mp2v", nullptr,
       "2vuy", 486, "2vuy", "-vf pad=720:486:0:3 -pix_fmt uyvy422"}),
    [](const ::testing::TestParamInfo<PixelCase>& info) {
      std::string name = info.param.name;
      std::replace(name.begin(), name.end(), '.', '_');
      return name;
    });

TEST(VideoToolboxDecoderTest, TenBitWithoutTheGpuPathRefusesSetupButStillDecodes) {
  testing_support::TemporaryDirectory directory;
  const auto file = directory / "hq.mov";
  ASSERT_TRUE(testing_support::runCommand("ffmpeg -v error -y -f lavfi -i testsrc2=s=320x240:r=25 -t 0.2 -c:v prores_ks -profile:v 3 " +
                                          testing_support::shellQuoted(file)));
  testing::PacketSource source(file, codeOf("apch"));
  CVNVideoToolboxDecoder decoder(source.description(), "vt");
  decoder.setPixelFormat(pm::kPixelFormat422YpCbCr10);
  EXPECT_FALSE(decoder.setup());
  EXPECT_EQ(decoder.pixelFormat(), pm::kPixelFormat422YpCbCr10);
  EXPECT_EQ(decoder.framesNeededForPlayback(), 3);
  std::size_t failures = 0;
  const auto hashes = decodeToHashes(decoder, source, &failures, testing::pictureHash);
  EXPECT_EQ(hashes.size(), source.samples().size());
  EXPECT_EQ(failures, 0u);
}

TEST(VideoToolboxDecoderTest, SetupRefusesOversizedPicturesAndBrokenConfiguration) {
  CVNVideoToolboxDecoder oversized(pm::FormatDescription::createVideo(codeOf("avc1"), {8200, 4320}), "vt");
  EXPECT_FALSE(oversized.setup());
  platform::Dictionary atoms{{"hvcC", platform::Value(platform::Data(32, 0xff))}};
  platform::Dictionary extensions{{pm::kFormatDescriptionExtensionAtoms, platform::Value(atoms)}};
  CVNVideoToolboxDecoder broken(pm::FormatDescription::createVideo(codeOf("hvc1"), {320, 240}, extensions), "vt");
  EXPECT_FALSE(broken.setup());
  // Decoding after a refused setup fails the call instead of touching a codec.
  testing::HandlerLog log;
  auto block = pm::BlockBuffer::createWithCopy(std::vector<std::uint8_t>{0, 0, 0, 1});
  pm::SampleBufferRef sample;
  pm::SampleBuffer::createReady(block, nullptr, 1, {}, {4}, &sample);
  broken.decodeSampleBuffer(sample, true, log.handlerFor(0));
  ASSERT_EQ(log.callsOf(0), 1u);
  EXPECT_FALSE(log.only(0).success);
}

TEST(VideoToolboxDecoderTest, RetriesAnUnlistedErrorOnceAndNamesIt) {
  using Step = testing::ScriptedCodec::Step;
  struct Case {
    std::deque<Step> steps;
    int expectedSends;
    std::optional<std::string> expectedError;
  };
  const Case cases[] = {
      {{{AVERROR(EIO), {}}, {0, {0}}}, 2, std::nullopt},
      {{{AVERROR(EIO), {}}, {AVERROR(EIO), {}}}, 2,
       "vt: VTDecoder: Error: \"vt\": Error: Unable to decode frame (err " + std::to_string(AVERROR(EIO)) + ")"},
      {{{AVERROR_INVALIDDATA, {}}}, 1, "vt: VTDecoder: Error: Unable to decode frame (Bad Data err), frame is corrupted."},
  };
  for (const Case& c : cases) {
    auto codec = std::make_unique<testing::ScriptedCodec>(c.steps);
    testing::ScriptedCodec* scripted = codec.get();
    CVNVideoToolboxDecoder decoder(pm::FormatDescription::createVideo(codeOf("avc1"), {16, 16}), "vt");
    decoder.setCodecSeamForTesting(std::move(codec));
    ASSERT_TRUE(decoder.setup());
    testing::HandlerLog log;
    auto block = pm::BlockBuffer::createWithCopy(std::vector<std::uint8_t>{0, 0, 0, 1});
    pm::SampleBufferRef sample;
    pm::SampleBuffer::createReady(block, nullptr, 1,
                                  {{pm::MediaTime::make(1, 25), pm::MediaTime::make(0, 25), pm::MediaTime::invalid()}}, {4},
                                  &sample);
    decoder.decodeSampleBuffer(sample, true, log.handlerFor(0));
    EXPECT_EQ(scripted->sends(), c.expectedSends);
    ASSERT_EQ(log.callsOf(0), 1u);
    EXPECT_EQ(log.only(0).error, c.expectedError);
    EXPECT_EQ(log.only(0).success, !c.expectedError);
  }
}

}  // namespace
}  // namespace media
