#pragma once
// Digests of files, streamed: the file is read in fixed-size chunks, so memory
// stays flat whatever the file's size, sizes and offsets are 64-bit (files of
// 4 GiB and more), and short reads and interrupted reads (EINTR) are resumed.
// The digest covers the bytes up to end of file as read, not a size taken
// beforehand. Stateless, reentrant; blocks the calling thread for the read, so
// keep it off the main queue for large files.

#include <filesystem>

#include "foundation/Digests.h"
#include "platform/Error.h"

namespace foundation {

inline constexpr const char* kFileDigestErrorDomain = "FileDigestErrorDomain";
// Each error carries the path and the system's reason; userInfo "errno" holds
// the system error number where there is one.
enum class FileDigestErrorCode { OpenFailed = 1, StatusFailed = 2, ReadFailed = 3, CloseFailed = 4, DigestFailed = 5 };

platform::Result<platform::Data> digestOfFile(DigestAlgorithm algorithm, const std::filesystem::path& path);

// 20-byte SHA-1 of the file's contents.
platform::Result<platform::Data> sha1DigestOfFile(const std::filesystem::path& path);

}  // namespace foundation
