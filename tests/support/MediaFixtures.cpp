#include "tests/support/MediaFixtures.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
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
  std::ostringstream key;
  key << std::hex << std::hash<std::string>{}(command + '\n' + name);
  const auto folder = fixtureCacheFolder();
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  const auto cached = folder / (key.str() + "-" + name);
  if (!std::filesystem::exists(cached)) {
    // Written under a name of its own, then renamed into place: a process
    // making the same file at the same moment never reads half of it. The
    // name keeps its extension, which picks the tool's output format.
    static std::atomic<int> made{0};
    const auto partial = folder / (".partial-" + std::to_string(::getpid()) + "-" + std::to_string(made++) + "-" +
                                   key.str() + "-" + name);
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

std::vector<std::uint8_t> readFileBytes(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
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
