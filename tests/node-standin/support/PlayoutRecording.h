#pragma once
// What a playout test needs to read a recording of the node's output: clips
// whose every frame says which clip and which frame it is, and the reading
// back of a recording as (clip, frame) names and tones.
//
// Each ramp clip is 2.0 s at 25 fps: a flat colour whose chroma is the
// clip's own and whose luma rises 4 a frame from 16 (frame n: 16 + 4n), with
// a sine tone of the clip's own frequency. Made by ffmpeg at test time (once
// per build folder).

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace standin::testing_playout {

struct RampClip {
  char name;        // 'A', 'B', ...
  int cb, cr;       // 8-bit chroma of every pixel
  int toneHz;
};

inline constexpr RampClip kRampClips[] = {{'A', 64, 192, 440}, {'B', 192, 64, 660}, {'C', 192, 192, 990}};
inline constexpr int kRampFramesPerSecond = 25;
inline constexpr int kRampFrames = 50;

// Makes `clip` at `file` (H.264, lossless, with 48 kHz PCM); false on failure.
bool makeRampClip(const RampClip& clip, const std::filesystem::path& file);

struct FrameName {
  char clip = '?';  // a ramp clip's name; '-' for black; '?' for anything else
  int frame = 0;
};

// Every video frame of `recording`, named by its mean luma and chroma
// (ffprobe's signalstats). Paths with filter-graph characters are refused (empty).
std::vector<FrameName> nameRecordedFrames(const std::filesystem::path& recording);

// The names as runs: "A0-49 B10-39 C0-49 C49x10" (a frame held n times is
// "x n"; black is "-x n"), so a missing or repeated frame shows at once.
std::string describeRuns(const std::vector<FrameName>& frames);

// The frequency of the tone between `fromSeconds` and `toSeconds` of the
// recording's first audio track, by zero crossings of its first channel; 0
// when silent or unreadable.
double toneFrequency(const std::filesystem::path& recording, double fromSeconds, double toSeconds);

}  // namespace standin::testing_playout
