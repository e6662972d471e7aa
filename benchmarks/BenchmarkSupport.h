#pragma once
// Helpers shared by the benchmark binaries. Single-threaded use by the
// benchmark that owns them.

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace bench {

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
