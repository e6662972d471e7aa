#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "media/decoders/CVNFFmpegDecoder.h"
#include "media/decoders/FrameConverter.h"
#include "tests/media/DecoderTestSupport.h"
#include "tests/media/PacketSource.h"
#include "tests/support/CapturedDiagnostics.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/TemporaryDirectory.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

namespace media {
namespace {

namespace pm = platform::media;
using testing::HandlerLog;
using testing::ScriptedCodec;
using Step = ScriptedCodec::Step;

pm::SampleBufferRef packetAt(std::int64_t pts) {
  auto block = pm::BlockBuffer::createWithCopy(std::vector<std::uint8_t>{0, 0, 1, 0});
  pm::SampleTimingInfo timing{pm::MediaTime::make(1, 25), pm::MediaTime::make(pts, 25), pm::MediaTime::invalid()};
  pm::SampleBufferRef sample;
  pm::SampleBuffer::createReady(block, nullptr, 1, {timing}, {4}, &sample);
  return sample;
}

// A decoder over a scripted codec, with 16x16 '2vuy' output.
class ScriptedDecoder {
 public:
  ScriptedDecoder(std::deque<Step> steps, std::vector<std::int64_t> drain = {}, bool fieldBased = false) {
    context_ = avcodec_alloc_context3(nullptr);
    context_->width = context_->height = 16;
    context_->pix_fmt = AV_PIX_FMT_YUV422P;
    auto codec = std::make_unique<ScriptedCodec>(std::move(steps), std::move(drain));
    codec_ = codec.get();
    decoder_ = std::make_unique<CVNFFmpegDecoder>(context_, TimeBase{1, 25}, false, "scripted", std::move(codec));
    decoder_->setFieldBasedAVPacket(fieldBased);
    EXPECT_TRUE(decoder_->setup());
  }
  ~ScriptedDecoder() {
    decoder_.reset();
    avcodec_free_context(&context_);
  }
  void send(int packet, std::int64_t pts) { decoder_->decodeSampleBuffer(packetAt(pts), true, log.handlerFor(packet)); }
  CVNFFmpegDecoder& decoder() { return *decoder_; }
  HandlerLog log;

