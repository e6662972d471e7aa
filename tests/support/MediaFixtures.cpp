#include "tests/support/MediaFixtures.h"

#include <cstdio>
#include <fstream>
#include <iterator>

namespace testing_support {

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
