#pragma once
// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes away.

#include <filesystem>

namespace testing_support {

class TemporaryDirectory {
 public:
  TemporaryDirectory();
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::filesystem::path& relative) const { return path_ / relative; }

 private:
  std::filesystem::path path_;
};

}  // namespace testing_support
