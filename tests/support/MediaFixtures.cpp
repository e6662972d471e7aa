#include "tests/support/MediaFixtures.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <system_error>

namespace testing_support {

namespace {

// Beside the test binary, so that every process of one build shares it.
std::filesystem::path fixtureCacheFolder() {
  std::error_code error;
  const auto binary = std::filesystem::read_symlink("/proc/self/exe", error);
  return (error ? std::filesystem::temp_directory_path() : binary.parent_path()) / "fixture-cache";
}

std::string hexHash(const std::string& text) {
  std::ostringstream hex;
  hex << std::hex << std::hash<std::string>{}(text);
  return hex.str();
}

// A name in the cache folder no other process writes at the same moment.
std::filesystem::path partialPath(const std::filesystem::path& folder, const std::string& name) {
  static std::atomic<int> made{0};
  return folder / (".partial-" + std::to_string(::getpid()) + "-" + std::to_string(made++) + "-" + name);
}

// The file in one read: copied byte by byte, a few megabytes took seconds in
// the sanitizer build.
template <typename Bytes>
Bytes wholeFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  if (!file) return {};
  Bytes bytes(static_cast<std::size_t>(file.tellg()), 0);
  file.seekg(0);
  file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(file.gcount()));
  return bytes;
}

}  // namespace

bool runCommand(const std::string& command) {
  return std::system((command + " < /dev/null").c_str()) == 0;
}

std::string commandOutput(const std::string& command) {
  std::string output;
  FILE* pipe = ::popen((command + " < /dev/null").c_str(), "r");
  if (!pipe) return output;
  char chunk[4096];
  std::size_t read;
  while ((read = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, read);
  if (::pclose(pipe) != 0) output.clear();
  return output;
}

bool makeFileOnce(const std::string& command, const std::filesystem::path& path) {
  const std::string name = path.filename().string();
  const std::string key = hexHash(command + '\n' + name);
  const auto folder = fixtureCacheFolder();
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  const auto cached = folder / (key + "-" + name);
  if (!std::filesystem::exists(cached)) {
    // Written under a name of its own, then renamed into place: a process
    // making the same file at the same moment never reads half of it. The
    // name keeps its extension, which picks the tool's output format.
    const auto partial = partialPath(folder, key + "-" + name);
    const bool ran = runCommand(command + " " + shellQuoted(partial));
    if (ran) std::filesystem::rename(partial, cached, error);
    if (!ran || error) {
      std::filesystem::remove(partial, error);
      return false;
    }
  }
  std::filesystem::copy_file(cached, path, std::filesystem::copy_options::overwrite_existing, error);
  return !error;
}

std::string commandOutputOnce(const std::string& before, const std::filesystem::path& input, const std::string& after) {
  const std::string key = hexHash(before + '\n' + after + '\n' + wholeFile<std::string>(input)) + "-output";
  const auto folder = fixtureCacheFolder();
  const auto cached = folder / key;
  if (std::filesystem::exists(cached)) return wholeFile<std::string>(cached);
  const std::string output = commandOutput(before + " " + shellQuoted(input) + " " + after);
  if (output.empty()) return output;
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  const auto partial = partialPath(folder, key);
  std::ofstream(partial, std::ios::binary) << output;
  std::filesystem::rename(partial, cached, error);
  if (error) std::filesystem::remove(partial, error);
  return output;
}

std::vector<std::uint8_t> readFileBytes(const std::filesystem::path& path) {
  return wholeFile<std::vector<std::uint8_t>>(path);
}

std::string shellQuoted(const std::filesystem::path& path) {
  std::string quoted = "'";
  for (char c : path.string()) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

}  // namespace testing_support
