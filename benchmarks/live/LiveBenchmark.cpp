// Virtual output pacing against a bare clock_nanosleep loop at 50 fps, and the
// live hand-out of a 1080p50 '2vuy' frame with stereo audio against a memcpy
// of one frame. VZ_PACING_SECONDS sets the pacing run (60 by default).
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "media/live/CVNZiraInputSession.h"
#include "media/live/CVNZiraSource.h"
#include "platform/DispatchQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/media/BlockBuffer.h"
#include "platform/media/FormatDescription.h"
#include "platform/media/PixelBuffer.h"
#include "platform/media/PixelFormat.h"
#include "pluginframework/CVNDeviceController.h"
#include "pluginframework/PluginVideoOutput.h"

namespace {

namespace pm = platform::media;
constexpr std::int64_t kFrameNanoseconds = 20'000'000;  // 50 fps

double pacingSeconds() {
  const char* value = std::getenv("VZ_PACING_SECONDS");
  return value ? std::max(1.0, std::atof(value)) : 60.0;
}

std::int64_t monotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1'000'000'000LL + now.tv_nsec;
}

double p99Microseconds(std::vector<std::int64_t> lateness) {
  if (lateness.empty()) return 0;
  std::sort(lateness.begin(), lateness.end());
  return static_cast<double>(lateness[lateness.size() * 99 / 100]) / 1000.0;
}

double gBareP99 = 0;

void BM_BareNanosleepPacing(benchmark::State& state) {
  for (auto _ : state) {
    const auto frames = static_cast<std::int64_t>(pacingSeconds() * 50);
    std::vector<std::int64_t> lateness;
    const std::int64_t start = monotonicNanoseconds();
    for (std::int64_t n = 1; n <= frames; ++n) {
      const std::int64_t due = start + n * kFrameNanoseconds;
      const timespec at{static_cast<time_t>(due / 1'000'000'000LL), static_cast<long>(due % 1'000'000'000LL)};
      clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
      lateness.push_back(monotonicNanoseconds() - due);
    }
    gBareP99 = p99Microseconds(std::move(lateness));
  }
  state.counters["p99_late_us"] = gBareP99;
}
BENCHMARK(BM_BareNanosleepPacing)->Iterations(1)->Unit(benchmark::kSecond);

class LatenessRecorder final : public pluginframework::CVNVideoOutputDelegate {
 public:
  bool outputWantsFrame(std::int64_t frameIndex, std::uint32_t, std::shared_ptr<pm::PixelBuffer>*,
                        std::int16_t*) override {
    const std::int64_t now = monotonicNanoseconds();
    std::lock_guard guard(mutex_);
    if (frameIndex == 0) start_ = now;
    else lateness_.push_back(now - (start_ + frameIndex * kFrameNanoseconds));
    return true;
  }
  std::vector<std::int64_t> lateness() {
    std::lock_guard guard(mutex_);
    return lateness_;
  }

 private:
  std::mutex mutex_;
  std::int64_t start_ = 0;
  std::vector<std::int64_t> lateness_;
};

void BM_VirtualOutputPacing(benchmark::State& state) {
  platform::NotificationCenter center;
  platform::SerialQueue mainQueue("bench.main");
  pluginframework::CVNDeviceController controller(
      pluginframework::CVNDeviceController::Environment{&center, &mainQueue});
  controller.loadPluginsFromFolder(VZ_PLUGINS);
  auto device = controller.createVirtualOutputWithName("Virtual Output", "Virtual Output", true);
  if (!device) {
    state.SkipWithError("no virtual output plug-in");
    return;
  }
  auto output = std::dynamic_pointer_cast<pluginframework::PluginVideoOutput>(device->outputs().at(0));
  output->setSetting("displayModeName", "1080p50");
  double p99 = 0;
  for (auto _ : state) {
    LatenessRecorder recorder;
    output->setDelegate(&recorder);
    output->startPlayback(nullptr);
    timespec wait{static_cast<time_t>(pacingSeconds()), 0};
    nanosleep(&wait, nullptr);
    output->stopPlayback();
    output->setDelegate(nullptr);
    p99 = p99Microseconds(recorder.lateness());
  }
  state.counters["p99_late_us"] = p99;
  state.counters["ratio_to_bare"] = gBareP99 > 0 ? p99 / gBareP99 : 0;
}
BENCHMARK(BM_VirtualOutputPacing)->Iterations(1)->Unit(benchmark::kSecond);

pm::SampleBufferRef frame1080(std::int64_t index) {
  static std::shared_ptr<pm::PixelBuffer> picture = [] {
    std::shared_ptr<pm::PixelBuffer> made;
    pm::PixelBufferAttributes attributes;
    attributes.shareable = true;
    pm::PixelBuffer::create(1920, 1080, pm::kPixelFormat422YpCbCr8, attributes, &made);
    return made;
  }();
  const pm::MediaTime pts = pm::MediaTime::make(index, 50);
  pm::SampleBufferRef sample;
  pm::SampleBuffer::createForImageBuffer(picture, pm::FormatDescription::createForPixelBuffer(*picture),
                                         {pm::MediaTime::make(1, 50), pts, pts}, &sample);
  return sample;
}

pm::SampleBufferRef stereo960() {
  pm::AudioStreamBasicDescription format;
  format.sampleRate = 48000;
  format.formatID = pm::fourCC("lpcm");
  format.formatFlags = pm::kAudioFormatFlagIsSignedInteger | pm::kAudioFormatFlagIsPacked;
  format.bytesPerFrame = format.bytesPerPacket = 4;
  format.framesPerPacket = 1;
  format.channelsPerFrame = 2;
  format.bitsPerChannel = 16;
  pm::SampleBufferRef sample;
  pm::SampleBuffer::createReady(pm::BlockBuffer::create(960 * 4), pm::FormatDescription::createAudio(format), 960,
                                {{pm::MediaTime::make(1, 48000), pm::MediaTime::zero(), pm::MediaTime::zero()}}, {4},
                                &sample);
  return sample;
}

void BM_MemcpyOneFrame(benchmark::State& state) {
  std::vector<std::uint8_t> from(1920 * 1080 * 2, 1);
  std::vector<std::uint8_t> to(from.size());
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), from.size());
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_MemcpyOneFrame);

void BM_LiveHandOut1080p50(benchmark::State& state) {
  auto source = std::make_shared<media::CVNZiraSource>();
  source->setDisplayName("bench");
  auto queue = std::make_shared<platform::SerialQueue>("bench.delegate");
  auto session = media::CVNZiraInputSession::create(source, {}, queue);
  session->setOutputFrameDuration(pm::MediaTime::make(1, 50));
  session->setOutputAudioStreamBasicDescription(session->outputAudioStreamBasicDescription());
  session->startBuffering();
  std::int64_t index = 0;
  for (int i = 0; i < 5; ++i) {
    pluginframework::CVNInputFrame frame{frame1080(index++), stereo960(), nullptr, nullptr, 0, 0};
    source->inputDidProduceFrame(frame);
  }
  for (auto _ : state) {
    // Each captured frame brings audio of its own, as the input makes it.
    pluginframework::CVNInputFrame frame{frame1080(index++), stereo960(), nullptr, nullptr, 0, 0};
    source->inputDidProduceFrame(frame);
    benchmark::DoNotOptimize(session->nextVideoSampleBuffer());
    // The engine takes the audio out each frame.
    benchmark::DoNotOptimize(session->nextAudioSamples(960));
  }
  session->discard();
}
BENCHMARK(BM_LiveHandOut1080p50);

}  // namespace
