#include "engine/vudododuva/VudodoDuvaProtocol.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace engine::vudododuva {
namespace {

inline constexpr const char* kErrorDomain = "engine.vudododuva";
enum class FolderError { NoRuntimeFolder = 1, Unsafe = 2, CreateFailed = 3 };

}  // namespace

bool isValidPortName(std::string_view name) {
  if (name.empty() || name.size() > kMaxPortNameLength || name.front() == '.') return false;
  return name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

platform::Result<std::filesystem::path> runtimeFolder() {
  const char* base = std::getenv("XDG_RUNTIME_DIR");
  if (!base || base[0] != '/')
    return platform::Error(kErrorDomain, FolderError::NoRuntimeFolder, "XDG_RUNTIME_DIR is not set to a folder");
  return std::filesystem::path(base) / "vudododuva";
}

platform::Result<std::filesystem::path> openPrivateFolder() {
  auto folder = runtimeFolder();
  if (!folder.ok()) return folder;
  if (::mkdir(folder->c_str(), 0700) != 0 && errno != EEXIST)
    return platform::Error(kErrorDomain, FolderError::CreateFailed,
                           "Cannot create " + folder->string() + ": " + std::strerror(errno));
  // Another user's folder, or one others may write into, could hold their
  // links where our files go.
  struct stat status {};
  if (::lstat(folder->c_str(), &status) != 0 || !S_ISDIR(status.st_mode) || status.st_uid != ::geteuid() ||
      (status.st_mode & 077) != 0)
    return platform::Error(kErrorDomain, FolderError::Unsafe, folder->string() + " is not a private folder");
  return folder;
}

}  // namespace engine::vudododuva
