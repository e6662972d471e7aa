// The clip preview's session player view showing a 10 s 1080p50 H.264 clip
// at its 640 x 360 preview size, its display timer free-running (a manual
// clock moved on as soon as each tick is done), against ffmpeg decoding and
// scaling the same clip to 640 x 360 in the same run. Counter: frames_ratio
// is our frames per second over ffmpeg's (the target is 0.8 or more).

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "benchmarks/BenchmarkSupport.h"
#include "media/preview/CVNDecompressionSessionPlayerView.h"
#include "media/readers/StandardAssetReaders.h"
#include "platform/Clock.h"
#include "platform/RunLoop.h"
#include "tests/support/MediaFixtures.h"

namespace {

constexpr int kClipFrames = 500;

class CountingDisplay final : public media::SampleBufferDisplay {
 public:
  void enqueueSampleBuffer(const platform::media::SampleBufferRef& frame) override {
    if (frame && frame->imageBuffer()) frames.fetch_add(1);
  }
  void flushAndRemoveImage() override {}
  std::atomic<int> frames{0};
};

std::string makeClip(const bench::TemporaryFolder& folder) {
  const auto file = folder.path() / "hd50.mov";
  const bool made = testing_support::makeFileOnce(
      "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=50:duration=10 "
      "-c:v libx264 -preset ultrafast -g 50 -pix_fmt yuv420p",
      file);
  return made ? file.string() : std::string();
}

// Frames per second of the player view playing the whole clip, its display
// timer ticking as fast as the frames are taken: the manual clock is moved on
// by one frame each time the last tick has run.
double previewFramesPerSecond(const std::string& file) {
  platform::ManualClock clock;
  const platform::ScopedClockOverride useClock(clock);
  CountingDisplay display;
  media::PlayerViewServices services = media::PlayerViewServices::standard();
  services.audioStreams = {};
  media::CVNDecompressionSessionPlayerView view(&display, services);
  bool loaded = false;
  view.setItemURL(file, 0, [&] { loaded = true; });
  platform::RunLoop::main().runUntil([&] { return loaded; }, std::chrono::seconds(30));
  if (!view.isPlayable() || !view.displayInterval()) return 0;
  const auto interval = *view.displayInterval();
  const int before = display.frames.load();
  const double seconds = bench::secondsOf([&] {
    view.play();
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (display.frames.load() - before < kClipFrames && !view.isFinishedPlaying() &&
           std::chrono::steady_clock::now() < limit) {
      const int shown = display.frames.load();
      clock.advance(interval);
      // Until that tick took its frame (or found none ready yet).
      const auto tickLimit = std::chrono::steady_clock::now() + std::chrono::milliseconds(5);
      while (display.frames.load() == shown && std::chrono::steady_clock::now() < tickLimit) {
        std::this_thread::yield();
      }
    }
  });
  return (display.frames.load() - before) / seconds;
}

void BM_PreviewAgainstFFmpegScale(benchmark::State& state) {
  bench::TemporaryFolder folder("clip-preview-bench");
  const std::string file = makeClip(folder);
  if (file.empty()) return state.SkipWithError("ffmpeg could not make the fixture");
  media::registerStandardAssetReaders();
  const std::string peer = "ffmpeg -nostdin -v error -i '" + file + "' -vf scale=640:360 -f null -";
  double ours = 0;
  double theirs = 0;
  for (auto _ : state) {
    ours = std::max(ours, previewFramesPerSecond(file));
    theirs = std::max(theirs, kClipFrames / bench::secondsOf([&] {
                                if (std::system(peer.c_str()) != 0) state.SkipWithError("ffmpeg failed");
                              }));
  }
  state.counters["preview_fps"] = ours;
  state.counters["ffmpeg_fps"] = theirs;
  state.counters["frames_ratio"] = theirs > 0 ? ours / theirs : 0;
}
BENCHMARK(BM_PreviewAgainstFFmpegScale)->Iterations(3)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
