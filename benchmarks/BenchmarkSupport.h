#pragma once
// Helpers shared by the benchmark binaries. Single-threaded use by the
// benchmark that owns them.

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <limits>
#include <system_error>
#include <vector>

namespace bench {

// Wall time of one run of the work, in seconds.
inline double secondsOf(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The fastest run seen so far. On a shared machine other load only ever adds
// time, so the minimum of several runs is the steadiest figure for a side.
class FastestRun {
 public:
  void add(double seconds) { seconds_ = std::min(seconds_, seconds); }
  double seconds() const { return seconds_; }

 private:
  double seconds_ = std::numeric_limits<double>::infinity();
};

// Puts the file's pages out of the page cache (written back first), so the
// next reader goes to the disk; false when the file cannot be opened.
inline bool dropFromPageCache(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  ::fdatasync(fd);
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  ::close(fd);
  return true;
}

// Reads the whole file through the page cache, so the next reader finds it there.
inline bool loadIntoPageCache(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::vector<char> buffer(1 << 20);
  while (::read(fd, buffer.data(), buffer.size()) > 0) {
  }
  ::close(fd);
  return true;
}

// A fresh folder under the system temporary folder, removed with everything in
// it when the object goes. path() is empty when the folder could not be made.
class TemporaryFolder {
 public:
  explicit TemporaryFolder(std::string_view prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace bench
