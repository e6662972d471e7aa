#pragma once
// The 30-day clean-up of the technical log folder. A plain function on the
// file system: the log controller runs it on a background queue whenever a
// line goes to a new file. Safe on any thread; failures are ignored (a file
// that cannot be listed, dated or removed simply stays).

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string_view>

namespace foundation {

inline constexpr std::chrono::seconds kTechnicalLogMaximumAge{2'592'000};  // 30 days

// Removes the direct entries of `folder` (hidden ones included) whose names
// begin with `logPrefix` and whose creation date lies strictly more than
// kTechnicalLogMaximumAge before `now` (creation date: the earlier of birth and
// modification time). Entries without a readable creation
// date stay, and so do folders: a clean-up never deletes a tree. Simple log
// files start with their date, not the prefix, and are never touched.
// Returns the number of entries removed.
std::size_t removeOldTechnicalLogFiles(const std::filesystem::path& folder, std::string_view logPrefix,
                                       std::chrono::system_clock::time_point now);

}  // namespace foundation
