// Golden frames: a clip at the output size played through the whole CPU path
// (the host's item dictionary, a clip item over the real session and decoder,
// the queue player, the mixer, pulls as the output makes them) comes out byte
// for byte as ffmpeg converts the same pictures to the output's format.
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "tests/engine/items/RealClipPlayback.h"
#include "tests/engine/mixer/MixerHarness.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/RunLoopWait.h"

namespace mixer_tests {
namespace {

using engine::mixer::MixerFrame;

constexpr int kWidth = 320;
constexpr int kHeight = 180;
constexpr int kFrames = 10;

struct GoldenCase {
  const char* what;
  const char* encoding;  // ffmpeg output arguments of the clip
  platform::media::FourCharCode format;
  const char* ffmpegPixelFormat;
  // 4:2:0 chroma is interpolated to 4:2:2 and RGB by swscale's bilinear
  // filter, as the decoders' own packers do; ffmpeg's default is bicubic.
  const char* ffmpegScaler = "";
};

void PrintTo(const GoldenCase& c, std::ostream* out) { *out << c.what; }

// The output's rows without their padding.
std::vector<std::uint8_t> packedBytes(platform::media::PixelBuffer& picture) {
  picture.lockBaseAddress(platform::media::PixelBufferLockFlags::ReadOnly);
  const std::size_t rowBytes = picture.width() * 4 / (picture.pixelFormatType() == k2vuy ? 2 : 1);
  std::vector<std::uint8_t> bytes(rowBytes * picture.height());
  for (std::size_t row = 0; row < picture.height(); ++row)
    std::memcpy(bytes.data() + row * rowBytes, picture.baseAddress() + row * picture.bytesPerRow(), rowBytes);
  picture.unlockBaseAddress(platform::media::PixelBufferLockFlags::ReadOnly);
  return bytes;
}

// Black, or any one colour: what the mixer sends before the clip is ready.
bool isUniform(const std::vector<std::uint8_t>& bytes) {
  for (std::size_t i = 4; i < bytes.size(); ++i)
    if (bytes[i] != bytes[i % 4]) return false;
  return true;
}

// The first differing byte, for the failure message.
std::size_t firstDifference(const std::vector<std::uint8_t>& a, const std::string& b) {
  std::size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == static_cast<std::uint8_t>(b[i])) ++i;
  return i;
}

class MixerGoldenFramesTest : public MixerHarness, public ::testing::WithParamInterface<GoldenCase> {};

TEST_P(MixerGoldenFramesTest, EveryPictureEqualsFfmpegsConversionOfTheSameFrame) {
  const auto& c = GetParam();
  item_fakes::RealClipFolder clips;
  const auto clip = clips.make(std::string("golden-") + c.ffmpegPixelFormat + "-" + std::to_string(c.format) + ".mov",
                               "-f lavfi -i testsrc2=size=" + std::to_string(kWidth) + "x" + std::to_string(kHeight) +
                                   ":rate=25 -frames:v " + std::to_string(kFrames) + " " + c.encoding);
  ASSERT_FALSE(clip.empty());
  const std::string golden = testing_support::commandOutputOnce(
      "ffmpeg -nostdin -hide_banner -loglevel error -i ", clip,
      std::string(" -f rawvideo ") + c.ffmpegScaler + " -pix_fmt " + c.ffmpegPixelFormat + " -");
  const std::size_t frameBytes = std::size_t{kWidth} * kHeight * (c.format == k2vuy ? 2 : 4);
  ASSERT_EQ(golden.size(), frameBytes * kFrames);

  mixer->setRendererFactory(nullptr);
  wireUp(mode(kWidth, kHeight, 1000, 25000), c.format);
  host.script({{{"itemURL", platform::Value(clip.string())}}});
  ASSERT_EQ(mixer->startMixer(), std::nullopt);
  ASSERT_TRUE(mixer->startPlayback());

  std::set<std::size_t> seen;
  int unmatched = 0;
  const bool allSeen = testing_support::runMainLoopUntil(
      [&] {
        if (seen.size() == kFrames) return true;
        // The output's clock moves a frame per pull.
        clock.advance(std::chrono::milliseconds(40));
        MixerFrame frame;
        if (!mixer->copyNextPixelBuffer(&frame) || !frame.picture) return false;
        const auto bytes = packedBytes(*frame.picture);
        if (isUniform(bytes)) return false;
        for (std::size_t n = 0; n < kFrames; ++n) {
          if (std::memcmp(bytes.data(), golden.data() + n * frameBytes, frameBytes) == 0) {
            seen.insert(n);
            return seen.size() == kFrames;
          }
        }
        if (unmatched++ == 0)
          ADD_FAILURE() << "a picture equals no frame; against frame " << (seen.empty() ? 0 : *seen.rbegin())
                        << " it first differs at byte "
                        << firstDifference(bytes, golden.substr((seen.empty() ? 0 : *seen.rbegin()) * frameBytes, frameBytes));
        return false;
      },
      "every frame of the clip");
  EXPECT_TRUE(allSeen) << seen.size() << " of " << kFrames << " frames seen";
  EXPECT_EQ(unmatched, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Clips, MixerGoldenFramesTest,
    ::testing::Values(GoldenCase{"H.264 4:2:0 into 2vuy", "-c:v libx264 -pix_fmt yuv420p -qp 10", k2vuy, "uyvy422",
                                 "-sws_flags bilinear"},
                      GoldenCase{"MPEG-2 4:2:2 into 2vuy", "-c:v mpeg2video -pix_fmt yuv422p -q:v 2", k2vuy, "uyvy422"},
                      GoldenCase{"H.264 4:2:0 into BGRA", "-c:v libx264 -pix_fmt yuv420p -qp 10", kBGRA, "bgra"},
                      GoldenCase{"ProRes 4:2:2 10-bit into BGRA", "-c:v prores_ks -profile:v 2", kBGRA, "bgra"}),
    [](const auto& info) {
      std::string name = info.param.what;
      for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return name;
    });

}  // namespace
}  // namespace mixer_tests
