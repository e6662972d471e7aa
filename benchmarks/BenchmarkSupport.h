#pragma once
// Helpers shared by the benchmark binaries. Single-threaded use by the
// benchmark that owns them.

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <chrono>
#include <filesystem>
#include <fstream>
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

// A fresh folder on the memory file system when there is one (else under the
// system temporary folder), made on the first call and removed at exit; later
// calls return the same folder. Stores that sync each write would otherwise
// measure a loaded disk.
inline const std::filesystem::path& memoryScratchFolder(std::string_view prefix) {
  static const std::filesystem::path* folder = [&] {
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                                                 : std::filesystem::temp_directory_path();
    std::string pattern = (base / (std::string(prefix) + "-XXXXXX")).string();
    auto* made = new std::filesystem::path(::mkdtemp(pattern.data()) ? pattern : std::string());
    std::atexit([] {
      std::error_code ignored;
      if (!folder->empty()) std::filesystem::remove_all(*folder, ignored);
    });
    return made;
  }();
  return *folder;
}

// The process's resident memory in bytes.
inline double residentBytes() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0;
  long resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE));
}

// Packet bytes of every stream of `file` presented before `seconds`, as ffprobe lists them.
inline double compressedBytesBefore(const std::string& file, double seconds) {
  const std::string command = "ffprobe -v error -show_entries packet=pts_time,size -of csv=p=0 '" + file + "'";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return 0;
  double total = 0;
  char line[256];
  while (std::fgets(line, sizeof line, pipe)) {
    double time = 0;
    double size = 0;
    if (std::sscanf(line, "%lf,%lf", &time, &size) == 2 && time < seconds) total += size;
  }
  ::pclose(pipe);
  return total;
}

}  // namespace bench
