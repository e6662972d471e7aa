#pragma once
// One of the server's shared files (audio or captions): created new in the
// private runtime folder (never through a link, never over an existing
// file), owner-only, zero-filled to its size, mapped shared; unmapped and
// removed when the object goes. Receivers map it by the path announced.
//
// Not thread-safe: the output guards it with its semaphore.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>

namespace engine::vudododuva {

class SharedRingFile {
 public:
  // Why open() failed: the step and the system error number, for the
  // output's "Failed to setup" and "Failed to map" messages.
  struct Failure {
    enum class Step { Create = 1, Map = 2 } step;
    int error;
  };

  ~SharedRingFile();
  SharedRingFile(const SharedRingFile&) = delete;
  SharedRingFile& operator=(const SharedRingFile&) = delete;

  // `size` must not be 0. On failure nothing is left on disk.
  static std::unique_ptr<SharedRingFile> open(const std::filesystem::path& path, std::size_t size, Failure* failure);

  const std::filesystem::path& path() const { return path_; }
  std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  SharedRingFile(std::filesystem::path path, std::uint8_t* data, std::size_t size)
      : path_(std::move(path)), data_(data), size_(size) {}

  std::filesystem::path path_;
  std::uint8_t* data_;
  std::size_t size_;
};

}  // namespace engine::vudododuva
