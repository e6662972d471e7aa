#include "platform/Files.h"

#include "platform/FileDescriptor.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "platform/Clock.h"

namespace platform {
namespace {

// Temporary names must stay under NAME_MAX (255) after the prefix and suffix.
constexpr std::size_t kMaxTemporaryStemBytes = 200;
constexpr int kTemporaryNameAttempts = 16;
constexpr std::size_t kReadChunkBytes = 64 * 1024;
constexpr std::size_t kMaxUserDirsFileBytes = 64 * 1024;

std::string reasonFor(int errorNumber) { return std::generic_category().message(errorNumber); }

Error fileError(FileErrorCode code, const std::string& what, const std::filesystem::path& path, int errorNumber) {
  return Error(kFileErrorDomain, code, what + " " + path.string() + ": " + reasonFor(errorNumber),
               Dictionary{{"path", Value(path.string())}, {"errno", Value(errorNumber)}});
}

std::string randomSuffix() {
  thread_local std::mt19937_64 generator{std::random_device{}()};
  char buffer[17];
  std::snprintf(buffer, sizeof buffer, "%016llx", static_cast<unsigned long long>(generator()));
  return buffer;
}

int fsyncRetrying(int fd) {
  int result;
  do {
    result = ::fsync(fd);
  } while (result != 0 && errno == EINTR);
  return result;
}

// Writes the temporary file completely; returns 0 or the errno of the failure.
int writeAll(int fd, std::string_view bytes) {
  const char* next = bytes.data();
  std::size_t remaining = bytes.size();
  while (remaining > 0) {
    ssize_t written = ::write(fd, next, remaining);
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    next += written;
    remaining -= static_cast<std::size_t>(written);
  }
  return 0;
}

std::optional<std::filesystem::path> absoluteEnvironmentPath(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) return std::nullopt;
  std::filesystem::path path(value);
  // The XDG rules say relative values are invalid and must be ignored.
  if (!path.is_absolute()) return std::nullopt;
  return path;
}

std::filesystem::path homeFolder() {
  if (auto home = absoluteEnvironmentPath("HOME")) return *home;
  long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir &&
      found->pw_dir[0] == '/') {
    return found->pw_dir;
  }
  // No home at all (a stripped-down service account): the root keeps paths absolute.
  return "/";
}

std::filesystem::path xdgFolder(const char* variable, const char* fallbackUnderHome) {
  if (auto path = absoluteEnvironmentPath(variable)) return *path;
  return homeFolder() / fallbackUnderHome;
}

// Reads the value of `name` from a user-dirs.dirs file: shell assignments of a
// double-quoted "$HOME/..." or absolute path. The last assignment wins, as in
// the shell that the file is written for. Anything else is skipped.
std::optional<std::filesystem::path> userDirsEntry(const std::string& contents, std::string_view name) {
  std::optional<std::filesystem::path> result;
  std::size_t lineStart = 0;
  while (lineStart <= contents.size()) {
    std::size_t lineEnd = contents.find('\n', lineStart);
    if (lineEnd == std::string::npos) lineEnd = contents.size();
    std::string_view line(contents.data() + lineStart, lineEnd - lineStart);
    lineStart = lineEnd + 1;

    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (!line.starts_with(name)) continue;
    line.remove_prefix(name.size());
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (line.empty() || line.front() != '=') continue;
    line.remove_prefix(1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);

    std::string value;
    if (!line.empty() && line.front() == '"') {
      bool closed = false;
      for (std::size_t i = 1; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) {
          value += line[++i];
        } else if (line[i] == '"') {
          closed = true;
          break;
        } else {
          value += line[i];
        }
      }
      if (!closed) continue;
    } else {
      std::size_t end = line.find_first_of(" \t#\r");
      value = std::string(line.substr(0, end));
    }

    std::string_view text(value);
    if (text.starts_with("$HOME") || text.starts_with("${HOME}")) {
      text.remove_prefix(text.starts_with("$HOME") ? 5 : 7);
      if (!text.empty() && text.front() != '/') continue;  // "$HOMEWORK" is not under $HOME
      while (!text.empty() && text.front() == '/') text.remove_prefix(1);
      result = text.empty() ? homeFolder() : homeFolder() / std::string(text);
    } else if (text.starts_with('/')) {
      result = std::filesystem::path(std::string(text));
    }
  }
  return result;
}

}  // namespace

