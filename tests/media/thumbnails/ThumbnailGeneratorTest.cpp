// The thumbnail generator over files made with ffmpeg at test time: pictures
// against ffmpeg's own scaled frame, the MPEG-2 priming and the seek as the
// decoder sees them, the 25-sample limit, stills, audio artwork and failures.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <vector>

#include "media/decoders/CVNDecoder.h"
#include "media/readers/StandardAssetReaders.h"
#include "media/thumbnails/CVNAssetThumbnailGenerator.h"
#include "platform/media/ImageSource.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using media::CVNAssetThumbnailGenerator;
using media::ThumbnailDataRef;
using testing_support::shellQuoted;
namespace pm = platform::media;

struct Answer {
  ThumbnailDataRef data;
  std::int64_t bytesPerRow = -1;
  int calls = 0;
};

// One request, waited for; counts the handler's calls.
Answer request(const std::shared_ptr<CVNAssetThumbnailGenerator>& generator, std::int64_t width, std::int64_t height,
               double seconds, std::uint32_t format) {
  auto answer = std::make_shared<Answer>();
  auto mutex = std::make_shared<std::mutex>();
  generator->thumbnailWithDimensions(width, height, seconds, false, format,
                                     [answer, mutex](ThumbnailDataRef data, std::int64_t bytesPerRow) {
                                       std::lock_guard guard(*mutex);
                                       answer->data = std::move(data);
                                       answer->bytesPerRow = bytesPerRow;
                                       ++answer->calls;
                                     });
  testing_support::waitForCondition(
      [&] {
        std::lock_guard guard(*mutex);
        return answer->calls > 0;
      },
      "the thumbnail", std::chrono::seconds(30));
  std::lock_guard guard(*mutex);
  return *answer;
}

// Forwards to the real decoder and records what it was asked; with
// `silent`, answers every decode with success and no picture.
class RecordingDecoder : public media::CVNDecoderProtocol {
 public:
  struct Call {
    bool shouldOutput;
    double seconds;
  };
  RecordingDecoder(std::unique_ptr<media::CVNDecoderProtocol> real, std::vector<Call>* calls, bool silent)
      : real_(std::move(real)), calls_(calls), silent_(silent) {}
  std::int64_t framesNeededForPlayback() const override { return real_->framesNeededForPlayback(); }
  void setDelegate(media::CVNDecoderDelegateProtocol* delegate) override { real_->setDelegate(delegate); }
  void setOutputDimensions(std::int32_t width, std::int32_t height) override { real_->setOutputDimensions(width, height); }
  void setPixelFormat(pm::FourCharCode format) override { real_->setPixelFormat(format); }
  void setPixelBufferPoolSize(std::uint64_t size) override { real_->setPixelBufferPoolSize(size); }
  void setShouldProduceGlobalIOSurface(bool value) override { real_->setShouldProduceGlobalIOSurface(value); }
  bool shouldProduceGlobalIOSurface() const override { return real_->shouldProduceGlobalIOSurface(); }
  void setMetalAPIEnabled(bool value) override { real_->setMetalAPIEnabled(value); }
  bool extractCCFromVideoFrames() const override { return real_->extractCCFromVideoFrames(); }
  void setExtractCCFromVideoFrames(bool value) override { real_->setExtractCCFromVideoFrames(value); }
  bool setup() override { return real_->setup(); }
  void decodeSampleBuffer(const pm::SampleBufferRef& sample, bool shouldOutput,
                          media::DecodeCompletionHandler handler) override {
    calls_->push_back({shouldOutput, sample->presentationTimeStamp().seconds()});
    if (silent_) return handler(true, std::nullopt, nullptr);
    real_->decodeSampleBuffer(sample, shouldOutput, std::move(handler));
  }
  void flush() override { real_->flush(); }
  void finish() override { real_->finish(); }
  void invalidate() override { real_->invalidate(); }

 private:
  std::unique_ptr<media::CVNDecoderProtocol> real_;
  std::vector<Call>* calls_;
  bool silent_;
};

class ThumbnailGeneratorTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { media::registerStandardAssetReaders(); }

  std::filesystem::path make(const std::string& name, const std::string& arguments) {
    const auto path = folder_.path() / name;
    const std::string command = "ffmpeg -v error -y " + arguments;
    // A command reading this test's own files differs in every process: kept, it would only fill the cache.
    const bool made = arguments.find(folder_.path().string()) != std::string::npos
                          ? testing_support::runCommand(command + " " + shellQuoted(path))
                          : testing_support::makeFileOnce(command, path);
    if (!made) return {};
    return path;
  }

  static std::shared_ptr<CVNAssetThumbnailGenerator> generatorFor(const std::filesystem::path& file,
                                                                 std::vector<RecordingDecoder::Call>* calls = nullptr,
                                                                 bool silent = false) {
    CVNAssetThumbnailGenerator::DecoderFactory factory;
    if (calls) {
      factory = [calls, silent](const media::CVNAssetReader& reader) -> std::unique_ptr<media::CVNDecoderProtocol> {
        auto real = media::CVNDecoder::copyDecoderForAsset(reader);
        if (!real) return nullptr;
        return std::make_unique<RecordingDecoder>(std::move(real), calls, silent);
      };
    }
    return CVNAssetThumbnailGenerator::createWithMediaURL(media::MediaURL::fileURLWithPath(file), factory);
  }

  testing_support::TemporaryDirectory folder_;
};

// Largest difference of any byte between our rows and ffmpeg's packed rows.
int largestDifference(const Answer& answer, const std::string& reference, std::size_t width, std::size_t height) {
  int largest = 0;
  for (std::size_t row = 0; row < height; ++row) {
    for (std::size_t byte = 0; byte < width * 4; ++byte) {
      const int ours = answer.data->bytes()[row * static_cast<std::size_t>(answer.bytesPerRow) + byte];
      const int theirs = static_cast<unsigned char>(reference[row * width * 4 + byte]);
      largest = std::max(largest, std::abs(ours - theirs));
    }
  }
  return largest;
}

TEST_F(ThumbnailGeneratorTest, RawPicturesMatchFFmpegsScaledFrame) {
  struct Case {
    const char* name;
    const char* arguments;
    double seconds;
    std::uint32_t format;
    const char* ffmpegPixelFormat;
  } const cases[] = {
      {"mpeg2.ts", "-f lavfi -i testsrc=duration=12:rate=25:size=640x360 -c:v mpeg2video -g 25 -q:v 2", 10,
       media::kThumbnailFormatBGRA, "bgra"},
      {"h264.mov", "-f lavfi -i testsrc=duration=2:rate=25:size=640x360 -c:v libx264 -bf 3 -pix_fmt yuv420p", 0,
       media::kThumbnailFormatARGB, "argb"},
  };
  for (const auto& item : cases) {
    SCOPED_TRACE(item.name);
    const auto file = make(item.name, item.arguments);
    ASSERT_FALSE(file.empty());
    const auto answer = request(generatorFor(file), 320, 180, item.seconds, item.format);
    ASSERT_EQ(answer.calls, 1);
    ASSERT_TRUE(answer.data);
    ASSERT_GE(answer.bytesPerRow, 320 * 4);
    ASSERT_EQ(answer.data->length(), static_cast<std::size_t>(answer.bytesPerRow) * 180);
    const auto reference = testing_support::commandOutputOnce(
        "ffmpeg -v error -noaccurate_seek -ss " + std::to_string(item.seconds) + " -i", file,
        std::string("-frames:v 1 -sws_flags bilinear -s 320x180 -pix_fmt ") + item.ffmpegPixelFormat + " -f rawvideo -");
    ASSERT_EQ(reference.size(), 320u * 180 * 4);
    EXPECT_LE(largestDifference(answer, reference, 320, 180), 2);
  }
}

