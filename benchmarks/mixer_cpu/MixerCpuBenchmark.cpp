// The video mixer on the CPU path at 1080p50: a clip item over a session
// holding pictures decoded beforehand, the main queue player, the mixer and
// an output pulling every 20 ms, wired through the headless host. Each
// render (the queue player's step and the item's delivery) and each pull is
// timed; mean and p99 of both are set against the 20 ms frame, the 5 ms
// render target and memcpy of one output frame timed in the same run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

#include "benchmarks/BenchmarkSupport.h"
#include "engine/items/CVNMediaQueuePlayerItem.h"
#include "engine/mixer/CVNVideoMixer.h"
#include "engine/mixer/QueuePlayerPixelRenderer.h"
#include "foundation/CVNLogController.h"
#include "tests/support/SilentNotificationCenter.h"
#include "tests/support/engine/HeadlessHost.h"

namespace {

namespace pm = platform::media;
using engine::mixer::CVNVideoMixer;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kPictures = 50;
constexpr int kFrames = 500;
constexpr auto kFrame = std::chrono::milliseconds(20);
constexpr double kRenderTargetSeconds = 0.005;

using Pictures = std::vector<std::shared_ptr<pm::PixelBuffer>>;

// A second of distinct pictures at 50 fps, made once before playback starts.
Pictures decodedBeforehand(pm::FourCharCode format) {
  Pictures pictures;
  for (int n = 0; n < kPictures; ++n) {
    std::shared_ptr<pm::PixelBuffer> image;
    pm::PixelBuffer::create(kWidth, kHeight, format, {}, &image);
    std::memset(image->baseAddress(), 0x20 + n, image->bytesPerRow() * image->height());
    pictures.push_back(std::move(image));
  }
  return pictures;
}

// Hands out the pictures in a loop, for an hour.
class PreDecodedSession final : public media::CVNSessionBase {
 public:
  PreDecodedSession(DelegateRef delegate, std::shared_ptr<platform::DispatchQueue> queue, const Pictures& pictures)
      : media::CVNSessionBase(std::move(delegate), std::move(queue)), images_(pictures) {
    setContent(media::kContentVideoOnly);
    setDuration(pm::MediaTime::make(3600, 1));
  }
  // What the session tells its item once it has examined the clip.
  void announce() {
    if (const auto item = delegate()) item->decompressionSessionDidInitialize(*this);
  }
  bool startBuffering() override {
    if (const auto item = delegate()) item->decompressionSessionIsReadyForPlayback(*this);
    return true;
  }
  pm::SampleBufferRef nextVideoSampleBuffer() override {
    const auto& image = images_[static_cast<std::size_t>(next_ % kPictures)];
    pm::SampleBufferRef sample;
    pm::SampleBuffer::createForImageBuffer(
        image, pm::FormatDescription::createForPixelBuffer(*image),
        {pm::MediaTime::make(1, 50), pm::MediaTime::make(next_++, 50), pm::MediaTime::invalid()}, &sample);
    return sample;
  }
  pm::MediaTime frameRateAsCMTime() const override { return pm::MediaTime::make(50, 1); }
  pm::FormatDescriptionRef closedCaptionFormatDescription() const override { return nullptr; }
  bool isValid() const override { return true; }

 private:
  const Pictures& images_;
  std::int64_t next_ = 0;
};

// Times each picture the mixer's CPU renderer makes.
class TimedRenderer final : public engine::render::FrameRenderer {
 public:
  TimedRenderer(std::shared_ptr<engine::queueplayer::CVNQueuePlayer> player, std::vector<double>* seconds,
                std::mutex* mutex)
      : inner_(std::move(player)), seconds_(seconds), mutex_(mutex) {}
  bool prepare(const engine::render::RenderTarget& target, std::string* error) override {
    return inner_.prepare(target, error);
  }
  std::shared_ptr<pm::PixelBuffer> renderFrame(std::int64_t frameNumber) override {
    std::shared_ptr<pm::PixelBuffer> picture;
    const double seconds = bench::secondsOf([&] { picture = inner_.renderFrame(frameNumber); });
    const std::lock_guard lock(*mutex_);
    seconds_->push_back(seconds);
    return picture;
  }
  void release() override { inner_.release(); }