Status writeFileAtomically(const std::filesystem::path& path, std::string_view bytes, bool ownerOnly) {
  std::filesystem::path folder = path.parent_path();
  if (folder.empty()) folder = ".";
  std::string stem = path.filename().string();
  if (stem.size() > kMaxTemporaryStemBytes) stem.resize(kMaxTemporaryStemBytes);

  // Open with the final mode so an owner-only file is never readable by others,
  // even before the rename; O_EXCL keeps us off a file someone else created.
  const mode_t mode = ownerOnly ? 0600 : 0666;
  std::filesystem::path temporary;
  int fd = -1;
  int openError = 0;
  for (int attempt = 0; attempt < kTemporaryNameAttempts && fd < 0; ++attempt) {
    temporary = folder / ("." + stem + ".tmp-" + randomSuffix());
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode);
    openError = fd < 0 ? errno : 0;
    if (fd < 0 && openError != EEXIST && openError != EINTR) break;
  }
  if (fd < 0) return fileError(FileErrorCode::WriteFailed, "Could not create a temporary file beside", path, openError);

  FileDescriptor file(fd);
  auto failAndRemove = [&](const std::string& what, int errorNumber) -> Status {
    if (file.valid()) file.close();
    ::unlink(temporary.c_str());
    return fileError(FileErrorCode::WriteFailed, what, path, errorNumber);
  };

  if (int error = writeAll(file.get(), bytes)) return failAndRemove("Could not write", error);
  if (fsyncRetrying(file.get()) != 0) return failAndRemove("Could not flush", errno);
  if (int error = file.close(); error != 0 && error != EINTR) return failAndRemove("Could not close", error);
  if (::rename(temporary.c_str(), path.c_str()) != 0) return failAndRemove("Could not replace", errno);

  // The rename is durable only once the folder's entry is on disk too. Some
  // file systems cannot sync a folder (EINVAL); the data itself is safe there.
  FileDescriptor folderFile(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folderFile.valid()) {
    return fileError(FileErrorCode::WriteFailed, "Could not open the folder to flush", path, errno);
  }
  if (fsyncRetrying(folderFile.get()) != 0 && errno != EINVAL) {
    return fileError(FileErrorCode::WriteFailed, "Could not flush the folder of", path, errno);
  }
  return Status::success();
}

