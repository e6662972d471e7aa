#pragma once
// File helpers: atomic writes, creation dates and the user's standard folders.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string_view>

#include "platform/Error.h"

namespace platform {

inline constexpr const char* kFileErrorDomain = "FileErrorDomain";
enum class FileErrorCode { NotFound = 1, ReadFailed = 2, WriteFailed = 3, CreateFolderFailed = 4 };

// Writes `bytes` to a temporary file beside `path`, flushes it to disk and
// renames it over `path`: readers see the old or the new contents, never a mix.
// `ownerOnly` creates the file with mode 0600.
Status writeFileAtomically(const std::filesystem::path& path, std::string_view bytes, bool ownerOnly = false);
Result<std::string> readFile(const std::filesystem::path& path);

// Birth time where the file system keeps one (statx), else the modification time.
std::optional<std::chrono::system_clock::time_point> fileCreationDate(const std::filesystem::path& path);

// XDG folders; each honours its environment variable and falls back to the
// standard place under $HOME.
std::filesystem::path userDocumentsFolder();        // XDG_DOCUMENTS_DIR or ~/Documents
std::filesystem::path userConfigurationFolder();    // XDG_CONFIG_HOME or ~/.config
std::filesystem::path userApplicationSupportFolder(); // XDG_DATA_HOME or ~/.local/share
std::filesystem::path userCachesFolder();           // XDG_CACHE_HOME or ~/.cache

}  // namespace platform
