// Stream information: audio and video descriptions per codec row and
// container, compared with what ffprobe says of the same files; the MPEG-2
// profile and display rules, timecode, DNxHD, and the bounded packet search.

#include <gtest/gtest.h>

#include <cmath>
#include <future>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/pixfmt.h>
}

#include "media/readers/movie/CVNFFmpegMovieAssetReader.h"
#include "media/validation/CVNEngineValidation.h"
#include "platform/DispatchQueue.h"
#include "tests/media/movie/MovieFixtures.h"

namespace {

using media::CVNFFmpegMovieAssetReader;
using media::MediaURL;
using platform::media::fourCC;
namespace pm = platform::media;

std::unique_ptr<CVNFFmpegMovieAssetReader> loaded(const std::string& name) {
  const auto path = movie_fixtures::fixture(name);
  EXPECT_FALSE(path.empty()) << name;
  auto reader = std::make_unique<CVNFFmpegMovieAssetReader>(MediaURL::fileURLWithPath(path), name);
  reader->loadInfo(true, false);
  return reader;
}

double rational(const std::string& text) {
  const auto slash = text.find('/');
  if (slash == std::string::npos) return std::stod(text);
  const double den = std::stod(text.substr(slash + 1));
  return den == 0 ? 0 : std::stod(text.substr(0, slash)) / den;
}

std::int32_t fieldOrderNumber(const std::string& text) {
  if (text == "progressive") return 1;
  if (text == "tt") return 2;
  if (text == "bb") return 3;
  if (text == "tb") return 4;
  if (text == "bt") return 5;
  return 0;
}

struct AudioRow {
  const char* fixture;
  const char* format;
  std::uint32_t flags;  // checked for linear PCM only
  std::uint32_t framesPerPacket;
  std::uint32_t bitsPerChannel;  // 0: not checked
};

TEST(MovieStreamInfo, AudioDescriptionPerCodecRow) {
  using namespace platform::media;
  const std::uint32_t s = kAudioFormatFlagIsSignedInteger, b = kAudioFormatFlagIsBigEndian,
                      p = kAudioFormatFlagIsPacked, f = kAudioFormatFlagIsFloat;
  const AudioRow rows[] = {
      {"a_pcm_s16le.mov", "lpcm", s | p, 1, 16},     {"a_pcm_s24be.mov", "lpcm", s | b | p, 1, 24},
      {"a_pcm_f32le.mov", "lpcm", f | p, 1, 32},     {"a_pcm_u8.mov", "lpcm", p, 1, 8},
      {"a_pcm_mulaw.mov", "ulaw", 0, 1, 8},          {"a_pcm_alaw.mov", "alaw", 0, 1, 8},
      {"a_adpcm_ima_qt.mov", "ima4", 0, 64, 0},      {"a_mp2.ts", ".mp2", 0, 1152, 0},
      {"a_libmp3lame.mov", ".mp3", 0, 1152, 0},      {"a_aac.mp4", "aac ", 0, 1024, 0},
      {"a_ac3.ts", "ac-3", 0, 1536, 0},              {"a_flac.mkv", "flac", 0, 1, 0},
      {"a_alac.mov", "alac", 0, 4096, 0},            {"a_pcm_dvd.vob", "lpcm", s | b | p, 1, 16},
  };
  for (const auto& row : rows) {
    const auto reader = loaded(row.fixture);
    ASSERT_TRUE(reader->isValid()) << row.fixture << " reason " << reader->validationError();
    ASSERT_EQ(reader->numberOfAudioTracks(), 1) << row.fixture;
    const auto description = reader->audioFormatDescriptionForTrackIndex(0);
    ASSERT_TRUE(description) << row.fixture;
    const auto& asbd = *description->audioStreamBasicDescription();
    const auto probe = movie_fixtures::probeStream(movie_fixtures::fixture(row.fixture), "a:0");
    EXPECT_EQ(fourCCString(asbd.formatID), row.format) << row.fixture;
    EXPECT_EQ(asbd.sampleRate, std::stod(probe.at("sample_rate"))) << row.fixture;
    EXPECT_EQ(asbd.channelsPerFrame, std::stoul(probe.at("channels"))) << row.fixture;
    EXPECT_EQ(reader->numberOfAudioChannels(), std::stol(probe.at("channels"))) << row.fixture;
    EXPECT_EQ(asbd.framesPerPacket, row.framesPerPacket) << row.fixture;
    if (asbd.formatID == kAudioFormatLinearPCM) {
      EXPECT_EQ(asbd.formatFlags, row.flags) << row.fixture;
      EXPECT_EQ(asbd.bytesPerFrame, asbd.channelsPerFrame * asbd.bitsPerChannel / 8) << row.fixture;
    }
    if (row.bitsPerChannel) {
      EXPECT_EQ(asbd.bitsPerChannel, row.bitsPerChannel) << row.fixture;
    }
    if (asbd.formatID == fourCC("aac ")) {
      ASSERT_GE(description->magicCookie().size(), 5u);
      EXPECT_EQ(description->magicCookie()[0], 3) << "an ES descriptor";
    }
    if (asbd.formatID == fourCC("alac")) {
      EXPECT_FALSE(description->magicCookie().empty());
    }
    if (asbd.formatID == fourCC("ac-3")) {
      // 192 kbit/s at 48 kHz: 1536 samples take 768 bytes.
      EXPECT_EQ(reader->ac3FrameSize(), std::stoul(probe.at("bit_rate")) * 1536 / 48000 / 8);
    }
  }
}

struct VideoRow {
  const char* fixture;
  const char* subtype;
  std::int32_t assetType;
};

TEST(MovieStreamInfo, VideoDescriptionPerContainerMatchesFFprobe) {
  const VideoRow rows[] = {
      {"movie.mov", "mp4v", 1}, {"movie.mp4", "avc1", 1}, {"op1a.mxf", "mp2v", 2}, {"imx.mxf", "mp2v", 2},
      {"movie.ts", "mp2v", 4},  {"movie.m2ts", "mp2v", 4}, {"movie.avi", "mp4v", 6}, {"movie.mkv", "mp4v", 7},
  };
  for (const auto& row : rows) {
    const auto reader = loaded(row.fixture);
    ASSERT_TRUE(reader->isValid()) << row.fixture << " reason " << reader->validationError();
    const auto& video = reader->videoFormatDescription();
    ASSERT_TRUE(video);
    const auto probe = movie_fixtures::probeStream(movie_fixtures::fixture(row.fixture), "v:0");
    EXPECT_EQ(pm::fourCCString(video->mediaSubType()), row.subtype) << row.fixture;
    EXPECT_EQ(reader->assetType(), row.assetType) << row.fixture;
    EXPECT_EQ(video->dimensions().width, std::stoi(probe.at("width"))) << row.fixture;
    EXPECT_EQ(reader->fieldOrder(), fieldOrderNumber(probe.count("field_order") ? probe.at("field_order") : ""))
        << row.fixture;
    EXPECT_NEAR(reader->framerate(), rational(probe.at("avg_frame_rate")), 0.01) << row.fixture;
    EXPECT_GT(reader->duration().seconds(), 0.5) << row.fixture;
    EXPECT_TRUE(reader->hasVideo());
    EXPECT_NE(reader->codecContext(), nullptr);
  }
}

TEST(MovieStreamInfo, Mpeg4AndH264CarryTheirConfigurationAtoms) {
  EXPECT_TRUE(loaded("movie.mov")->videoFormatDescription()->atom("esds"));
  EXPECT_TRUE(loaded("movie.mp4")->videoFormatDescription()->atom("avcC"));
}

TEST(MovieStreamInfo, ImxInMxfGetsItsProfileFromTheBitRate) {
  const auto reader = loaded("imx.mxf");
  ASSERT_TRUE(reader->isValid());
  const auto& video = reader->videoFormatDescription();
  EXPECT_EQ(video->extension(pm::kFormatDescriptionExtensionMPEG2Profile).integerOr(0),
            static_cast<std::int64_t>(fourCC("mx5p")));
  EXPECT_EQ(reader->decodedFrameSize().height, 576);
  EXPECT_EQ(video->dimensions().height, 608);
  EXPECT_EQ(reader->fieldOrder(), 2);
  EXPECT_EQ(video->extension(pm::kFormatDescriptionExtensionFieldCount).integerOr(0), 2);
}

TEST(MovieStreamInfo, WideMpeg2DisplaysSixteenByNine) {
  const auto reader = loaded("wide.ts");
  ASSERT_TRUE(reader->isValid());
  EXPECT_EQ(reader->displaySize().width, 1024);
  EXPECT_EQ(reader->displaySize().height, 576);
}

TEST(MovieStreamInfo, DropFrameTimecodeOnlyAtTwentyNineNineSeven) {
  const auto drop = loaded("dropframe.mov");
  ASSERT_TRUE(drop->isValid());
  ASSERT_TRUE(drop->timeCodeFormatDescription());
  EXPECT_TRUE(drop->timeCodeFormatDescription()->timeCodeFlags() & pm::kTimeCodeFlagDropFrame);
  EXPECT_EQ(drop->timeCodeFormatDescription()->frameQuanta(), 30u);
  EXPECT_EQ(drop->firstFrameNumber(), 10 * 107892);  // 10 h of drop-frame 29.97

  const auto noDrop = loaded("nodrop.mkv");
  ASSERT_TRUE(noDrop->isValid());
  ASSERT_TRUE(noDrop->timeCodeFormatDescription()) << "made from the container's timecode";
  EXPECT_FALSE(noDrop->timeCodeFormatDescription()->timeCodeFlags() & pm::kTimeCodeFlagDropFrame);
  EXPECT_EQ(noDrop->firstFrameNumber(), 10 * 3600 * 24);
}

TEST(MovieStreamInfo, DvIsTypedFromItsFrameSize) {
  const auto reader = loaded("movie.dv");
  ASSERT_TRUE(reader->isValid()) << reader->validationError();
  const auto subtype = pm::fourCCString(reader->videoFormatDescription()->mediaSubType());
  EXPECT_TRUE(subtype == "dvcp" || subtype == "dvpp") << subtype;
  EXPECT_EQ(reader->fieldOrder(), 3);
  EXPECT_TRUE(reader->isIFrameOnlyCodec());
}

TEST(MovieStreamInfo, DnxhdNeedsTheSwitchAndCarriesAnAresAtom) {
  CVNFFmpegMovieAssetReader::setShouldCreateVideoFormatDescriptionForDNxHD(false);
  const auto without = loaded("dnxhd.mov");
  EXPECT_FALSE(without->isValid());
  EXPECT_EQ(without->validationError(), media::kValidationReasonVideoCodecNotSupported);

  CVNFFmpegMovieAssetReader::setShouldCreateVideoFormatDescriptionForDNxHD(true);
  const auto with = loaded("dnxhd.mov");
  CVNFFmpegMovieAssetReader::setShouldCreateVideoFormatDescriptionForDNxHD(false);
  ASSERT_TRUE(with->isValid());
  EXPECT_EQ(pm::fourCCString(with->videoFormatDescription()->mediaSubType()), "AVdn");
  const auto ares = with->videoFormatDescription()->atom("ARES");
  ASSERT_TRUE(ares);
  ASSERT_EQ(ares->size(), 112u);
  EXPECT_EQ(std::string(ares->begin(), ares->begin() + 8), "ARES0001");
  EXPECT_NE((*ares)[8] | (*ares)[9] | (*ares)[10] | (*ares)[11], 0) << "compression id from the first packet";
  EXPECT_EQ((*ares)[14], 0x05);  // width 1280
  EXPECT_EQ((*ares)[15], 0x00);
}

TEST(MovieStreamInfo, PacketSearchStopsAtItsBudgetAndKeepsWhatItRead) {
  CVNFFmpegMovieAssetReader reader(MediaURL::fileURLWithPath(movie_fixtures::fixture("long.ts")), "long");
  ASSERT_TRUE(reader.open());
  const int video = reader.videoStream()->index;
  EXPECT_EQ(reader.packetOfStream(99), nullptr) << "a stream that never comes is treated as absent";
  EXPECT_EQ(reader.packetBuffer().size(), static_cast<std::size_t>(CVNFFmpegMovieAssetReader::kFirstPacketReadBudget));
  const AVPacket* first = reader.packetOfStream(video);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(reader.packetBuffer().size(), static_cast<std::size_t>(CVNFFmpegMovieAssetReader::kFirstPacketReadBudget))
      << "served from the buffer";
  const auto taken = reader.packetBuffer().nextBufferedVideoPacket(video);
  EXPECT_EQ(taken.get(), first);
}

TEST(MovieStreamInfo, PixelBitsComeFromTheFormatDescriptors) {
  EXPECT_EQ(CVNFFmpegMovieAssetReader::bitsPerRawSampleFromPixelFormat(AV_PIX_FMT_YUV420P), 8);
  EXPECT_EQ(CVNFFmpegMovieAssetReader::bitsPerRawSampleFromPixelFormat(AV_PIX_FMT_YUV422P10LE), 10);
  EXPECT_EQ(CVNFFmpegMovieAssetReader::bitsPerRawSampleFromPixelFormat(AV_PIX_FMT_MONOBLACK), 1);
  EXPECT_EQ(CVNFFmpegMovieAssetReader::bitsPerRawSampleFromPixelFormat(AV_PIX_FMT_RGB565LE), 6);
  EXPECT_EQ(CVNFFmpegMovieAssetReader::bitsPerRawSampleFromPixelFormat(AV_PIX_FMT_VAAPI), 0);
  EXPECT_EQ(CVNFFmpegMovieAssetReader::bitsPerRawSampleFromPixelFormat(AV_PIX_FMT_NONE), 0);
  // Numbers past the old fixed table still answer.
  EXPECT_GT(AV_PIX_FMT_NB, 196);
  EXPECT_EQ(CVNFFmpegMovieAssetReader::bitsPerRawSampleFromPixelFormat(AV_PIX_FMT_P416LE), 16);
}

TEST(MovieStreamInfo, AacCookieIsAnElementaryStreamDescriptor) {
  const std::uint8_t config[] = {0x11, 0x90};
  const auto cookie = CVNFFmpegMovieAssetReader::audioAACMagicCookieFromExtradata(config, sizeof config);
  const std::vector<std::uint8_t> expected{
      0x03, 0x80, 0x80, 0x80, 28, 0, 0, 0,                     // ES descriptor, id, flags
      0x04, 0x80, 0x80, 0x80, 20, 0x40, 0x15,                  // decoder configuration
      0,    0,    0,    0,    0,  0,    0,    0, 0, 0, 0,      // buffer size, bit rates
      0x05, 0x80, 0x80, 0x80, 2,  0x11, 0x90};                 // decoder specific information
  EXPECT_EQ(cookie, expected);
}

TEST(MovieStreamInfo, LoadingRunsOnItsOwnQueueAndCallsBack) {
  CVNFFmpegMovieAssetReader reader(MediaURL::fileURLWithPath(movie_fixtures::fixture("movie.mkv")), "async");
  std::promise<std::string> label;
  reader.loadInfoWithMetadata(false, false, [&] {
    const auto* queue = platform::DispatchQueue::current();
    label.set_value(queue ? queue->label() : "");
  });
  auto future = label.get_future();
  ASSERT_EQ(future.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  EXPECT_EQ(future.get(), "com.dirarovazovo.loadInfoQueue");
  EXPECT_TRUE(reader.isValid());
}

}  // namespace