TEST_F(ThumbnailGeneratorTest, TheDecoderSeesPrimingSeekAndTheSampleLimit) {
  const auto mpeg2 =
      make("prime.ts", "-f lavfi -i testsrc=duration=12:rate=25:size=160x90 -c:v mpeg2video -g 25");
  const auto h264 = make("start.mov", "-f lavfi -i testsrc=duration=3:rate=25:size=160x90 -c:v libx264 -g 25");
  ASSERT_FALSE(mpeg2.empty());
  ASSERT_FALSE(h264.empty());

  // MPEG-2 at 10 s: its first frame without output, then decoding from the seek.
  std::vector<RecordingDecoder::Call> calls;
  auto answer = request(generatorFor(mpeg2, &calls), 80, 45, 10, media::kThumbnailFormatBGRA);
  EXPECT_TRUE(answer.data);
  ASSERT_GE(calls.size(), 2u);
  EXPECT_FALSE(calls[0].shouldOutput);
  EXPECT_TRUE(std::all_of(calls.begin() + 1, calls.end(), [](const auto& call) { return call.shouldOutput; }));
  EXPECT_GE(calls[1].seconds, 9.0);

  // Time 0 neither primes nor seeks: the first sample decoded is the first frame.
  calls.clear();
  answer = request(generatorFor(h264, &calls), 80, 45, 0, media::kThumbnailFormatARGB);
  EXPECT_TRUE(answer.data);
  ASSERT_FALSE(calls.empty());
  EXPECT_TRUE(calls[0].shouldOutput);
  EXPECT_LT(calls[0].seconds, 0.2);

  // A decoder that never gives a picture: nil after 25 video samples.
  calls.clear();
  answer = request(generatorFor(h264, &calls, true), 80, 45, 0, media::kThumbnailFormatARGB);
  EXPECT_EQ(answer.calls, 1);
  EXPECT_FALSE(answer.data);
  EXPECT_EQ(answer.bytesPerRow, 0);
  EXPECT_EQ(calls.size(), 25u);
}

TEST_F(ThumbnailGeneratorTest, FormatsByKindOfFile) {
  const auto movie = make("clip.mov", "-f lavfi -i testsrc=duration=1:rate=25:size=160x90 -c:v libx264");
  const auto still = make("still.png", "-f lavfi -i testsrc2=size=64x48 -frames:v 1");
  const auto cover = make("cover.png", "-f lavfi -i color=c=red:s=32x32 -frames:v 1");
  ASSERT_FALSE(cover.empty());
  const auto song = make("song.mp3", "-f lavfi -i sine=d=1 -i " + shellQuoted(cover) +
                                         " -map 0 -map 1 -c:v mjpeg -disposition:v attached_pic -id3v2_version 3");
  const auto plainSound = make("plain.wav", "-f lavfi -i sine=d=1");
  ASSERT_FALSE(movie.empty() || still.empty() || song.empty() || plainSound.empty());

  struct Case {
    const char* name;
    std::filesystem::path file;
    std::uint32_t format;
    std::optional<std::pair<std::size_t, std::size_t>> jpegSize;  // none: nil expected
  } const cases[] = {
      {"movie as JPEG", movie, media::kThumbnailFormatJPEG, std::make_pair(std::size_t{96}, std::size_t{54})},
      {"movie, unknown format", movie, 7, std::nullopt},
      {"still as JPEG", still, media::kThumbnailFormatJPEG, std::make_pair(std::size_t{96}, std::size_t{54})},
      {"still as ARGB", still, media::kThumbnailFormatARGB, std::nullopt},
      {"artwork as JPEG", song, media::kThumbnailFormatJPEG, std::make_pair(std::size_t{32}, std::size_t{32})},
      {"artwork as BGRA", song, media::kThumbnailFormatBGRA, std::nullopt},
      {"sound without artwork", plainSound, media::kThumbnailFormatJPEG, std::nullopt},
  };
  for (const auto& item : cases) {
    SCOPED_TRACE(item.name);
    const auto answer = request(generatorFor(item.file), 96, 54, 0.5, item.format);
    EXPECT_EQ(answer.calls, 1);
    EXPECT_EQ(answer.bytesPerRow, 0);
    if (!item.jpegSize) {
      EXPECT_FALSE(answer.data);
      continue;
    }
    ASSERT_TRUE(answer.data);
    auto source = pm::ImageSource::createWithData(
        std::vector<std::uint8_t>(answer.data->bytes(), answer.data->bytes() + answer.data->length()));
    ASSERT_TRUE(source);
    auto image = (*source)->createImage();
    ASSERT_TRUE(image && *image);
    EXPECT_EQ((*image)->width(), item.jpegSize->first);
    EXPECT_EQ((*image)->height(), item.jpegSize->second);
  }
}

TEST_F(ThumbnailGeneratorTest, TransparentStillsAreDrawnOverBlack) {
  const auto still = make("clear.png", "-f lavfi -i color=c=white@0.0:s=64x48,format=rgba -frames:v 1");
  ASSERT_FALSE(still.empty());
  const auto answer = request(generatorFor(still), 64, 48, 0, media::kThumbnailFormatJPEG);
  ASSERT_TRUE(answer.data);
  auto source = pm::ImageSource::createWithData(
      std::vector<std::uint8_t>(answer.data->bytes(), answer.data->bytes() + answer.data->length()));
  ASSERT_TRUE(source);
  auto image = (*source)->createImage();
  ASSERT_TRUE(image && *image);
  // Decoded as premultiplied RGBA: colour bytes of the middle pixel.
  const auto& picture = **image;
  const std::uint8_t* middle = picture.baseAddress() + 24 * picture.bytesPerRow() + 32 * 4;
  EXPECT_LE(std::max({middle[0], middle[1], middle[2]}), 8);
}

