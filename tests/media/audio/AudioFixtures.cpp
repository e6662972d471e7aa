#include "tests/media/audio/AudioFixtures.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>

#include "tests/support/MediaFixtures.h"
#include "tests/support/TemporaryDirectory.h"

namespace media::testing {

namespace {

std::mutex fixturesMutex;

const std::filesystem::path& folder() {
  static auto* directory = new testing_support::TemporaryDirectory;  // for the binary's run
  return directory->path();
}

// Two seconds of 16-bit stereo at 44100 Hz, silent but for one full-scale sample at frame 44100.
void writeClickWave(const std::filesystem::path& path) {
  constexpr std::uint32_t kFrames = 88200;
  std::vector<std::int16_t> samples(kFrames * 2, 0);
  samples[44100 * 2] = samples[44100 * 2 + 1] = 30000;
  const std::uint32_t dataBytes = kFrames * 4;
  std::ofstream out(path, std::ios::binary);
  const auto put32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
  const auto put16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
  out.write("RIFF", 4);
  put32(36 + dataBytes);
  out.write("WAVEfmt ", 8);
  put32(16);
  put16(1);
  put16(2);
  put32(44100);
  put32(44100 * 4);
  put16(4);
  put16(16);
  out.write("data", 4);
  put32(dataBytes);
  out.write(reinterpret_cast<const char*>(samples.data()), dataBytes);
}

std::string encoderArguments(const std::string& extension) {
  static const std::map<std::string, std::string> arguments{
      {"wav", "-c:a pcm_s16le"},        {"m4a", "-c:a aac -b:a 192k"}, {"aac", "-c:a aac -b:a 192k -f adts"},
      {"alac.m4a", "-c:a alac"},        {"mp3", "-c:a libmp3lame -b:a 256k"},
  };
  const auto it = arguments.find(extension);
  return it == arguments.end() ? "" : it->second;
}

}  // namespace

std::filesystem::path audioFixture(const std::string& name) {
  std::lock_guard lock(fixturesMutex);
  const auto path = folder() / name;
  if (std::filesystem::exists(path)) return path;
  const std::string ffmpeg = "ffmpeg -nostdin -hide_banner -loglevel error -y ";
  std::string input;
  std::string extension;
  std::filesystem::path wave;
  if (name == "tone48k.m4a") {
    input = "-f lavfi -i \"aevalsrc=0.5*sin(2*PI*440*t)|0.3*sin(2*PI*1000*t):s=48000:d=1\"";
    extension = "m4a";
  } else if (name.rfind("tone.", 0) == 0) {
    input = "-f lavfi -i \"aevalsrc=0.5*sin(2*PI*440*t)+0.1*sin(2*PI*5000*t)|0.3*sin(2*PI*1000*t):s=44100:d=3\"";
    extension = name.substr(5);
  } else if (name.rfind("click.", 0) == 0) {
    wave = folder() / "click-source.wav";
    if (!std::filesystem::exists(wave)) writeClickWave(wave);
    input = "-i " + testing_support::shellQuoted(wave);
    extension = name.substr(6);
  }
  const std::string encoder = encoderArguments(extension);
  if (input.empty() || encoder.empty()) return {};
  // The click's source is a file of this run, so only the tones are shared across processes.
  const std::string command = ffmpeg + input + " " + encoder;
  const bool made = wave.empty() ? testing_support::makeFileOnce(command, path)
                                 : testing_support::runCommand(command + " " + testing_support::shellQuoted(path));
  if (!made) return {};
  return path;
}

std::vector<float> ffmpegResampled(const std::filesystem::path& file) {
  const std::string bytes = testing_support::commandOutputOnce("ffmpeg -nostdin -hide_banner -loglevel error -i", file,
                                                               "-af aresample=48000 -ac 2 -f f32le -");
  std::vector<float> values(bytes.size() / sizeof(float));
  std::memcpy(values.data(), bytes.data(), values.size() * sizeof(float));
  return values;
}

}  // namespace media::testing
