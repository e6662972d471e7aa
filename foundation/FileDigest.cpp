#include "foundation/FileDigest.h"

#include "platform/FileDescriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace foundation {
namespace {

// Large enough that the system-call overhead vanishes next to hashing, small
// enough to stay in the cache.
constexpr std::size_t kChunkSize = 256 * 1024;

platform::Error fileError(FileDigestErrorCode code, const char* what, const std::filesystem::path& path, int err) {
  platform::Dictionary info;
  if (err != 0) info["errno"] = platform::Value(err);
  std::string reason = std::string(what) + " '" + path.string() + "'";
  if (err != 0) reason += std::string(": ") + std::strerror(err);
  return platform::Error(kFileDigestErrorDomain, code, std::move(reason), std::move(info));
}

}  // namespace

platform::Result<platform::Data> digestOfFile(DigestAlgorithm algorithm, const std::filesystem::path& path) {
  int fd = -1;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return fileError(FileDigestErrorCode::OpenFailed, "cannot open", path, errno);
  platform::FileDescriptor file(fd);

  struct stat status {};
  if (::fstat(file.get(), &status) != 0) {
    return fileError(FileDigestErrorCode::StatusFailed, "cannot read the status of", path, errno);
  }
  if (S_ISREG(status.st_mode)) ::posix_fadvise(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

  DigestContext digest(algorithm);
  auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(kChunkSize);
  for (;;) {
    ssize_t got = ::read(file.get(), buffer.get(), kChunkSize);
    if (got < 0) {
      if (errno == EINTR) continue;
      return fileError(FileDigestErrorCode::ReadFailed, "cannot read", path, errno);
    }
    if (got == 0) break;  // end of file; a short read is just a smaller chunk
    if (!digest.update({buffer.get(), static_cast<std::size_t>(got)})) {
      return fileError(FileDigestErrorCode::DigestFailed, "cannot digest", path, 0);
    }
  }

  std::optional<platform::Data> result = digest.finish();
  if (!result) return fileError(FileDigestErrorCode::DigestFailed, "cannot finish the digest of", path, 0);
  if (int err = file.close(); err != 0) return fileError(FileDigestErrorCode::CloseFailed, "cannot close", path, err);
  return std::move(*result);
}

platform::Result<platform::Data> sha1DigestOfFile(const std::filesystem::path& path) {
  return digestOfFile(DigestAlgorithm::SHA1, path);
}

}  // namespace foundation
