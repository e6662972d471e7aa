#include "tests/node-standin/support/PlayoutRecording.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

#include "tests/support/MediaFixtures.h"

namespace standin::testing_playout {
namespace {

using testing_support::shellQuoted;

constexpr int kBlackLuma = 16;
constexpr int kChromaTolerance = 12;

FrameName nameOf(double luma, double cb, double cr) {
  for (const RampClip& clip : kRampClips) {
    if (std::abs(cb - clip.cb) <= kChromaTolerance && std::abs(cr - clip.cr) <= kChromaTolerance) {
      return {clip.name, static_cast<int>(std::lround((luma - kBlackLuma) / 4.0))};
    }
  }
  const bool neutral = std::abs(cb - 128) <= kChromaTolerance && std::abs(cr - 128) <= kChromaTolerance;
  if (neutral && luma <= kBlackLuma + 4) return {'-', 0};
  return {'?', 0};
}

}  // namespace

bool makeRampClip(const RampClip& clip, const std::filesystem::path& file) {
  std::ostringstream command;
  command << "ffmpeg -v error -nostdin -y -f lavfi -i \"color=c=black:s=320x240:r=" << kRampFramesPerSecond
          << ":d=2,format=yuv420p,geq=lum='" << kBlackLuma << "+4*N':cb=" << clip.cb << ":cr=" << clip.cr
          << "\" -f lavfi -i \"sine=frequency=" << clip.toneHz
          << ":sample_rate=48000:duration=2\" -ac 2 -c:v libx264 -qp 0 -pix_fmt yuv420p -c:a pcm_s16le -f mov";
  return testing_support::makeFileOnce(command.str(), file);
}

std::vector<FrameName> nameRecordedFrames(const std::filesystem::path& recording) {
  const std::string path = recording.string();
  if (path.find_first_of("'\\:,;[]=\"$`") != std::string::npos) return {};
  const std::string output = testing_support::commandOutput(
      "ffprobe -v error -f lavfi -i \"movie=" + path +
      ",signalstats\" -show_entries frame_tags=lavfi.signalstats.YAVG,lavfi.signalstats.UAVG,"
      "lavfi.signalstats.VAVG -of flat");
  // Lines: frames.frame.N.tags.lavfi_signalstats_YAVG="123.4"
  std::map<std::size_t, std::map<std::string, double>> stats;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t index = std::strtoul(line.c_str() + std::strlen("frames.frame."), nullptr, 10);
    const std::size_t key = line.rfind('_');
    const std::size_t equals = line.find('=');
    if (key == std::string::npos || equals == std::string::npos || key > equals) continue;
    stats[index][line.substr(key + 1, equals - key - 1)] = std::atof(line.c_str() + equals + 2);
  }
  std::vector<FrameName> names;
  for (auto& [index, values] : stats) names.push_back(nameOf(values["YAVG"], values["UAVG"], values["VAVG"]));
  return names;
}

std::string describeRuns(const std::vector<FrameName>& frames) {
  std::string text;
  std::size_t i = 0;
  while (i < frames.size()) {
    const FrameName first = frames[i];
    std::size_t end = i + 1;
    if (end < frames.size() && frames[end].clip == first.clip && frames[end].frame == first.frame) {
      while (end < frames.size() && frames[end].clip == first.clip && frames[end].frame == first.frame) ++end;
      text += (text.empty() ? "" : " ") + std::string(1, first.clip) + (first.clip == '-' ? "" : std::to_string(first.frame)) +
              "x" + std::to_string(end - i);
    } else {
      while (end < frames.size() && frames[end].clip == first.clip && frames[end].frame == frames[end - 1].frame + 1) {
        ++end;
      }
      text += (text.empty() ? "" : " ") + std::string(1, first.clip) + std::to_string(first.frame);
      if (end - i > 1) text += "-" + std::to_string(frames[end - 1].frame);
    }
    i = end;
  }
  return text;
}

double toneFrequency(const std::filesystem::path& recording, double fromSeconds, double toSeconds) {
  std::ostringstream command;
  command << "ffmpeg -v error -nostdin -i " << shellQuoted(recording) << " -ss " << fromSeconds << " -to " << toSeconds
          << " -map 0:a:0 -ac 1 -ar 48000 -f s16le -";
  const std::string bytes = testing_support::commandOutput(command.str());
  const std::size_t samples = bytes.size() / 2;
  if (samples < 2) return 0;
  std::size_t crossings = 0;
  std::int16_t previous = 0;
  for (std::size_t i = 0; i < samples; ++i) {
    std::int16_t sample;
    std::memcpy(&sample, bytes.data() + i * 2, 2);
    if (i > 0 && ((previous < 0) != (sample < 0))) ++crossings;
    previous = sample;
  }
  return crossings / 2.0 / (static_cast<double>(samples) / 48000.0);
}

}  // namespace standin::testing_playout
