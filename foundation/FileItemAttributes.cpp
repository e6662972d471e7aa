#include "foundation/FileItemAttributes.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace foundation {
namespace {

platform::Date dateOf(const struct statx_timestamp& stamp) {
  using namespace std::chrono;
  // Floor to whole microseconds (the resolution of a property-list date).
  return platform::Date(seconds(stamp.tv_sec) + duration_cast<microseconds>(nanoseconds(stamp.tv_nsec)));
}

std::string lastPathComponent(const std::string& path) {
  std::size_t end = path.find_last_not_of('/');
  if (end == std::string::npos) return path.empty() ? std::string() : std::string("/");
  const std::size_t slash = path.rfind('/', end);
  const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
  return path.substr(start, end + 1 - start);
}

}  // namespace

platform::Result<FileItemAttributes> readFileItemAttributes(const std::filesystem::path& path) {
  struct statx status {};
  if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_TYPE | STATX_MTIME | STATX_BTIME | STATX_SIZE,
              &status) != 0) {
    const int err = errno;
    const auto code = (err == ENOENT || err == ENOTDIR) ? FileItemAttributesErrorCode::NotFound
                                                        : FileItemAttributesErrorCode::StatusFailed;
    return platform::Error(kFileItemAttributesErrorDomain, code,
                           "cannot read the attributes of '" + path.string() + "': " + std::strerror(err));
  }
  FileItemAttributes attributes;
  attributes.name = lastPathComponent(path.string());
  attributes.isRegularFile = S_ISREG(status.stx_mode);
  attributes.modificationDate = dateOf(status.stx_mtime);
  attributes.creationDate = (status.stx_mask & STATX_BTIME) ? dateOf(status.stx_btime) : dateOf(status.stx_mtime);
  attributes.size = status.stx_size;
  return attributes;
}

}  // namespace foundation