Result<std::string> readFile(const std::filesystem::path& path, std::optional<std::size_t> maxBytes) {
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (!file.valid()) {
    int error = errno;
    bool missing = error == ENOENT || error == ENOTDIR;
    return fileError(missing ? FileErrorCode::NotFound : FileErrorCode::ReadFailed, "Could not open", path, error);
  }

  std::string contents;
  struct stat info {};
  if (::fstat(file.get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    auto size = static_cast<std::uint64_t>(info.st_size);
    if (maxBytes && size > *maxBytes) {
      return fileError(FileErrorCode::ReadFailed,
                       "Refusing to read more than " + std::to_string(*maxBytes) + " bytes from", path, EFBIG);
    }
    contents.reserve(static_cast<std::size_t>(size));
  }

  // Read to end of file rather than trusting st_size: files in /proc report 0,
  // and a file may grow while it is read.
  char buffer[kReadChunkBytes];
  while (true) {
    ssize_t got = ::read(file.get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return fileError(FileErrorCode::ReadFailed, "Could not read", path, errno);
    }
    if (got == 0) break;
    if (maxBytes && contents.size() + static_cast<std::size_t>(got) > *maxBytes) {
      return fileError(FileErrorCode::ReadFailed,
                       "Refusing to read more than " + std::to_string(*maxBytes) + " bytes from", path, EFBIG);
    }
    contents.append(buffer, static_cast<std::size_t>(got));
  }
  return contents;
}

std::optional<std::chrono::system_clock::time_point> fileCreationDate(const std::filesystem::path& path) {
  auto toTimePoint = [](std::int64_t seconds, std::uint32_t nanoseconds) {
    using namespace std::chrono;
    return system_clock::time_point(
        duration_cast<system_clock::duration>(std::chrono::seconds(seconds) + std::chrono::nanoseconds(nanoseconds)));
  };

  struct statx info {};
  if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_MTIME, &info) == 0) {
    if (info.stx_mask & STATX_BTIME) return toTimePoint(info.stx_btime.tv_sec, info.stx_btime.tv_nsec);
    if (info.stx_mask & STATX_MTIME) return toTimePoint(info.stx_mtime.tv_sec, info.stx_mtime.tv_nsec);
  } else if (errno != ENOSYS && errno != EPERM) {
    // ENOSYS/EPERM: a kernel or sandbox without statx; plain stat still works there.
    return std::nullopt;
  }

  struct stat plain {};
  if (::stat(path.c_str(), &plain) != 0) return std::nullopt;
  return toTimePoint(plain.st_mtim.tv_sec, static_cast<std::uint32_t>(plain.st_mtim.tv_nsec));
}

std::filesystem::path userDocumentsFolder() {
  if (auto path = absoluteEnvironmentPath("XDG_DOCUMENTS_DIR")) return *path;
  auto contents = readFile(userConfigurationFolder() / "user-dirs.dirs", kMaxUserDirsFileBytes);
  if (contents.ok()) {
    if (auto path = userDirsEntry(*contents, "XDG_DOCUMENTS_DIR")) return *path;
  }
  return homeFolder() / "Documents";
}

std::filesystem::path userConfigurationFolder() { return xdgFolder("XDG_CONFIG_HOME", ".config"); }

std::filesystem::path userApplicationSupportFolder() { return xdgFolder("XDG_DATA_HOME", ".local/share"); }

std::filesystem::path userCachesFolder() { return xdgFolder("XDG_CACHE_HOME", ".cache"); }

Result<std::filesystem::path> keepDamagedFileAside(const std::filesystem::path& path,
                                                   std::initializer_list<const char*> companionSuffixes) {
  constexpr int kMaxAsideNameAttempts = 100;
  const std::time_t seconds = std::chrono::system_clock::to_time_t(
      std::chrono::time_point_cast<std::chrono::system_clock::duration>(Clock::current().wallNow()));
  std::tm parts{};
  ::gmtime_r(&seconds, &parts);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &parts);
  std::error_code error;
  for (int attempt = 1; attempt <= kMaxAsideNameAttempts; ++attempt) {
    std::filesystem::path aside = path;
    aside += std::string(".corrupt-") + stamp + (attempt > 1 ? "-" + std::to_string(attempt) : "");
    if (std::filesystem::exists(aside, error)) continue;
    std::filesystem::rename(path, aside, error);
    if (error) break;
    for (const char* suffix : companionSuffixes) {
      std::filesystem::path companion = path;
      companion += suffix;
      if (!std::filesystem::exists(companion, error)) continue;
      std::filesystem::path companionAside = aside;
      companionAside += suffix;
      std::filesystem::rename(companion, companionAside, error);
    }
    return aside;
  }
  return Error(kFileErrorDomain, FileErrorCode::WriteFailed,
               "Could not keep the damaged file " + path.string() + " aside: " +
                   (error ? error.message() : std::string("no free name")),
               Dictionary{{"path", Value(path.string())}});
}

}  // namespace platform