 private:
  AVCodecContext* context_ = nullptr;
  ScriptedCodec* codec_ = nullptr;
  std::unique_ptr<CVNFFmpegDecoder> decoder_;
};

TEST(FFmpegDecoderPendingTest, LateFramesCompleteTheirOwnCalls) {
  // I P B B in coded order; frames come out in display order a packet late.
  ScriptedDecoder d({{0, {}}, {0, {0}}, {0, {1}}, {0, {2}}}, {3});
  d.send(0, 0);
  d.send(1, 3);
  EXPECT_EQ(d.log.callsOf(1), 0u);  // waits for its frame
  EXPECT_EQ(d.log.only(0).framePts, 0);
  d.send(2, 1);
  d.send(3, 2);
  d.decoder().finish();
  for (int packet = 0; packet < 4; ++packet) {
    ASSERT_EQ(d.log.callsOf(packet), 1u) << packet;
    EXPECT_TRUE(d.log.only(packet).success);
  }
  EXPECT_EQ(d.log.only(1).framePts, 3);
  EXPECT_EQ(d.log.only(2).framePts, 1);
  EXPECT_EQ(d.log.only(3).framePts, 2);
  EXPECT_EQ(d.decoder().pendingFrameCount(), 0u);
}

TEST(FFmpegDecoderPendingTest, AFullListFailsItsOldestCall) {
  ScriptedDecoder d({});
  testing_support::CapturedDiagnostics diagnostics;
  for (int packet = 0; packet < 21; ++packet) d.send(packet, packet);
  EXPECT_TRUE(d.log.calls.empty());
  d.send(21, 21);
  ASSERT_EQ(d.log.callsOf(0), 1u);
  // Failed, so the session fills the gap instead of waiting for it.
  EXPECT_FALSE(d.log.only(0).success);
  EXPECT_FALSE(d.log.only(0).framePts);
  EXPECT_EQ(d.log.calls.size(), 1u);
  EXPECT_EQ(d.decoder().pendingFrameCount(), 21u);
  EXPECT_EQ(diagnostics.count("need to fix this"), 1u);
}

TEST(FFmpegDecoderPendingTest, FifthConsecutiveSendFailureFailsEveryPendingCall) {
  struct Case {
    int failures;
    bool successInBetween;
    bool pendingFailed;
  };
  for (const Case& c : {Case{4, false, false}, Case{5, false, true}, Case{8, true, false}}) {
    SCOPED_TRACE(c.failures);
    std::deque<Step> steps = {{0, {}}, {0, {}}};
    for (int i = 0; i < c.failures; ++i) {
      if (c.successInBetween && i == c.failures / 2) steps.push_back({0, {}});
      steps.push_back({AVERROR(EIO), {}});
    }
    ScriptedDecoder d(steps);
    d.send(0, 0);
    d.send(1, 1);
    int packet = 2;
    for (int i = 0; i < c.failures; ++i) {
      if (c.successInBetween && i == c.failures / 2) d.send(packet++, 100);
      d.send(packet, packet);
      ASSERT_EQ(d.log.callsOf(packet), 1u);
      EXPECT_EQ(d.log.only(packet).error, "Failed to send new frames " + std::to_string(AVERROR(EIO)));
      ++packet;
    }
    EXPECT_EQ(d.log.callsOf(0), c.pendingFailed ? 1u : 0u);
    EXPECT_EQ(d.log.callsOf(1), c.pendingFailed ? 1u : 0u);
    if (c.pendingFailed) {
      EXPECT_FALSE(d.log.only(0).success);
    }
  }
}

TEST(FFmpegDecoderPendingTest, EndOfFileDeliversWhatCameOutAndFailsTheRest) {
  ScriptedDecoder d({{0, {}}, {0, {}}, {0, {}}}, {1});
  d.send(0, 0);
  d.send(1, 1);
  d.send(2, 2);
  HandlerLog finishLog;
  d.decoder().decodeSampleBuffer(nullptr, false, finishLog.handlerFor(9));
  EXPECT_EQ(d.log.only(1).framePts, 1);
  EXPECT_FALSE(d.log.only(0).success);
  EXPECT_FALSE(d.log.only(2).success);
  ASSERT_EQ(finishLog.callsOf(9), 1u);
  EXPECT_EQ(finishLog.only(9).error, "FFmpegDecoder error: End of file");
  // Sending after the end answers end of file at once.
  d.send(3, 3);
  EXPECT_EQ(d.log.only(3).error, "FFmpegDecoder error: End of file");
  // A flush makes the codec usable again.
  d.decoder().flush();
  EXPECT_EQ(d.decoder().pendingFrameCount(), 0u);
}

TEST(FFmpegDecoderPendingTest, OneFieldPacketsCompleteTheSecondFieldWithoutAPicture) {
  // Both fields waiting: the frame completes the first, the second gets no picture.
  ScriptedDecoder waiting({{0, {}}, {0, {}}, {0, {0}}}, {}, true);
  waiting.send(0, 0);
  waiting.send(1, 1);
  waiting.send(2, 2);
  EXPECT_EQ(waiting.log.only(0).framePts, 0);
  EXPECT_TRUE(waiting.log.only(1).success);
  EXPECT_FALSE(waiting.log.only(1).framePts);
  EXPECT_EQ(waiting.log.callsOf(2), 0u);
  // The second field is the packet being sent: its own call gets no picture.
  ScriptedDecoder last({{0, {}}, {0, {0}}}, {}, true);
  last.send(0, 0);
  last.send(1, 1);
  EXPECT_EQ(last.log.only(0).framePts, 0);
  ASSERT_EQ(last.log.callsOf(1), 1u);
  EXPECT_FALSE(last.log.only(1).framePts);
  EXPECT_EQ(last.decoder().pendingFrameCount(), 0u);
}

TEST(FFmpegDecoderTest, NamesPictureTypes) {
  EXPECT_EQ(CVNFFmpegDecoder::stringFromPictureType(0), "NONE");
  EXPECT_EQ(CVNFFmpegDecoder::stringFromPictureType(3), "B");
  EXPECT_EQ(CVNFFmpegDecoder::stringFromPictureType(7), "BI");
  EXPECT_EQ(CVNFFmpegDecoder::stringFromPictureType(8), std::nullopt);
}

// Decodes every packet and the end; the hashes of the pictures by time.
struct Decoded {
  std::vector<std::int64_t> pts;
  std::vector<std::string> hashes;
  std::size_t calls = 0;
  std::size_t failures = 0;
  std::vector<pm::SampleBufferRef> samples;
};

Decoded decodeAll(CVNDecoderProtocol& decoder, const testing::PacketSource& source, bool keep = false) {
  Decoded decoded;
  std::map<std::int64_t, std::string> byTime;
  for (const auto& sample : source.samples()) {
    decoder.decodeSampleBuffer(sample, true, [&](bool success, const std::optional<std::string>&, const pm::SampleBufferRef& out) {
      ++decoded.calls;
      if (!success) ++decoded.failures;
      if (!out) return;
      out->imageBuffer()->lockBaseAddress(pm::PixelBufferLockFlags::ReadOnly);
      byTime[out->presentationTimeStamp().value] = testing::pictureHash(*out->imageBuffer());
      out->imageBuffer()->unlockBaseAddress(pm::PixelBufferLockFlags::ReadOnly);
      if (keep) decoded.samples.push_back(out);
    });
  }
  decoder.finish();
  for (const auto& [time, hash] : byTime) {
    decoded.pts.push_back(time);
    decoded.hashes.push_back(hash);
  }
  return decoded;
}

std::filesystem::path makeFixture(const testing_support::TemporaryDirectory& directory, const std::string& name,
                                  const std::string& arguments) {
  const auto path = directory / name;
  EXPECT_TRUE(testing_support::makeFileOnce("ffmpeg -v error -y " + arguments, path));
  return path;
}

TEST(FFmpegDecoderTest, H264WithBFramesDeliversEveryFrameOnceAtFfprobesTimes) {
  testing_support::TemporaryDirectory directory;
  const auto file = makeFixture(directory, "f.mkv",
                                "-f lavfi -i testsrc2=s=320x240:r=25 -t 1.2 -c:v libx264 -pix_fmt yuv422p -bf 3");
  testing::PacketSource source(file);
  ASSERT_TRUE(source.ok());
  CVNFFmpegDecoder decoder(source.codecContext(), source.timeBase(), false, "h264");
  ASSERT_TRUE(decoder.setup());
  const Decoded decoded = decodeAll(decoder, source);
  EXPECT_EQ(decoded.calls, source.samples().size());
  EXPECT_EQ(decoded.failures, 0u);
  std::vector<std::int64_t> expected;
  std::istringstream lines(testing_support::commandOutputOnce(
      "ffprobe -v error -select_streams v -show_frames -show_entries frame=pts -of csv=p=0", file));
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty()) expected.push_back(std::stoll(line));
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(decoded.pts, expected);
  // 8-bit 4:2:2 repacks exactly.
  EXPECT_EQ(decoded.hashes, testing::ffmpegFrameHashes(file, "-pix_fmt uyvy422"));
}

// One fixture per format, each a test of its own: ours against ffmpeg's
// pictures of the same file.
struct PixelCase {
  const char* name;
  const char* arguments;
  bool reverseField;
  const char* ffmpegArguments;
  const char* input = "-f lavfi -i testsrc2=s=320x240:r=25 -t 1";
};

// Test names show the fixture, not the bytes of the case.
void PrintTo(const PixelCase& c, std::ostream* out) { *out << c.name; }

class FFmpegDecoderPixelsTest : public ::testing::TestWithParam<PixelCase> {};

TEST_P(FFmpegDecoderPixelsTest, MatchFfmpeg) {
  const PixelCase& c = GetParam();
  testing_support::TemporaryDirectory directory;
  const auto file = makeFixture(directory, c.name, std::string(c.input) + " " + c.arguments);
  testing::PacketSource source(file);
  ASSERT_TRUE(source.ok());
  CVNFFmpegDecoder decoder(source.codecContext(), source.timeBase(), c.reverseField, std::nullopt);
  ASSERT_TRUE(decoder.setup());
  const Decoded decoded = decodeAll(decoder, source);
  EXPECT_EQ(decoded.failures, 0u);
  EXPECT_EQ(decoded.hashes, testing::ffmpegFrameHashes(file, c.ffmpegArguments));
}

INSTANTIATE_TEST_SUITE_P(
    Formats, FFmpegDecoderPixelsTest,
    ::testing::Values(
        PixelCase{"h264.mov", "-c:v libx264 -pix_fmt yuv422p", false, "-pix_fmt uyvy422"},
        PixelCase{"mpeg2.ts", "-c:v mpeg2video -pix_fmt yuv422p", false, "-pix_fmt uyvy422"},
        PixelCase{"ffv1.mkv", "-c:v ffv1 -pix_fmt yuv422p", false, "-pix_fmt uyvy422"},
        PixelCase{"mpeg4.mp4", "-c:v mpeg4 -pix_fmt yuv420p -qscale:v 3", false, "-pix_fmt uyvy422 -sws_flags bilinear"},
        PixelCase{"vp9.mkv", "-c:v libvpx-vp9 -pix_fmt yuv422p -deadline realtime -cpu-used 8", false, "-pix_fmt uyvy422"},
        PixelCase{"shift.mkv", "-c:v libx264 -pix_fmt yuv422p", true,
                  "-vf crop=iw:ih-1:0:0,pad=iw:ih+1:0:1 -pix_fmt uyvy422"},
        PixelCase{"dnxhd.mov", "-c:v dnxhd -b:v 36M -pix_fmt yuv422p -threads 1", false, "-pix_fmt uyvy422",
                  "-f lavfi -i testsrc2=s=1920x1080:r=25 -t 0.2"}),
    [](const ::testing::TestParamInfo<PixelCase>& info) {
      std::string name = info.param.name;
      std::replace(name.begin(), name.end(), '.', '_');
      return name;
    });

// 10- and 12-bit planar pictures at the output size are wrapped, not copied;
// the multiplier scales their samples to 16 bits.
TEST(FFmpegDecoderTest, HighBitPlanarPicturesAreWrappedWithTheirMultiplier) {
  testing_support::TemporaryDirectory directory;
  struct Case {
    const char* name;
    const char* arguments;
    pm::FourCharCode expectedFormat;
    int multiplier;
    const char* decodedFormat;
  };
  const Case cases[] = {
      {"h264-10.mkv", "-c:v libx264 -pix_fmt yuv422p10le", pm::kPixelFormat422YpCbCr10BiPlanarVideoRange, 64,
       "yuv422p10le"},
      {"prores4444.mov", "-c:v prores_ks -profile:v 4 -pix_fmt yuv444p10le", pm::kPixelFormat444YpCbCr10BiPlanarFullRange,
       16, "yuv444p12le"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto file = makeFixture(directory, c.name, std::string("-f lavfi -i testsrc2=s=320x240:r=25 -t 0.4 ") + c.arguments);
    testing::PacketSource source(file);
    ASSERT_TRUE(source.ok());
    CVNFFmpegDecoder decoder(source.codecContext(), source.timeBase(), false, "ten");
    decoder.setPixelFormat(pm::kPixelFormat422YpCbCr10);
    EXPECT_FALSE(decoder.setup());  // without the GPU path
    decoder.setPixelFormat(pm::kPixelFormat422YpCbCr10);
    decoder.setMetalAPIEnabled(true);
    ASSERT_TRUE(decoder.setup());
    EXPECT_EQ(decoder.pixelFormat(), c.expectedFormat);
    Decoded decoded = decodeAll(decoder, source, true);
    std::map<std::int64_t, std::string> hashes;
    for (const auto& sample : decoded.samples) {
      const auto& wrap = *sample->imageBuffer();
      ASSERT_EQ(wrap.planeCount(), 3u);
      EXPECT_EQ(wrap.attachment("ColorMultiplier").integerOr(0), c.multiplier);
      hashes[sample->presentationTimeStamp().value] = testing::pictureHash(wrap);
    }
    std::vector<std::string> ours;
    for (const auto& [time, hash] : hashes) ours.push_back(hash);
    EXPECT_EQ(ours, testing::ffmpegFrameHashes(file, std::string("-pix_fmt ") + c.decodedFormat));
  }
}

// Our own layouts, written from a 10-bit picture libavcodec decoded, against
// ffmpeg writing the same picture: the bi-planar hand copy ('x422', 'xf44')
// and the 'v210' packing.
TEST(FFmpegDecoderTest, OurLayoutsMatchFfmpegs) {
  testing_support::TemporaryDirectory directory;
  struct Case {
    const char* sourceFormat;
    pm::FourCharCode bufferFormat;
    AVPixelFormat biPlanarIntermediate;  // AV_PIX_FMT_NONE: packed
    const char* ffmpegArguments;
  };
  const Case cases[] = {
      {"yuv422p10le", pm::kPixelFormat422YpCbCr10BiPlanarVideoRange, AV_PIX_FMT_YUV422P10LE, "-pix_fmt p210le"},
      {"yuv444p10le", pm::kPixelFormat444YpCbCr10BiPlanarFullRange, AV_PIX_FMT_YUV444P10LE, "-pix_fmt p410le"},
      {"yuv422p10le", pm::kPixelFormat422YpCbCr10, AV_PIX_FMT_NONE, "-c:v v210"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ffmpegArguments);
    // 288 pixels: whole groups of 48, so no row padding to compare.
    const auto file = makeFixture(directory, std::string(c.sourceFormat) + ".mkv",
                                  std::string("-f lavfi -i testsrc2=s=288x240:r=25 -frames:v 1 -c:v libx264 -pix_fmt ") +
                                      c.sourceFormat);
    testing::PacketSource source(file);
    ASSERT_TRUE(source.ok());
    const AVCodec* codec = avcodec_find_decoder(source.codecContext()->codec_id);
    ASSERT_EQ(avcodec_open2(source.codecContext(), codec, nullptr), 0);
    AVPacket* packet = av_packet_alloc();
    const auto bytes = source.samples().at(0)->dataBuffer()->bytes();
    av_new_packet(packet, static_cast<int>(bytes.size()));
    std::copy(bytes.begin(), bytes.end(), packet->data);
    AVFrame* frame = av_frame_alloc();
    ASSERT_EQ(avcodec_send_packet(source.codecContext(), packet), 0);
    avcodec_send_packet(source.codecContext(), nullptr);
    ASSERT_EQ(avcodec_receive_frame(source.codecContext(), frame), 0);
    std::shared_ptr<pm::PixelBuffer> buffer;
    ASSERT_EQ(pm::PixelBuffer::create(288, 240, c.bufferFormat, {}, &buffer), 0);
    FrameConverter converter;
    std::string error;
    if (c.biPlanarIntermediate != AV_PIX_FMT_NONE) {
      ASSERT_TRUE(converter.copyToBiPlanar(*frame, c.biPlanarIntermediate, *buffer, &error)) << error;
    } else {
      ASSERT_TRUE(converter.convert(*frame, {0, 240}, *buffer, {0, 240}, &error)) << error;
    }
    EXPECT_EQ(testing::pictureHash(*buffer), testing::ffmpegFrameHashes(file, c.ffmpegArguments).at(0));
    av_frame_free(&frame);
    av_packet_free(&packet);
  }
}

TEST(FFmpegDecoderTest, BadInputFailsCleanly) {
  testing_support::TemporaryDirectory directory;
  const auto file = makeFixture(directory, "f.mov", "-f lavfi -i testsrc2=s=320x240:r=25 -t 0.4 -c:v mpeg4");
  testing::PacketSource source(file);
  ASSERT_TRUE(source.ok());
  // Decoding before setup: the codec is not open.
  CVNFFmpegDecoder unopened(source.codecContext(), source.timeBase(), false, "bad");
  HandlerLog log;
  unopened.decodeSampleBuffer(source.samples().at(0), true, log.handlerFor(0));
  EXPECT_EQ(log.only(0).error, "FFmpegDecoder error: codec not opened or requires flush");

  // Coded sizes beyond 8192x4320 are refused.
  AVCodecContext* huge = avcodec_alloc_context3(nullptr);
  huge->codec_id = AV_CODEC_ID_MPEG4;
  huge->width = 8200;
  huge->height = 4320;
  CVNFFmpegDecoder tooLarge(huge, {1, 25}, false, "huge");
  EXPECT_FALSE(tooLarge.setup());
  avcodec_free_context(&huge);

  // Refused extradata.
  AVCodecContext* garbage = avcodec_alloc_context3(nullptr);
  garbage->codec_id = AV_CODEC_ID_HEVC;
  garbage->width = 320;
  garbage->height = 240;
  garbage->extradata = static_cast<std::uint8_t*>(av_mallocz(32 + AV_INPUT_BUFFER_PADDING_SIZE));
  std::fill_n(garbage->extradata, 32, 0xff);
  garbage->extradata[0] = 1;
  garbage->extradata_size = 32;
  {
    CVNFFmpegDecoder refused(garbage, {1, 25}, false, "garbage");
    EXPECT_FALSE(refused.setup());
  }
  avcodec_free_context(&garbage);
}

}  // namespace
}  // namespace media