 private:
  engine::mixer::QueuePlayerPixelRenderer inner_;
  std::vector<double>* seconds_;
  std::mutex* mutex_;
};

double mean(const std::vector<double>& seconds) {
  return seconds.empty() ? 0.0 : std::accumulate(seconds.begin(), seconds.end(), 0.0) / seconds.size();
}

double p99(std::vector<double> seconds) {
  if (seconds.empty()) return 0.0;
  const auto at = seconds.begin() + static_cast<std::ptrdiff_t>(seconds.size() * 99 / 100);
  std::nth_element(seconds.begin(), at, seconds.end());
  return *at;
}

void BM_MixerCpu1080p50(benchmark::State& state, pm::FourCharCode format) {
  foundation::CVNLogController::Environment environment;
  environment.notificationCenter = std::make_shared<testing_support::SilentNotificationCenter>();
  environment.console = [](std::string_view) {};
  foundation::CVNLogController log(std::move(environment));
  foundation::CVNLogController::setSharedLogControllerForTesting(&log);

  const Pictures pictures = decodedBeforehand(format);
  engine::items::MediaItemSessionFactory factory;
  factory.makeClipSession = [&pictures](const media::MediaURL&, const std::string&, media::CVNSessionBase::DelegateRef delegate,
                                     auto queue) {
    auto session = std::make_shared<PreDecodedSession>(std::move(delegate), queue, pictures);
    queue->async([session] { session->announce(); });
    return std::static_pointer_cast<media::CVNSessionBase>(session);
  };
  factory.clipTypeOfSession = [](const media::CVNSessionBase&) { return engine::items::kClipTypeMovie; };

  std::mutex renderMutex;
  std::vector<double> renderSeconds;
  std::vector<double> pullSeconds;
  std::vector<double> memcpySeconds;
  int clipFrames = 0;  // pulls that got one of the clip's pictures, not black
  for (auto _ : state) {
    engine_host::ScriptedHostDelegate host;
    host.setRepeat(engine::items::ItemDictionary{{"itemURL", platform::Value("/bench/clip.mov")}});
    engine_host::RecordingEngine engineSide;
    auto mixer = CVNVideoMixer::create();
    mixer->setItemFactory([&factory] { return engine::items::CVNMediaQueuePlayerItem::create(factory); });
    mixer->setRendererFactory([&](engine::queueplayer::CVNQueuePlayer& player) {
      return std::make_unique<TimedRenderer>(player.shared_from_this(), &renderSeconds, &renderMutex);
    });
    mixer->setSelectedOutput(std::make_shared<engine_host::TestOutput>(
        std::make_shared<const pluginframework::CVNDisplayMode>("1080p50", 1000, 50000, kWidth, kHeight,
                                                                pluginframework::FieldDominance::Progressive),
        format));
    mixer->setMainQueueDelegate(&host);
    mixer->setDelegate(&engineSide);
    if (const auto error = mixer->startMixer()) {
      state.SkipWithError(error->c_str());
      break;
    }
    mixer->startPlayback();

    std::shared_ptr<pm::PixelBuffer> frameSource;
    pm::PixelBuffer::create(kWidth, kHeight, format, {}, &frameSource);
    const std::size_t frameBytes = frameSource->bytesPerRow() * frameSource->height();
    std::vector<std::uint8_t> frameCopy(frameBytes);

    // Pulled on the output's beat, as a card would.
    auto tick = std::chrono::steady_clock::now();
    for (int n = 0; n < kFrames; ++n) {
      engine::mixer::MixerFrame frame;
      pullSeconds.push_back(bench::secondsOf([&] { mixer->copyNextPixelBuffer(&frame); }));
      if (frame.picture && frame.picture->baseAddress()[0] >= 0x20 && frame.picture->baseAddress()[0] < 0x20 + kPictures)
        ++clipFrames;
      memcpySeconds.push_back(bench::secondsOf([&] { std::memcpy(frameCopy.data(), frameSource->baseAddress(), frameBytes); }));
      benchmark::DoNotOptimize(frameCopy.data());
      tick += kFrame;
      std::this_thread::sleep_until(tick);
    }
    mixer->stopMixer();
  }
  foundation::CVNLogController::setSharedLogControllerForTesting(nullptr);

  const std::lock_guard lock(renderMutex);
  // The first frames are rendered while the item is still being switched to.
  const std::vector<double> steadyRenders(renderSeconds.begin() + std::min<std::size_t>(10, renderSeconds.size()),
                                          renderSeconds.end());
  const double memcpyMean = mean(memcpySeconds);
  state.counters["clip_frames"] = clipFrames;
  state.counters["render_mean_ms"] = mean(steadyRenders) * 1e3;
  state.counters["render_p99_ms"] = p99(steadyRenders) * 1e3;
  state.counters["pull_mean_ms"] = mean(pullSeconds) * 1e3;
  state.counters["pull_p99_ms"] = p99(pullSeconds) * 1e3;
  state.counters["memcpy_mean_ms"] = memcpyMean * 1e3;
  state.counters["render_p99_vs_5ms_target"] = p99(steadyRenders) / kRenderTargetSeconds;
  state.counters["render_p99_share_of_20ms"] = p99(steadyRenders) / 0.020;
  state.counters["render_mean_vs_memcpy"] = mean(steadyRenders) / memcpyMean;
  state.counters["render_p99_vs_memcpy"] = p99(steadyRenders) / memcpyMean;
  state.counters["pull_p99_vs_memcpy"] = p99(pullSeconds) / memcpyMean;
}

BENCHMARK_CAPTURE(BM_MixerCpu1080p50, 2vuy, pm::kPixelFormat422YpCbCr8)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_MixerCpu1080p50, BGRA, pm::kPixelFormat32BGRA)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
