#pragma once
// File helpers: atomic writes, whole-file reads, creation dates and the user's
// standard folders. Stateless free functions, safe on any thread; they block on
// disk I/O, so keep them off the main queue for large files.

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string_view>

#include "platform/Error.h"

namespace platform {

inline constexpr const char* kFileErrorDomain = "FileErrorDomain";
enum class FileErrorCode { NotFound = 1, ReadFailed = 2, WriteFailed = 3, CreateFolderFailed = 4 };

// Writes `bytes` to a temporary file beside `path`, flushes it to disk and
// renames it over `path`: readers see the old or the new contents, never a mix.
// `ownerOnly` creates the file with mode 0600 (never readable by others, not
// even for a moment); otherwise 0666 less the umask. The folder must exist. On
// failure the old file is untouched and the temporary file is removed; the
// error is WriteFailed, naming the path and the system's reason (user info:
// "path" and "errno").
Status writeFileAtomically(const std::filesystem::path& path, std::string_view bytes, bool ownerOnly = false);
// Reads a whole file. NotFound when it (or a folder on the way) does not exist;
// ReadFailed for anything else, including a file longer than `maxBytes`.
Result<std::string> readFile(const std::filesystem::path& path, std::optional<std::size_t> maxBytes = std::nullopt);
// Keeps a damaged file for the operator to look at: renames it, in its
// folder, to "<name>.corrupt-<UTC time as 20240131T235959Z>" ("-2", "-3", ...
// appended when that name is taken) and answers the new path. Each file
// beside it whose name is the old name plus one of `companionSuffixes` (a
// database's "-wal") is renamed to the new name plus that suffix. WriteFailed
// when the file cannot be moved (it is then left where it was).
Result<std::filesystem::path> keepDamagedFileAside(const std::filesystem::path& path,
                                                   std::initializer_list<const char*> companionSuffixes = {});

// Birth time where the file system keeps one (statx STATX_BTIME), else the
// modification time, so on such file systems (and in /proc) a rewrite moves it.
// nullopt when the file cannot be examined.
std::optional<std::chrono::system_clock::time_point> fileCreationDate(const std::filesystem::path& path);

// XDG folders; each honours its environment variable (ignored when empty or
// relative, as the XDG rules say) and falls back to the standard place under
// $HOME (or the password entry's home when $HOME is unset). None creates the
// folder it names.
// Documents: $XDG_DOCUMENTS_DIR, then the XDG_DOCUMENTS_DIR line of
// <configuration folder>/user-dirs.dirs ("$HOME/..." or an absolute path),
// then ~/Documents.
std::filesystem::path userDocumentsFolder();
std::filesystem::path userConfigurationFolder();    // XDG_CONFIG_HOME or ~/.config
std::filesystem::path userApplicationSupportFolder(); // XDG_DATA_HOME or ~/.local/share
std::filesystem::path userCachesFolder();           // XDG_CACHE_HOME or ~/.cache

}  // namespace platform
