#pragma once
// Small movie files made once per test binary with the ffmpeg program (1 s,
// 64x48 unless the format fixes a size), by name, and what ffprobe says
// about their streams.

#include <filesystem>
#include <map>
#include <string>

namespace movie_fixtures {

// The fixture's path (made on first use); empty when ffmpeg failed.
std::filesystem::path fixture(const std::string& name);
// The ffmpeg arguments that make it, after the common inputs.
std::string fixtureCommand(const std::string& name);
// "key=value" lines of `ffprobe -show_streams` for one stream
// ("v:0", "a:0", ...).
std::map<std::string, std::string> probeStream(const std::filesystem::path& path, const std::string& selector);
// A folder for fixtures made by a test itself.
const std::filesystem::path& fixtureFolder();

}  // namespace movie_fixtures
