// The offline audio engine against ffmpeg's resampler: stereo float at
// 44100 Hz in 2048-frame buffers through two inputs (volumes 0.5 and 1.0)
// to 16-bit stereo at 48000 Hz, beside `ffmpeg -af aresample=48000` of the
// same raw file in the same run. AUDIO_ENGINE_SECONDS sets the length of the
// audio (default 600: ten minutes).

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "benchmarks/BenchmarkSupport.h"
#include "media/audio/CVNAudioEngine.h"

namespace {

namespace pm = platform::media;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kBufferFrames = 2048;

std::size_t audioSeconds() {
  const char* text = std::getenv("AUDIO_ENGINE_SECONDS");
  const long seconds = text ? std::strtol(text, nullptr, 10) : 600;
  return seconds > 0 ? static_cast<std::size_t>(seconds) : 600;
}

pm::AudioStreamBasicDescription format(double rate, bool isFloat) {
  pm::AudioStreamBasicDescription d;
  d.sampleRate = rate;
  d.formatID = pm::kAudioFormatLinearPCM;
  d.formatFlags = (isFloat ? pm::kAudioFormatFlagIsFloat : pm::kAudioFormatFlagIsSignedInteger) | pm::kAudioFormatFlagIsPacked;
  d.framesPerPacket = 1;
  d.channelsPerFrame = 2;
  d.bitsPerChannel = isFloat ? 32 : 16;
  d.bytesPerFrame = d.bytesPerPacket = d.bitsPerChannel / 8 * 2;
  return d;
}

void BM_AudioEngineAgainstFFmpeg(benchmark::State& state) {
  const std::size_t frames = audioSeconds() * 44100;
  std::vector<float> audio(frames * 2);
  for (std::size_t i = 0; i < frames; ++i) {
    audio[i * 2] = static_cast<float>(0.5 * std::sin(2 * 3.141592653589793 * 440.0 * i / 44100));
    audio[i * 2 + 1] = static_cast<float>(0.3 * std::sin(2 * 3.141592653589793 * 1000.0 * i / 44100));
  }
  bench::TemporaryFolder folder("audio-engine-bench");
  const auto raw = folder.path() / "same.raw";
  std::ofstream(raw, std::ios::binary).write(reinterpret_cast<const char*>(audio.data()),
                                             static_cast<std::streamsize>(audio.size() * sizeof(float)));
  const std::string peer = "ffmpeg -nostdin -hide_banner -loglevel error -f f32le -ar 44100 -ac 2 -i '" + raw.string() +
                           "' -af aresample=48000 -f s16le -y /dev/null";

  double engineSeconds = 0;
  double peerSeconds = 0;
  std::size_t slices = 0;
  std::size_t outputBytes = 0;
  for (auto _ : state) {
    const auto peerStart = Clock::now();
    if (std::system(peer.c_str()) != 0) state.SkipWithError("ffmpeg failed");
    peerSeconds = std::chrono::duration<double>(Clock::now() - peerStart).count();

    media::CVNAudioEngine engine;
    engine.setOutputFormat(format(48000, false));
    engine.addInputWithAudioStreamBasicDescription(format(44100, true), 0.5, 0);
    engine.addInputWithAudioStreamBasicDescription(format(44100, true), 1.0, 0);
    slices = 0;
    outputBytes = 0;
    engine.setOutputCallback([&](const std::uint8_t*, std::size_t count) {
      ++slices;
      outputBytes += count;
    });
    const auto engineStart = Clock::now();
    if (!engine.start()) state.SkipWithError("engine did not start");
    for (std::size_t at = 0; at < frames; at += kBufferFrames) {
      const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(kBufferFrames, frames - at));
      engine.processAudioBuffer(audio.data() + at * 2, n, 0);
      engine.processAudioBuffer(audio.data() + at * 2, n, 1);
    }
    engine.finish();
    engineSeconds = std::chrono::duration<double>(Clock::now() - engineStart).count();
  }
  const double engineRate = static_cast<double>(frames) / engineSeconds;
  const double peerRate = static_cast<double>(frames) / peerSeconds;
  state.counters["audio_s"] = static_cast<double>(frames) / 44100;
  state.counters["engine_frames_per_s"] = engineRate;
  state.counters["ffmpeg_frames_per_s"] = peerRate;
  state.counters["ratio_vs_ffmpeg"] = engineRate / peerRate;
  state.counters["mean_slice_us"] = slices ? engineSeconds / static_cast<double>(slices) * 1e6 : 0;
  state.counters["output_frames"] = static_cast<double>(outputBytes / 4);
}
BENCHMARK(BM_AudioEngineAgainstFFmpeg)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
