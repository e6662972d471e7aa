#pragma once
// Audio fixtures made with ffmpeg (and a click written by the test) once per
// test binary run: tones and one-sample clicks at exactly 1.000 s in WAV,
// AAC (.m4a and ADTS), ALAC and MP3.

#include <filesystem>
#include <string>
#include <vector>

namespace media::testing {

// "tone48k.m4a", "tone.<ext>" and "click.<ext>" for ext in wav, m4a, aac, alac.m4a, mp3; empty when ffmpeg fails.
std::filesystem::path audioFixture(const std::string& name);
// `file` through `ffmpeg -af aresample=48000` as interleaved stereo float.
std::vector<float> ffmpegResampled(const std::filesystem::path& file);

}  // namespace media::testing
