#pragma once
// The catalogue's export folder: writing it from `Clip` rows and reading it
// back as checked rows.
//
//   <export folder>/export_infos.plist   {"Creation Date": date}
//   <export folder>/Clips/version.plist  {"version": 100}
//   <export folder>/Clips/clips.plist    [clip dictionary, ...] (ClipExportRecord.h)
//
// Free functions; they block on disk I/O and are run on the main thread like
// the rest of the catalogue (the progress handler is called on the caller's
// thread).
//
// Guarantees:
// - an export never deletes or overwrites anything it did not create: the
//   export path must not exist (its parent must) or be an empty folder; on
//   any failure what this export created is removed again and the error says
//   which file or folder failed;
// - reading checks the whole folder (version, layout, every value of every
//   clip) before it answers, so a caller stores all of it or nothing.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/Error.h"
#include "platform/Value.h"

namespace nodes {

inline constexpr const char* kExportInfosFileName = "export_infos.plist";
inline constexpr const char* kExportCreationDateKey = "Creation Date";
inline constexpr const char* kExportClipsFolderName = "Clips";
inline constexpr const char* kExportClipsVersionFileName = "version.plist";
inline constexpr const char* kExportClipsFileName = "clips.plist";
inline constexpr const char* kExportVersionKey = "version";
// The one export version this system writes and reads.
inline constexpr std::int64_t kClipsExportVersion = 100;
// A "clips.plist" larger than this is refused rather than read.
inline constexpr std::size_t kMaxClipsFileBytes = std::size_t{1} << 30;

// Told the export's progress: (0, determinate) first, then (i + 1) / n * 100
// after each clip, then (0, indeterminate) while the file is written.
using ExportProgressHandler = std::function<void(double percent, bool indeterminate)>;

// clipsModelVersionDictionary: {"version": 100}.
platform::Dictionary clipsModelVersionDictionary();

// clips: the export dictionaries of the rows, reporting progress.
platform::Array exportClips(const std::vector<platform::Dictionary>& clipRows, const ExportProgressHandler& progress);

// exportAllDataToFolder:error: writes the export folder of the rows, dated
// `creationDate`.
platform::Status exportAllDataToFolder(const std::filesystem::path& folder,
                                       const std::vector<platform::Dictionary>& clipRows, platform::Date creationDate,
                                       const ExportProgressHandler& progress = {});

// exportInfosFromFolder: the dictionary of "export_infos.plist", or nullopt.
std::optional<platform::Dictionary> exportInfosFromFolder(const std::filesystem::path& folder);

// Reads and checks the bytes of a "clips.plist" (`path` names it in errors):
// every clip checked, a later clip with the unique ID of an earlier one in
// its place.
platform::Result<std::vector<platform::Dictionary>> readExportClips(std::string_view bytes,
                                                                    const std::filesystem::path& path);

// Reads and checks an export folder: the rows it holds (a later clip with
// the unique ID of an earlier one takes its place), ready to be stored.
platform::Result<std::vector<platform::Dictionary>> readExportFolder(const std::filesystem::path& folder);

}  // namespace nodes