TEST_F(ThumbnailGeneratorTest, UnreadableFilesAnswerNilOnce) {
  const auto missing = folder_.path() / "missing.mov";
  const auto text = folder_.path() / "notes.txt";
  std::ofstream(text) << "not media";
  const auto broken = folder_.path() / "broken.mov";
  std::ofstream(broken) << std::string(4096, '\x5a');
  for (const auto& file : {missing, text, broken}) {
    SCOPED_TRACE(file.filename().string());
    const auto answer = request(generatorFor(file), 96, 54, 0, media::kThumbnailFormatJPEG);
    EXPECT_EQ(answer.calls, 1);
    EXPECT_FALSE(answer.data);
    EXPECT_EQ(answer.bytesPerRow, 0);
  }
}

TEST_F(ThumbnailGeneratorTest, ImpossibleSizesAnswerNil) {
  const auto movie = make("clip.mov", "-f lavfi -i testsrc=duration=1:rate=25:size=160x90 -c:v libx264");
  const auto still = make("still.png", "-f lavfi -i testsrc2=size=64x48 -frames:v 1");
  ASSERT_FALSE(movie.empty() || still.empty());
  const std::pair<std::int64_t, std::int64_t> sizes[] = {{0, 54}, {96, -1}, {std::int64_t{1} << 32, 54}, {100000, 100000}};
  for (const auto& file : {movie, still}) {
    for (const auto& [width, height] : sizes) {
      SCOPED_TRACE(file.filename().string() + " " + std::to_string(width) + "x" + std::to_string(height));
      const auto answer = request(generatorFor(file), width, height, 0, media::kThumbnailFormatJPEG);
      EXPECT_EQ(answer.calls, 1);
      EXPECT_FALSE(answer.data);
    }
  }
}

TEST_F(ThumbnailGeneratorTest, OneGeneratorAnswersRequestsInTurnFromTheirOwnTime) {
  const auto movie = make("count.mov", "-f lavfi -i testsrc=duration=4:rate=25:size=160x90 -c:v libx264 -g 25");
  ASSERT_FALSE(movie.empty());
  const auto generator = generatorFor(movie);
  const auto firstFrame = request(generator, 160, 90, 0, media::kThumbnailFormatARGB);
  const auto later = request(generator, 160, 90, 2, media::kThumbnailFormatARGB);
  const auto firstAgain = request(generator, 160, 90, 0, media::kThumbnailFormatARGB);
  ASSERT_TRUE(firstFrame.data && later.data && firstAgain.data);
  const auto same = [](const Answer& a, const Answer& b) {
    return a.data->length() == b.data->length() &&
           std::equal(a.data->bytes(), a.data->bytes() + a.data->length(), b.data->bytes());
  };
  EXPECT_FALSE(same(firstFrame, later));
  EXPECT_TRUE(same(firstFrame, firstAgain));

  // A still hands out its one picture once; a second request still gets one, at its own size.
  const auto stillGenerator = generatorFor(make("still.png", "-f lavfi -i testsrc2=size=64x48 -frames:v 1"));
  EXPECT_TRUE(request(stillGenerator, 64, 48, 0, media::kThumbnailFormatJPEG).data);
  EXPECT_TRUE(request(stillGenerator, 32, 24, 0, media::kThumbnailFormatJPEG).data);
}

TEST_F(ThumbnailGeneratorTest, RawPixelsOutliveTheGenerator) {
  const auto movie = make("clip.mov", "-f lavfi -i testsrc=duration=1:rate=25:size=160x90 -c:v libx264");
  ASSERT_FALSE(movie.empty());
  auto generator = generatorFor(movie);
  const auto answer = request(generator, 96, 54, 0, media::kThumbnailFormatARGB);
  ASSERT_TRUE(answer.data);
  const std::vector<std::uint8_t> copy(answer.data->bytes(), answer.data->bytes() + answer.data->length());
  generator.reset();
  EXPECT_TRUE(std::equal(copy.begin(), copy.end(), answer.data->bytes()));
}

}  // namespace
