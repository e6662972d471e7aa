// The session player view over the real session, reader and decoder, on a
// frame-threaded H.264 clip made with ffmpeg at test time.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>

#include "media/preview/CVNDecompressionSessionPlayerView.h"
#include "media/readers/StandardAssetReaders.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace media {
namespace {

// The newest frame's time.
class FrameTimes final : public SampleBufferDisplay {
 public:
  void enqueueSampleBuffer(const platform::media::SampleBufferRef& frame) override {
    shown = frame->presentationTimeStamp().seconds();
  }
  void flushAndRemoveImage() override {}
  std::atomic<double> shown{-1.0};
};

// Pictures left in the codec from before a scrub must not fail its target,
// or the view stays scrubbing and every later seek only waits behind it.
TEST(PlayerViewRealClipTest, ASeekAfterAScrubIsCarriedOut) {
  registerStandardAssetReaders();
  testing_support::TemporaryDirectory folder;
  const auto file = folder / "count.mov";
  ASSERT_TRUE(testing_support::makeFileOnce(
      "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=640x360:rate=25:duration=10 -c:v libx264 -pix_fmt yuv420p",
      file));
  FrameTimes display;
  CVNDecompressionSessionPlayerView view(&display);
  bool loaded = false;
  view.setItemURL(file.string(), 0, [&] { loaded = true; });
  ASSERT_TRUE(testing_support::runMainLoopUntil([&] { return loaded && display.shown >= 0; }, "the first frame"));
  // A drag: its start, a move while that scrub runs, the precise end.
  view.seekToTime(0.3, false, false);
  view.seekToTime(5.0, false, false);
  view.seekToTime(7.0, true, false);
  EXPECT_TRUE(testing_support::runMainLoopUntil([&] { return std::abs(display.shown - 7.0) < 0.05; }, "7 s shown"));
  view.seekToTime(0.2, true, true);
  EXPECT_TRUE(testing_support::runMainLoopUntil([&] { return std::abs(display.shown - 0.2) < 0.05; }, "0.2 s shown"));
}

}  // namespace
}  // namespace media
