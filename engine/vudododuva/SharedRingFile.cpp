#include "engine/vudododuva/SharedRingFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

#include "platform/FileDescriptor.h"

namespace engine::vudododuva {

std::unique_ptr<SharedRingFile> SharedRingFile::open(const std::filesystem::path& path, std::size_t size,
                                                     Failure* failure) {
  // O_EXCL and O_NOFOLLOW: a file or link planted at the path is refused, not written through.
  platform::FileDescriptor fd(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd.valid()) {
    *failure = {Failure::Step::Create, errno};
    return nullptr;
  }
  if (::ftruncate(fd.get(), static_cast<off_t>(size)) != 0) {
    *failure = {Failure::Step::Create, errno};
    ::unlink(path.c_str());
    return nullptr;
  }
  void* data = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
  if (data == MAP_FAILED) {
    *failure = {Failure::Step::Map, errno};
    ::unlink(path.c_str());
    return nullptr;
  }
  return std::unique_ptr<SharedRingFile>(new SharedRingFile(path, static_cast<std::uint8_t*>(data), size));
}

SharedRingFile::~SharedRingFile() {
  ::munmap(data_, size_);
  ::unlink(path_.c_str());
}

}  // namespace engine::vudododuva
