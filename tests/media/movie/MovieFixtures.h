#pragma once
// Small movie files made once per build folder with the ffmpeg program (1 s,
// 64x48 unless the format fixes a size), by name, and what ffprobe says
// about their streams.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace movie_fixtures {

// The fixture's path (made on first use); empty when ffmpeg failed.
std::filesystem::path fixture(const std::string& name);
// The ffmpeg arguments that make it, after the common inputs.
std::string fixtureCommand(const std::string& name);
// "key=value" lines of `ffprobe -show_streams` for one stream
// ("v:0", "a:0", ...).
std::map<std::string, std::string> probeStream(const std::filesystem::path& path, const std::string& selector);
// One packet as `ffprobe -show_packets` lists it (times in stream ticks).
struct ProbedPacket {
  std::optional<std::int64_t> pts;
  std::optional<std::int64_t> dts;
  std::optional<std::int64_t> duration;
  bool key = false;
};
// The stream's packets in file order (QuickTime files without edit lists applied).
std::vector<ProbedPacket> probePackets(const std::filesystem::path& path, const std::string& selector);
// A folder for fixtures made by a test itself.
const std::filesystem::path& fixtureFolder();

}  // namespace movie_fixtures
